#include "image/form_table.h"

namespace image {
namespace {

constexpr std::uint32_t kShown = kFlagVisible;
constexpr std::uint32_t kShownTab = kFlagVisible | kFlagTabStop;
constexpr std::uint32_t kHiddenTab = kFlagTabStop;
constexpr std::uint32_t kNotShown = 0;

constexpr EventSpec kNoEvent{0, Routine::OnWindowCreated};

// 作者:Mosalin小组 / http://mosalin.cn / 2011-05-08
constexpr std::string_view kAbout =
    "\xd7\xf7\xd5\xdf:Mosalin\xd0\xa1\xd7\xe9\r\nhttp://mosalin.cn\r\n2011-05-08";

constexpr FormEntry kTable[] = {
    {kWindowRecordId, host::kKindWindow, "", 0, 50, 50, 455, 288, kShown,
     true, "Mosalin V1.0", false, true, {host::kEventCreated, Routine::OnWindowCreated}},
    // 标签_关于
    {kAboutLabel, host::kKindLabel, "\xb1\xea\xc7\xa9_\xb9\xd8\xd3\xda", 0, 341, 218, 96, 40, kShown,
     true, kAbout, true, true, {host::kEventLeftButtonDown, Routine::OnAboutLabelPress}},
    // 进度条_处理进度
    {kProgressBar, host::kKindProgressBar, "\xbd\xf8\xb6\xc8\xcc\xf5_\xb4\xa6\xc0\xed\xbd\xf8\xb6\xc8", 0,
     9, 184, 429, 24, kShown, false, "", false, false, kNoEvent},
    // 按钮_开始拼合 "开始拼合"
    {kStartButton, host::kKindButton, "\xb0\xb4\xc5\xa5_\xbf\xaa\xca\xbc\xc6\xb4\xba\xcf", 0, 343, 10, 95,
     165, kShownTab, true, "\xbf\xaa\xca\xbc\xc6\xb4\xba\xcf", false, true,
     {host::kEventClicked, Routine::OnStartMergeClick}},
    // 标签_保存路径 "保存在:????"
    {kSavePathLabel, host::kKindLabel, "\xb1\xea\xc7\xa9_\xb1\xa3\xb4\xe6\xc2\xb7\xbe\xb6", kGroupBox2, 93,
     22, 216, 24, kShown, true, "\xb1\xa3\xb4\xe6\xd4\xda:????", false, false, kNoEvent},
    // 按钮_保存路径 "指定保存路径"
    {kSavePathButton, host::kKindButton, "\xb0\xb4\xc5\xa5_\xb1\xa3\xb4\xe6\xc2\xb7\xbe\xb6", kGroupBox2, 8,
     18, 80, 32, kShownTab, true, "\xd6\xb8\xb6\xa8\xb1\xa3\xb4\xe6\xc2\xb7\xbe\xb6", false, true,
     {host::kEventClicked, Routine::OnPickSavePathClick}},
    // 分组框2
    {kGroupBox2, host::kKindGroupBox, "\xb7\xd6\xd7\xe9\xbf\xf2" "2", 0, 8, 112, 326, 63, kShown, false, "",
     false, false, kNoEvent},
    // 通用对话框_保存
    {kSaveDialog, host::kKindCommonDialog, "\xcd\xa8\xd3\xc3\xb6\xd4\xbb\xb0\xbf\xf2_\xb1\xa3\xb4\xe6", 0,
     455, 41, 26, 26, kNotShown, false, "", false, false, kNoEvent},
    // 标签_小图路径 "小图路径:????"
    {kTilePathLabel, host::kKindLabel, "\xb1\xea\xc7\xa9_\xd0\xa1\xcd\xbc\xc2\xb7\xbe\xb6", kGroupBox1, 16,
     68, 280, 24, kShown, true, "\xd0\xa1\xcd\xbc\xc2\xb7\xbe\xb6:????", false, false, kNoEvent},
    // 标签_标题提示1 "大图尺寸:"
    {kSizeCaption, host::kKindLabel, "\xb1\xea\xc7\xa9_\xb1\xea\xcc\xe2\xcc\xe1\xca\xbe" "1", kGroupBox1,
     170, 42, 58, 24, kShown, true, "\xb4\xf3\xcd\xbc\xb3\xdf\xb4\xe7:", false, false, kNoEvent},
    // 编辑框_大图尺寸
    {kSizeEdit, host::kKindEdit, "\xb1\xe0\xbc\xad\xbf\xf2_\xb4\xf3\xcd\xbc\xb3\xdf\xb4\xe7", kGroupBox1, 231,
     46, 64, 20, kShownTab, false, "", false, false, kNoEvent},
    // 编辑框_目录名称
    {kPrefixEdit, host::kKindEdit, "\xb1\xe0\xbc\xad\xbf\xf2_\xc4\xbf\xc2\xbc\xc3\xfb\xb3\xc6", kGroupBox1,
     231, 16, 64, 20, kShownTab, false, "", false, false, kNoEvent},
    // 标签_标题提示 "文件名前缀:"
    {kPrefixCaption, host::kKindLabel, "\xb1\xea\xc7\xa9_\xb1\xea\xcc\xe2\xcc\xe1\xca\xbe", kGroupBox1, 159,
     14, 75, 24, kShown, true, "\xce\xc4\xbc\xfe\xc3\xfb\xc7\xb0\xd7\xba:", false, false, kNoEvent},
    // 按钮_指定目录 "指定小图目录"
    {kPickDirButton, host::kKindButton, "\xb0\xb4\xc5\xa5_\xd6\xb8\xb6\xa8\xc4\xbf\xc2\xbc", kGroupBox1, 11,
     16, 113, 46, kShownTab, true, "\xd6\xb8\xb6\xa8\xd0\xa1\xcd\xbc\xc4\xbf\xc2\xbc", false, true,
     {host::kEventClicked, Routine::OnPickTileDirClick}},
    // 分组框1
    {kGroupBox1, host::kKindGroupBox, "\xb7\xd6\xd7\xe9\xbf\xf2" "1", 0, 8, 4, 326, 103, kShown, false, "",
     false, false, kNoEvent},
    // 按钮4: no property data, so no caption
    {kTestButton4, host::kKindButton, "\xb0\xb4\xc5\xa5" "4", 0, 473, 177, 80, 32, kHiddenTab, false, "",
     false, true, {host::kEventClicked, Routine::TestFixedPathMerge}},
    // 按钮3 "测试按钮3"
    {kTestButton3, host::kKindButton, "\xb0\xb4\xc5\xa5" "3", 0, 469, 329, 80, 32, kHiddenTab, true,
     "\xb2\xe2\xca\xd4\xb0\xb4\xc5\xa5" "3", false, true,
     {host::kEventClicked, Routine::TestTileEnumeration}},
    // 按钮2 "测试按钮2"
    {kTestButton2, host::kKindButton, "\xb0\xb4\xc5\xa5" "2", 0, 469, 276, 80, 32, kHiddenTab, true,
     "\xb2\xe2\xca\xd4\xb0\xb4\xc5\xa5" "2", false, true,
     {host::kEventClicked, Routine::TestSubdirEnumeration}},
    // 按钮1 "测试按钮1"
    {kTestButton1, host::kKindButton, "\xb0\xb4\xc5\xa5" "1", 0, 472, 230, 80, 32, kHiddenTab, true,
     "\xb2\xe2\xca\xd4\xb0\xb4\xc5\xa5" "1", false, true, {host::kEventClicked, Routine::TestSingleTile}},
};

}  // namespace

const std::string_view kAboutText = kAbout;

std::span<const FormEntry> FormTable() { return kTable; }

Form MainForm() {
  Form f;
  f.windowId = kMainWindow;
  f.windowWord = kWindowWord;
  f.reservedId = kReservedIdWord;
  const auto table = FormTable();
  for (const auto& e : table) {
    FormRecord r;
    r.id = e.id;
    r.kind = e.kind;
    r.name = e.name;
    r.left = e.left;
    r.top = e.top;
    r.width = e.width;
    r.height = e.height;
    r.parent = e.parent;
    // A group box lists the controls placed inside it, in entry order.
    for (const auto& child : table)
      if (child.parent != 0 && child.parent == e.id) r.children.push_back(child.id);
    r.byteBlock.assign(4, 0);
    r.flags = e.flags;
    if (e.hasEvent) r.events.push_back({e.event.event, Offset(e.event.handler)});
    if (e.hasProperties) {
      PropertyData& p = r.properties;
      p.caption = e.caption;
      switch (e.kind) {
        case host::kKindWindow:
          p.shape = PropertyShape::kWindow;
          p.values.assign(std::begin(kWindowValues), std::end(kWindowValues));
          p.trailer.assign(kWindowTrailerWords, 0);
          break;
        case host::kKindLabel:
          p.shape = PropertyShape::kLabel;
          p.values.assign(std::begin(kLabelValues), std::end(kLabelValues));
          p.values[kLabelMultiLineValue] = e.multiLine ? 1 : 0;
          p.trailer.assign(kLabelTrailerWords, 0);
          break;
        default:
          p.shape = PropertyShape::kButton;
          p.values.assign(std::begin(kButtonValues), std::end(kButtonValues));
          p.trailer.assign(kButtonTrailerWords, 0);
          break;
      }
    }
    f.records.push_back(std::move(r));
  }
  return f;
}

}  // namespace image

// A window description shaped like Mosalin's main window, for the UI backend
// tests: group boxes with children, labels, buttons, edit boxes, the progress
// bar, the common dialog and the hidden test buttons. Names and captions are
// written here in UTF-8 and converted to code page 936 bytes, as stored.
#pragma once

#include <string>

#include "platform/codepage.h"
#include "host/ui.h"
#include "runtime/ui/window_layout.h"

namespace ui_test {

inline std::string Gbk(const char* utf8) { return platform::Utf8ToAnsi(utf8); }

namespace id {
inline constexpr std::uint32_t kWindow = 0x52010001;
inline constexpr std::uint32_t kAboutLabel = 0x160102D6;
inline constexpr std::uint32_t kProgress = 0x160102AC;
inline constexpr std::uint32_t kStart = 0x160102AB;
inline constexpr std::uint32_t kSaveLabel = 0x160102A9;
inline constexpr std::uint32_t kSaveButton = 0x160102AA;
inline constexpr std::uint32_t kGroup2 = 0x160102A8;
inline constexpr std::uint32_t kDialog = 0x1601029E;
inline constexpr std::uint32_t kTileLabel = 0x16010290;
inline constexpr std::uint32_t kSizeCaption = 0x16010291;
inline constexpr std::uint32_t kSizeEdit = 0x16010292;
inline constexpr std::uint32_t kPrefixEdit = 0x16010293;
inline constexpr std::uint32_t kPrefixCaption = 0x16010294;
inline constexpr std::uint32_t kPickDir = 0x16010295;
inline constexpr std::uint32_t kGroup1 = 0x1601028F;
inline constexpr std::uint32_t kTest4 = 0x16010228;
inline constexpr std::uint32_t kTest1 = 0x160100BB;
}  // namespace id

inline velmo::WindowLayout SampleWindow() {
  using namespace host;
  velmo::WindowLayout spec;
  spec.window.id = id::kWindow;
  spec.window.kind = kKindWindow;
  spec.window.left = spec.window.top = 50;
  spec.window.width = 455;
  spec.window.height = 288;
  spec.window.flags = 1;
  spec.window.hasCaption = true;
  spec.window.caption = "Mosalin V1.0";

  auto add = [&](std::uint32_t cid, std::uint32_t kind, const char* name, std::uint32_t parent,
                 int l, int t, int w, int h, std::uint32_t flags, const char* caption) {
    velmo::ControlLayout c;
    c.id = cid;
    c.kind = kind;
    c.name = Gbk(name);
    c.parent = parent;
    c.left = l, c.top = t, c.width = w, c.height = h;
    c.flags = flags;
    if (caption) {
      c.hasCaption = true;
      c.caption = Gbk(caption);
    }
    spec.controls.push_back(c);
  };
  add(id::kAboutLabel, kKindLabel, "标签_关于", 0, 341, 218, 96, 40, 1,
      "作者: 拼图工作室\r\nexample.org/mosalin\r\n2024-05-01");
  add(id::kProgress, kKindProgressBar, "进度条_处理进度", 0, 9, 184, 429, 24, 1, nullptr);
  add(id::kStart, kKindButton, "按钮_开始拼合", 0, 343, 10, 95, 165, 5, "开始拼合");
  add(id::kSaveLabel, kKindLabel, "标签_保存路径", id::kGroup2, 93, 22, 216, 24, 1, "保存在:????");
  add(id::kSaveButton, kKindButton, "按钮_保存路径", id::kGroup2, 8, 18, 80, 32, 5, "指定保存路径");
  add(id::kGroup2, kKindGroupBox, "分组框2", 0, 8, 112, 326, 63, 1, nullptr);
  add(id::kDialog, kKindCommonDialog, "通用对话框_保存", 0, 455, 41, 26, 26, 0, nullptr);
  add(id::kTileLabel, kKindLabel, "标签_小图路径", id::kGroup1, 16, 68, 280, 24, 1, "小图路径:????");
  add(id::kSizeCaption, kKindLabel, "标签_标题提示1", id::kGroup1, 170, 42, 58, 24, 1, "大图尺寸:");
  add(id::kSizeEdit, kKindEdit, "编辑框_大图尺寸", id::kGroup1, 231, 46, 64, 20, 5, nullptr);
  add(id::kPrefixEdit, kKindEdit, "编辑框_目录名称", id::kGroup1, 231, 16, 64, 20, 5, nullptr);
  add(id::kPrefixCaption, kKindLabel, "标签_标题提示", id::kGroup1, 159, 14, 75, 24, 1, "文件名前缀:");
  add(id::kPickDir, kKindButton, "按钮_指定目录", id::kGroup1, 11, 16, 113, 46, 5, "指定小图目录");
  add(id::kGroup1, kKindGroupBox, "分组框1", 0, 8, 4, 326, 103, 1, nullptr);
  add(id::kTest4, kKindButton, "按钮4", 0, 473, 177, 80, 32, 4, nullptr);
  add(id::kTest1, kKindButton, "按钮1", 0, 472, 230, 80, 32, 4, "测试按钮1");

  for (velmo::ControlLayout& c : spec.controls) {
    c.absLeft = c.left;
    c.absTop = c.top;
    if (c.parent)
      for (const velmo::ControlLayout& g : spec.controls)
        if (g.id == c.parent) c.absLeft += g.left, c.absTop += g.top;
  }
  return spec;
}

}  // namespace ui_test

// The main window's form: what the image stores decodes back to the window's
// control table, and the form's encoder and decoder are exact inverses.
#include <gtest/gtest.h>

#include <optional>

#include "host/ui.h"
#include "image/const_pool.h"
#include "image/controls.h"
#include "image/form_table.h"
#include "image/format/form_segment.h"
#include "image/format/program_image.h"
#include "image/link_area.h"
#include "image/program_layout.h"
#include "test_support.h"

namespace {

using image::Routine;
using image_test::Gbk;

struct Expected {
  std::uint32_t id;
  const char* name;
  std::uint32_t kind;
  std::uint32_t parent;
  int left, top, width, height;
  std::uint32_t flags;
  std::optional<std::string> caption;  // nullopt: no property data
  std::optional<std::pair<int, Routine>> event;
};

const std::vector<Expected>& Table() {
  using namespace image;
  static const std::vector<Expected> t = {
      {0x06010000, "", host::kKindWindow, 0, 50, 50, 455, 288, 1, Gbk("Mosalin V1.0"), {{0, Routine::OnWindowCreated}}},
      {0x160102D6, "标签_关于", host::kKindLabel, 0, 341, 218, 96, 40, 1, std::string(kAboutText), {{-1, Routine::OnAboutLabelPress}}},
      {0x160102AC, "进度条_处理进度", host::kKindProgressBar, 0, 9, 184, 429, 24, 1, std::nullopt, std::nullopt},
      {0x160102AB, "按钮_开始拼合", host::kKindButton, 0, 343, 10, 95, 165, 5, Gbk("开始拼合"), {{0, Routine::OnStartMergeClick}}},
      {0x160102A9, "标签_保存路径", host::kKindLabel, 0x160102A8, 93, 22, 216, 24, 1, Gbk("保存在:????"), std::nullopt},
      {0x160102AA, "按钮_保存路径", host::kKindButton, 0x160102A8, 8, 18, 80, 32, 5, Gbk("指定保存路径"), {{0, Routine::OnPickSavePathClick}}},
      {0x160102A8, "分组框2", host::kKindGroupBox, 0, 8, 112, 326, 63, 1, std::nullopt, std::nullopt},
      {0x1601029E, "通用对话框_保存", host::kKindCommonDialog, 0, 455, 41, 26, 26, 0, std::nullopt, std::nullopt},
      {0x16010290, "标签_小图路径", host::kKindLabel, 0x1601028F, 16, 68, 280, 24, 1, Gbk("小图路径:????"), std::nullopt},
      {0x16010291, "标签_标题提示1", host::kKindLabel, 0x1601028F, 170, 42, 58, 24, 1, Gbk("大图尺寸:"), std::nullopt},
      {0x16010292, "编辑框_大图尺寸", host::kKindEdit, 0x1601028F, 231, 46, 64, 20, 5, std::nullopt, std::nullopt},
      {0x16010293, "编辑框_目录名称", host::kKindEdit, 0x1601028F, 231, 16, 64, 20, 5, std::nullopt, std::nullopt},
      {0x16010294, "标签_标题提示", host::kKindLabel, 0x1601028F, 159, 14, 75, 24, 1, Gbk("文件名前缀:"), std::nullopt},
      {0x16010295, "按钮_指定目录", host::kKindButton, 0x1601028F, 11, 16, 113, 46, 5, Gbk("指定小图目录"), {{0, Routine::OnPickTileDirClick}}},
      {0x1601028F, "分组框1", host::kKindGroupBox, 0, 8, 4, 326, 103, 1, std::nullopt, std::nullopt},
      {0x16010228, "按钮4", host::kKindButton, 0, 473, 177, 80, 32, 4, std::nullopt, {{0, Routine::TestFixedPathMerge}}},
      {0x16010221, "按钮3", host::kKindButton, 0, 469, 329, 80, 32, 4, Gbk("测试按钮3"), {{0, Routine::TestTileEnumeration}}},
      {0x1601021A, "按钮2", host::kKindButton, 0, 469, 276, 80, 32, 4, Gbk("测试按钮2"), {{0, Routine::TestSubdirEnumeration}}},
      {0x160100BB, "按钮1", host::kKindButton, 0, 472, 230, 80, 32, 4, Gbk("测试按钮1"), {{0, Routine::TestSingleTile}}},
  };
  return t;
}

// The form as the built image carries it, decoded by the image reader.
const image::ProgramImage& Image() {
  static const image::ProgramImage img = [] {
    std::string error;
    auto read = image::ReadProgramImage(image::BuildProgramImage(), &error);
    if (!read) ADD_FAILURE() << error;
    return read.value_or(image::ProgramImage{});
  }();
  return img;
}

std::vector<std::uint8_t> FormBytes() { return Image().Find("form")->bytes; }

TEST(MainForm, DecodesToTheControlTable) {
  const image::Form& form = Image().form;
  EXPECT_EQ(form.windowId, 0x52010001u);
  EXPECT_EQ(form.windowWord, 0x00B807F0u);
  EXPECT_EQ(form.blockStart, 0u);
  EXPECT_EQ(form.reservedId, 0x190100BCu);
  ASSERT_EQ(form.records.size(), Table().size());
  for (std::size_t i = 0; i < Table().size(); ++i) {
    const Expected& e = Table()[i];
    const image::FormRecord& r = form.records[i];
    SCOPED_TRACE("entry " + std::to_string(i));
    EXPECT_EQ(r.id, e.id);
    EXPECT_EQ(r.name, Gbk(e.name));
    EXPECT_EQ(r.kind, e.kind);
    EXPECT_EQ(r.parent, e.parent);
    EXPECT_EQ(std::vector<int>({r.left, r.top, r.width, r.height}),
              std::vector<int>({e.left, e.top, e.width, e.height}));
    EXPECT_EQ(r.flags, e.flags);
    if (e.caption) {
      EXPECT_NE(r.properties.shape, image::PropertyShape::kNone);
      EXPECT_EQ(r.properties.caption, *e.caption);
    } else {
      EXPECT_EQ(r.properties.shape, image::PropertyShape::kNone);
    }
    if (e.event) {
      ASSERT_EQ(r.events.size(), 1u);
      EXPECT_EQ(r.events[0].event, e.event->first);
      EXPECT_EQ(r.events[0].handler, image::Offset(e.event->second));
    } else {
      EXPECT_TRUE(r.events.empty());
    }
    // Fields that are the same in every record.
    EXPECT_TRUE(r.remark.empty());
    EXPECT_TRUE(r.tag.empty());
    EXPECT_EQ(r.byteBlock, std::vector<std::uint8_t>(4, 0));
    EXPECT_EQ(r.reserved3, (std::array<std::uint8_t, 20>{}));
    EXPECT_EQ(r.reserved23, (std::array<std::uint8_t, 20>{}));
    EXPECT_EQ(r.reserved6 | r.reserved11 | r.reserved18 | r.reserved20, 0u);
  }
}

TEST(MainForm, GroupBoxesListTheirChildrenInEntryOrder) {
  const image::Form& form = Image().form;
  EXPECT_EQ(form.Find(0x1601028F)->children,
            (std::vector<std::uint32_t>{0x16010290, 0x16010291, 0x16010292, 0x16010293, 0x16010294, 0x16010295}));
  EXPECT_EQ(form.Find(0x160102A8)->children, (std::vector<std::uint32_t>{0x160102A9, 0x160102AA}));
  for (const auto& r : form.records)
    if (r.kind != host::kKindGroupBox) {
      EXPECT_TRUE(r.children.empty()) << std::hex << r.id;
    }
}

TEST(MainForm, PropertyValuesPerKind) {
  const image::Form& form = Image().form;
  const auto& w = form.records[0].properties;
  EXPECT_EQ(w.shape, image::PropertyShape::kWindow);
  EXPECT_EQ(w.values, (std::vector<std::uint32_t>{5, 2, 1, 0xFF000000, 0, 0, 1, 1, 1, 0, 0, 1, 0, 0, 1, 0, 0, 0,
                                                  0, 0, 0, 0}));
  EXPECT_EQ(w.trailer, (std::vector<std::uint32_t>{0}));
  for (const auto& r : form.records) {
    if (r.kind == host::kKindLabel) {
      const std::uint32_t multiLine = r.id == image::kAboutLabel ? 1 : 0;
      EXPECT_EQ(r.properties.values,
                (std::vector<std::uint32_t>{2, 0, 8, 0, 0x808080, 0xFFFFFF, 0x808080, 0, 0xFF000000, 1, 0, 0x808080,
                                            0xFFFFFF, 0x808080, 0, 1, multiLine, 0, 0}));
      EXPECT_EQ(r.properties.trailer, (std::vector<std::uint32_t>{0, 0}));
    }
    if (r.kind == host::kKindButton && r.properties.shape != image::PropertyShape::kNone) {
      EXPECT_EQ(r.properties.values, (std::vector<std::uint32_t>{1, 0, 1, 1, 0, 0}));
      EXPECT_TRUE(r.properties.trailer.empty());
    }
  }
}

TEST(MainForm, SegmentSizeAndAboutText) {
  const auto bytes = FormBytes();
  EXPECT_EQ(bytes.size(), 3386u);
  EXPECT_EQ(image_test::U32(bytes, 0x20), 3386u - 0x24);
  // Record offsets count from the first record, which starts at 0x0BC.
  EXPECT_EQ(image_test::U32(bytes, 0x70), 0u);
  EXPECT_EQ(image_test::U32(bytes, 0xBC), image_test::U32(bytes, 0x74) - 4);
  // Three CR LF separated lines, the web address in the middle.
  const std::string about(image::kAboutText);
  const auto first = about.find("\r\n"), second = about.find("\r\n", first + 2);
  ASSERT_NE(second, std::string::npos);
  EXPECT_EQ(about.find("\r\n", second + 2), std::string::npos);
  EXPECT_EQ(about.substr(first + 2, second - first - 2), image::kAuthorUrl);
}

TEST(FormCodec, EncodeInvertsDecode) {
  const auto bytes = FormBytes();
  std::string error;
  auto form = image::DecodeForm(bytes, &error);
  ASSERT_TRUE(form) << error;
  EXPECT_EQ(image::EncodeForm(*form), bytes);
  EXPECT_EQ(*form, image::MainForm());
}

TEST(FormCodec, KeepsUndecodedPropertiesOfOtherKinds) {
  image::Form form = image::MainForm();
  auto& edit = form.records[10];
  edit.properties.shape = image::PropertyShape::kRaw;
  edit.properties.raw = {1, 2, 3, 4, 5};
  std::string error;
  auto back = image::DecodeForm(image::EncodeForm(form), &error);
  ASSERT_TRUE(back) << error;
  EXPECT_EQ(*back, form);
}

TEST(FormCodec, RejectsDamagedForms) {
  const auto good = FormBytes();
  auto expectError = [](std::vector<std::uint8_t> bytes, const std::string& fragment) {
    std::string error;
    EXPECT_FALSE(image::DecodeForm(bytes, &error));
    EXPECT_NE(error.find(fragment), std::string::npos) << error;
  };
  auto patched = [&](std::size_t at, std::uint32_t v) {
    auto b = good;
    image_test::SetU32(b, at, v);
    return b;
  };
  expectError(patched(0x00, 16), "2 windows");
  expectError(patched(0x00, 5), "whole number");
  expectError(patched(0x1C, 0x40000000), "do not fit");
  expectError(patched(0x1C, 0), "no entries");
  expectError(patched(0x20, 100), "stated length");
  expectError(patched(0x70 + 4 * 3, 0x10000), "lies past the segment");
  expectError(patched(0xBC, 0xFFFFFF00), "runs past the segment");
  // Entry 0's record: 4 size + 4 kind + 20 + "" + "" + 4 + 16 + 4, then parent.
  expectError(patched(0xBC + 4 + 4 + 20 + 2 + 4 + 16 + 4, 0x12345678), "parent 0x12345678");
  expectError(patched(0xBC + 4 + 4 + 20 + 2 + 4 + 16 + 4 + 4, 0x7FFFFFFF), "child count");
  expectError(patched(0xBC + 4, host::kKindEdit), "entry 0 is not the window");
  // A window record whose property data is one byte short.
  auto shorter = good;
  image_test::SetU32(shorter, 0xBC, image_test::U32(good, 0xBC) - 1);
  expectError(shorter, "property data");
  expectError({}, "cut short");
}

}  // namespace

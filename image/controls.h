// Identifiers of the main window and its controls, as stored in the form
// segment and passed with every property read and write. Kinds, property and
// event numbers are the host's (host/ui.h).
#pragma once

#include <cstdint>

namespace image {

inline constexpr std::uint32_t kMainWindow = 0x52010001;

enum Control : std::uint32_t {
  kAboutLabel = 0x160102D6,        // 标签_关于
  kProgressBar = 0x160102AC,       // 进度条_处理进度
  kStartButton = 0x160102AB,       // 按钮_开始拼合
  kSavePathLabel = 0x160102A9,     // 标签_保存路径
  kSavePathButton = 0x160102AA,    // 按钮_保存路径
  kGroupBox2 = 0x160102A8,         // 分组框2
  kSaveDialog = 0x1601029E,        // 通用对话框_保存
  kTilePathLabel = 0x16010290,     // 标签_小图路径
  kSizeCaption = 0x16010291,       // 标签_标题提示1
  kSizeEdit = 0x16010292,          // 编辑框_大图尺寸
  kPrefixEdit = 0x16010293,        // 编辑框_目录名称
  kPrefixCaption = 0x16010294,     // 标签_标题提示
  kPickDirButton = 0x16010295,     // 按钮_指定目录
  kGroupBox1 = 0x1601028F,         // 分组框1
  kTestButton4 = 0x16010228,       // 按钮4
  kTestButton3 = 0x16010221,       // 按钮3
  kTestButton2 = 0x1601021A,       // 按钮2
  kTestButton1 = 0x160100BB,       // 按钮1
};

}  // namespace image

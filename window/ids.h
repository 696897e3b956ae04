// Identifiers of the main window and its controls, as stored in the form
// segment and passed with every property read and write.
#pragma once

#include <cstdint>

namespace window {

inline constexpr std::uint32_t kMainWindow = 0x52010001;

enum Control : std::uint32_t {
  AboutLabel = 0x160102D6,        // 标签_关于
  ProgressBar = 0x160102AC,       // 进度条_处理进度
  StartButton = 0x160102AB,       // 按钮_开始拼合
  SavePathLabel = 0x160102A9,     // 标签_保存路径
  SavePathButton = 0x160102AA,    // 按钮_保存路径
  GroupBox2 = 0x160102A8,         // 分组框2
  SaveDialog = 0x1601029E,        // 通用对话框_保存
  TilePathLabel = 0x16010290,     // 标签_小图路径
  SizeCaption = 0x16010291,       // 标签_标题提示1
  SizeEdit = 0x16010292,          // 编辑框_大图尺寸
  PrefixEdit = 0x16010293,        // 编辑框_目录名称
  PrefixCaption = 0x16010294,     // 标签_标题提示
  PickDirButton = 0x16010295,     // 按钮_指定目录
  GroupBox1 = 0x1601028F,         // 分组框1
  TestButton4 = 0x16010228,       // 按钮4
  TestButton3 = 0x16010221,       // 按钮3
  TestButton2 = 0x1601021A,       // 按钮2
  TestButton1 = 0x160100BB,       // 按钮1
};

// Property numbers.
enum Property : std::uint32_t {
  kDisabled = 6,
  kCaption = 8,        // label caption, edit-box content
  kDialogType = 8,     // common dialog: 1 = save-file dialog
  kDialogTitle = 9,
  kDialogFileName = 10,
  kDialogFilter = 11,
  kProgressPosition = 13,
};

// Kind codes.
enum Kind : std::uint32_t {
  KindWindow = 0x00010001,
  KindEdit = 0x00010005,
  KindGroupBox = 0x00010009,
  KindLabel = 0x0001000A,
  KindButton = 0x0001000B,
  KindProgressBar = 0x00010013,
  KindCommonDialog = 0x0001001F,
};

// Event numbers.
inline constexpr std::int32_t kEventCreated = 0;
inline constexpr std::int32_t kEventClicked = 0;
inline constexpr std::int32_t kEventLeftButtonDown = -1;

}  // namespace window

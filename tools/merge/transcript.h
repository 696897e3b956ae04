// What mosalin-merge makes of the transcript of a scripted run: the events it
// cares about (messages, progress, runtime errors, the picture's size, the
// tiles the host saw missing, loaded and drawn), the outcome they add up to,
// the report on the tiles, and the terminal progress bar.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace merge_tool {

// The message the program shows after it has written the picture (UTF-8).
inline constexpr std::string_view kMergeDone = "图片拼合并保存完成!!";
// The control whose position property (13) tracks the merge, 0 to 120.
inline constexpr std::string_view kProgressBar = "进度条_处理进度";
inline constexpr int kPropPosition = 13;
inline constexpr int kFullPosition = 120;
inline constexpr int kStyleError = 16;
// The message the program shows when it cannot create the picture's bitmap.
inline constexpr std::string_view kBitmapFailed = "创建位图失败!可能是图片尺寸过大,正在想办法解决这个问题.";
// The edit box that shows the picture's size, "W*H" (text property 8).
inline constexpr std::string_view kSizeEdit = "编辑框_大图尺寸";
inline constexpr int kPropText = 8;

struct Event {
  enum class Kind { kOther, kMessage, kProgress, kRuntimeError, kPictureSize, kFileMissing, kPicture };
  Kind kind = Kind::kOther;
  int style = 0;       // kMessage
  std::string text;    // kMessage: the text, unescaped; kRuntimeError: the code;
                       // kFileMissing, kPicture: the Windows path (UTF-8)
  int position = 0;    // kProgress; kPictureSize: the side in pixels
  int status = 0;      // kPicture: 0 drawn, else the GDI+ status of the call that failed
  std::string reason;  // kPicture: why it failed, when the platform says ("" otherwise)
};

// Undoes the transcript's escapes: \r, \n and \\ (any other backslash pair is
// kept as it is).
std::string UnescapeValue(std::string_view value);

// One transcript line (without its line feed).
Event ParseTranscriptLine(std::string_view line);

// The outcome of one run, from its events and its exit. The run succeeded
// when the program ended normally, showed the success message and showed no
// other message and reported no runtime error: every other message the
// program can show during a merge reports a failure (a rejected directory,
// no tiles, the bitmap failure, a failed save).
class Outcome {
 public:
  void Add(const Event& event);
  void SetExit(bool normalExit, int status);
  bool Succeeded() const { return exitedNormally_ && status_ == 0 && done_ && failures_ == 0; }
  // The program could not create the picture's bitmap; `side` is the
  // picture's side in pixels (0 when it did not show one).
  bool BitmapFailed() const { return bitmapFailed_; }
  long long side() const { return side_; }

 private:
  bool bitmapFailed_ = false;
  long long side_ = 0;
  bool done_ = false;
  int failures_ = 0;
  bool exitedNormally_ = false;
  int status_ = -1;
};

// What became of the tiles of a merge, from the host's records: a tile the
// program found missing is followed by the load of the placeholder it draws
// instead; every other picture loaded is a tile.
class TileReport {
 public:
  void Add(const Event& event);
  // Nothing missing, nothing undrawn, and the placeholder (when needed) drawn.
  bool Clean() const { return missing_.count == 0 && undrawn_.count == 0 && placeholder_.empty(); }
  bool Empty() const { return drawn_ == 0 && Clean(); }
  // The report's lines, each ending in a line feed: the counts, the first ten
  // names of each kind and the placeholder's failure. `name` turns a Windows
  // path of the transcript into the name to show.
  std::string Text(const std::function<std::string(const std::string&)>& name) const;

 private:
  struct Kind {
    std::size_t count = 0;
    std::vector<std::string> first;  // path, or "path\treason"
    void Add(std::string entry);
  };
  std::size_t drawn_ = 0;
  Kind missing_, undrawn_;
  bool afterMissing_ = false;
  std::string placeholder_;  // "path\treason" of its first failure
};

// Whether a message goes to stdout (only the success message) or stderr.
bool IsSuccessMessage(const Event& event);

// "[#####...............]  25%" for a position of 0..120 (clamped); `width`
// is the number of cells between the brackets.
std::string ProgressBar(int position, int width);

}  // namespace merge_tool

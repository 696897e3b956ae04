// What mosalin-merge makes of the transcript of a scripted run: the events it
// cares about (messages, progress, runtime errors), the outcome they add up
// to, and the terminal progress bar.
#pragma once

#include <string>
#include <string_view>

namespace merge_tool {

// The message the program shows after it has written the picture (UTF-8).
inline constexpr std::string_view kMergeDone = "图片拼合并保存完成!!";
// The control whose position property (13) tracks the merge, 0 to 120.
inline constexpr std::string_view kProgressBar = "进度条_处理进度";
inline constexpr int kPropPosition = 13;
inline constexpr int kFullPosition = 120;
inline constexpr int kStyleError = 16;

struct Event {
  enum class Kind { kOther, kMessage, kProgress, kRuntimeError };
  Kind kind = Kind::kOther;
  int style = 0;     // kMessage
  std::string text;  // kMessage: the text, unescaped; kRuntimeError: the code
  int position = 0;  // kProgress
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
  // No message at all, no runtime error and a normal end: what a directory
  // check run shows when the program accepted the directory.
  bool Quiet() const { return exitedNormally_ && status_ == 0 && !done_ && failures_ == 0; }

 private:
  bool done_ = false;
  int failures_ = 0;
  bool exitedNormally_ = false;
  int status_ = -1;
};

// Whether a message goes to stdout (only the success message) or stderr.
bool IsSuccessMessage(const Event& event);

// "[#####...............]  25%" for a position of 0..120 (clamped); `width`
// is the number of cells between the brackets.
std::string ProgressBar(int position, int width);

}  // namespace merge_tool

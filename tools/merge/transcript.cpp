#include "tools/merge/transcript.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace merge_tool {
namespace {

// The leading word of `rest`, removed from it along with one blank after it.
std::string_view TakeWord(std::string_view& rest) {
  std::size_t blank = rest.find(' ');
  std::string_view word = rest.substr(0, blank);
  rest = blank == std::string_view::npos ? std::string_view() : rest.substr(blank + 1);
  return word;
}

bool ToInt(std::string_view s, int* out) {
  if (s.empty()) return false;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), *out);
  return ec == std::errc() && end == s.data() + s.size();
}

}  // namespace

std::string UnescapeValue(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      out += value[i];
      continue;
    }
    switch (value[i + 1]) {
      case 'r': out += '\r'; ++i; break;
      case 'n': out += '\n'; ++i; break;
      case '\\': out += '\\'; ++i; break;
      default: out += '\\';
    }
  }
  return out;
}

Event ParseTranscriptLine(std::string_view line) {
  Event event;
  std::string_view rest = line;
  std::string_view word = TakeWord(rest);
  if (word == "message") {
    // message STYLE TEXT (the text may be empty, and then so may the blank)
    if (!ToInt(TakeWord(rest), &event.style)) return event;
    event.kind = Event::Kind::kMessage;
    event.text = UnescapeValue(rest);
  } else if (word == "set") {
    // set NAME PROPERTY VALUE; control names hold no blanks.
    std::string_view name = TakeWord(rest);
    int property = 0, position = 0;
    if (name != kProgressBar || !ToInt(TakeWord(rest), &property) || property != kPropPosition ||
        !ToInt(rest, &position))
      return event;
    event.kind = Event::Kind::kProgress;
    event.position = position;
  } else if (word == "runtime-error") {
    event.kind = Event::Kind::kRuntimeError;
    event.text = std::string(rest);
  }
  return event;
}

bool IsSuccessMessage(const Event& event) {
  return event.kind == Event::Kind::kMessage && event.style != kStyleError && event.text == kMergeDone;
}

void Outcome::Add(const Event& event) {
  if (event.kind == Event::Kind::kRuntimeError) {
    ++failures_;
  } else if (event.kind == Event::Kind::kMessage) {
    if (IsSuccessMessage(event))
      done_ = true;
    else
      ++failures_;
  }
}

void Outcome::SetExit(bool normalExit, int status) {
  exitedNormally_ = normalExit;
  status_ = status;
}

std::string ProgressBar(int position, int width) {
  position = std::clamp(position, 0, kFullPosition);
  width = std::max(width, 1);
  int filled = position * width / kFullPosition;
  char percent[8];
  std::snprintf(percent, sizeof percent, "%3d%%", position * 100 / kFullPosition);
  return "[" + std::string(filled, '#') + std::string(width - filled, '.') + "] " + percent;
}

}  // namespace merge_tool

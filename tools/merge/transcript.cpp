#include "tools/merge/transcript.h"

#include <algorithm>
#include <charconv>

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

// The reason to show for a picture that failed.
std::string Reason(const Event& event) {
  if (event.status == 0) return {};
  static constexpr std::pair<std::string_view, std::string_view> kWords[] = {
      {"missing", "missing"},           {"unreadable", "unreadable"}, {"not-a-picture", "not a picture"},
      {"truncated", "truncated"},       {"too-large", "too large"},   {"damaged", "damaged"}};
  for (const auto& [word, text] : kWords)
    if (event.reason == word) return std::string(text);
  return "GDI+ status " + std::to_string(event.status);
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
    if (!ToInt(TakeWord(rest), &property)) return event;
    if (name == kSizeEdit && property == kPropText) {
      // "W*H"
      if (!ToInt(rest.substr(0, rest.find('*')), &position)) return event;
      event.kind = Event::Kind::kPictureSize;
      event.position = position;
      return event;
    }
    if (name != kProgressBar || property != kPropPosition || !ToInt(rest, &position)) return event;
    event.kind = Event::Kind::kProgress;
    event.position = position;
  } else if (word == "file-missing") {
    // file-missing PATH
    if (rest.empty()) return event;
    event.kind = Event::Kind::kFileMissing;
    event.text = UnescapeValue(rest);
  } else if (word == "picture") {
    // picture STATUS REASON PATH
    std::string_view reason;
    if (!ToInt(TakeWord(rest), &event.status) || (reason = TakeWord(rest)).empty() || rest.empty())
      return event;
    event.kind = Event::Kind::kPicture;
    event.reason = reason == "-" ? "" : std::string(reason);
    event.text = UnescapeValue(rest);
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
  if (event.kind == Event::Kind::kPictureSize) side_ = event.position;
  if (event.kind == Event::Kind::kMessage && event.text == kBitmapFailed) bitmapFailed_ = true;
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

void TileReport::Kind::Add(std::string entry) {
  if (first.size() < 10) first.push_back(std::move(entry));
  ++count;
}

void TileReport::Add(const Event& event) {
  if (event.kind == Event::Kind::kFileMissing) {
    missing_.Add(event.text);
    afterMissing_ = true;
  } else if (event.kind == Event::Kind::kPicture) {
    const std::string entry = event.text + "\t" + Reason(event);
    if (afterMissing_) {
      if (event.status != 0 && placeholder_.empty()) placeholder_ = entry;
    } else if (event.status == 0) {
      ++drawn_;
    } else {
      undrawn_.Add(entry);
    }
    afterMissing_ = false;
  }
}

std::string TileReport::Text(const std::function<std::string(const std::string&)>& name) const {
  // "path\treason" as "NAME (reason)"; a bare path as its name.
  auto shown = [&](const std::string& entry) {
    const std::size_t tab = entry.find('\t');
    if (tab == std::string::npos) return name(entry);
    return name(entry.substr(0, tab)) + " (" + entry.substr(tab + 1) + ")";
  };
  std::string out = "mosalin-merge: tiles: " + std::to_string(drawn_) + " drawn, " +
                    std::to_string(missing_.count) + " missing (the placeholder drawn instead), " +
                    std::to_string(undrawn_.count) + " could not be drawn (left black)\n";
  for (const auto& [kind, label] : {std::pair{&missing_, "missing"}, std::pair{&undrawn_, "could not be drawn"}}) {
    for (const std::string& entry : kind->first) out += "mosalin-merge: " + std::string(label) + ": " + shown(entry) + "\n";
    if (kind->count > kind->first.size())
      out += "mosalin-merge: " + std::string(label) + ": and " + std::to_string(kind->count - kind->first.size()) +
             " more\n";
  }
  if (!placeholder_.empty()) {
    const std::size_t tab = placeholder_.find('\t');
    const std::string reason = placeholder_.substr(tab + 1);
    out += "mosalin-merge: the placeholder " + name(placeholder_.substr(0, tab)) +
           (reason == "missing" ? " is missing" : " could not be drawn (" + reason + ")") +
           ": the missing tiles are left black\n";
  }
  return out;
}

std::string ProgressBar(int position, int width) {
  position = std::clamp(position, 0, kFullPosition);
  width = std::max(width, 1);
  int filled = position * width / kFullPosition;
  std::string percent = std::to_string(position * 100 / kFullPosition) + "%";  // "%3d%%"
  if (percent.size() < 4) percent.insert(0, 4 - percent.size(), ' ');
  return "[" + std::string(filled, '#') + std::string(width - filled, '.') + "] " + percent;
}

}  // namespace merge_tool

// The scripted UI backend, chosen when the environment variable VELMO_SCRIPT
// names a scenario file. It needs no display.
//
// Scenario file: UTF-8 text, one action per line. Blank lines and lines whose
// first non-blank character is '#' are skipped; leading and trailing blanks
// and a trailing CR are ignored. The actions run in order, each when the
// previous one has finished (a click runs its handler to the end, dialogs and
// message boxes included, before the next line is read):
//
//   folder PATH     queue PATH as the answer of the next folder browser
//   folder-cancel   queue a cancelled folder browser
//   save PATH       queue PATH as the answer of the next save dialog
//   save-cancel     queue a cancelled save dialog
//   click NAME      click the button NAME
//   press NAME      press the left mouse button over the control NAME (a
//                   label, in practice): fires event -1 with the position
//                   (width / 2, height / 2) in the control and modifier state 0
//   close           close the window: the message loop ends
//   wait-file PATH  wait (up to 30 s) until PATH exists (a path of the system
//                   the build runs on): lets a test change the file system
//                   between two actions of one run
//
// PATH is a POSIX path on Linux (relative paths count from the current
// directory); the program receives its Windows form in code page 936
// ("/home/me/2x/" becomes "Z:\home\me\2x"). In the Windows build PATH is a
// Windows path and reaches the program as it stands, in the ANSI code page. Answers wait in one queue per dialog kind and are consumed
// by the next dialog of that kind, so queue them before the click that opens
// the dialog; a dialog with no answer queued is cancelled. NAME is a control's
// stored name written in UTF-8. A click or press of a disabled control does
// nothing, as in a real window; hidden controls still receive them (the hidden
// test buttons are pressed that way). A message box is answered with OK at
// once. When the actions run out the window is closed.
//
// A malformed line makes the backend's construction fail (MakeScriptedBackend
// returns null with "FILE:LINE: ..."). A NAME that the window does not have,
// a click on something other than a button or a press on the common dialog is
// found when the window is created, before its created event fires: the
// message goes to stderr and the run ends with exit status 2.
//
// Transcript: one UTF-8 line per event on stdout, flushed per line, ending in
// LF in both builds:
//
//   window-created                the window and its controls exist
//   set NAME PROPERTY VALUE       every property write (VALUE is the decimal
//                                 number, or the text converted to UTF-8; it
//                                 may be empty)
//   message STYLE TEXT            a message box (STYLE in decimal: 16 error,
//                                 64 information, 0 none)
//   browse-folder PROMPT          a folder browser was opened
//   dialog TITLE                  a save dialog was opened
//   open-target URL               the program asked to open a web address
//   runtime-error CODE            a runtime error the program caused
//   file-missing PATH             the program looked for PATH, which does not
//                                 exist
//   picture STATUS REASON PATH    what became of a picture the program loaded:
//                                 STATUS 0 when it was drawn, else the GDI+
//                                 status of the call that failed; REASON the
//                                 platform's word for the failure (missing,
//                                 unreadable, not-a-picture, truncated,
//                                 too-large, damaged) or "-"
//
// PATH is the Windows path as the program gave it, in UTF-8.
// NAME is the control's name in UTF-8 (a record without a name shows as
// "#" and its identifier in hex). In every value CR, LF and backslash are
// written as \r, \n and \\, so one event is always one line.
#include "runtime/ui/scripted_backend.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include "runtime/system.h"
#include "host/ui.h"
#include "runtime/ui/scenario_files.h"

namespace velmo {
namespace {

std::string_view Trim(std::string_view s) {
  const char* blanks = " \t\r\f\v";
  std::size_t first = s.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  std::size_t last = s.find_last_not_of(blanks);
  return s.substr(first, last - first + 1);
}

std::string LineError(const std::string& source, int line, const std::string& what) {
  return source + ":" + std::to_string(line) + ": " + what;
}

void DefaultFailure(const std::string& message) {
  std::fflush(stdout);
  std::cout.flush();
  std::fprintf(stderr, "%s\n", message.c_str());
  std::exit(2);
}

std::string Hex(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08X", v);
  return buf;
}

}  // namespace

std::string EscapeTranscriptValue(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (char c : utf8) {
    switch (c) {
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\\': out += "\\\\"; break;
      default: out += c;
    }
  }
  return out;
}

bool ParseScenario(std::string_view text, const std::string& source, Scenario* out,
                   std::string* error) {
  out->source = source;
  out->actions.clear();
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // UTF-8 byte order mark

  int lineNo = 0;
  while (!text.empty()) {
    std::size_t nl = text.find('\n');
    std::string_view raw = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    ++lineNo;

    std::string_view line = Trim(raw);
    if (line.empty() || line[0] == '#') continue;
    std::size_t blank = line.find_first_of(" \t");
    std::string_view word = line.substr(0, blank);
    std::string_view arg =
        blank == std::string_view::npos ? std::string_view() : Trim(line.substr(blank));

    struct Keyword {
      std::string_view word;
      ScenarioAction::Kind kind;
      bool takesArgument;
    };
    static constexpr Keyword kKeywords[] = {
        {"folder", ScenarioAction::Kind::kFolder, true},
        {"folder-cancel", ScenarioAction::Kind::kFolderCancel, false},
        {"save", ScenarioAction::Kind::kSave, true},
        {"save-cancel", ScenarioAction::Kind::kSaveCancel, false},
        {"click", ScenarioAction::Kind::kClick, true},
        {"press", ScenarioAction::Kind::kPress, true},
        {"close", ScenarioAction::Kind::kClose, false},
        {"wait-file", ScenarioAction::Kind::kWaitFile, true},
    };
    const Keyword* keyword = nullptr;
    for (const Keyword& k : kKeywords)
      if (k.word == word) keyword = &k;
    if (!keyword) {
      *error = LineError(source, lineNo, "unknown action \"" + std::string(word) + "\"");
      return false;
    }
    if (keyword->takesArgument && arg.empty()) {
      *error = LineError(source, lineNo, "\"" + std::string(word) + "\" needs " +
                                             (keyword->kind == ScenarioAction::Kind::kFolder ||
                                                      keyword->kind == ScenarioAction::Kind::kSave ||
                                                      keyword->kind == ScenarioAction::Kind::kWaitFile
                                                  ? "a path"
                                                  : "a control name"));
      return false;
    }
    if (!keyword->takesArgument && !arg.empty()) {
      *error = LineError(source, lineNo,
                         "\"" + std::string(word) + "\" takes nothing after it, found \"" +
                             std::string(arg) + "\"");
      return false;
    }

    ScenarioAction action{keyword->kind, std::string(arg), lineNo};
    if (action.kind == ScenarioAction::Kind::kFolder ||
        action.kind == ScenarioAction::Kind::kSave) {
      std::optional<std::string> windows = scenario::ProgramPath(arg);
      if (!windows) {
        *error = LineError(source, lineNo,
                           "the path \"" + std::string(arg) + "\" has no Windows form");
        return false;
      }
      action.argument = *windows;
    }
    out->actions.push_back(std::move(action));
  }
  return true;
}

ScriptedBackend::ScriptedBackend(Scenario scenario)
    : ScriptedBackend(std::move(scenario), std::cout, DefaultFailure) {}

ScriptedBackend::ScriptedBackend(Scenario scenario, std::ostream& transcript,
                                 FailureHandler onFailure)
    : scenario_(std::move(scenario)),
      out_(transcript),
      onFailure_(onFailure ? std::move(onFailure) : FailureHandler(DefaultFailure)) {}

void ScriptedBackend::Emit(const std::string& line) {
  out_ << line << '\n';
  out_.flush();
}

std::string ScriptedBackend::NameOf(const ControlLayout& control) const {
  if (control.name.empty()) return "#" + Hex(control.id);
  return EscapeTranscriptValue(sys::AnsiToUtf8(control.name));
}

void ScriptedBackend::Fail(const std::string& message) {
  failed_ = true;
  onFailure_(message);
}

void ScriptedBackend::CreateMainWindow(const WindowLayout& spec, EventSink sink) {
  sink_ = std::move(sink);
  created_ = true;

  // Every name the scenario uses must be a control of this window that can
  // take the action; checked before the program sees any event.
  for (const ScenarioAction& action : scenario_.actions) {
    if (action.kind != ScenarioAction::Kind::kClick && action.kind != ScenarioAction::Kind::kPress)
      continue;
    const ControlLayout* found = nullptr;
    for (const ControlLayout& c : spec.controls) {
      if (!c.name.empty() && sys::AnsiToUtf8(c.name) == action.argument) {
        found = &c;
        break;
      }
    }
    std::string quoted = "\"" + action.argument + "\"";
    if (!found) {
      Fail(LineError(scenario_.source, action.line, "the window has no control named " + quoted));
      return;
    }
    if (action.kind == ScenarioAction::Kind::kClick && found->kind != host::kKindButton) {
      Fail(LineError(scenario_.source, action.line, quoted + " is not a button"));
      return;
    }
    if (action.kind == ScenarioAction::Kind::kPress && found->kind == host::kKindCommonDialog) {
      Fail(LineError(scenario_.source, action.line, quoted + " has no area on the screen"));
      return;
    }
    targets_[action.line] = Target{found->id, found->width, found->height};
  }
  for (const ControlLayout& c : spec.controls) disabled_[c.id] = false;

  Emit("window-created");
  if (sink_) sink_(spec.window.id, host::kEventCreated, nullptr, 0);
}

void ScriptedBackend::RunMessageLoop() {
  if (!created_ || failed_) return;
  while (!closed_ && next_ < scenario_.actions.size()) Play(scenario_.actions[next_++]);
  closed_ = true;
}

void ScriptedBackend::Play(const ScenarioAction& action) {
  switch (action.kind) {
    case ScenarioAction::Kind::kFolder: folderAnswers_.push_back(action.argument); return;
    case ScenarioAction::Kind::kFolderCancel: folderAnswers_.push_back(std::nullopt); return;
    case ScenarioAction::Kind::kSave: saveAnswers_.push_back(action.argument); return;
    case ScenarioAction::Kind::kSaveCancel: saveAnswers_.push_back(std::nullopt); return;
    case ScenarioAction::Kind::kClose: closed_ = true; return;
    case ScenarioAction::Kind::kWaitFile:
      for (int i = 0; i < 3000 && !scenario::FileExists(action.argument); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      return;
    case ScenarioAction::Kind::kClick:
    case ScenarioAction::Kind::kPress: break;
  }
  const Target& target = targets_.at(action.line);
  if (disabled_[target.id]) {
    std::fprintf(stderr, "%s:%d: \"%s\" is disabled; the %s does nothing\n",
                 scenario_.source.c_str(), action.line, action.argument.c_str(),
                 action.kind == ScenarioAction::Kind::kClick ? "click" : "press");
    return;
  }
  if (!sink_) return;
  if (action.kind == ScenarioAction::Kind::kClick) {
    sink_(target.id, host::kEventClicked, nullptr, 0);
  } else {
    const std::int32_t args[3] = {target.width / 2, target.height / 2, 0};
    sink_(target.id, host::kEventLeftButtonDown, args, 3);
  }
}

void ScriptedBackend::PropertyWritten(const ControlLayout& control, std::uint32_t property,
                                      const PropertyValue& value) {
  if (property == host::kPropDisabled && !value.isText) disabled_[control.id] = value.number != 0;
  std::string shown = value.isText ? EscapeTranscriptValue(sys::AnsiToUtf8(value.text))
                                   : std::to_string(value.number);
  Emit("set " + NameOf(control) + " " + std::to_string(property) + " " + shown);
}

void ScriptedBackend::ShowMessage(const std::string& ansiText, std::uint32_t style) {
  Emit("message " + std::to_string(style) + " " +
       EscapeTranscriptValue(sys::AnsiToUtf8(ansiText)));
}

std::optional<std::string> ScriptedBackend::BrowseFolder(const std::string& ansiPrompt) {
  Emit("browse-folder " + EscapeTranscriptValue(sys::AnsiToUtf8(ansiPrompt)));
  if (folderAnswers_.empty()) return std::nullopt;
  std::optional<std::string> answer = std::move(folderAnswers_.front());
  folderAnswers_.pop_front();
  return answer;
}

std::optional<std::string> ScriptedBackend::SaveDialog(const SaveDialogRequest& request) {
  Emit("dialog " + EscapeTranscriptValue(sys::AnsiToUtf8(request.title)));
  if (saveAnswers_.empty()) return std::nullopt;
  std::optional<std::string> answer = std::move(saveAnswers_.front());
  saveAnswers_.pop_front();
  return answer;
}

void ScriptedBackend::OpenTarget(const std::string& ansiTarget) {
  Emit("open-target " + EscapeTranscriptValue(sys::AnsiToUtf8(ansiTarget)));
}

// The detail is the host's to print; the transcript keeps the code only.
void ScriptedBackend::RuntimeError(std::uint32_t code, const std::string&) {
  Emit("runtime-error " + std::to_string(code));
}

void ScriptedBackend::FileMissing(const std::string& utf8Path) {
  Emit("file-missing " + EscapeTranscriptValue(utf8Path));
}

void ScriptedBackend::PictureOutcome(const std::string& utf8Path, std::uint32_t status,
                                     const std::string& reason) {
  Emit("picture " + std::to_string(status) + " " + (reason.empty() ? "-" : reason) + " " +
       EscapeTranscriptValue(utf8Path));
}

std::unique_ptr<UiBackend> MakeScriptedBackend(const std::string& scenarioPath,
                                               std::string* error) {
  std::ifstream in(scenarioPath, std::ios::binary);
  if (!in) {
    if (error) *error = "cannot read the scenario file " + scenarioPath;
    return nullptr;
  }
  std::ostringstream text;
  text << in.rdbuf();
  Scenario scenario;
  std::string parseError;
  if (!ParseScenario(text.str(), scenarioPath, &scenario, &parseError)) {
    if (error) *error = parseError;
    return nullptr;
  }
  return std::make_unique<ScriptedBackend>(std::move(scenario));
}

}  // namespace velmo

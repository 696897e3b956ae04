// The scripted UI backend: no display. It plays a scenario (clicks, presses,
// the answers of the next dialogs) against the window and writes a transcript
// of everything the program shows. The scenario language and the transcript
// are described at the top of scripted_backend.cpp.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/ui/backend.h"

namespace velmo {

struct ScenarioAction {
  enum class Kind { kFolder, kFolderCancel, kSave, kSaveCancel, kClick, kPress, kClose, kWaitFile };
  Kind kind;
  std::string argument;  // folder/save: the Windows path (ANSI); click/press: the name (UTF-8); wait-file: the POSIX path
  int line = 0;          // 1-based line in the scenario file
};

struct Scenario {
  std::string source;  // the file name, for messages
  std::vector<ScenarioAction> actions;
};

// Parses a scenario. On a malformed line returns false and sets `error` to
// "SOURCE:LINE: what is wrong".
bool ParseScenario(std::string_view text, const std::string& source, Scenario* out,
                   std::string* error);

// Escapes CR, LF and backslash as \r, \n and \\ so that one value stays on one
// transcript line.
std::string EscapeTranscriptValue(std::string_view utf8);

class ScriptedBackend : public UiBackend {
 public:
  // Called when the scenario names a control that the window does not have
  // (or one that cannot take the action). The default prints the message on
  // stderr and ends the process with exit status 2; tests pass their own.
  using FailureHandler = std::function<void(const std::string& message)>;

  explicit ScriptedBackend(Scenario scenario);
  ScriptedBackend(Scenario scenario, std::ostream& transcript, FailureHandler onFailure);

  void CreateMainWindow(const WindowLayout& spec, EventSink sink) override;
  void RunMessageLoop() override;
  void PropertyWritten(const ControlLayout& control, std::uint32_t property,
                       const PropertyValue& value) override;
  void ShowMessage(const std::string& ansiText, std::uint32_t style) override;
  std::optional<std::string> BrowseFolder(const std::string& ansiPrompt) override;
  std::optional<std::string> SaveDialog(const SaveDialogRequest& request) override;
  void OpenTarget(const std::string& ansiTarget) override;
  void RuntimeError(std::uint32_t code, const std::string& detail) override;
  void FileMissing(const std::string& utf8Path) override;
  void PictureOutcome(const std::string& utf8Path, std::uint32_t status, const std::string& reason) override;

  // True once the scenario was found not to fit the window; the message loop
  // then plays nothing.
  bool failed() const { return failed_; }

 private:
  struct Target {
    std::uint32_t id;
    int width, height;
  };

  void Emit(const std::string& line);
  std::string NameOf(const ControlLayout& control) const;
  void Fail(const std::string& message);
  void Play(const ScenarioAction& action);

  Scenario scenario_;
  std::ostream& out_;
  FailureHandler onFailure_;
  EventSink sink_;
  std::map<int, Target> targets_;  // click/press line -> control
  std::map<std::uint32_t, bool> disabled_;
  std::deque<std::optional<std::string>> folderAnswers_;
  std::deque<std::optional<std::string>> saveAnswers_;
  std::size_t next_ = 0;
  bool created_ = false;
  bool closed_ = false;
  bool failed_ = false;
};

}  // namespace velmo

#include "runtime/ui/scripted_backend.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/paths.h"
#include "runtime/ui/dialog_filter.h"
#include "assets/png_writer.h"
#include "runtime/ui/icon.h"
#include "sample_window.h"

namespace {

using velmo::PropertyValue;
using velmo::Scenario;
using velmo::ScenarioAction;
using velmo::ScriptedBackend;
using namespace ui_test;

struct Event {
  std::uint32_t id;
  std::int32_t event;
  std::vector<std::int32_t> args;
};

class ScriptedRun : public ::testing::Test {
 protected:
  // Parses the scenario and makes the backend; `onEvent` stands in for the
  // program's handlers.
  void Start(const std::string& text,
             std::function<void(const Event&)> onEvent = [](const Event&) {}) {
    Scenario scenario;
    std::string error;
    ASSERT_TRUE(velmo::ParseScenario(text, "test.scenario", &scenario, &error)) << error;
    backend_ = std::make_unique<ScriptedBackend>(
        scenario, transcript_, [this](const std::string& m) { failures_.push_back(m); });
    backend_->CreateMainWindow(spec_, [this, onEvent](std::uint32_t id, std::int32_t event,
                                                      const std::int32_t* args, int argc) {
      Event e{id, event, std::vector<std::int32_t>(args, args + argc)};
      events_.push_back(e);
      onEvent(e);
    });
  }

  std::vector<std::string> Transcript() const {
    std::vector<std::string> lines;
    std::istringstream in(transcript_.str());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  void Write(std::uint32_t control, std::uint32_t property, std::int32_t number) {
    backend_->PropertyWritten(*spec_.Find(control), property, PropertyValue{false, number, {}});
  }

  velmo::WindowLayout spec_ = SampleWindow();
  std::ostringstream transcript_;
  std::vector<std::string> failures_;
  std::vector<Event> events_;
  std::unique_ptr<ScriptedBackend> backend_;
};

std::string ParseError(const std::string& text) {
  Scenario scenario;
  std::string error;
  EXPECT_FALSE(velmo::ParseScenario(text, "bad.scenario", &scenario, &error));
  return error;
}

TEST(ScenarioParsing, SkipsCommentsBlanksAndLineEndingsAndKeepsLineNumbers) {
  Scenario s;
  std::string error;
  ASSERT_TRUE(velmo::ParseScenario(
      "\xEF\xBB\xBF# choose a directory\r\n\r\n  folder /tmp/tiles/2x/  \r\n"
      "click 按钮_指定目录\n\tpress 标签_关于\nsave-cancel\nfolder /home/me/拼合/大图\nsave out\nclose",
      "s", &s, &error))
      << error;
  ASSERT_EQ(s.actions.size(), 7u);
  EXPECT_EQ(s.actions[0].kind, ScenarioAction::Kind::kFolder);
  EXPECT_EQ(s.actions[0].line, 3);
  EXPECT_EQ(s.actions[0].argument, "Z:\\tmp\\tiles\\2x");
  EXPECT_EQ(s.actions[1].argument, "按钮_指定目录");  // names stay UTF-8
  EXPECT_EQ(s.actions[2].kind, ScenarioAction::Kind::kPress);
  EXPECT_EQ(s.actions[2].line, 5);
  EXPECT_EQ(s.actions[3].kind, ScenarioAction::Kind::kSaveCancel);
  EXPECT_EQ(s.actions[4].argument, "Z:\\home\\me\\\xC6\xB4\xBA\xCF\\\xB4\xF3\xCD\xBC");  // GBK
  // A relative path counts from the current directory.
  std::string cwd = std::filesystem::current_path().string();
  EXPECT_EQ(s.actions[5].argument, *platform::PosixToWindows(cwd + "/out"));
  EXPECT_EQ(s.actions[6].kind, ScenarioAction::Kind::kClose);
}

TEST(ScenarioParsing, MalformedLinesAreReportedWithFileAndLine) {
  EXPECT_EQ(ParseError("close\n\nclik 按钮1\n"), "bad.scenario:3: unknown action \"clik\"");
  EXPECT_EQ(ParseError("click\n"), "bad.scenario:1: \"click\" needs a control name");
  EXPECT_EQ(ParseError("# x\nfolder   \n"), "bad.scenario:2: \"folder\" needs a path");
  EXPECT_EQ(ParseError("close now\n"),
            "bad.scenario:1: \"close\" takes nothing after it, found \"now\"");
  EXPECT_EQ(ParseError("save-cancel /tmp/x"),
            "bad.scenario:1: \"save-cancel\" takes nothing after it, found \"/tmp/x\"");
  // A backslash in a POSIX name has no Windows form.
  EXPECT_EQ(ParseError("folder /tmp/a\\b"),
            "bad.scenario:1: the path \"/tmp/a\\b\" has no Windows form");
}

TEST_F(ScriptedRun, NamesTheWindowDoesNotHaveFailBeforeTheProgramSeesAnyEvent) {
  Start("click 按钮_开始拼合\n\nclick 按钮_不存在\n");
  ASSERT_EQ(failures_.size(), 1u);
  EXPECT_EQ(failures_[0], "test.scenario:3: the window has no control named \"按钮_不存在\"");
  EXPECT_TRUE(backend_->failed());
  backend_->RunMessageLoop();
  EXPECT_TRUE(events_.empty());  // not even the created event
  EXPECT_EQ(transcript_.str(), "");
}

TEST_F(ScriptedRun, ClickNeedsAButtonAndPressNeedsAnArea) {
  Start("click 标签_关于\n");
  ASSERT_EQ(failures_.size(), 1u);
  EXPECT_EQ(failures_[0], "test.scenario:1: \"标签_关于\" is not a button");
  failures_.clear();
  Start("press 通用对话框_保存\n");
  ASSERT_EQ(failures_.size(), 1u);
  EXPECT_EQ(failures_[0], "test.scenario:1: \"通用对话框_保存\" has no area on the screen");
}

TEST_F(ScriptedRun, ClicksAndPressesDeliverEventsInOrderAfterTheCreatedEvent) {
  Start("click 按钮_指定目录\npress 标签_关于\nclick 按钮1\n");
  ASSERT_EQ(events_.size(), 1u);
  EXPECT_EQ(events_[0].id, id::kWindow);
  EXPECT_EQ(events_[0].event, 0);
  backend_->RunMessageLoop();
  ASSERT_EQ(events_.size(), 4u);
  EXPECT_EQ(events_[1].id, id::kPickDir);
  EXPECT_EQ(events_[1].event, 0);
  EXPECT_TRUE(events_[1].args.empty());
  EXPECT_EQ(events_[2].id, id::kAboutLabel);
  EXPECT_EQ(events_[2].event, -1);
  EXPECT_EQ(events_[2].args, (std::vector<std::int32_t>{48, 20, 0}));  // middle of 96 x 40
  EXPECT_EQ(events_[3].id, id::kTest1);  // hidden, still delivered
}

TEST_F(ScriptedRun, DisabledControlsIgnoreClicksAndPressesUntilEnabledAgain) {
  Start("click 按钮_开始拼合\npress 标签_关于\nclick 按钮1\nclick 按钮_开始拼合\n",
        [this](const Event& e) {
          if (e.id == id::kTest1) {
            Write(id::kStart, 6, 0);
            Write(id::kAboutLabel, 6, 0);
          }
        });
  Write(id::kStart, 6, 1);
  Write(id::kAboutLabel, 6, 1);
  backend_->RunMessageLoop();
  ASSERT_EQ(events_.size(), 3u);
  EXPECT_EQ(events_[1].id, id::kTest1);
  EXPECT_EQ(events_[2].id, id::kStart);
}

TEST_F(ScriptedRun, DialogAnswersAreQueuedPerKindAndAnEmptyQueueCancels) {
  std::vector<std::optional<std::string>> folders, saves;
  velmo::SaveDialogRequest request;
  Start(
      "folder /maps/2x\nfolder-cancel\nsave /out/big\nclick 按钮_指定目录\n"
      "folder /maps/1x\nclick 按钮_指定目录\nclick 按钮_保存路径\n"
      "save-cancel\nsave /out/second\nclick 按钮_保存路径\nclick 按钮_保存路径\n"
      "click 按钮_指定目录\nfolder /late\n",  // queued after the click: not seen by it
      [&](const Event& e) {
        if (e.id == id::kPickDir) {
          folders.push_back(backend_->BrowseFolder("p"));
          folders.push_back(backend_->BrowseFolder("p"));
        } else if (e.id == id::kSaveButton) {
          saves.push_back(backend_->SaveDialog(request));
        }
      });
  backend_->RunMessageLoop();
  using Answers = std::vector<std::optional<std::string>>;
  EXPECT_EQ(folders, (Answers{"Z:\\maps\\2x", std::nullopt, "Z:\\maps\\1x", std::nullopt,
                              std::nullopt, std::nullopt}));
  EXPECT_EQ(saves, (Answers{"Z:\\out\\big", std::nullopt, "Z:\\out\\second"}));
}

TEST_F(ScriptedRun, CloseEndsTheLoopAndLaterActionsNeverRun) {
  Start("click 按钮_指定目录\nclose\nclick 按钮_开始拼合\n");
  backend_->RunMessageLoop();
  ASSERT_EQ(events_.size(), 2u);
  EXPECT_EQ(events_[1].id, id::kPickDir);
  backend_->RunMessageLoop();  // the window stays closed
  EXPECT_EQ(events_.size(), 2u);
}

TEST_F(ScriptedRun, TranscriptHasOneUtf8LinePerEventWithEscapedValues) {
  Start("click 按钮_开始拼合\n", [this](const Event& e) {
    if (e.id != id::kStart) return;
    Write(id::kStart, 6, 1);
    backend_->PropertyWritten(*spec_.Find(id::kSizeEdit), 8,
                              PropertyValue{true, 0, "1280*1280"});
    backend_->PropertyWritten(*spec_.Find(id::kSaveLabel), 8,
                              PropertyValue{true, 0, Gbk("保存在:") + "Z:\\out.bmp"});
    backend_->PropertyWritten(*spec_.Find(id::kPrefixEdit), 8, PropertyValue{true, 0, ""});
    backend_->PropertyWritten(spec_.window, 8, PropertyValue{true, 0, "a\r\nb"});
    Write(id::kProgress, 13, 120);
    backend_->ShowMessage(Gbk("此路径下没有可用的图片数据!") + "\r\nline 2", 16);
    backend_->BrowseFolder(Gbk("选择你要拼合的图片目录:"));
    velmo::SaveDialogRequest request;
    request.title = Gbk("请选择拼合后的图片保存地址:");
    backend_->SaveDialog(request);
    backend_->OpenTarget("https://example.org/mosalin");
    backend_->RuntimeError(6, "stack depth");
  });
  backend_->RunMessageLoop();
  EXPECT_EQ(Transcript(), (std::vector<std::string>{
                              "window-created",
                              "set 按钮_开始拼合 6 1",
                              "set 编辑框_大图尺寸 8 1280*1280",
                              "set 标签_保存路径 8 保存在:Z:\\\\out.bmp",
                              "set 编辑框_目录名称 8 ",
                              "set #52010001 8 a\\r\\nb",
                              "set 进度条_处理进度 13 120",
                              "message 16 此路径下没有可用的图片数据!\\r\\nline 2",
                              "browse-folder 选择你要拼合的图片目录:",
                              "dialog 请选择拼合后的图片保存地址:",
                              "open-target https://example.org/mosalin",
                              "runtime-error 6",
                          }));
}

TEST(ScriptedBackendFactory, ReadsTheScenarioFileAndRejectsBadOnes) {
  std::string dir = ::testing::TempDir();
  std::string good = dir + "/good.scenario", bad = dir + "/bad.scenario";
  std::ofstream(good) << "# ok\nclose\n";
  std::ofstream(bad) << "close\nclick\n";
  std::string error;
  EXPECT_NE(velmo::MakeScriptedBackend(good, &error), nullptr) << error;
  EXPECT_EQ(velmo::MakeScriptedBackend(bad, &error), nullptr);
  EXPECT_EQ(error, bad + ":2: \"click\" needs a control name");
  EXPECT_EQ(velmo::MakeScriptedBackend(dir + "/missing.scenario", &error), nullptr);
  EXPECT_EQ(error, "cannot read the scenario file " + dir + "/missing.scenario");
}

TEST(ScriptedBackendFactory, EnvironmentChoosesTheScriptOrReportsNoDisplay) {
  std::string dir = ::testing::TempDir();
  std::string script = dir + "/env.scenario";
  std::ofstream(script) << "close\n";
  const char* display = std::getenv("DISPLAY");
  std::string savedDisplay = display ? display : "";
  unsetenv("DISPLAY");

  std::string error;
  setenv("VELMO_SCRIPT", script.c_str(), 1);
  auto backend = velmo::MakeBackendFromEnvironment(&error);
  EXPECT_NE(dynamic_cast<ScriptedBackend*>(backend.get()), nullptr) << error;
  unsetenv("VELMO_SCRIPT");
  EXPECT_EQ(velmo::MakeBackendFromEnvironment(&error), nullptr);
  EXPECT_EQ(error, "no display available (set DISPLAY, or VELMO_SCRIPT for a scripted run)");

  if (display) setenv("DISPLAY", savedDisplay.c_str(), 1);
}

TEST(DialogFilter, ConvertsWindowsFiltersToTheChoosersSyntax) {
  using velmo::ui::ToolkitFilter;
  // The program's own filter: "*.*" must match names without a dot too.
  EXPECT_EQ(ToolkitFilter("(位图文件)*.bmp|*.bmp|(所有文件)*.*|*.*"),
            "(位图文件)*.bmp\t*.bmp\n(所有文件)*.*\t*");
  EXPECT_EQ(ToolkitFilter("Pictures|*.bmp;*.dib; *.png"), "Pictures\t*.{bmp,dib,png}");
  EXPECT_EQ(ToolkitFilter("Mixed|*.bmp;tile?.png"), "Mixed\t{*.bmp,tile?.png}");
  EXPECT_EQ(ToolkitFilter("Any|*.bmp;*.*"), "Any\t*");
  EXPECT_EQ(ToolkitFilter("Tab\there|*.a|Dangling"), "Tab here\t*.a");
  EXPECT_EQ(ToolkitFilter("Empty||Ok|*.b"), "Ok\t*.b");
  EXPECT_EQ(ToolkitFilter(""), "");
}

TEST(Icon, WritesAPngFileOfTheRequestedSize) {
  std::string path = ::testing::TempDir() + "/icon.png";
  mosalin_assets::WritePng(path, 32, 32, 4, velmo::ui::DrawIcon(32).data());
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(bytes.size(), 33u);
  EXPECT_EQ(bytes.substr(0, 8), "\x89PNG\r\n\x1A\n");
  EXPECT_EQ(bytes.substr(16, 8), std::string("\0\0\0\x20\0\0\0\x20", 8));  // width, height
  EXPECT_EQ(bytes[25], 6);                                                   // RGBA
}

}  // namespace

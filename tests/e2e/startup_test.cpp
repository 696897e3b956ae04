// Start-up through the real executable: the installed program finds its
// runtime host through the registry, and the window the host builds from the
// form has its 18 controls where the form puts them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "image/form_table.h"
#include "runtime/window_builder.h"
#include "tests/support/run_program.h"

namespace fs = std::filesystem;
using e2e::Sandbox;

namespace {

TEST(Startup, ClosingRightAfterStartEndsWithZero) {
  Sandbox s("close");
  e2e::Run r = s.Play({"close"});
  EXPECT_EQ(r.status, 0) << r.Joined();
  EXPECT_EQ(r.transcript, std::vector<std::string>{"window-created"});
}

// A scenario that cannot be played ends the run with status 2, whatever is
// wrong with it; 4 is a missing display's.
TEST(Startup, AScenarioThatCannotBePlayedEndsWithTwo) {
  Sandbox s("bad");
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"click 按钮_不存在"}, "按钮_不存在"},
      {{"frobnicate"}, ":1: unknown action \"frobnicate\""},
      {{"close", "folder /tmp/back\\slash"}, ":2: the path \"/tmp/back\\slash\" has no Windows form"},
  };
  for (const auto& [scenario, said] : cases) {
    e2e::Run r = s.Play(scenario);
    EXPECT_EQ(r.status, 2) << said << "\n" << r.Joined();
    EXPECT_NE(r.err.find(said), std::string::npos) << r.err;
  }
  s.AddEnv("VELMO_SCRIPT=" + (s.root() / "no-such-scenario").string());
  e2e::Run unreadable = s.Play({"close"});
  EXPECT_EQ(unreadable.status, 2) << unreadable.Joined();
  EXPECT_NE(unreadable.err.find("cannot read the scenario file"), std::string::npos) << unreadable.err;
}

TEST(Startup, TheInstalledProgramStartsThroughTheRegistry) {
  Sandbox s("install");
  // A prefix with a blank, as "My programs" would be.
  fs::path prefix = s.root() / "my prefix";
  std::string cmd = "XDG_CONFIG_HOME='" + (s.root() / "config").string() + "' MOSALIN_BUILD_DIR='" +
                    e2e::BinDir().parent_path().string() + "' '" MOSALIN_SOURCE_DIR "/scripts/install' '" +
                    prefix.string() + "' >/dev/null";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  EXPECT_TRUE(fs::exists(prefix / "bin" / "mosalin"));
  EXPECT_TRUE(fs::exists(prefix / "bin" / "Nodata.dll"));
  EXPECT_TRUE(fs::exists(prefix / "lib" / "mosalin" / "velmo.vxl"));
  EXPECT_FALSE(fs::exists(prefix / "bin" / "velmo.vxr"));
  EXPECT_TRUE(fs::exists(prefix / "share" / "applications" / "mosalin.desktop"));
  EXPECT_TRUE(fs::exists(prefix / "share" / "icons" / "hicolor" / "32x32" / "apps" / "mosalin.png"));
  // The desktop entry's command is quoted, so the blank stays in the path.
  std::ifstream desktop(prefix / "share" / "applications" / "mosalin.desktop");
  std::string entry((std::istreambuf_iterator<char>(desktop)), {});
  EXPECT_NE(entry.find("\nExec=\"" + (prefix / "bin" / "mosalin").string() + "\"\n"), std::string::npos) << entry;
  std::ifstream reg(s.config() / "registry");
  std::string text((std::istreambuf_iterator<char>(reg)), {});
  EXPECT_NE(text.find("Path"), std::string::npos) << text;
  e2e::Run r = s.Play({"close"}, prefix / "bin" / "mosalin");
  EXPECT_EQ(r.status, 0) << r.Joined();
  EXPECT_EQ(r.transcript, std::vector<std::string>{"window-created"});
  // Without the registry value the installed program finds nothing.
  fs::remove(s.config() / "registry");
  r = s.Play({"close"}, prefix / "bin" / "mosalin");
  EXPECT_EQ(r.status, 255);
}

TEST(Window, TheFormGivesEighteenControlsAtTheirPlaces) {
  std::string error;
  auto spec = velmo::BuildWindowLayout(image::MainForm(), 0x52010001, &error);
  ASSERT_TRUE(spec) << error;
  EXPECT_EQ(spec->window.caption, "Mosalin V1.0");
  EXPECT_EQ(spec->window.left, 50);
  EXPECT_EQ(spec->window.width, 455);
  ASSERT_EQ(spec->controls.size(), 18u);
  // Inside group box 2 at (8, 112): the save-path label at (93, 22).
  const velmo::ControlLayout* label = spec->Find(0x160102A9);
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->absLeft, 101);
  EXPECT_EQ(label->absTop, 134);
  // Inside group box 1 at (8, 4): the tile-directory button at (11, 16).
  EXPECT_EQ(spec->Find(0x16010295)->absLeft, 19);
  EXPECT_EQ(spec->Find(0x16010295)->absTop, 20);
  // Directly on the window.
  EXPECT_EQ(spec->Find(0x160102AB)->absLeft, 343);
  // The four test buttons and the dialog are never shown.
  for (std::uint32_t id : {0x16010228u, 0x16010221u, 0x1601021Au, 0x160100BBu, 0x1601029Eu})
    EXPECT_FALSE(spec->Find(id)->visible()) << std::hex << id;
  int visible = 0;
  for (const auto& c : spec->controls) visible += c.visible();
  EXPECT_EQ(visible, 13);
  // Events reach the handlers' entry cells.
  EXPECT_EQ(spec->window.events.size(), 1u);
  EXPECT_EQ(spec->Find(0x160102D6)->events.at(0).event, -1);
}

TEST(Window, ParentsThatDoNotExistOrLoopAreRefused) {
  image::Form form = image::MainForm();
  std::string error;
  form.records[4].parent = 0x16019999;
  EXPECT_FALSE(velmo::BuildWindowLayout(form, 0x52010001, &error));
  EXPECT_NE(error.find("0x16019999"), std::string::npos) << error;
  form = image::MainForm();
  // Group box 1 inside group box 2, and 2 inside 1.
  for (auto& r : form.records) {
    if (r.id == 0x1601028F) r.parent = 0x160102A8;
    if (r.id == 0x160102A8) r.parent = 0x1601028F;
  }
  EXPECT_FALSE(velmo::BuildWindowLayout(form, 0x52010001, &error));
  EXPECT_NE(error.find("cycle"), std::string::npos) << error;
  EXPECT_FALSE(velmo::BuildWindowLayout(image::MainForm(), 0x52010002, &error));
}

}  // namespace

// Runs under a virtual X server: the message box must open a real modal
// window with the caption as title, the text and an OK button, and return
// IDOK once it is closed.
#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Window.H>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace {

struct Seen {
  std::string title;
  std::vector<std::string> labels;
  bool modal = false;
};

void InspectAndClose(void* data) {
  auto* seen = static_cast<Seen*>(data);
  Fl_Window* w = Fl::first_window();
  if (!w) {
    Fl::repeat_timeout(0.05, InspectAndClose, data);
    return;
  }
  seen->title = w->label() ? w->label() : "";
  seen->modal = w->modal();
  for (int i = 0; i < w->children(); ++i)
    if (const char* l = w->child(i)->label()) seen->labels.push_back(l);
  w->hide();
}

TEST(MessageBoxOnDisplay, ShowsAModalBoxWithIconTextAndOk) {
  ASSERT_NE(std::getenv("DISPLAY"), nullptr);
  unsetenv("MOSALIN_NO_DIALOGS");
  Seen seen;
  Fl::add_timeout(0.2, InspectAndClose, &seen);
  // "拼合完成 @ 100%" in code page 936.
  EXPECT_EQ(MessageBoxA(nullptr, "\xC6\xB4\xBA\xCF\xCD\xEA\xB3\xC9 @ 100%", "Mosalin", MB_ICONINFORMATION), IDOK);
  EXPECT_EQ(seen.title, "Mosalin");
  EXPECT_TRUE(seen.modal);
  EXPECT_EQ(seen.labels, (std::vector<std::string>{"i", "\xE6\x8B\xBC\xE5\x90\x88\xE5\xAE\x8C\xE6\x88\x90 @@ 100%", "OK"}));

  seen = Seen{};
  Fl::add_timeout(0.2, InspectAndClose, &seen);
  EXPECT_EQ(MessageBoxA(nullptr, "plain", nullptr, MB_OK), IDOK);
  EXPECT_EQ(seen.title, "Error");
  EXPECT_EQ(seen.labels, (std::vector<std::string>{"plain", "OK"}));
}

}  // namespace

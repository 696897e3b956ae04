// The FLTK backend on a real X display (the test runs under xvfb-run). Mouse
// input is sent to the window as X events, the way a user's clicks arrive.
#include <gtest/gtest.h>  // before the X headers, whose macros clash with it

#include "runtime/ui/fltk_backend.h"

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Progress.H>
#include <FL/fl_draw.H>
#include <FL/x.H>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <set>

#include "assets/png_writer.h"
#include "runtime/ui/icon.h"
#include "sample_window.h"

namespace {

using velmo::FltkBackend;
using velmo::PropertyValue;
using namespace ui_test;

struct Event {
  std::uint32_t id;
  std::int32_t event;
  std::vector<std::int32_t> args;
};

// Handles events until `done` holds or two seconds have passed.
bool PumpUntil(const std::function<bool()>& done) {
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    Fl::wait(0.02);
  }
  return true;
}

void Pump(double seconds) {
  auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < until) Fl::wait(0.02);
}

// The window's pixels as the X server has them (RGB, rows top-down).
std::vector<std::uint8_t> Screenshot(Fl_Window* window) {
  window->make_current();
  std::uint8_t* data = fl_read_image(nullptr, 0, 0, window->w(), window->h());
  std::vector<std::uint8_t> pixels(data, data + window->w() * window->h() * 3);
  delete[] data;
  return pixels;
}

class FltkWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    backend_ = std::make_unique<FltkBackend>();
    backend_->CreateMainWindow(spec_, [this](std::uint32_t id, std::int32_t event,
                                             const std::int32_t* args, int argc) {
      events_.push_back({id, event, std::vector<std::int32_t>(args, args + argc)});
      if (id == id::kWindow) shownWhenCreated_ = backend_->MainWindow()->shown();
      if (handler_) handler_(id);
    });
    createdBeforeLoop_ = events_.size();
    window_ = backend_->MainWindow();
    ASSERT_NE(window_, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return window_->visible_r() && fl_xid(window_); }));
    Pump(0.2);  // let the first expose be drawn
  }

  void TearDown() override {
    if (window_ && window_->shown()) window_->hide();
  }

  Fl_Widget* W(std::uint32_t id) { return backend_->WidgetFor(id); }

  void Write(std::uint32_t control, std::uint32_t property, PropertyValue value) {
    backend_->PropertyWritten(*spec_.Find(control), property, value);
  }

  // A press and release of the left button at (x, y) of the client area.
  void Click(int x, int y, unsigned state = 0) {
    for (int type : {ButtonPress, ButtonRelease}) {
      XEvent e{};
      e.xbutton.type = type;
      e.xbutton.display = fl_display;
      e.xbutton.window = fl_xid(window_);
      e.xbutton.root = RootWindow(fl_display, fl_screen);
      e.xbutton.x = x;
      e.xbutton.y = y;
      e.xbutton.x_root = window_->x() + x;
      e.xbutton.y_root = window_->y() + y;
      e.xbutton.button = Button1;
      e.xbutton.state = state | (type == ButtonRelease ? Button1Mask : 0);
      e.xbutton.same_screen = True;
      XSendEvent(fl_display, fl_xid(window_), True,
                 type == ButtonPress ? ButtonPressMask : ButtonReleaseMask, &e);
    }
    XFlush(fl_display);
    Pump(0.2);
  }

  void PressTab() {
    for (int type : {KeyPress, KeyRelease}) {
      XEvent e{};
      e.xkey.type = type;
      e.xkey.display = fl_display;
      e.xkey.window = fl_xid(window_);
      e.xkey.root = RootWindow(fl_display, fl_screen);
      e.xkey.keycode = XKeysymToKeycode(fl_display, XK_Tab);
      e.xkey.same_screen = True;
      XSendEvent(fl_display, fl_xid(window_), True, type == KeyPress ? KeyPressMask : KeyReleaseMask, &e);
    }
    XFlush(fl_display);
    Pump(0.05);
  }

  // The window manager's close request (its close button).
  void AskToClose() {
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.display = fl_display;
    e.xclient.window = fl_xid(window_);
    e.xclient.message_type = XInternAtom(fl_display, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(XInternAtom(fl_display, "WM_DELETE_WINDOW", False));
    XSendEvent(fl_display, fl_xid(window_), False, NoEventMask, &e);
    XFlush(fl_display);
  }

  const std::uint8_t* Pixel(const std::vector<std::uint8_t>& shot, int x, int y) {
    return &shot[(y * window_->w() + x) * 3];
  }

  velmo::WindowLayout spec_ = SampleWindow();
  std::unique_ptr<FltkBackend> backend_;
  Fl_Double_Window* window_ = nullptr;
  std::vector<Event> events_;
  std::function<void(std::uint32_t id)> handler_;  // runs inside each event
  std::size_t createdBeforeLoop_ = 0;
  bool shownWhenCreated_ = false;
};

TEST_F(FltkWindow, ShowsTheTitledWindowWithItsControlsWhereTheFormPutsThem) {
  EXPECT_STREQ(window_->label(), "Mosalin V1.0");
  EXPECT_STREQ(Fl::get_font(FL_HELVETICA), " WenQuanYi Micro Hei");
  // 455 x 288 outside at (50, 50), less a 3 px frame and a 26 px title bar.
  EXPECT_EQ(window_->x(), 53);
  EXPECT_EQ(window_->y(), 76);
  EXPECT_EQ(window_->w(), 449);
  EXPECT_EQ(window_->h(), 259);

  Fl_Widget* saveLabel = W(id::kSaveLabel);
  ASSERT_NE(saveLabel, nullptr);
  // Inside group box 2 at (8, 112): at (101, 134) of the client area.
  EXPECT_EQ(saveLabel->x(), 101);
  EXPECT_EQ(saveLabel->y(), 134);
  EXPECT_EQ(saveLabel->w(), 216);
  EXPECT_EQ(saveLabel->h(), 24);
  EXPECT_EQ(saveLabel->parent(), W(id::kGroup2));
  EXPECT_EQ(W(id::kPickDir)->parent(), W(id::kGroup1));
  EXPECT_EQ(W(id::kPickDir)->x(), 19);
  EXPECT_EQ(W(id::kPickDir)->y(), 20);
  EXPECT_EQ(W(id::kStart)->parent(), window_);
  EXPECT_STREQ(W(id::kStart)->label(), "开始拼合");
  EXPECT_STREQ(W(id::kAboutLabel)->label(), "作者: 拼图工作室\nexample.org/mosalin\n2024-05-01");
  EXPECT_EQ(W(id::kGroup1)->label(), nullptr);

  auto* bar = dynamic_cast<Fl_Progress*>(W(id::kProgress));
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->minimum(), 0);
  EXPECT_EQ(bar->maximum(), 120);
  EXPECT_EQ(bar->value(), 0);

  // The about label's three lines fit in its 40 px.
  Fl_Widget* about = W(id::kAboutLabel);
  EXPECT_LE(3 * fl_height(about->labelfont(), about->labelsize()), about->h());

  EXPECT_EQ(W(id::kDialog), nullptr);
  for (std::uint32_t hidden : {id::kTest1, id::kTest4}) {
    ASSERT_NE(W(hidden), nullptr);
    EXPECT_FALSE(W(hidden)->visible_r());
  }
  EXPECT_TRUE(W(id::kStart)->visible_r());
}

TEST_F(FltkWindow, TabVisitsTheVisibleTabStopsOnly) {
  std::set<Fl_Widget*> visited;
  Fl::focus(W(id::kStart));
  for (int i = 0; i < 12; ++i) {
    PressTab();
    visited.insert(Fl::focus());
  }
  EXPECT_EQ(visited, (std::set<Fl_Widget*>{W(id::kStart), W(id::kSaveButton), W(id::kSizeEdit),
                                            W(id::kPrefixEdit), W(id::kPickDir)}));
}

TEST_F(FltkWindow, TheCreatedEventFiresOnceBeforeAnyInput) {
  ASSERT_EQ(createdBeforeLoop_, 1u);
  EXPECT_TRUE(shownWhenCreated_);
  EXPECT_EQ(events_[0].id, id::kWindow);
  EXPECT_EQ(events_[0].event, 0);
  Click(W(id::kStart)->x() + 10, W(id::kStart)->y() + 10);
  Fl::add_timeout(0.1, [](void* w) { static_cast<Fl_Window*>(w)->hide(); }, window_);
  backend_->RunMessageLoop();  // returns once the window is closed
  EXPECT_FALSE(window_->shown());
  ASSERT_EQ(events_.size(), 2u);
  EXPECT_EQ(events_[1].id, id::kStart);
}

TEST_F(FltkWindow, ACloseDuringAHandlerClosesTheWindowWhenTheHandlerReturns) {
  // The start button's handler as a merge runs it: progress writes, then the
  // message box the user confirms. The close button is pressed meanwhile.
  bool shownAtHandlerEnd = false;
  handler_ = [&](std::uint32_t id) {
    if (id != id::kStart) return;
    AskToClose();
    for (int p = 0; p <= 120; p += 30) Write(id::kProgress, 13, PropertyValue{false, p, {}});
    Fl::add_timeout(0.3, [](void*) { Fl::modal()->hide(); });
    backend_->ShowMessage(Gbk("图片拼合并保存完成!!"), 64);
    shownAtHandlerEnd = window_->shown();
  };
  static bool stillOpen;
  stillOpen = false;
  Fl_Timeout_Handler giveUp = [](void* w) { stillOpen = true, static_cast<Fl_Window*>(w)->hide(); };
  Fl::add_timeout(3, giveUp, window_);
  Click(W(id::kStart)->x() + 10, W(id::kStart)->y() + 10);
  backend_->RunMessageLoop();
  Fl::remove_timeout(giveUp, window_);
  EXPECT_TRUE(shownAtHandlerEnd);
  EXPECT_FALSE(stillOpen) << "the close request was lost";
}

TEST_F(FltkWindow, ClicksReachEnabledButtonsAndPressesReportThePositionInTheLabel) {
  Fl_Widget* pick = W(id::kPickDir);
  Click(pick->x() + 5, pick->y() + 5);
  ASSERT_EQ(events_.size(), 2u);
  EXPECT_EQ(events_[1].id, id::kPickDir);
  EXPECT_EQ(events_[1].event, 0);
  EXPECT_TRUE(events_[1].args.empty());

  Write(id::kPickDir, 6, PropertyValue{false, 1, {}});
  EXPECT_FALSE(pick->active());
  Click(pick->x() + 5, pick->y() + 5);
  EXPECT_EQ(events_.size(), 2u);  // greyed: no click
  Write(id::kPickDir, 6, PropertyValue{false, 0, {}});
  Click(pick->x() + 5, pick->y() + 5);
  EXPECT_EQ(events_.size(), 3u);

  Fl_Widget* about = W(id::kAboutLabel);
  Click(about->x() + 7, about->y() + 11, ShiftMask);
  ASSERT_EQ(events_.size(), 4u);
  EXPECT_EQ(events_[3].id, id::kAboutLabel);
  EXPECT_EQ(events_[3].event, -1);
  EXPECT_EQ(events_[3].args, (std::vector<std::int32_t>{7, 11, 1}));
}

TEST_F(FltkWindow, TextWritesChangeLabelsAndEditBoxes) {
  Write(id::kTileLabel, 8, PropertyValue{true, 0, Gbk("小图路径:") + "Z:\\maps\\2x"});
  EXPECT_STREQ(W(id::kTileLabel)->label(), "小图路径:Z:\\maps\\2x");
  Write(id::kSizeEdit, 8, PropertyValue{true, 0, "1280*1280"});
  EXPECT_STREQ(static_cast<Fl_Input*>(W(id::kSizeEdit))->value(), "1280*1280");

  // A text wider than the box shows its start, as a text that fits does.
  Fl_Widget* edit = W(id::kSizeEdit);
  Write(id::kSizeEdit, 8, PropertyValue{true, 0, "25600"});
  std::vector<std::uint8_t> fits = Screenshot(window_);
  Write(id::kSizeEdit, 8, PropertyValue{true, 0, "25600*25600"});
  std::vector<std::uint8_t> wide = Screenshot(window_);
  int differ = 0;
  for (int y = edit->y(); y < edit->y() + edit->h(); ++y)
    for (int x = edit->x(); x < edit->x() + edit->w() / 2; ++x)
      differ += !std::equal(Pixel(fits, x, y), Pixel(fits, x, y) + 3, Pixel(wide, x, y));
  EXPECT_EQ(differ, 0);
}

TEST_F(FltkWindow, TheProgressBarIsRepaintedAtOnceWithoutRunningTheLoop) {
  Fl_Widget* bar = W(id::kProgress);
  const int y = bar->y() + bar->h() / 2;
  const int quarter = bar->x() + bar->w() / 4, end = bar->x() + bar->w() - 5;
  std::vector<std::uint8_t> before = Screenshot(window_);

  Write(id::kProgress, 13, PropertyValue{false, 60, {}});  // half of 0..120
  std::vector<std::uint8_t> half = Screenshot(window_);
  EXPECT_NE(std::vector<std::uint8_t>(Pixel(before, quarter, y), Pixel(before, quarter, y) + 3),
            std::vector<std::uint8_t>(Pixel(half, quarter, y), Pixel(half, quarter, y) + 3));
  const std::uint8_t* filled = Pixel(half, quarter, y);
  EXPECT_GT(filled[1], filled[0] + 60);  // green
  const std::uint8_t* empty = Pixel(half, end, y);
  EXPECT_LT(empty[1], empty[0] + 30);

  Write(id::kProgress, 13, PropertyValue{false, 120, {}});  // a complete merge: full
  std::vector<std::uint8_t> full = Screenshot(window_);
  EXPECT_GT(Pixel(full, end, y)[1], Pixel(full, end, y)[0] + 60);
  EXPECT_EQ(static_cast<Fl_Progress*>(bar)->value(), 120);
}

TEST_F(FltkWindow, ScreenshotShowsTheChineseCaptions) {
  std::vector<std::uint8_t> shot = Screenshot(window_);
  mosalin_assets::WritePng("mosalin-window.png", window_->w(), window_->h(), 3, shot.data());
  // Glyphs of the start button's caption: dark pixels near the button's middle.
  Fl_Widget* start = W(id::kStart);
  int dark = 0;
  for (int y = start->y() + start->h() / 2 - 8; y < start->y() + start->h() / 2 + 8; ++y)
    for (int x = start->x() + 10; x < start->x() + start->w() - 10; ++x)
      if (Pixel(shot, x, y)[0] < 100) ++dark;
  EXPECT_GT(dark, 40);
}

TEST_F(FltkWindow, MessageBoxIsModalAndReturnsWhenClosed) {
  // What was on the display while the call waited; nothing when no box came.
  struct Seen {
    bool modalOnDisplay = false;
    std::string labels;
  } seen;
  Fl_Timeout_Handler inspect = [](void* data) {
    auto* seen = static_cast<Seen*>(data);
    Fl_Window* box = Fl::modal();
    if (!box) return;
    seen->modalOnDisplay = box->visible_r() && fl_xid(box);
    for (int i = 0; i < box->children(); ++i)
      if (const char* l = box->child(i)->label()) seen->labels += std::string(l) + "|";
    std::vector<std::uint8_t> shot = Screenshot(box);
    try {
      mosalin_assets::WritePng("mosalin-message.png", box->w(), box->h(), 3, shot.data());
    } catch (const std::exception&) {
      // the picture is for a person to look at; the test goes on without it
    }
    box->hide();
  };
  Fl::add_timeout(0.3, inspect, &seen);
  backend_->ShowMessage(Gbk("目录不正确,请指定类似\"2x\"或者\"1x\"的目录,并确定小图片的前缀和目录名相同!"),
                        16);
  Fl::remove_timeout(inspect, &seen);  // still pending when the call returned at once
  EXPECT_TRUE(seen.modalOnDisplay) << "no modal box appeared";
  EXPECT_NE(seen.labels.find("目录不正确"), std::string::npos) << seen.labels;
  EXPECT_NE(seen.labels.find("|OK|"), std::string::npos) << seen.labels;
  EXPECT_EQ(Fl::modal(), nullptr);
  EXPECT_TRUE(window_->shown());
}

}  // namespace

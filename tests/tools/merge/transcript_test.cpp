// How mosalin-merge reads the program's transcript and what outcome it draws.
#include <gtest/gtest.h>

#include <vector>

#include "tools/merge/transcript.h"

using merge_tool::Event;
using merge_tool::Outcome;
using merge_tool::ParseTranscriptLine;

namespace {

Event Message(int style, std::string text) {
  Event e;
  e.kind = Event::Kind::kMessage;
  e.style = style;
  e.text = std::move(text);
  return e;
}

TEST(Transcript, MessagesAreUnescapedAndKeepTheirStyle) {
  Event e = ParseTranscriptLine("message 64 a\\\\b\\nc\\rd\\x");
  EXPECT_EQ(e.kind, Event::Kind::kMessage);
  EXPECT_EQ(e.style, 64);
  EXPECT_EQ(e.text, "a\\b\nc\rd\\x");
  // The text may be empty, and a lone backslash at the end stays.
  EXPECT_EQ(ParseTranscriptLine("message 16").text, "");
  EXPECT_EQ(ParseTranscriptLine("message 16 ").kind, Event::Kind::kMessage);
  EXPECT_EQ(ParseTranscriptLine("message 0 x\\").text, "x\\");
  EXPECT_EQ(ParseTranscriptLine("message x y").kind, Event::Kind::kOther);
}

TEST(Transcript, OnlyThePositionOfTheProgressBarIsProgress) {
  Event e = ParseTranscriptLine("set 进度条_处理进度 13 93");
  EXPECT_EQ(e.kind, Event::Kind::kProgress);
  EXPECT_EQ(e.position, 93);
  EXPECT_EQ(ParseTranscriptLine("set 进度条_处理进度 6 1").kind, Event::Kind::kOther);
  EXPECT_EQ(ParseTranscriptLine("set 标签_保存路径 13 5").kind, Event::Kind::kOther);
  EXPECT_EQ(ParseTranscriptLine("set 进度条_处理进度 13 9x").kind, Event::Kind::kOther);
  EXPECT_EQ(ParseTranscriptLine("set 进度条_处理进度 13").kind, Event::Kind::kOther);
  EXPECT_EQ(ParseTranscriptLine("window-created").kind, Event::Kind::kOther);
  EXPECT_EQ(ParseTranscriptLine("").kind, Event::Kind::kOther);
  Event err = ParseTranscriptLine("runtime-error 6");
  EXPECT_EQ(err.kind, Event::Kind::kRuntimeError);
  EXPECT_EQ(err.text, "6");
}

TEST(Outcome, SuccessNeedsTheDoneMessageAloneAndANormalEnd) {
  const Event done = Message(64, std::string(merge_tool::kMergeDone));
  struct Case {
    const char* what;
    std::vector<Event> events;
    bool normal;
    int status;
    bool succeeded;
  };
  const Case cases[] = {
      {"done", {done}, true, 0, true},
      {"nothing shown", {}, true, 0, false},
      // Any other message is a failure, whatever its style.
      {"rejected, then done", {Message(16, "此路径下没有可用的图片数据!"), done}, true, 0, false},
      {"bitmap failure", {Message(64, "创建位图失败!可能是图片尺寸过大,正在想办法解决这个问题.")}, true, 0, false},
      {"done text as an error", {Message(16, std::string(merge_tool::kMergeDone))}, true, 0, false},
      {"runtime error", {ParseTranscriptLine("runtime-error 6"), done}, true, 0, false},
      {"exit status 3", {done}, true, 3, false},
      {"killed", {done}, false, 9, false},
      {"not started", {}, false, 0, false},
  };
  for (const Case& c : cases) {
    Outcome o;
    for (const Event& e : c.events) o.Add(e);
    o.SetExit(c.normal, c.status);
    EXPECT_EQ(o.Succeeded(), c.succeeded) << c.what;
  }
}

TEST(ProgressBar, FillsWithThePositionAndStaysInsideItsWidth) {
  EXPECT_EQ(merge_tool::ProgressBar(60, 10), "[#####.....]  50%");
  EXPECT_EQ(merge_tool::ProgressBar(119, 10), "[#########.]  99%");
  EXPECT_EQ(merge_tool::ProgressBar(120, 10), "[##########] 100%");
  // Extra bands take the position past 120; nothing goes below 0.
  EXPECT_EQ(merge_tool::ProgressBar(250, 10), "[##########] 100%");
  EXPECT_EQ(merge_tool::ProgressBar(-3, 4), "[....]   0%");
}

}  // namespace

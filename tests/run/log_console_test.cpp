#include "run/log_console.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "tests/support/recording_window.h"

namespace korvane {
namespace {

using testing::RecordingWindow;
using testing::WindowOp;

class LogConsoleTest : public ::testing::Test {
 protected:
  RecordingWindow window_;
  LogConsole log_{&window_};
};

TEST_F(LogConsoleTest, FirstAppendMakesOneBlockAndShowsExactlyTheText) {
  EXPECT_EQ(log_.Capacity(), 0u);
  log_.AppendLog("Welcome");
  EXPECT_EQ(log_.Capacity(), 4096u);
  EXPECT_EQ(log_.Text(), "Welcome");
  EXPECT_EQ(window_.ControlText(), "Welcome");
}

TEST_F(LogConsoleTest, AppendHandsTheControlOnlyTheNewText) {
  log_.AppendLog("abc");
  window_.ClearOps();
  log_.AppendLog("\r\nde");
  const std::vector<WindowOp> ops = window_.Ops();
  ASSERT_EQ(ops.size(), 3u);
  EXPECT_EQ(ops[0].kind, WindowOp::kLogSelect);
  EXPECT_EQ(ops[0].a, 3);
  EXPECT_EQ(ops[0].b, 3);
  EXPECT_EQ(ops[1].kind, WindowOp::kLogReplace);
  EXPECT_EQ(ops[1].text, "\r\nde");
  EXPECT_EQ(ops[2].kind, WindowOp::kLogScroll);
  EXPECT_EQ(window_.ControlText(), "abc\r\nde");
}

TEST_F(LogConsoleTest, TheTerminatorAlwaysFits) {
  log_.AppendLog(std::string(4095, 'a'));
  EXPECT_EQ(log_.Capacity(), 4096u);
  log_.AppendLog("b");  // 4096 characters need a fifth kilobyte for the terminator
  EXPECT_EQ(log_.Capacity(), 8192u);

  LogConsole other(&window_);
  other.AppendLog(std::string(4096, 'x'));
  EXPECT_EQ(other.Capacity(), 8192u);
  EXPECT_EQ(other.Text(), std::string(4096, 'x'));
}

TEST_F(LogConsoleTest, LongTextGrowsAsOftenAsNeeded) {
  log_.AppendLog("start");
  const std::string path(20000, 'p');
  log_.AppendLog(path);
  EXPECT_EQ(log_.Capacity(), 20480u);  // 5 + 20000 + terminator fit in five blocks
  EXPECT_EQ(log_.Text(), "start" + path);
  EXPECT_EQ(window_.ControlText(), log_.Text());
  log_.AppendLog(std::string(475, 'q'));  // 20480 characters: one more block
  EXPECT_EQ(log_.Capacity(), 24576u);
}

TEST_F(LogConsoleTest, RemovingTheLastLineKeepsTheLineBefore) {
  log_.AppendLog("A\r\nB\r\nC");
  window_.ClearOps();
  log_.RemoveLastLogLine();
  EXPECT_EQ(log_.Text(), "A\r\nB");
  const std::vector<WindowOp> ops = window_.Ops();
  ASSERT_EQ(ops.size(), 3u);
  EXPECT_EQ(ops[0].kind, WindowOp::kLogSelect);
  EXPECT_EQ(ops[0].a, 4);
  EXPECT_EQ(ops[0].b, 7);
  EXPECT_EQ(ops[1].kind, WindowOp::kLogReplace);
  EXPECT_EQ(ops[1].text, "");
  EXPECT_EQ(ops[2].kind, WindowOp::kLogScroll);
  EXPECT_EQ(window_.ControlText(), "A\r\nB");
  EXPECT_EQ(log_.Capacity(), 4096u);
}

TEST_F(LogConsoleTest, TrailingLineBreakIsTheLastLine) {
  log_.AppendLog("A\r\nB\r\n");
  log_.RemoveLastLogLine();
  EXPECT_EQ(log_.Text(), "A\r\nB");
  EXPECT_EQ(window_.ControlText(), "A\r\nB");
}

TEST_F(LogConsoleTest, NothingToRemoveChangesNothing) {
  log_.RemoveLastLogLine();
  EXPECT_TRUE(window_.Ops().empty());
  EXPECT_EQ(log_.Text(), "");

  for (const std::string text : {"single line", "\r\nonly at the start", "\r\n", "x\r"}) {
    SCOPED_TRACE(text);
    LogConsole log(&window_);
    log.AppendLog(text);
    window_.ClearOps();
    log.RemoveLastLogLine();
    EXPECT_EQ(log.Text(), text);
    EXPECT_TRUE(window_.Ops().empty());
  }
}

TEST_F(LogConsoleTest, ControlFollowsTheBufferWhateverTheUserSelected) {
  log_.AppendLog("Welcome");
  log_.AppendLog("\r\nWriting Block 1/3 ...");
  window_.LogSetSelection(0, 3);  // the user selects text in the control
  log_.RemoveLastLogLine();
  window_.LogSetSelection(2, 2);
  log_.AppendLog("\r\nWriting Block 2/3 ...");
  log_.AppendLog("OK");  // continues the line
  log_.RemoveLastLogLine();
  log_.AppendLog("more");  // continues the line before, right after a removal
  EXPECT_EQ(log_.Text(), "Welcomemore");
  EXPECT_EQ(window_.ControlText(), log_.Text());
}

TEST_F(LogConsoleTest, ReleaseEmptiesTheLogAndTheNextAppendStartsAnew) {
  log_.AppendLog(std::string(5000, 'a'));
  log_.Release();
  EXPECT_EQ(log_.Capacity(), 0u);
  EXPECT_EQ(log_.Text(), "");
  log_.AppendLog("again");
  EXPECT_EQ(log_.Capacity(), 4096u);
  EXPECT_EQ(log_.Text(), "again");
}

TEST(LogConsoleWithoutWindow, KeepsItsText) {
  LogConsole log;
  log.AppendLog("a\r\nb");
  log.RemoveLastLogLine();
  EXPECT_EQ(log.Text(), "a");
}

}  // namespace
}  // namespace korvane

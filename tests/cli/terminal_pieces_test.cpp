#include <gtest/gtest.h>

#include <sstream>

#include "cli/device_prompt.h"
#include "cli/log_echo.h"
#include "cli/progress_meter.h"
#include "run/log_console.h"
#include "tests/support/recording_window.h"

namespace korvane {
namespace {

// Feeds a LogEcho the control operations a real LogConsole makes.
class EchoWindow : public testing::RecordingWindow {
 public:
  explicit EchoWindow(LogEcho& echo) : echo_(echo) {}
  void LogSetSelection(std::size_t from, std::size_t to) override { echo_.SetSelection(from, to); }
  void LogReplaceSelection(std::string_view text) override { echo_.ReplaceSelection(text); }

 private:
  LogEcho& echo_;
};

// A transfer's log: a block line replaced by the next, a retry kept.
void WriteTransferLog(LogConsole& log) {
  log.AppendLog("Welcome.");
  log.AppendLog("\r\nStarting Update");
  log.RemoveLastLogLine();
  log.AppendLog("\r\nWriting Block 1/2 ...");
  log.AppendLog("OK");
  log.RemoveLastLogLine();
  log.AppendLog("\r\nWriting Block 2/2 ...");
  log.AppendLog("Erase error");
  log.AppendLog("\r\n1st retry on Block 2/2 ...");
  log.AppendLog("OK\r\n");
  log.AppendLog("\r\nUpdate successfully completed.");
}

TEST(LogEcho, AFileGetsEveryFinalLineOnceAndNoLineTakenBack) {
  std::ostringstream out;
  LogEcho echo(out, false);
  EchoWindow window(echo);
  LogConsole log(&window);
  WriteTransferLog(log);
  echo.Finish();
  EXPECT_EQ(out.str(),
            "Welcome.\nWriting Block 2/2 ...Erase error\n1st retry on Block 2/2 ...OK\n\n"
            "Update successfully completed.\n");
  EXPECT_EQ(echo.Text(), log.Text());
}

TEST(LogEcho, ATerminalRewritesATakenBackLineInPlace) {
  std::ostringstream out;
  LogEcho echo(out, true);
  EchoWindow window(echo);
  LogConsole log(&window);
  log.AppendLog("Welcome.");
  log.AppendLog("\r\nWriting Block 1/2 ...");
  log.AppendLog("OK");
  log.RemoveLastLogLine();
  log.AppendLog("\r\nWriting Block 2/2 ...");
  echo.Finish();
  // The removed line's break is undone by erasing the line and moving up one.
  EXPECT_EQ(out.str(),
            "Welcome.\nWriting Block 1/2 ...OK"
            "\r\x1b[K\x1b[A\r\x1b[K"
            "Welcome.\nWriting Block 2/2 ...\n");
}

TEST(LogEcho, ABreakForOtherOutputIsNotPrintedTwice) {
  std::ostringstream out;
  LogEcho echo(out, false);
  EchoWindow window(echo);
  LogConsole log(&window);
  log.AppendLog("Welcome.");
  log.AppendLog("\r\nChecking MidiPorts...");
  echo.BreakLine();
  out << "0: a device\n";
  log.AppendLog("\r\nStarting Update");
  echo.Finish();
  EXPECT_EQ(out.str(), "Welcome.\nChecking MidiPorts...\n0: a device\nStarting Update\n");
}

TEST(DevicePrompt, SplitsTheListAtItsZeroBytesUpToTheEmptyEntry) {
  const std::string list("A (x/y)\0B (z/w)\0\0C\0", 20);
  EXPECT_EQ(SplitDeviceList(list), (std::vector<std::string>{"A (x/y)", "B (z/w)"}));
  EXPECT_TRUE(SplitDeviceList(std::string("\0", 1)).empty());
}

struct PromptRun {
  DeviceChoice choice;
  std::string out;
  std::string err;
};

PromptRun Prompt(std::vector<std::string> entries, DevicePromptSettings settings,
                 const std::string& typed = "") {
  std::istringstream in(typed);
  std::ostringstream out, err;
  PromptRun run;
  run.choice = PromptForDevice(entries, settings, in, out, err);
  run.out = out.str();
  run.err = err.str();
  return run;
}

TEST(DevicePrompt, OneDeviceIsTakenWithoutAsking) {
  const PromptRun run = Prompt({"only"}, {});
  EXPECT_EQ(run.choice.result, IDOK);
  EXPECT_EQ(run.choice.chosenIndex, 0);
  EXPECT_EQ(run.out, "");
}

TEST(DevicePrompt, DeviceOptionPicksItsEntryAndRefusesOneThatIsNotThere) {
  PromptRun run = Prompt({"a", "b", "c"}, {2, false});
  EXPECT_EQ(run.choice.result, IDOK);
  EXPECT_EQ(run.choice.chosenIndex, 2);
  run = Prompt({"a", "b"}, {2, false});
  EXPECT_EQ(run.choice.result, IDCANCEL);
  EXPECT_NE(run.err.find("--device 2"), std::string::npos);
  run = Prompt({"a"}, {-1, false});
  EXPECT_EQ(run.choice.result, IDCANCEL);
}

TEST(DevicePrompt, SeveralWithNobodyToAskAreListedAndNoneIsChosen) {
  const PromptRun run = Prompt({"first (o/i)", "second (o/i)"}, {});
  EXPECT_EQ(run.choice.result, IDCANCEL);
  EXPECT_EQ(run.choice.chosenIndex, -1);
  EXPECT_EQ(run.out, "0: first (o/i)\n1: second (o/i)\n");
  EXPECT_NE(run.err.find("--device"), std::string::npos);
}

TEST(DevicePrompt, ATerminalIsAskedUntilTheAnswerNamesAnEntry) {
  PromptRun run = Prompt({"a", "b"}, {std::nullopt, true}, "7\nx\n1\n");
  EXPECT_EQ(run.choice.result, IDOK);
  EXPECT_EQ(run.choice.chosenIndex, 1);
  run = Prompt({"a", "b"}, {std::nullopt, true}, "\n");
  EXPECT_EQ(run.choice.result, IDCANCEL);
  run = Prompt({"a", "b"}, {std::nullopt, true}, "");  // end of input
  EXPECT_EQ(run.choice.result, IDCANCEL);
}

TEST(ProgressMeter, DrawsOnlyWhenEnabledAndClampsThePosition) {
  std::ostringstream quiet;
  ProgressMeter off(quiet, false);
  off.SetRange(0, 15);
  off.SetPosition(7);
  EXPECT_EQ(quiet.str(), "");

  std::ostringstream out;
  ProgressMeter meter(out, true);
  meter.SetRange(0, 15);
  out.str("");
  meter.SetPosition(30);
  EXPECT_NE(out.str().find("[####################] 15/15"), std::string::npos) << out.str();
  out.str("");
  meter.Enable(false);
  EXPECT_EQ(out.str(), "\x1b[K");
  out.str("");
  meter.SetPosition(3);
  EXPECT_EQ(out.str(), "");  // a disabled bar stays hidden
}

}  // namespace
}  // namespace korvane

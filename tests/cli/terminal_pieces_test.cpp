#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "cli/command_line.h"
#include "cli/device_prompt.h"
#include "cli/flash_command.h"
#include "cli/log_echo.h"
#include "cli/progress_meter.h"
#include "cli/terminal_window.h"
#include "run/log_console.h"
#include "sim/virtual_midi_services.h"
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

// Devices named as given, each on ports "o" and "i" unless the name holds
// its own "(OUT/IN)".
std::vector<FoundDevice> Devices(const std::vector<std::string>& entries) {
  std::vector<FoundDevice> devices;
  for (const std::string& entry : entries) {
    const std::size_t open = entry.find(" (");
    if (open == std::string::npos) {
      devices.push_back({.name = entry, .outputName = "o", .inputName = "i"});
      continue;
    }
    const std::size_t slash = entry.find('/', open);
    devices.push_back({.name = entry.substr(0, open),
                       .outputName = entry.substr(open + 2, slash - open - 2),
                       .inputName = entry.substr(slash + 1, entry.size() - slash - 2)});
  }
  return devices;
}

struct PromptRun {
  DeviceChoice choice;
  bool refused = false;
  std::string out;
  std::string err;
};

PromptRun Prompt(std::vector<std::string> entries, DevicePromptSettings settings,
                 const std::string& typed = "") {
  std::istringstream in(typed);
  std::ostringstream out, err;
  PromptRun run;
  const DevicePromptAnswer answer = PromptForDevice(Devices(entries), settings, in, out, err);
  run.choice = answer.choice;
  run.refused = answer.deviceRefused;
  run.out = out.str();
  run.err = err.str();
  return run;
}

TEST(DevicePrompt, OneDeviceIsTakenWithoutAsking) {
  const PromptRun run = Prompt({"only"}, {});
  EXPECT_EQ(run.choice, std::optional<std::size_t>(0));
  EXPECT_EQ(run.out, "");
}

TEST(DevicePrompt, DeviceOptionPicksItsEntryAndRefusesOneThatIsNotThere) {
  PromptRun run = Prompt({"a", "b", "c"}, {"2", false});
  EXPECT_EQ(run.choice, std::optional<std::size_t>(2));
  EXPECT_FALSE(run.refused);
  run = Prompt({"a", "b"}, {"2", false});
  EXPECT_FALSE(run.choice);
  EXPECT_TRUE(run.refused);
  EXPECT_EQ(run.err,
            "korvane-flash: --device 2 names no device; 2 answered:\n0: a (o/i)\n1: b (o/i)\n");
  run = Prompt({"a"}, {"-1", false});
  EXPECT_FALSE(run.choice);
  EXPECT_TRUE(run.refused);
  // Even the only device is not taken when the name given is not its own.
  EXPECT_EQ(run.err, "korvane-flash: --device \"-1\" names no device; 1 answered:\n0: a (o/i)\n");
  run = Prompt({"     TRW1000 (A/B)", "     TRW1000 (C/D)"}, {"TRW1000", false});
  EXPECT_FALSE(run.choice);
  EXPECT_TRUE(run.refused);
  EXPECT_EQ(run.err,
            "korvane-flash: --device \"TRW1000\" names 2 devices; use the whole entry:\n"
            "0:      TRW1000 (A/B)\n1:      TRW1000 (C/D)\n");
}

struct NamedCase {
  const char* argument;
  std::vector<std::size_t> named;
};

class DeviceArgument : public ::testing::TestWithParam<NamedCase> {};

TEST_P(DeviceArgument, NamesTheEntriesItMatches) {
  const std::vector<std::string> entries{
      "     TRW1000 (Sim A Out:Sim A/Sim A In:Sim A)",
      "     TRW1000 (Sim B Out:Sim B/Sim B In:Sim B)",
      "     TRV1000 (Rack Out/Rack In)",
      "        1000 (Old Out/Old In)",
  };
  EXPECT_EQ(DevicesNamedBy(Devices(entries), GetParam().argument), GetParam().named);
}

void PrintTo(const NamedCase& c, std::ostream* os) {
  *os << '"' << c.argument << '"';
}

INSTANTIATE_TEST_SUITE_P(
    DevicePrompt, DeviceArgument,
    ::testing::Values(NamedCase{"1", {1}}, NamedCase{"03", {3}}, NamedCase{"4", {}},
                      NamedCase{"99999999999999999999999", {}}, NamedCase{"TRV1000", {2}},
                      NamedCase{"TRX1000", {}}, NamedCase{"TRW", {}}, NamedCase{"TRW1000", {0, 1}},
                      NamedCase{"TRW1000 (Sim B Out:Sim B/Sim B In:Sim B)", {1}},
                      NamedCase{"TRW1000 (Sim B Out:Sim B/Sim B In", {}},
                      // Digits only are a number, even where a device has that name.
                      NamedCase{"1000", {}}, NamedCase{"1000 (Old Out/Old In)", {3}},
                      NamedCase{"-1", {}}));

TEST(DevicePrompt, SeveralWithNobodyToAskAreListedAndNoneIsChosen) {
  const PromptRun run = Prompt({"first (o/i)", "second (o/i)"}, {});
  EXPECT_FALSE(run.choice);
  EXPECT_EQ(run.out, "0: first (o/i)\n1: second (o/i)\n");
  EXPECT_NE(run.err.find("--device"), std::string::npos);
  EXPECT_FALSE(run.refused);  // nothing was given to refuse: no device chosen
}

TEST(DevicePrompt, ATerminalIsAskedUntilTheAnswerNamesAnEntry) {
  PromptRun run = Prompt({"a", "b"}, {std::nullopt, true}, "7\nx\n1\n");
  EXPECT_EQ(run.choice, std::optional<std::size_t>(1));
  run = Prompt({"a", "b"}, {std::nullopt, true}, "\n");
  EXPECT_FALSE(run.choice);
  run = Prompt({"a", "b"}, {std::nullopt, true}, "");  // end of input
  EXPECT_FALSE(run.choice);
}

class NoStopSource final : public StopSource {
 public:
  void AttachAll(std::vector<std::atomic<bool>*>) override {}
  StopCause Cause() const override { return {}; }
};

struct FlashCase {
  const char* device;
  int status;
  bool secondHoldsTheFile;  // else neither controller was sent firmware
};

// The whole run in-process: two controllers of one name on the virtual MIDI
// system, --device as given, the exit status and what each controller holds.
TEST(DeviceArgument, OnlyTheEntryItNamesIsUpdatedAndAnyOtherArgumentExitsThree) {
  const std::string file = std::string(KORVANE_TEST_DATA_DIR) + "/trv1000-sample.syx";
  std::ifstream in(file, std::ios::binary);
  const Bytes image{std::istreambuf_iterator<char>(in), {}};
  ASSERT_FALSE(image.empty());
  for (const FlashCase& c :
       {FlashCase{"TRV1000 (Sim B Out/Sim B In)", kExitPassed, true},
        FlashCase{"TRV1000", kExitNoDevice, false}, FlashCase{"TRX1000", kExitNoDevice, false},
        FlashCase{"2", kExitNoDevice, false}}) {
    SCOPED_TRACE(c.device);
    VirtualMidiServices midi;
    const DeviceModelOptions trv1000{.model = 0x14, .name = "TRV1000"};
    const int a =
        midi.AttachController(midi.AddOutput("Sim A Out"), {midi.AddInput("Sim A In")}, trv1000);
    const int b =
        midi.AttachController(midi.AddOutput("Sim B Out"), {midi.AddInput("Sim B In")}, trv1000);
    std::istringstream noInput;
    std::ostringstream out, err;
    TerminalSetup setup;
    setup.device.device = c.device;
    setup.in = &noInput;
    setup.err = &err;
    TerminalWindow window(out, setup);
    NoStopSource stop;
    EXPECT_EQ(RunFlash({file, nullptr, c.device}, midi, window, stop, err), c.status)
        << out.str() << err.str();
    EXPECT_EQ(midi.Controller(a).FirmwareMessages(), 0u);
    if (c.secondHoldsTheFile) {
      EXPECT_EQ(midi.Controller(b).AcceptedFirmwareWithPartial(), image);
    } else {
      EXPECT_EQ(midi.Controller(b).FirmwareMessages(), 0u);
      // Listed in the order they answered, which is the scan's to decide.
      for (const char* entry :
           {":      TRV1000 (Sim A Out/Sim A In)\n", ":      TRV1000 (Sim B Out/Sim B In)\n"})
        EXPECT_NE(err.str().find(entry), std::string::npos) << err.str();
    }
  }
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

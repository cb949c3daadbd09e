#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "cli/check_command.h"
#include "cli/command_line.h"
#include "cli/log_file.h"
#include "cli/terminal_window.h"

namespace korvane {
namespace {

const std::string kData = KORVANE_TEST_DATA_DIR;
const std::string kGreeting =
    "Welcome to the Korvane-Update Utility.\r\nPlease select a file to upload.";

ParsedCommandLine Parse(std::vector<const char*> args) {
  return ParseCommandLine(args);
}

TEST(CommandLine, CheckWithAndWithoutLog) {
  ParsedCommandLine p = Parse({"--check", "a.syx"});
  EXPECT_EQ(p.error, "");
  EXPECT_EQ(p.command.mode, Command::Mode::kCheck);
  EXPECT_EQ(p.command.file, "a.syx");
  EXPECT_FALSE(p.command.logPath.has_value());

  p = Parse({"--log", "out.txt", "--check", "a.syx"});
  EXPECT_EQ(p.error, "");
  EXPECT_EQ(p.command.logPath, "out.txt");
  EXPECT_EQ(Parse({"--list"}).command.mode, Command::Mode::kList);
  EXPECT_EQ(Parse({"--help"}).command.mode, Command::Mode::kHelp);

  // --name=value, -h and -- as every command line takes them.
  p = Parse({"--log=out.txt", "--device=2", "--", "-odd name.syx"});
  EXPECT_EQ(p.error, "");
  EXPECT_EQ(p.command.logPath, "out.txt");
  EXPECT_EQ(p.command.device, std::optional<std::string>("2"));
  EXPECT_EQ(p.command.file, "-odd name.syx");
  EXPECT_EQ(Parse({"-h"}).command.mode, Command::Mode::kHelp);
  // Anything but digits is a device name, blanks and all, for the prompt to match.
  EXPECT_EQ(Parse({"--device", " TRW1000 (a/b)", "a.syx"}).command.device, " TRW1000 (a/b)");
  EXPECT_EQ(Parse({"--list=yes"}).error, "--list takes no value");
}

TEST(CommandLine, BadCommandLinesSayWhy) {
  EXPECT_EQ(Parse({}).error, "nothing to do");
  EXPECT_EQ(Parse({"--check"}).error, "--check needs FILE");
  EXPECT_EQ(Parse({"--check", "a", "--log"}).error, "--log needs PATH");
  const std::string oneMode = "give only one of --all, --check, --list and --help";
  EXPECT_EQ(Parse({"--check", "a", "--list"}).error, oneMode);
  EXPECT_EQ(Parse({"--check", "a", "--check", "b"}).error, oneMode);
  EXPECT_EQ(Parse({"--all", "a", "b.syx"}).error, "unexpected argument 'b.syx'");
  EXPECT_EQ(Parse({"--all", "a", "--device", "1"}).error, "--device goes with FILE");
  EXPECT_EQ(Parse({"--log-dir", "d", "a.syx"}).error, "--log-dir goes with --all");
  EXPECT_EQ(Parse({"--all", "a", "--log", "x"}).error, "--log goes with --check or FILE");
  EXPECT_EQ(Parse({"--all", "a", "--log-dir", ""}).error, "--log-dir needs a folder");
  EXPECT_EQ(Parse({"--check", "a", "--log", "x", "--log", "y"}).error, "--log given twice");
  EXPECT_EQ(Parse({"--list", "--log", "x"}).error, "--log goes with --check or FILE");
  EXPECT_EQ(Parse({"-x"}).error, "unknown argument '-x'");
  EXPECT_EQ(Parse({"--check", "a", "b.syx"}).error, "unexpected argument 'b.syx'");
  EXPECT_EQ(Parse({"--device", "1", "--list"}).error, "--device goes with FILE");
  EXPECT_EQ(Parse({"--device", "", "a.syx"}).error,
            "--device needs a device name or an entry number");
  EXPECT_EQ(Parse({"--check", ""}).error, "--check needs a file name");
}

TEST(CommandLine, UsageListsEveryOption) {
  const std::string usage = UsageText();
  for (const char* option :
       {"--check FILE", "--log PATH", "--list", "--help", "--all FILE", "--log-dir DIR"}) {
    EXPECT_NE(usage.find(option), std::string::npos) << option;
  }
}

TEST(TerminalWindow, PrintsAppendsWithLineBreaksAndJoinsSplitCrLf) {
  std::ostringstream out;
  TerminalWindow window(out);
  auto append = [&window](std::size_t at, std::string_view text) {
    window.LogSetSelection(at, at);
    window.LogReplaceSelection(text);
  };
  append(0, "A\r");
  append(2, "\nB");
  append(4, "\r\nC\rD");
  window.FinishOutput();
  EXPECT_EQ(out.str(), "A\nB\nC\rD\n");
}

TEST(TerminalWindow, RemovedTextIsNotPrintedAgain) {
  std::ostringstream out;
  TerminalWindow window(out);
  window.LogSetSelection(0, 0);
  window.LogReplaceSelection("A\r\nB");
  window.LogSetSelection(1, 4);  // the log takes back its last line
  window.LogReplaceSelection("");
  window.LogSetSelection(1, 1);
  window.LogReplaceSelection("\r\nC");
  window.FinishOutput();
  // Not a terminal: a taken-back line was never final, so it is never printed.
  EXPECT_EQ(out.str(), "A\nC\n");
}

struct CheckRun {
  int status;
  std::string out;
  std::string err;
  std::string log;
};

CheckRun Check(const std::string& file) {
  const std::filesystem::path logPath =
      std::filesystem::temp_directory_path() /
      ("korvane-cli-check-" + std::to_string(::getpid()) + ".log");
  std::ostringstream out, err;
  LogFile log;
  EXPECT_EQ(log.Open(logPath.string()), "");
  CheckRun run{RunCheck(file, &log, out, err), out.str(), err.str(), {}};
  std::ifstream in(logPath, std::ios::binary);
  run.log.assign(std::istreambuf_iterator<char>(in), {});
  std::filesystem::remove(logPath);
  return run;
}

std::string Shown(std::string log) {
  std::string shown;
  for (std::size_t i = 0; i < log.size(); ++i) {
    if (log[i] == '\r' && i + 1 < log.size() && log[i + 1] == '\n')
      continue;
    shown += log[i];
  }
  return shown + "\n";
}

TEST(CheckCommand, SampleFilePassesWithTheWindowsLog) {
  const std::string path = kData + "/trw1000-sample.syx";
  const CheckRun run = Check(path);
  EXPECT_EQ(run.status, kExitPassed);
  EXPECT_EQ(run.log,
            kGreeting + "\r\nChecking file: " + path + "\r\nTRW1000 update file selected.");
  EXPECT_EQ(run.out, Shown(run.log));
  EXPECT_EQ(run.err, "");
}

TEST(CheckCommand, EachDefectIsRefusedWithItsOwnLog) {
  const std::vector<std::pair<std::string, std::string>> cases{
      {"empty.syx", "\r\nERROR reading file"},
      {"no-message-header.syx", "\r\nERROR incorrect file"},
      {"truncated-header.syx", "\r\nERROR incorrect file"},
      {"unknown-model.syx", "\r\nSorry, unknown Controller file selected.\r\nERROR incorrect file"},
      {"wrong-command-byte.syx", "\r\nTRW1000 update file selected.\r\nERROR incorrect file"},
      {"foreign-inner-header.syx", "\r\nTRW1000 update file selected.\r\nERROR incorrect file"},
      {"cut-short.syx", "\r\nTRW1000 update file selected.\r\nERROR incorrect file"},
      {"missing.syx", "\r\nERROR: File not found."},
  };
  for (const auto& [name, tail] : cases) {
    SCOPED_TRACE(name);
    const std::string path = kData + "/bad/" + name;
    const CheckRun run = Check(path);
    EXPECT_EQ(run.status, kExitRefused);
    EXPECT_EQ(run.log, kGreeting + "\r\nChecking file: " + path + tail);
  }
}

TEST(CheckCommand, FolderIsNotFound) {
  const CheckRun run = Check(kData + "/bad/");
  EXPECT_EQ(run.status, kExitRefused);
  EXPECT_EQ(run.log,
            kGreeting + "\r\nChecking file: " + kData + "/bad/" + "\r\nERROR: File not found.");
}

TEST(CheckCommand, ALogThatCannotBeOpenedSaysWhy) {
  LogFile log;
  EXPECT_EQ(
      log.Open(kData + "/no-such-dir/log.txt"),
      "cannot open the log file " + kData + "/no-such-dir/log.txt: No such file or directory");
}

}  // namespace
}  // namespace korvane

#include "cli/all_command.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <vector>

#include "cli/command_line.h"
#include "cli/flash_command.h"
#include "cli/log_file.h"
#include "cli/run_log_window.h"
#include "workflow/all_devices.h"

namespace korvane {

namespace {

const char* VerdictOf(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::kSuccess:
      return "success";
    case RunOutcome::kDanger:
      return "DANGER";
    case RunOutcome::kLostConnection:
      return "connection lost";
    case RunOutcome::kStopped:
      return "stopped, DANGER";
    default:
      return "nothing sent";
  }
}

// A run's exit status among several: anything but success or danger means
// nothing reached that controller.
int RunStatus(RunOutcome outcome) {
  const int status = ExitStatusOf(outcome);
  return status == kExitPassed || status == kExitDanger ? status : kExitNoDevice;
}

// "NAME_OUTPUT_INPUT.log" with every character that a file name may not hold
// (or that would be awkward in a shell) made '_'; a second file of the same
// name gets "-2", "-3" before ".log".
std::string LogFileName(const FoundDevice& device, std::set<std::string>& taken) {
  std::string name =
      std::string(TrimmedName(device)) + "_" + device.outputName + "_" + device.inputName;
  for (char& c : name) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '.';
    if (!plain)
      c = '_';
  }
  std::string file = name + ".log";
  for (int n = 2; !taken.insert(file).second; ++n)
    file = name + "-" + std::to_string(n) + ".log";
  return file;
}

// The table at the end: one row per controller.
void PrintTable(const std::vector<std::unique_ptr<DeviceRun>>& runs, std::ostream& out) {
  std::vector<std::vector<std::string>> rows = {{"device", "ports", "verdict", "bytes", "time"}};
  for (const auto& run : runs) {
    UpdateState& state = run->State();
    const FoundDevice& device = run->Device();
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f s", run->Duration().count());
    rows.push_back({std::string(TrimmedName(device)), device.outputName + "/" + device.inputName,
                    VerdictOf(state.Outcome()),
                    std::to_string(state.bytesConfirmed.load()) + "/" +
                        std::to_string(state.image ? state.image->size() : 0),
                    seconds});
  }
  std::vector<std::size_t> widths(rows.front().size(), 0);
  for (const auto& row : rows) {
    for (std::size_t c = 0; c < row.size(); ++c)
      widths[c] = std::max(widths[c], row[c].size());
  }
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c) {
      line += row[c];
      if (c + 1 < row.size())
        line += std::string(widths[c] - row[c].size() + 2, ' ');
    }
    out << line << '\n';
  }
  out.flush();
}

}  // namespace

int RunAll(const AllSettings& settings, MidiServices& midi, StopSource& stop, std::ostream& out,
           std::ostream& err) {
  // A folder the logs cannot go to is known before a port is touched.
  if (settings.logDir) {
    std::error_code error;
    std::filesystem::create_directories(*settings.logDir, error);
    if (!std::filesystem::is_directory(*settings.logDir)) {
      err << "korvane-flash: cannot use --log-dir " << *settings.logDir << ": "
          << (error ? error.message() : "not a folder") << '\n';
      return kExitLogWrite;
    }
  }

  SharedLines lines(out);
  RunLogWindow scanWindow(&lines, "");
  UpdateState scan(midi, scanWindow);
  stop.Attach(&scan.stopRequested);
  const bool found = ScanForDevices(scan, FullPath(settings.file));
  scanWindow.Finish();
  stop.Attach(nullptr);
  const StopCause cause = stop.Cause();
  if (!found) {
    if (cause.signal != 0) {
      err << "korvane-flash: stopped on request (" << cause.name << "); nothing was sent\n";
      return kExitSignalBase + cause.signal;
    }
    return ExitStatusOf(scan.Outcome());
  }

  std::vector<std::unique_ptr<RunLogWindow>> windows;
  std::vector<std::unique_ptr<DeviceRun>> runs;
  std::vector<std::atomic<bool>*> stops;
  for (std::size_t i = 0; i < scan.foundDevices.size(); ++i) {
    const std::string prefix =
        "[" + std::to_string(i) + " " + std::string(TrimmedName(scan.foundDevices[i])) + "] ";
    windows.push_back(
        std::make_unique<RunLogWindow>(settings.logDir ? nullptr : &lines, prefix, false));
    runs.push_back(std::make_unique<DeviceRun>(scan, i, *windows.back()));
    windows.back()->PrintFromHere();
    stops.push_back(&runs.back()->State().stopRequested);
  }
  stop.AttachAll(stops);
  for (auto& run : runs)
    run->Start();
  for (auto& run : runs)
    run->Join();
  stop.AttachAll({});
  for (auto& window : windows)
    window->Finish();

  int status = kExitPassed;
  bool firmwareSent = false;
  for (const auto& run : runs) {
    const int runStatus = RunStatus(run->State().Outcome());
    if (runStatus == kExitDanger || (runStatus == kExitNoDevice && status == kExitPassed))
      status = runStatus;
    firmwareSent = firmwareSent || run->State().firmwareSent.load();
  }
  if (const StopCause late = stop.Cause(); late.signal != 0) {
    err << "korvane-flash: stopped on request (" << late.name << ")"
        << (firmwareSent ? "; the verdicts below stand\n" : "; nothing was sent\n");
    if (!firmwareSent)
      status = kExitSignalBase + late.signal;
  }

  if (settings.logDir) {
    std::set<std::string> taken;
    for (const auto& run : runs) {
      const std::string path =
          (std::filesystem::path(*settings.logDir) / LogFileName(run->Device(), taken)).string();
      LogFile file;
      std::string error = file.Open(path);
      if (error.empty())
        error = file.Write(run->State().log.Text());
      // The verdicts stand: a log that could not be written is only reported.
      if (!error.empty())
        err << "korvane-flash: " << error << '\n';
    }
  }
  PrintTable(runs, out);
  return status;
}

}  // namespace korvane

// `korvane-flash --all FILE [--log-dir DIR]`: one scan, then every controller
// of the file's model updated at the same time, each on its own pair of
// ports, each with its own log and verdict, and a table of them at the end.
#pragma once

#include <optional>
#include <ostream>
#include <string>

namespace korvane {

class MidiServices;
class StopSource;

struct AllSettings {
  std::string file;
  // One log file per device here; without it each run's log lines go to out
  // after a prefix that names the device.
  std::optional<std::string> logDir;
};

// 0 when every controller ended in success; 1 when any ended in danger or a
// lost connection; 3 when none answered, or one got nothing; the file's and
// the signal's statuses as for a single update. A stop reaches every run
// between two messages; a run that sent firmware keeps its verdict.
int RunAll(const AllSettings& settings, MidiServices& midi, StopSource& stop, std::ostream& out,
           std::ostream& err);

// The whole command on the platform's MIDI system and standard streams.
int RunAllCommand(const AllSettings& settings);

}  // namespace korvane

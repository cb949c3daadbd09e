// `korvane-flash --check FILE [--log PATH]`: the window's chain from a chosen
// file through the check, with the same workers and log, stopping where the
// scan would open the ports. Never starts a MIDI client.
#pragma once

#include <optional>
#include <ostream>
#include <string>

namespace korvane {

// Prints the log to out as it grows; errors go to err. Returns kExitPassed,
// kExitRefused or kExitLogWrite.
int RunCheck(const std::string& file, const std::optional<std::string>& logPath, std::ostream& out,
             std::ostream& err);

}  // namespace korvane

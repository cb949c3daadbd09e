// `korvane-flash --check FILE [--log PATH]`: the window's chain from a chosen
// file through the check, with the same workers and log, stopping where the
// scan would open the ports. Never starts a MIDI client.
#pragma once

#include <ostream>
#include <string>

namespace korvane {

class LogFile;

// Prints the log to out as it grows and writes it to log, if one is open;
// errors go to err. Returns kExitPassed or kExitRefused: a log that cannot
// be written at the end is reported, and the check's status stands.
int RunCheck(const std::string& file, LogFile* log, std::ostream& out, std::ostream& err);

}  // namespace korvane

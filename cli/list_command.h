// `korvane-flash --list`: the ports of the real MIDI system.
#pragma once

#include <ostream>

namespace korvane {

// The list on out; kExitPassed, or kExitNoDevice with the reason on err when
// no MIDI system runs or none has a port.
int RunList(std::ostream& out, std::ostream& err);

}  // namespace korvane

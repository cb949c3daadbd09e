// `korvane-flash --list`: the ports of the real MIDI system.
#pragma once

#include <ostream>

namespace korvane {

int RunList(std::ostream& out);

}  // namespace korvane

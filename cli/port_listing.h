// `korvane-flash --list`: one line per port, inputs then outputs.
#pragma once

#include <ostream>

namespace korvane {

class MidiServices;

// Writes "in N: NAME" for every input and "out N: NAME" for every output;
// returns how many ports it listed.
int PrintPortList(MidiServices& services, std::ostream& out);

}  // namespace korvane

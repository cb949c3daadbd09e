// `korvane-flash --list`: one line per port, inputs then outputs.
#pragma once

#include <functional>
#include <ostream>
#include <string>

#include "midi/winmm.h"

namespace korvane {

class MidiServices;

// The MIDI system's own name of a device (input or output, by number), when
// the back-end knows more than the 31-byte device name; empty otherwise.
using SystemNameFunction = std::function<std::string(bool input, UINT id)>;

// Writes "in N: NAME" for every input and "out N: NAME" for every output,
// followed by "  (SYSTEM NAME)" when systemName gives one; returns how many
// ports it listed.
int PrintPortList(MidiServices& services, std::ostream& out,
                  const SystemNameFunction& systemName = {});

}  // namespace korvane

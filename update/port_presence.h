// Whether the chosen pair's ports are still part of the MIDI system: a USB
// controller pulled out takes its ports with it on ALSA, JACK and WinMM.
#pragma once

namespace korvane {

class MidiServices;
struct PortRecord;

// True when an input and an output with the records' product names are listed.
bool PairStillListed(MidiServices& midi, const PortRecord& input, const PortRecord& output);

}  // namespace korvane

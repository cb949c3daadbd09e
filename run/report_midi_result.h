// The one channel through which a failed MIDI call reaches the user: the
// operation's label and the result's name, run on in the current log line.
#pragma once

#include <string>

#include "midi/winmm.h"

namespace korvane {

class LogConsole;

enum MidiOperation : unsigned {
  kMidiOutOpen = 0,
  kMidiOutClose = 1,
  kMidiOutReset = 2,
  kMidiOutPrepareHeader = 3,
  kMidiOutUnprepareHeader = 4,
  kMidiOutLongMsg = 5,
  kMidiOutMessage = 6,
  kMidiInOpen = 7,
  kMidiInClose = 8,
  kMidiInReset = 9,
  kMidiInPrepareHeader = 10,
  kMidiInUnprepareHeader = 11,
  kMidiInStart = 12,
  kMidiInStop = 13,
  kMidiInAddBuffer = 14,
};

// The log text for a non-zero result: label (codes 0 to 14 only) and name.
std::string MidiResultText(MMRESULT result, unsigned operation);

// Logs a non-zero result and returns the result unchanged.
MMRESULT ReportMidiResult(LogConsole& log, MMRESULT result, unsigned operation);

}  // namespace korvane

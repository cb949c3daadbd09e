// Whether a MIDI API can start, asked before RtMidi gets the chance to complain
// about it on stderr, and the silencing of the libraries' own printing. Both
// answer false, and silence nothing, when the library was not built in.
#pragma once

#include <string>
#include <vector>

namespace korvane::rtmidi_backend {

// Process-wide and idempotent: the libraries print through one global hook each.
void SilenceAlsa();
void SilenceJack();

// Why the API cannot start now, for the user; empty when it can. ALSA: a
// sequencer client cannot be opened. JACK: no running server accepts a
// client (a server is never started for us).
std::string AlsaWhyNot();
std::string JackWhyNot();

// Every MIDI system this build can use, in numbering order, with why it does
// not start now (empty when it does).
struct ApiState {
  std::string name;
  std::string whyNot;
};
std::vector<ApiState> ProbeApis();

}  // namespace korvane::rtmidi_backend

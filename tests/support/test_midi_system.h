// The real MIDI system under the tests that need one. JACK by default: a
// private server of the test's own. KORVANE_TEST_MIDI=alsa takes the kernel's
// ALSA sequencer instead, which scripts/alsa-vm provides where the machine
// has none; the suites are the same, and a test that only makes sense on one
// system skips on the other, saying why.
#pragma once

#include <string>

#include "tests/support/jack_server.h"

namespace korvane::testing {

enum class MidiSystem { kJack, kAlsa };

class TestMidiSystem {
 public:
  TestMidiSystem();

  // Why no test can run here (jackd is not installed); empty when one can.
  std::string Missing() const;
  // Makes the system ready (on JACK, starts the private server); empty on
  // success, otherwise why not. A KORVANE_TEST_MIDI value that names no
  // system, or ALSA without a sequencer, is an error: it was asked for.
  std::string Start();
  void Stop() { jack_.Stop(); }

  MidiSystem System() const { return system_; }
  bool IsJack() const { return system_ == MidiSystem::kJack; }
  // "JACK" or "ALSA", for skip messages.
  const char* Name() const;
  // "jack" or "alsa", as korvane-sim's --api takes it.
  const char* ApiOption() const;
  // The private server; started only on JACK.
  JackServer& Jack() { return jack_; }

 private:
  MidiSystem system_ = MidiSystem::kJack;
  std::string badChoice_;  // the unknown KORVANE_TEST_MIDI value, if any
  JackServer jack_;
};

}  // namespace korvane::testing

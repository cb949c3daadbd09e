#include "tests/support/test_midi_system.h"

#include <unistd.h>

#include <cstdlib>

namespace korvane::testing {

TestMidiSystem::TestMidiSystem() {
  const char* chosen = std::getenv("KORVANE_TEST_MIDI");
  const std::string value = chosen != nullptr ? chosen : "";
  if (value == "alsa")
    system_ = MidiSystem::kAlsa;
  else if (!value.empty() && value != "jack")
    badChoice_ = value;
}

std::string TestMidiSystem::Missing() const {
  if (IsJack() && badChoice_.empty() && !JackServer::Installed())
    return "jackd and jack_wait are not installed (scripts/install-deps installs jackd2): no "
           "MIDI server to test on";
  return {};
}

std::string TestMidiSystem::Start() {
  if (!badChoice_.empty())
    return "KORVANE_TEST_MIDI=" + badChoice_ + " names no MIDI system (jack or alsa)";
  if (!IsJack()) {
    if (access("/dev/snd/seq", R_OK | W_OK) != 0)
      return "KORVANE_TEST_MIDI=alsa, but this machine has no ALSA sequencer (/dev/snd/seq); "
             "scripts/alsa-vm runs commands on one";
    return {};
  }
  const std::string error = jack_.Start();
  return error.empty() ? error : "the private JACK server did not start: " + error;
}

const char* TestMidiSystem::Name() const {
  return IsJack() ? "JACK" : "ALSA";
}

const char* TestMidiSystem::ApiOption() const {
  return IsJack() ? "jack" : "alsa";
}

}  // namespace korvane::testing

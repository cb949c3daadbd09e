// With no MIDI server and no sequencer the services see no devices and say
// nothing. A process of its own: libjack keeps state once it met a server.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "midi/rtmidi/rtmidi_services.h"

namespace korvane {
namespace {

// Runs body with the process's stderr going to a file and returns what was written.
template <typename Body>
std::string CaptureStderr(Body body) {
  std::fflush(stderr);
  char path[] = "/tmp/korvane-stderr-XXXXXX";
  const int file = mkstemp(path);
  if (file < 0)
    return "<mkstemp failed>";
  const int saved = dup(STDERR_FILENO);
  dup2(file, STDERR_FILENO);
  body();
  std::fflush(stderr);
  dup2(saved, STDERR_FILENO);
  close(saved);
  std::string text;
  lseek(file, 0, SEEK_SET);
  char chunk[256];
  for (ssize_t n; (n = read(file, chunk, sizeof(chunk))) > 0;)
    text.append(chunk, n);
  close(file);
  unlink(path);
  return text;
}

TEST(RtMidiQuietTest, NoServerAndNoSequencerMeansNoDevicesAndNoNoise) {
  setenv("JACK_DEFAULT_SERVER", "korvane-test-no-such-server", 1);
  const bool alsaPresent = access("/dev/snd/seq", F_OK) == 0;
  UINT inputs = 99, outputs = 99;
  MMRESULT open = MMSYSERR_NOERROR;
  const std::string noise = CaptureStderr([&] {
    RtMidiServices services;
    inputs = services.midiInGetNumDevs();
    outputs = services.midiOutGetNumDevs();
    HMIDIIN handle = nullptr;
    open = services.midiInOpen(&handle, inputs, 0, 0, CALLBACK_NULL);
  });
  EXPECT_EQ(noise, "");
  EXPECT_EQ(open, MMSYSERR_BADDEVICEID);
  if (alsaPresent) {
    GTEST_SKIP() << "this machine has an ALSA sequencer: its ports may be listed";
  }
  EXPECT_EQ(inputs, 0u);
  EXPECT_EQ(outputs, 0u);
}

}  // namespace
}  // namespace korvane

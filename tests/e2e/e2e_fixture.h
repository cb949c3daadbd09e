// What every end-to-end test shares: the real MIDI system (a private JACK
// server, or ALSA's sequencer with KORVANE_TEST_MIDI=alsa), a work folder per
// test, synthetic update files, korvane-sim processes on that system that are
// waited for until they say they are ready, and korvane-flash runs.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/child_process.h"
#include "tests/support/test_midi_system.h"

namespace korvane::testing {

// Deadlines only guard against a hang; the machine is shared and loaded.
inline constexpr std::chrono::seconds kReadyDeadline{120};
inline constexpr std::chrono::seconds kEndDeadline{60};
inline constexpr std::chrono::seconds kFlashDeadline{300};

class MidiEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes an update file of count messages of the given length; options go
  // to make-image (e.g. "--addressed"). Its bytes are kept in image_.
  std::string MakeImage(int count, int length, std::vector<std::string> options = {});

  // A controller on ports named port, whose firmware is saved to
  // SavePath(port); returns once it says it is ready.
  ChildProcess& StartSim(const std::string& port, std::vector<std::string> options = {});
  std::string SavePath(const std::string& port) const { return dir_ + "/" + port + ".syx"; }
  // Ends a controller as a user would and returns the firmware it saved.
  std::string StopSim(ChildProcess& sim, const std::string& port);
  // Waits until the controller has printed this text.
  void WaitForEvent(ChildProcess& sim, const std::string& text);

  // korvane-flash to its end, with --log LogPath(name).
  RunResult Flash(std::vector<std::string> options, const std::string& image,
                  const std::string& name = "flash");
  // The same, running in the background, its input from stdinPath.
  std::unique_ptr<ChildProcess> StartFlash(const std::string& image,
                                           const std::string& name = "flash",
                                           const std::string& stdinPath = "/dev/null");
  std::string LogPath(const std::string& name = "flash") const {
    return dir_ + "/" + name + ".log";
  }

  // korvane-flash --all image --log-dir LogDir(), to its end.
  RunResult FlashAll(const std::string& image);
  std::string LogDir() const { return dir_ + "/logs"; }
  // korvane-flash --list.
  RunResult ListPorts();

  // Everything the log holds before the transfer.
  std::string LogHead(const std::string& image) const;

  TestMidiSystem midi_;
  std::string dir_;
  std::string image_;
  std::vector<std::unique_ptr<ChildProcess>> sims_;
};

}  // namespace korvane::testing

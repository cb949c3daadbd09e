// korvane-flash stopped by a signal at each point of a run, as a user does it
// from a terminal or a session manager: the exit status and the line on
// stderr say what happened, and what was sent (nothing, or a verdict) stands.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "tests/e2e/e2e_fixture.h"
#include "update/transfer_texts.h"

namespace korvane::testing {
namespace {

class TerminalStop : public MidiEndToEnd {};

TEST_F(TerminalStop, CtrlCWhileThePortsAreScannedSendsNothingAndExits130) {
  // Controllers of the other model answer no request: each output port costs
  // the scan its 300 ms wait.
  const std::string image = MakeImage(32, 64);
  std::vector<ChildProcess*> mute;
  for (const char* port : {"Mute 1", "Mute 2", "Mute 3", "Mute 4"})
    mute.push_back(&StartSim(port, {"--model", "TRV1000"}));
  auto flash = StartFlash(image);
  // The first request has gone out: the scan is under way.
  for (bool asked = false; !asked;) {
    for (ChildProcess* sim : mute)
      asked = asked || sim->Stdout().find("identity request") != std::string::npos;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  flash->Signal(SIGINT);

  EXPECT_EQ(flash->Wait(kEndDeadline), std::optional<int>(130)) << flash->Stderr();
  EXPECT_NE(flash->Stderr().find("korvane-flash: stopped on request (Ctrl-C) while the ports were "
                                 "scanned; nothing was sent\n"),
            std::string::npos)
      << flash->Stderr();
  EXPECT_EQ(ReadFile(LogPath()).find("Writing Block"), std::string::npos);
}

TEST_F(TerminalStop, SighupDuringTheUpdateKeepsTheVerdictAndWritesTheLog) {
  const std::string image = MakeImage(640, 64, {"--addressed"});
  ChildProcess& sim = StartSim("Sim A", {"--addressed"});
  auto flash = StartFlash(image);
  WaitForEvent(sim, "block 2 (");
  flash->Signal(SIGHUP);

  EXPECT_EQ(flash->Wait(kEndDeadline), std::optional<int>(1)) << flash->Stderr();
  EXPECT_TRUE(ReadFile(LogPath()).ends_with(kDangerText));
  EXPECT_NE(flash->Stderr().find("korvane-flash: stopped on request (SIGHUP) during the update; "
                                 "the verdict above stands\n"),
            std::string::npos)
      << flash->Stderr();
}

TEST_F(TerminalStop, CtrlCAtTheDevicePromptCancelsTheChoice) {
  // Two controllers and a terminal to ask on.
  const std::string image = MakeImage(32, 64);
  ChildProcess& one = StartSim("Sim One", {"--name", "SIM-ONE"});
  ChildProcess& two = StartSim("Sim Two", {"--name", "SIM-TWO"});
  const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  ASSERT_EQ(grantpt(terminal), 0);
  ASSERT_EQ(unlockpt(terminal), 0);
  auto flash = StartFlash(image, "flash", ptsname(terminal));
  const auto end = std::chrono::steady_clock::now() + kEndDeadline;
  while (flash->Stdout().find("Device to update") == std::string::npos &&
         std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_NE(flash->Stdout().find("Device to update"), std::string::npos) << flash->Stdout();
  flash->Signal(SIGINT);

  EXPECT_EQ(flash->Wait(kEndDeadline), std::optional<int>(4)) << flash->Stderr();
  close(terminal);
  EXPECT_NE(flash->Stderr().find("korvane-flash: stopped on request (Ctrl-C) at the device "
                                 "choice; nothing was sent\n"),
            std::string::npos)
      << flash->Stderr();
  EXPECT_EQ(StopSim(one, "Sim One"), "");
  EXPECT_EQ(StopSim(two, "Sim Two"), "");
}

}  // namespace
}  // namespace korvane::testing

#include "tests/e2e/e2e_fixture.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <thread>

namespace korvane::testing {
namespace {

const std::string kSim = KORVANE_SIM_PATH;
const std::string kFlash = KORVANE_FLASH_PATH;

}  // namespace

void MidiEndToEnd::SetUp() {
  if (const std::string missing = midi_.Missing(); !missing.empty())
    GTEST_SKIP() << missing;
  const std::string error = midi_.Start();
  ASSERT_TRUE(error.empty()) << error;
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  // Parameterised names hold a '/'; repeated runs get a folder each.
  std::string name = std::string(info->test_suite_name()) + "-" + info->name();
  std::replace(name.begin(), name.end(), '/', '-');
  static int run = 0;
  dir_ = std::string(KORVANE_BINARY_DIR) + "/e2e-work/" + name + "-" + std::to_string(getpid()) +
         "-" + std::to_string(++run);
  std::filesystem::remove_all(dir_);
  std::filesystem::create_directories(dir_);
}

void MidiEndToEnd::TearDown() {
  sims_.clear();  // killed if a test left one running
  midi_.Stop();
}

std::string MidiEndToEnd::MakeImage(int count, int length, std::vector<std::string> options) {
  const std::string path = dir_ + "/update.syx";
  std::vector<std::string> args = {
      kSim,       "make-image",           "--model", "TRW1000", "--messages", std::to_string(count),
      "--length", std::to_string(length), "--seed",  "7"};
  args.insert(args.end(), options.begin(), options.end());
  args.push_back(path);
  const RunResult made = RunToEnd(args, dir_ + "/make-image", kEndDeadline);
  EXPECT_EQ(made.status, 0) << made.err;
  image_ = ReadFile(path);
  EXPECT_EQ(image_.size(), static_cast<std::size_t>(count) * static_cast<std::size_t>(length));
  return path;
}

ChildProcess& MidiEndToEnd::StartSim(const std::string& port, std::vector<std::string> options) {
  std::vector<std::string> args = {kSim, "--api",  midi_.ApiOption(), "--port",
                                   port, "--save", SavePath(port)};
  args.insert(args.end(), options.begin(), options.end());
  sims_.push_back(std::make_unique<ChildProcess>());
  ChildProcess& sim = *sims_.back();
  const std::string error = sim.Start(args, dir_ + "/sim-" + port);
  EXPECT_TRUE(error.empty()) << error;
  // A listed port may not carry messages yet; the controller says when it does.
  WaitForEvent(sim, "korvane-sim: ready\n");
  return sim;
}

void MidiEndToEnd::WaitForEvent(ChildProcess& sim, const std::string& text) {
  const auto end = std::chrono::steady_clock::now() + kReadyDeadline;
  while (std::chrono::steady_clock::now() < end) {
    if (sim.Stdout().find(text) != std::string::npos)
      return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  FAIL() << "the controller did not print \"" << text << "\"; it printed:\n"
         << sim.Stdout() << sim.Stderr();
}

std::string MidiEndToEnd::StopSim(ChildProcess& sim, const std::string& port) {
  sim.Signal(SIGTERM);
  const auto status = sim.Wait(kEndDeadline);
  EXPECT_EQ(status, std::optional<int>(0))
      << "korvane-sim " << sim.HowItEnded() << "; it printed:\n"
      << sim.Stdout() << sim.Stderr();
  return ReadFile(SavePath(port));
}

RunResult MidiEndToEnd::Flash(std::vector<std::string> options, const std::string& image,
                              const std::string& name) {
  std::vector<std::string> args = {kFlash, "--log", LogPath(name)};
  args.insert(args.end(), options.begin(), options.end());
  args.push_back(image);
  return RunToEnd(args, dir_ + "/" + name, kFlashDeadline);
}

std::unique_ptr<ChildProcess> MidiEndToEnd::StartFlash(const std::string& image,
                                                       const std::string& name,
                                                       const std::string& stdinPath) {
  auto flash = std::make_unique<ChildProcess>();
  const std::string error =
      flash->Start({kFlash, "--log", LogPath(name), image}, dir_ + "/" + name, stdinPath);
  EXPECT_TRUE(error.empty()) << error;
  return flash;
}

RunResult MidiEndToEnd::FlashAll(const std::string& image) {
  return RunToEnd({kFlash, "--all", image, "--log-dir", LogDir()}, dir_ + "/all", kFlashDeadline);
}

RunResult MidiEndToEnd::ListPorts() {
  return RunToEnd({kFlash, "--list"}, dir_ + "/list", kEndDeadline);
}

std::string MidiEndToEnd::LogHead(const std::string& image) const {
  return "Welcome to the Korvane-Update Utility.\r\nPlease select a file to upload."
         "\r\nChecking file: " +
         std::filesystem::absolute(image).lexically_normal().string() +
         "\r\nTRW1000 update file selected.\r\nChecking MidiPorts...";
}

}  // namespace korvane::testing

// korvane-sim as a process on a real MIDI system (a private JACK server, or
// ALSA's sequencer with KORVANE_TEST_MIDI=alsa): how it starts and ends.
// Deadlines here only guard against a hang; the machine is shared and loaded.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <rtmidi/RtMidi.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "midi/protocol.h"
#include "midi/rtmidi/send_message.h"
#include "sim/synthetic_image.h"
#include "tests/support/test_midi_system.h"

namespace korvane::testing {
namespace {

extern "C" char** environ;

constexpr std::chrono::seconds kReadyDeadline{300};
// Ample for a program that ends within a second of the signal.
constexpr std::chrono::seconds kEndDeadline{10};

const std::vector<unsigned char> kIdentityRequest = {0xF0, 0x00, 0x20, 0x32,
                                                     0x7F, 0x15, 0x01, 0xF7};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A korvane-sim process, its output in files; killed if still running at the end.
class SimChild {
 public:
  ~SimChild() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  std::string Start(std::vector<std::string> args, const std::string& prefix) {
    out_ = prefix + ".out";
    err_ = prefix + ".err";
    std::vector<char*> argv;
    for (std::string& arg : args)
      argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
      pid_ = -1;
      return std::string("cannot start ") + argv[0];
    }
    return {};
  }
  pid_t Pid() const { return pid_; }
  void Signal(int signal) const { kill(pid_, signal); }
  // The exit status, or nothing when it did not exit by the deadline or died of a signal.
  std::optional<int> Wait(std::chrono::seconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (pid_ > 0) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        ending_ = WIFEXITED(status) ? "exited with " + std::to_string(WEXITSTATUS(status))
                                    : std::string("killed by ") + strsignal(WTERMSIG(status));
        return WIFEXITED(status) ? std::optional<int>(WEXITSTATUS(status)) : std::nullopt;
      }
      if (std::chrono::steady_clock::now() >= end) {
        ending_ = "still running after " + std::to_string(deadline.count()) + " s";
        return std::nullopt;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return std::nullopt;
  }
  const std::string& HowItEnded() const { return ending_; }
  std::string Stdout() const { return ReadFile(out_); }
  std::string Stderr() const { return ReadFile(err_); }

 private:
  pid_t pid_ = -1;
  std::string out_;
  std::string err_;
  std::string ending_ = "not waited for";
};

// The JACK server named name that this process started: servers of other
// test processes on the machine may carry the same name.
pid_t JackServerPid(const std::string& name) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string file = entry.path().filename();
    if (file.find_first_not_of("0123456789") != std::string::npos)
      continue;
    std::ifstream status(entry.path() / "status");
    std::string line;
    pid_t parent = -1;
    while (std::getline(status, line)) {
      if (line.rfind("PPid:", 0) == 0)
        parent = static_cast<pid_t>(std::stol(line.substr(5)));
    }
    if (parent != getpid())
      continue;
    const std::string command = ReadFile(entry.path() / "cmdline");
    std::vector<std::string> args;
    for (std::size_t at = 0; at < command.size(); at = command.find('\0', at) + 1)
      args.emplace_back(command.c_str() + at);
    for (std::size_t i = 1; i + 1 < args.size(); ++i) {
      if (args[0].ends_with("jackd") && args[i] == "-n" && args[i + 1] == name)
        return static_cast<pid_t>(std::stol(file));
    }
  }
  return -1;
}

class SimProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string missing = midi_.Missing(); !missing.empty())
      GTEST_SKIP() << missing;
    const std::string error = midi_.Start();
    ASSERT_TRUE(error.empty()) << error;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::string(KORVANE_BINARY_DIR) + "/sim-process-work/" + info->name() + "-" +
           std::to_string(getpid());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    sims_.clear();
    midi_.Stop();
  }

  SimChild& Start(const std::string& port, std::vector<std::string> options = {}) {
    sims_.push_back(std::make_unique<SimChild>());
    std::vector<std::string> args = {
        KORVANE_SIM_PATH,          "--api", midi_.ApiOption(), "--port", port, "--save",
        dir_ + "/" + port + ".syx"};
    args.insert(args.end(), options.begin(), options.end());
    const std::string error = sims_.back()->Start(args, dir_ + "/" + port);
    EXPECT_TRUE(error.empty()) << error;
    return *sims_.back();
  }

  static bool Ready(const SimChild& sim) {
    return sim.Stdout().find("korvane-sim: ready\n") != std::string::npos;
  }

  // Until the controller printed text, or the deadline.
  static void WaitFor(const SimChild& sim, const std::string& text) {
    const auto end = std::chrono::steady_clock::now() + kReadyDeadline;
    while (sim.Stdout().find(text) == std::string::npos && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_NE(sim.Stdout().find(text), std::string::npos) << "no \"" << text << "\"; it printed:\n"
                                                          << sim.Stdout() << sim.Stderr();
  }

  // Until every controller said it is ready, or the deadline.
  static void WaitUntilReady(const std::vector<SimChild*>& sims) {
    const auto end = std::chrono::steady_clock::now() + kReadyDeadline;
    for (SimChild* sim : sims) {
      while (!Ready(*sim) && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      ASSERT_TRUE(Ready(*sim)) << "not ready; it printed:\n" << sim->Stdout() << sim->Stderr();
    }
  }

  // It ended by itself with status 0 after saying why, and saved its file.
  void ExpectEndedBySigterm(SimChild& sim, const std::string& port) {
    EXPECT_EQ(sim.Wait(kEndDeadline), std::optional<int>(0))
        << sim.HowItEnded() << "; it printed:\n"
        << sim.Stdout() << sim.Stderr();
    EXPECT_NE(sim.Stdout().find("korvane-sim: SIGTERM, "), std::string::npos) << sim.Stdout();
    EXPECT_TRUE(std::filesystem::exists(dir_ + "/" + port + ".syx"));
  }

  RtMidi::Api Api() const { return midi_.IsJack() ? RtMidi::UNIX_JACK : RtMidi::LINUX_ALSA; }

  TestMidiSystem midi_;
  std::string dir_;
  std::vector<std::unique_ptr<SimChild>> sims_;
};

// Whether the process has SIGTERM blocked yet: from then on it takes the
// signal as its own event rather than dying of it. Its threads are asked:
// the one waiting in sigwait shows the signal unblocked while it waits.
bool BlocksSigterm(pid_t pid) {
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  std::error_code error;
  for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
    std::ifstream status(task.path() / "status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("SigBlk:", 0) == 0 &&
          ((std::stoull(line.substr(7), nullptr, 16) >> (SIGTERM - 1)) & 1) != 0) {
        return true;
      }
    }
  }
  return false;
}

TEST_F(SimProcess, EndsAtSigtermWhileTheMidiSystemKeepsItWaitingAtStart) {
  if (!midi_.IsJack())
    GTEST_SKIP() << "stopping the MIDI server is done on JACK; ALSA's is the kernel's";
  // A server that takes no request keeps the controller's start waiting
  // (its ports, its probe) for as long as it stays stopped.
  const pid_t server = JackServerPid(midi_.Jack().Name());
  ASSERT_GT(server, 0);
  ASSERT_EQ(kill(server, SIGSTOP), 0);
  SimChild& sim = Start("Waiting");
  const auto end = std::chrono::steady_clock::now() + kReadyDeadline;
  while (!BlocksSigterm(sim.Pid()) && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  sim.Signal(SIGTERM);
  const std::optional<int> status = sim.Wait(kEndDeadline);
  kill(server, SIGCONT);
  EXPECT_EQ(status, std::optional<int>(0)) << sim.HowItEnded() << "; it printed:\n"
                                           << sim.Stdout() << sim.Stderr();
  EXPECT_FALSE(Ready(sim));
}

TEST_F(SimProcess, TwentyOnOneServerAllEndAtOnceAtSigterm) {
  if (!midi_.IsJack())
    GTEST_SKIP() << "many clients closing at once kept libjack waiting; ALSA has no such wait";
  std::vector<SimChild*> sims;
  for (int i = 0; i < 20; ++i)
    sims.push_back(&Start("Sim " + std::to_string(i)));
  WaitUntilReady(sims);
  for (SimChild* sim : sims)
    sim->Signal(SIGTERM);
  for (int i = 0; i < 20; ++i)
    ExpectEndedBySigterm(*sims[static_cast<std::size_t>(i)], "Sim " + std::to_string(i));
}

// Every port name of the MIDI system, inputs and outputs.
std::vector<std::string> ListedPorts(RtMidi::Api api) {
  std::vector<std::string> names;
  RtMidiIn in(api, "Lister In");
  RtMidiOut out(api, "Lister Out");
  for (unsigned i = 0; i < in.getPortCount(); ++i)
    names.push_back(in.getPortName(i));
  for (unsigned i = 0; i < out.getPortCount(); ++i)
    names.push_back(out.getPortName(i));
  return names;
}

bool Listed(const std::vector<std::string>& names, const std::string& prefix) {
  for (const std::string& name : names) {
    if (name.rfind(prefix, 0) == 0)
      return true;
  }
  return false;
}

TEST_F(SimProcess, AVanishedControllerLeavesTheMidiSystemAndStillSavesWhatItHeld) {
  SimChild& sim = Start("Gone", {"--vanish-after-messages", "20"});
  WaitUntilReady({&sim});
  const std::vector<std::string> before = ListedPorts(Api());
  ASSERT_TRUE(Listed(before, "Gone In:Gone"));
  ASSERT_TRUE(Listed(before, "Gone Out:Gone"));
  const Bytes image = MakeSyntheticImage(kModelTrw1000, 24, 16, 5);
  {
    RtMidiOut out(Api(), "Updater Out");
    for (unsigned i = 0; i < out.getPortCount(); ++i) {
      if (out.getPortName(i).rfind("Gone In:Gone", 0) == 0)
        out.openPort(i);
    }
    ASSERT_TRUE(out.isPortOpen());
    // The MIDI system tells the controller of the connection on a thread of
    // its own; the firmware starts afresh then, so it goes after that.
    ASSERT_NO_FATAL_FAILURE(WaitFor(sim, "new session: an updater connected"));
    for (std::size_t m = 0; m < 24; ++m)
      rtmidi_backend::SendMessage(out, image.data() + m * 16, 16);
    ASSERT_NO_FATAL_FAILURE(WaitFor(sim, "vanished with 20 block messages held"));
  }
  // The ports go on the controller's own thread; the listing shows it soon.
  std::vector<std::string> after = ListedPorts(Api());
  const auto end = std::chrono::steady_clock::now() + kReadyDeadline;
  while ((Listed(after, "Gone In:") || Listed(after, "Gone Out:")) &&
         std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    after = ListedPorts(Api());
  }
  EXPECT_FALSE(Listed(after, "Gone In:"));
  EXPECT_FALSE(Listed(after, "Gone Out:"));

  sim.Signal(SIGTERM);
  ExpectEndedBySigterm(sim, "Gone");
  EXPECT_EQ(ReadFile(dir_ + "/Gone.syx"), std::string(image.begin(), image.begin() + 20 * 16));
}

// An updater's traffic on the controller's input while it proves its ports:
// identity requests, as fast as they go, answered meanwhile.
class Hammer {
 public:
  Hammer(RtMidi::Api api, std::string input, std::string output)
      : api_(api), input_(std::move(input)), output_(std::move(output)) {
    thread_ = std::thread([this] { Run(); });
  }
  ~Hammer() {
    stop_ = true;
    thread_.join();
  }
  int Replies() const { return replies_.load(); }
  int Sent() const { return sent_.load(); }

 private:
  static int Find(RtMidi& midi, const std::string& prefix) {
    for (unsigned i = 0; i < midi.getPortCount(); ++i) {
      if (midi.getPortName(i).rfind(prefix, 0) == 0)
        return static_cast<int>(i);
    }
    return -1;
  }
  void Run() {
    RtMidiOut out(api_, "Hammer Out");
    RtMidiIn in(api_, "Hammer In");
    in.ignoreTypes(false, true, true);
    in.setCallback(
        [](double, std::vector<unsigned char>* message, void* replies) {
          if (message != nullptr && message->size() > 6 && (*message)[6] == 0x02)
            ++*static_cast<std::atomic<int>*>(replies);
        },
        &replies_);
    bool listening = false;
    while (!stop_) {
      if (!listening) {
        if (const int port = Find(in, output_); port >= 0) {
          in.openPort(static_cast<unsigned>(port));
          listening = true;
        }
      }
      if (!out.isPortOpen()) {
        if (const int port = Find(out, input_); port >= 0)
          out.openPort(static_cast<unsigned>(port));
      }
      if (out.isPortOpen()) {
        rtmidi_backend::SendMessage(out, kIdentityRequest.data(), kIdentityRequest.size());
        ++sent_;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  const RtMidi::Api api_;
  const std::string input_;
  const std::string output_;
  std::atomic<bool> stop_{false};
  std::atomic<int> sent_{0};
  std::atomic<int> replies_{0};
  std::thread thread_;
};

TEST_F(SimProcess, BecomesReadyAndKeepsAnsweringWhileAnUpdaterSendsToIt) {
  Hammer hammer(Api(), "Busy In:Busy", "Busy Out:Busy");
  SimChild& sim = Start("Busy");
  WaitUntilReady({&sim});
  // Its output still carries every answer: replies keep coming after the probe.
  const int before = hammer.Replies();
  const auto end = std::chrono::steady_clock::now() + kReadyDeadline;
  while (hammer.Replies() < before + 50 && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_GE(hammer.Replies(), before + 50) << "sent " << hammer.Sent();
  sim.Signal(SIGTERM);
  ExpectEndedBySigterm(sim, "Busy");
}

}  // namespace
}  // namespace korvane::testing

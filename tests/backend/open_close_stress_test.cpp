// Opens and closes an input and an output over and over, as the port set and
// the transfer do, while the peer keeps sending SysEx into the input, the
// output's last messages are still on their way to the peer as it closes, and
// a second thread counts the devices all along. Through the first half of the
// rounds a standing input stays open beside them, which must go on receiving
// after every close (on JACK all ports share one client of ours); in the
// second half each round's close is the last port's. What it looks for is a
// crash, a sanitizer report, a close that hangs, a port another one's close
// broke, or a callback after a close.
//
// KORVANE_STRESS_CYCLES sets the number of rounds (the default keeps the test
// within a minute on a loaded 2-core machine).
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>

#if KORVANE_HAVE_JACK
#include <dlfcn.h>
#include <jack/jack.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "midi/rtmidi/rtmidi_services.h"
#include "tests/backend/rtmidi_peer.h"
#include "tests/support/test_midi_system.h"

#if KORVANE_HAVE_JACK
// RtMidi's JACK output callback reads its port, clears the port's buffer, then
// reads its ring buffer. A JACK thread held up between the two, as on a loaded
// machine, is what a close must survive; this pause makes that happen in most
// rounds instead of once in a great many. Defined in the test program, it
// stands in for libjack's own in this process only.
extern "C" void jack_midi_clear_buffer(void* portBuffer) {
  static const auto real =
      reinterpret_cast<void (*)(void*)>(dlsym(RTLD_NEXT, "jack_midi_clear_buffer"));
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  real(portBuffer);
}
#endif

namespace korvane {
namespace {

using testing::CallbackRecorder;
using testing::Peer;
using testing::TestMidiSystem;

// JACK's dummy driver runs 21 ms periods, and a port waits for the graph:
// with two busy processes beside it a round takes about 0.6 s in the plain
// and the sanitizer builds alike, so 40 rounds and the set-up take about 30 s.
constexpr long kDefaultCycles = 40;
// A call that has not returned after this long is taken for hung.
constexpr auto kHung = std::chrono::seconds(60);
constexpr std::size_t kBurst = 4;

// Queues header on the input, starts it, and checks that a reply the peer
// sends fills it.
void ExpectReplyArrives(RtMidiServices& services, HMIDIIN in, MIDIHDR& header,
                        std::vector<char>& buffer, Peer& peer, CallbackRecorder& recorder) {
  header.lpData = buffer.data();
  header.dwBufferLength = static_cast<DWORD>(buffer.size());
  ASSERT_EQ(services.midiInPrepareHeader(in, &header, sizeof(header)), MMSYSERR_NOERROR);
  ASSERT_EQ(services.midiInAddBuffer(in, &header, sizeof(header)), MMSYSERR_NOERROR);
  ASSERT_EQ(services.midiInStart(in), MMSYSERR_NOERROR);
  const std::vector<unsigned char> reply = {0xF0, 0x7E, 0x7F, 0x06, 0x02, 0xF7};
  peer.Send(reply);
  ASSERT_TRUE(recorder.WaitFor(MIM_LONGDATA));
  EXPECT_EQ(std::vector<char>(buffer.begin(), buffer.begin() + header.dwBytesRecorded),
            std::vector<char>(reply.begin(), reply.end()));
}

long Cycles() {
  const char* value = std::getenv("KORVANE_STRESS_CYCLES");
  if (value == nullptr || *value == '\0')
    return kDefaultCycles;
  return std::max(1L, std::strtol(value, nullptr, 10));
}

// What one round's ports were told. Kept for the whole test: a callback that
// came after its close would write here.
struct Round {
  RtMidiServices* services = nullptr;
  HMIDIIN in = nullptr;
  HMIDIOUT out = nullptr;
  std::vector<char> inBuffer = std::vector<char>(512);
  MIDIHDR inHeader{};
  std::vector<unsigned char> outMessage;
  MIDIHDR outHeader{};
  std::atomic<int> inOpens{0}, inCloses{0}, outOpens{0}, outCloses{0}, sent{0};
  std::atomic<int> received{0};                         // SysEx that filled the input's header
  std::atomic<bool> inClosed{false}, outClosed{false};  // the close call has returned
  std::atomic<int> afterClose{0};
};

// As the port set's MidiInProc: a filled header goes straight back to the
// driver from inside the callback; one handed back by a reset stays out.
void CALLBACK InProc(HMIDIIN handle, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                     DWORD_PTR) {
  auto* round = reinterpret_cast<Round*>(instance);
  if (round->inClosed.load())
    round->afterClose.fetch_add(1);
  if (message == MIM_OPEN)
    round->inOpens.fetch_add(1);
  if (message == MIM_CLOSE)
    round->inCloses.fetch_add(1);
  if (message != MIM_LONGDATA)
    return;
  auto* header = reinterpret_cast<MIDIHDR*>(param1);
  if (header->dwBytesRecorded == 0)
    return;
  header->dwBytesRecorded = 0;
  round->services->midiInAddBuffer(handle, header, sizeof(MIDIHDR));
  round->received.fetch_add(1);
  round->received.notify_all();
}

void CALLBACK OutProc(HMIDIOUT, UINT message, DWORD_PTR instance, DWORD_PTR, DWORD_PTR) {
  auto* round = reinterpret_cast<Round*>(instance);
  if (round->outClosed.load())
    round->afterClose.fetch_add(1);
  if (message == MOM_OPEN)
    round->outOpens.fetch_add(1);
  if (message == MOM_CLOSE)
    round->outCloses.fetch_add(1);
  if (message == MOM_DONE)
    round->sent.fetch_add(1);
}

// Where the round is, for the report of a hang.
enum class Phase {
  kOpenInput,
  kOpenOutput,
  kArm,
  kAwaitInput,
  kAwaitOutput,
  kResetInput,
  kCloseInput,
  kCloseOutput,
  kAwaitStanding,
  kDone
};

const char* PhaseName(Phase phase) {
  static const char* const names[] = {"midiInOpen",
                                      "midiOutOpen",
                                      "arming the input",
                                      "awaiting SysEx on the input",
                                      "the peer's wait",
                                      "midiInReset/unprepare",
                                      "midiInClose",
                                      "midiOutClose",
                                      "awaiting SysEx on the standing input",
                                      "done"};
  return names[static_cast<int>(phase)];
}

// Aborts the test with the round and the call that hung, since nothing else
// would end a call that never returns.
class Watchdog {
 public:
  Watchdog() : thread_([this] { Watch(); }) {}
  ~Watchdog() {
    stop_.store(true);
    stop_.notify_all();
    thread_.join();
  }
  void At(long cycle, Phase phase) {
    cycle_.store(cycle);
    phase_.store(phase);
    progress_.fetch_add(1);
  }

 private:
  void Watch() {
    auto last = progress_.load();
    auto since = std::chrono::steady_clock::now();
    while (!stop_.load()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      const auto now = progress_.load();
      if (now != last) {
        last = now;
        since = std::chrono::steady_clock::now();
      } else if (std::chrono::steady_clock::now() - since > kHung) {
        std::fprintf(stderr, "open_close_stress: round %ld hung in %s\n", cycle_.load(),
                     PhaseName(phase_.load()));
        std::abort();
      }
    }
  }
  std::atomic<long> cycle_{0};
  std::atomic<Phase> phase_{Phase::kOpenInput};
  std::atomic<unsigned long> progress_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Counts the JACK server's xruns. A cycle the server could not finish in time
// loses the MIDI it carried, so on a loaded machine a message sent across one
// may never arrive; one lost without an xrun is a fault of ours.
class Xruns {
 public:
#if KORVANE_HAVE_JACK
  explicit Xruns(bool jack) {
    if (!jack)
      return;
    client_ = jack_client_open("Stress Xruns", JackNoStartServer, nullptr);
    if (client_ == nullptr)
      return;
    jack_set_xrun_callback(client_, &Xruns::OnXrun, this);
    jack_activate(client_);
  }
  ~Xruns() {
    if (client_ != nullptr)
      jack_client_close(client_);
  }
#else
  explicit Xruns(bool) {}
#endif
  Xruns(const Xruns&) = delete;
  Xruns& operator=(const Xruns&) = delete;

  long Count() const {
    return count_.load();
  }

 private:
#if KORVANE_HAVE_JACK
  static int OnXrun(void* self) {
    static_cast<Xruns*>(self)->count_.fetch_add(1);
    return 0;
  }
  jack_client_t* client_ = nullptr;
#endif
  std::atomic<long> count_{0};
};

int FindDevice(RtMidiServices& services, bool input, const char* name) {
  const UINT count = input ? services.midiInGetNumDevs() : services.midiOutGetNumDevs();
  for (UINT i = 0; i < count; ++i) {
    MIDIINCAPSA inCaps{};
    MIDIOUTCAPSA outCaps{};
    const MMRESULT result = input ? services.midiInGetDevCapsA(i, &inCaps, sizeof(inCaps))
                                  : services.midiOutGetDevCapsA(i, &outCaps, sizeof(outCaps));
    if (result == MMSYSERR_NOERROR && std::string(input ? inCaps.szPname : outCaps.szPname) == name)
      return static_cast<int>(i);
  }
  return -1;
}

unsigned char Low7(long value) {
  return static_cast<unsigned char>(value & 0x7F);
}

// A SysEx of the given length that names its round and its place in it.
std::vector<unsigned char> Tagged(long cycle, unsigned char sequence, std::size_t length) {
  std::vector<unsigned char> message = {
      0xF0, 0x00, 0x20, 0x32, Low7(cycle), Low7(cycle >> 7), Low7(cycle >> 14), sequence};
  while (message.size() + 1 < length)
    message.push_back(Low7(static_cast<long>(message.size())));
  message.push_back(0xF7);
  return message;
}

bool IsTagged(const std::vector<unsigned char>& message, long cycle, unsigned char sequence) {
  return message.size() > 8 && message[4] == Low7(cycle) && message[5] == Low7(cycle >> 7) &&
         message[6] == Low7(cycle >> 14) && message[7] == sequence;
}

TEST(OpenCloseStressTest, PortsOpenAndCloseUnderTrafficAndListing) {
  TestMidiSystem midi;
  if (const std::string missing = midi.Missing(); !missing.empty())
    GTEST_SKIP() << missing;
  ASSERT_EQ(midi.Start(), "");
  Peer peer(midi.IsJack() ? RtMidi::UNIX_JACK : RtMidi::LINUX_ALSA);
  // The standing input's own source: a port is opened once at a time.
  Peer other(midi.IsJack() ? RtMidi::UNIX_JACK : RtMidi::LINUX_ALSA);
  const Xruns xruns(midi.IsJack());
  // Before the services: a callback that came late would still find its round.
  std::deque<Round> rounds;
  Round standing;
  RtMidiServices services;
  const int source = FindDevice(services, true, testing::kPeerSource);
  const int sink = FindDevice(services, false, testing::kPeerSink);
  ASSERT_GE(source, 0);
  ASSERT_GE(sink, 0);

  // The peer talks all the time, so a close often meets a message on its way in.
  std::jthread talker([&](std::stop_token stop) {
    for (long n = 0; !stop.stop_requested(); ++n) {
      (n % 2 == 0 ? peer : other).Send(Tagged(n, 0x7F, 48));
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  // A scan counts devices while ports open and close; the peer never leaves
  // the list and our own ports never enter it.
  std::atomic<long> listings{0};
  std::atomic<long> badListings{0};
  std::jthread lister([&](std::stop_token stop) {
    while (!stop.stop_requested()) {
      if (FindDevice(services, true, testing::kPeerSource) != source ||
          FindDevice(services, false, testing::kPeerSink) != sink) {
        badListings.fetch_add(1);
      }
      listings.fetch_add(1);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });

  // Opened as the round ports are, and armed as they are.
  int otherSource = -1;
  for (UINT i = 0; i < services.midiInGetNumDevs() && otherSource < 0; ++i) {
    MIDIINCAPSA caps{};
    if (static_cast<int>(i) != source &&
        services.midiInGetDevCapsA(i, &caps, sizeof(caps)) == MMSYSERR_NOERROR &&
        std::string(caps.szPname).find("to korvane") != std::string::npos) {
      otherSource = static_cast<int>(i);
    }
  }
  ASSERT_GE(otherSource, 0);
  standing.services = &services;
  ASSERT_EQ(services.midiInOpen(&standing.in, static_cast<UINT>(otherSource),
                                reinterpret_cast<DWORD_PTR>(&InProc),
                                reinterpret_cast<DWORD_PTR>(&standing), CALLBACK_FUNCTION),
            MMSYSERR_NOERROR);
  standing.inHeader.lpData = standing.inBuffer.data();
  standing.inHeader.dwBufferLength = static_cast<DWORD>(standing.inBuffer.size());
  ASSERT_EQ(services.midiInPrepareHeader(standing.in, &standing.inHeader, sizeof(MIDIHDR)),
            MMSYSERR_NOERROR);
  ASSERT_EQ(services.midiInAddBuffer(standing.in, &standing.inHeader, sizeof(MIDIHDR)),
            MMSYSERR_NOERROR);
  ASSERT_EQ(services.midiInStart(standing.in), MMSYSERR_NOERROR);

  const long cycles = Cycles();
  long lostInXruns = 0;
  const auto start = std::chrono::steady_clock::now();
  {
    Watchdog watchdog;
    for (long cycle = 0; cycle < cycles && !::testing::Test::HasFailure(); ++cycle) {
      Round& r = rounds.emplace_back();
      r.services = &services;
      const auto at = [&](Phase phase) { watchdog.At(cycle, phase); };
      SCOPED_TRACE("round " + std::to_string(cycle));

      at(Phase::kOpenInput);
      ASSERT_EQ(services.midiInOpen(&r.in, static_cast<UINT>(source),
                                    reinterpret_cast<DWORD_PTR>(&InProc),
                                    reinterpret_cast<DWORD_PTR>(&r), CALLBACK_FUNCTION),
                MMSYSERR_NOERROR);
      at(Phase::kOpenOutput);
      ASSERT_EQ(services.midiOutOpen(&r.out, static_cast<UINT>(sink),
                                     reinterpret_cast<DWORD_PTR>(&OutProc),
                                     reinterpret_cast<DWORD_PTR>(&r), CALLBACK_FUNCTION),
                MMSYSERR_NOERROR);

      at(Phase::kArm);
      r.inHeader.lpData = r.inBuffer.data();
      r.inHeader.dwBufferLength = static_cast<DWORD>(r.inBuffer.size());
      ASSERT_EQ(services.midiInPrepareHeader(r.in, &r.inHeader, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
      ASSERT_EQ(services.midiInAddBuffer(r.in, &r.inHeader, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
      ASSERT_EQ(services.midiInStart(r.in), MMSYSERR_NOERROR);
      r.outMessage = Tagged(cycle, 0, 300);
      r.outHeader.lpData = reinterpret_cast<char*>(r.outMessage.data());
      r.outHeader.dwBufferLength = static_cast<DWORD>(r.outMessage.size());
      ASSERT_EQ(services.midiOutPrepareHeader(r.out, &r.outHeader, sizeof(MIDIHDR)),
                MMSYSERR_NOERROR);

      // Both ports carry data before they close.
      at(Phase::kAwaitInput);
      r.received.wait(0);
      const long xrunsBefore = xruns.Count();
      ASSERT_EQ(services.midiOutLongMsg(r.out, &r.outHeader, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
      at(Phase::kAwaitOutput);
      bool arrived = false;
      while (!arrived) {
        const auto m = peer.NextReceived();
        if (m.empty())
          break;
        arrived = IsTagged(m, cycle, 0);
      }
      if (!arrived && xruns.Count() > xrunsBefore)
        ++lostInXruns;
      else
        ASSERT_TRUE(arrived) << "the output's message never reached the peer, and no xrun lost it";
      // A burst still in the MIDI system's buffers when the output closes.
      for (std::size_t n = 0; n < kBurst; ++n)
        ASSERT_EQ(services.midiOutLongMsg(r.out, &r.outHeader, sizeof(MIDIHDR)), MMSYSERR_NOERROR);

      at(Phase::kResetInput);
      ASSERT_EQ(services.midiInReset(r.in), MMSYSERR_NOERROR);
      ASSERT_EQ(services.midiInUnprepareHeader(r.in, &r.inHeader, sizeof(MIDIHDR)),
                MMSYSERR_NOERROR);
      at(Phase::kCloseInput);
      ASSERT_EQ(services.midiInClose(r.in), MMSYSERR_NOERROR);
      r.inClosed.store(true);
      ASSERT_EQ(services.midiOutReset(r.out), MMSYSERR_NOERROR);
      ASSERT_EQ(services.midiOutUnprepareHeader(r.out, &r.outHeader, sizeof(MIDIHDR)),
                MMSYSERR_NOERROR);
      at(Phase::kCloseOutput);
      ASSERT_EQ(services.midiOutClose(r.out), MMSYSERR_NOERROR);
      r.outClosed.store(true);
      if (!standing.inClosed.load()) {
        at(Phase::kAwaitStanding);
        const int before = standing.received.load();
        standing.received.wait(before);
        if (cycle + 1 >= cycles / 2) {
          ASSERT_EQ(services.midiInReset(standing.in), MMSYSERR_NOERROR);
          ASSERT_EQ(services.midiInClose(standing.in), MMSYSERR_NOERROR);
          standing.inClosed.store(true);
        }
      }
      at(Phase::kDone);

      EXPECT_EQ(r.inOpens.load(), 1);
      EXPECT_EQ(r.inCloses.load(), 1);
      EXPECT_EQ(r.outOpens.load(), 1);
      EXPECT_EQ(r.outCloses.load(), 1);
      EXPECT_EQ(r.sent.load(), static_cast<int>(kBurst + 1));
      EXPECT_EQ(services.midiInStart(r.in), MMSYSERR_INVALHANDLE);
      EXPECT_EQ(services.midiOutReset(r.out), MMSYSERR_INVALHANDLE);
    }
  }
  talker.request_stop();
  lister.request_stop();
  talker.join();
  lister.join();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf(
      "open_close_stress: %zu rounds in %.1f s (%.1f a second), %ld listings, %ld xruns, %ld "
      "messages lost in them\n",
      rounds.size(), seconds, rounds.size() / seconds, listings.load(), xruns.Count(), lostInXruns);

  EXPECT_EQ(badListings.load(), 0) << "of " << listings.load() << " listings";
  // Late callbacks would have had time to come while the others ran.
  long late = standing.afterClose.load();
  for (const Round& r : rounds)
    late += r.afterClose.load();
  EXPECT_EQ(late, 0) << "callbacks after a close returned";
}

// The process of the JACK server named name, or -1.
pid_t ServerPid(const std::string& name) {
  DIR* proc = opendir("/proc");
  if (proc == nullptr)
    return -1;
  pid_t found = -1;
  while (dirent* entry = readdir(proc)) {
    const pid_t pid = std::atoi(entry->d_name);
    if (pid <= 0)
      continue;
    std::ifstream file("/proc/" + std::string(entry->d_name) + "/cmdline");
    std::vector<std::string> args;
    for (std::string arg; std::getline(file, arg, '\0');)
      args.push_back(arg);
    for (std::size_t i = 1; i + 1 < args.size(); ++i) {
      if (args[0].ends_with("jackd") && args[i] == "-n" && args[i + 1] == name)
        found = pid;
    }
  }
  closedir(proc);
  return found;
}

// libjack waits for the server's answer to a close without a time limit. With
// the server stopped, a close must still return (its port ends once the
// server answers again), and a port opened after that works.
TEST(OpenCloseStressTest, ClosesReturnWhileTheServerDoesNotAnswer) {
  TestMidiSystem midi;
  if (const std::string missing = midi.Missing(); !missing.empty())
    GTEST_SKIP() << missing;
  if (!midi.IsJack())
    GTEST_SKIP() << "a stopped JACK server; " << midi.Name() << " has none to stop";
  ASSERT_EQ(midi.Start(), "");
  Peer peer(RtMidi::UNIX_JACK);
  RtMidiServices services;
  const int source = FindDevice(services, true, testing::kPeerSource);
  const int sink = FindDevice(services, false, testing::kPeerSink);
  ASSERT_GE(source, 0);
  ASSERT_GE(sink, 0);
  const pid_t server = ServerPid(midi.Jack().Name());
  ASSERT_GT(server, 0);

  CallbackRecorder recorder;
  HMIDIIN in = nullptr;
  HMIDIOUT out = nullptr;
  ASSERT_EQ(services.midiInOpen(&in, static_cast<UINT>(source), recorder.InProc(),
                                recorder.Instance(), CALLBACK_FUNCTION),
            MMSYSERR_NOERROR);
  ASSERT_EQ(services.midiOutOpen(&out, static_cast<UINT>(sink), recorder.OutProc(),
                                 recorder.Instance(), CALLBACK_FUNCTION),
            MMSYSERR_NOERROR);

  // The server is let go again when the closes have returned, or when they
  // have hung for good.
  std::mutex mutex;
  std::condition_variable closed;
  bool done = false;
  bool resumed = false;
  ASSERT_EQ(kill(server, SIGSTOP), 0);
  std::jthread resumer([&] {
    std::unique_lock lock(mutex);
    closed.wait_for(lock, kHung, [&] { return done; });
    kill(server, SIGCONT);
    resumed = true;
  });
  const MMRESULT inClosed = services.midiInClose(in);
  const MMRESULT outClosed = services.midiOutClose(out);
  {
    std::lock_guard lock(mutex);
    EXPECT_FALSE(resumed) << "the closes waited for the server";
    done = true;
  }
  closed.notify_all();
  resumer.join();
  EXPECT_EQ(inClosed, MMSYSERR_NOERROR);
  EXPECT_EQ(outClosed, MMSYSERR_NOERROR);
  EXPECT_EQ(recorder.Count(MIM_CLOSE), 1u);
  EXPECT_EQ(recorder.Count(MOM_CLOSE), 1u);

  HMIDIIN again = nullptr;
  ASSERT_EQ(services.midiInOpen(&again, static_cast<UINT>(source), recorder.InProc(),
                                recorder.Instance(), CALLBACK_FUNCTION),
            MMSYSERR_NOERROR);
  std::vector<char> buffer(64);
  MIDIHDR header{};
  ASSERT_NO_FATAL_FAILURE(ExpectReplyArrives(services, again, header, buffer, peer, recorder));
  EXPECT_EQ(services.midiInReset(again), MMSYSERR_NOERROR);
  EXPECT_EQ(services.midiInUnprepareHeader(again, &header, sizeof(header)), MMSYSERR_NOERROR);
  EXPECT_EQ(services.midiInClose(again), MMSYSERR_NOERROR);
}

}  // namespace
}  // namespace korvane

namespace korvane {
namespace {

// A server killed under open ports: their closes return, and once a server
// runs again the same services list it and carry messages both ways, while a
// port of the dead server's is still open (libjack deletes a dead client of
// the process when the next one is made: ours must be ended first, and the
// late close of its port must not touch it).
TEST(OpenCloseStressTest, AServerKilledUnderOpenPortsGivesWayToTheNextOne) {
  TestMidiSystem midi;
  if (const std::string missing = midi.Missing(); !missing.empty())
    GTEST_SKIP() << missing;
  if (!midi.IsJack())
    GTEST_SKIP() << "a killed JACK server; " << midi.Name() << " has none to kill";
  ASSERT_EQ(midi.Start(), "");
  CallbackRecorder recorder;
  RtMidiServices services;
  HMIDIIN deadIn = nullptr;
  HMIDIOUT deadOut = nullptr;
  {
    Peer peer(RtMidi::UNIX_JACK);
    const int source = FindDevice(services, true, testing::kPeerSource);
    const int sink = FindDevice(services, false, testing::kPeerSink);
    ASSERT_GE(source, 0);
    ASSERT_GE(sink, 0);
    ASSERT_EQ(services.midiInOpen(&deadIn, static_cast<UINT>(source), recorder.InProc(),
                                  recorder.Instance(), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    ASSERT_EQ(services.midiOutOpen(&deadOut, static_cast<UINT>(sink), recorder.OutProc(),
                                   recorder.Instance(), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    midi.Jack().Kill();
    EXPECT_EQ(services.midiInClose(deadIn), MMSYSERR_NOERROR);
  }
  midi.Stop();
  ASSERT_EQ(midi.Start(), "");
  // Counted before the peer's clients are made, which would be the first of
  // the process on the new server: as in korvane-flash, ours comes first.
  services.midiInGetNumDevs();
  Peer peer(RtMidi::UNIX_JACK);
  const int source = FindDevice(services, true, testing::kPeerSource);
  const int sink = FindDevice(services, false, testing::kPeerSink);
  ASSERT_GE(source, 0);
  ASSERT_GE(sink, 0);
  HMIDIIN in = nullptr;
  HMIDIOUT out = nullptr;
  ASSERT_EQ(services.midiInOpen(&in, static_cast<UINT>(source), recorder.InProc(),
                                recorder.Instance(), CALLBACK_FUNCTION),
            MMSYSERR_NOERROR);
  // Its port lock holds the sink's name until it closes.
  EXPECT_EQ(services.midiOutClose(deadOut), MMSYSERR_NOERROR);
  ASSERT_EQ(services.midiOutOpen(&out, static_cast<UINT>(sink), recorder.OutProc(),
                                 recorder.Instance(), CALLBACK_FUNCTION),
            MMSYSERR_NOERROR);

  std::vector<char> buffer(64);
  MIDIHDR header{};
  ASSERT_NO_FATAL_FAILURE(ExpectReplyArrives(services, in, header, buffer, peer, recorder));
  std::vector<unsigned char> request = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
  MIDIHDR sent{};
  sent.lpData = reinterpret_cast<char*>(request.data());
  sent.dwBufferLength = static_cast<DWORD>(request.size());
  ASSERT_EQ(services.midiOutPrepareHeader(out, &sent, sizeof(sent)), MMSYSERR_NOERROR);
  ASSERT_EQ(services.midiOutLongMsg(out, &sent, sizeof(sent)), MMSYSERR_NOERROR);
  EXPECT_EQ(peer.NextReceived(), request);

  EXPECT_EQ(services.midiInReset(in), MMSYSERR_NOERROR);
  EXPECT_EQ(services.midiInClose(in), MMSYSERR_NOERROR);
  EXPECT_EQ(services.midiOutUnprepareHeader(out, &sent, sizeof(sent)), MMSYSERR_NOERROR);
  EXPECT_EQ(services.midiOutClose(out), MMSYSERR_NOERROR);
  EXPECT_EQ(recorder.Count(MIM_CLOSE), 2u);
  EXPECT_EQ(recorder.Count(MOM_CLOSE), 2u);
}

}  // namespace
}  // namespace korvane

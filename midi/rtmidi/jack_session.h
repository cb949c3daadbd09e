// One client of ours on the JACK server, from its open to its close: its
// process callback, the table of ports the callback serves, the ring of what
// arrived and the reader thread that delivers it. Built only with libjack.
#pragma once

#include <jack/jack.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <semaphore>
#include <thread>
#include <vector>

#include "midi/rtmidi/byte_ring.h"
#include "midi/rtmidi/jack_client.h"
#include "midi/rtmidi/period_signal.h"

namespace korvane::rtmidi_backend {

struct JackPort {
  std::uint64_t session = 0;  // the session's number
  std::uint32_t id = 0;       // never used twice in a session: tags what arrived
  std::size_t slot = 0;       // its place in the session's table
  bool input = false;
  jack_port_t* port = nullptr;
  // Outputs: what Send queued and the process thread has not sent yet.
  std::unique_ptr<ByteRing> outgoing;
  // Set by the process thread once the graph it runs holds the port's
  // connection: from that period on, the connection carries data.
  std::atomic<bool> live{false};
  // Outputs: the last period left a message in the port's buffer. A buffer
  // keeps what it holds until the process callback clears it, and the peer
  // reads it again every period it is connected: an output leaves the
  // callback's table only once a period has left its buffer empty.
  std::atomic<bool> holding{false};
};

class JackSession {
 public:
  using Deadline = std::chrono::steady_clock::time_point;

  // A client, activated, with its reader running; null when no server takes one.
  static std::shared_ptr<JackSession> Open(std::uint64_t number);
  // Closes the client, which waits for the server, then stops the reader.
  ~JackSession();
  JackSession(const JackSession&) = delete;
  JackSession& operator=(const JackSession&) = delete;

  std::uint64_t Number() const { return number_; }
  jack_client_t* Handle() const { return handle_; }
  bool Gone() const { return gone_.load(); }
  std::uint64_t Periods() const { return periods_.load(); }
  int& PortCount() { return ports_; }

  // Puts the port in the process callback's table; false when it is full.
  bool Publish(const std::shared_ptr<JackPort>& port);
  // Takes the port out of the table and returns once no process cycle can
  // still be using it; one that overran kept is alive until the session ends.
  void Withdraw(const std::shared_ptr<JackPort>& port);
  void AddReceiver(std::uint32_t id, std::shared_ptr<JackReceiver> receiver);
  void RemoveReceiver(std::uint32_t id);

  // Waits until the session has run `periods` periods; false when the server
  // went away or the deadline came first.
  bool AwaitPeriods(std::uint64_t periods, Deadline deadline);
  // Waits until a period has run with the port's connection in the graph;
  // false when the server went away or the deadline came first.
  bool AwaitLive(const JackPort& port, Deadline deadline);

 private:
  static constexpr std::size_t kSlots = 512;

  explicit JackSession(std::uint64_t number);
  static int Process(jack_nframes_t frames, void* self) noexcept;
  static void Shutdown(void* self) noexcept;
  bool Collect(const JackPort& port, void* buffer) noexcept;
  static void Emit(JackPort& port, void* buffer) noexcept;
  void Read();
  void WakeWaiters() noexcept;
  // Waits, period by period, until done() holds, the server goes or the deadline comes.
  template <typename Done>
  bool AwaitPeriodsUntil(Done done, Deadline deadline);

  const std::uint64_t number_;
  jack_client_t* handle_ = nullptr;
  std::atomic<bool> gone_{false};
  int ports_ = 0;  // under the client's lifecycle lock

  // Shared with the process thread, which only reads the table.
  std::array<std::atomic<JackPort*>, kSlots> table_{};
  std::atomic<std::size_t> tableEnd_{0};  // no port at or past it
  std::atomic<bool> inCycle_{false};
  std::atomic<std::uint64_t> periods_{0};
  std::atomic<int> waiters_{0};
  PeriodSignal periodEnded_;
  // What arrived on our inputs: port id, length, bytes.
  ByteRing incoming_{1 << 18};
  std::counting_semaphore<> arrived_{0};

  // The table's owners, slot by slot, and ports a cycle overran; under the
  // client's lifecycle lock.
  std::array<std::shared_ptr<JackPort>, kSlots> owners_;
  std::vector<std::shared_ptr<JackPort>> retired_;

  std::mutex receiversMutex_;
  std::map<std::uint32_t, std::shared_ptr<JackReceiver>> receivers_;
  std::atomic<bool> stopping_{false};
  std::thread reader_;
};

}  // namespace korvane::rtmidi_backend

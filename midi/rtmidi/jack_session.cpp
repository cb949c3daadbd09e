#if KORVANE_HAVE_JACK

#include "midi/rtmidi/jack_session.h"

#include <jack/midiport.h>

#include <cstring>

#include "midi/rtmidi/api_probe.h"
#include "midi/rtmidi/port_names.h"
#include "midi/rtmidi/sysex_assembler.h"

namespace korvane::rtmidi_backend {
namespace {

// Long enough for a loaded machine to run the period a port waits for.
constexpr std::chrono::milliseconds kCycleTimeout{1000};

struct Arrival {
  std::uint32_t port;
  std::uint32_t size;
};

std::span<const unsigned char> BytesOf(const auto& value) {
  return {reinterpret_cast<const unsigned char*>(&value), sizeof(value)};
}

}  // namespace

JackSession::JackSession(std::uint64_t number) : number_(number) {}

std::shared_ptr<JackSession> JackSession::Open(std::uint64_t number) {
  SilenceJack();
  std::shared_ptr<JackSession> session(new JackSession(number));
  jack_status_t status{};
  session->handle_ = jack_client_open(std::string(kClientName).c_str(), JackNoStartServer, &status);
  if (session->handle_ == nullptr)
    return nullptr;
  jack_on_shutdown(session->handle_, &JackSession::Shutdown, session.get());
  jack_set_process_callback(session->handle_, &JackSession::Process, session.get());
  session->reader_ = std::thread([s = session.get()] { s->Read(); });
  if (jack_activate(session->handle_) != 0)
    return nullptr;
  return session;
}

JackSession::~JackSession() {
  if (handle_ != nullptr)
    jack_client_close(handle_);  // the process thread is stopped when this returns
  stopping_.store(true);
  arrived_.release();
  if (reader_.joinable())
    reader_.join();
}

bool JackSession::Publish(const std::shared_ptr<JackPort>& port) {
  for (std::size_t slot = 0; slot < kSlots; ++slot) {
    if (owners_[slot])
      continue;
    owners_[slot] = port;
    port->slot = slot;
    table_[slot].store(port.get());
    if (tableEnd_.load() <= slot)
      tableEnd_.store(slot + 1);
    return true;
  }
  return false;
}

void JackSession::Withdraw(const std::shared_ptr<JackPort>& port) {
  table_[port->slot].store(nullptr);
  owners_[port->slot].reset();
  // A cycle that began before the store may still hold the port: it has
  // ended once the flag is down or the count has moved.
  const std::uint64_t seen = periods_.load();
  if (inCycle_.load() && !AwaitPeriods(seen + 1, std::chrono::steady_clock::now() + kCycleTimeout))
    retired_.push_back(port);
}

void JackSession::AddReceiver(std::uint32_t id, std::shared_ptr<JackReceiver> receiver) {
  std::lock_guard lock(receiversMutex_);
  receivers_[id] = std::move(receiver);
}

void JackSession::RemoveReceiver(std::uint32_t id) {
  std::shared_ptr<JackReceiver> receiver;  // released outside the lock
  std::lock_guard lock(receiversMutex_);
  if (auto it = receivers_.find(id); it != receivers_.end()) {
    receiver = std::move(it->second);
    receivers_.erase(it);
  }
}

template <typename Done>
bool JackSession::AwaitPeriodsUntil(Done done, Deadline deadline) {
  // Counted before the check: the process thread either sees the waiter or
  // has already made done() true for the check that follows.
  waiters_.fetch_add(1);
  while (!done() && !gone_.load()) {
    if (!periodEnded_.WaitUntil(deadline))
      break;
  }
  waiters_.fetch_sub(1);
  return done();
}

bool JackSession::AwaitPeriods(std::uint64_t periods, Deadline deadline) {
  return AwaitPeriodsUntil([&] { return periods_.load() >= periods; }, deadline);
}

bool JackSession::AwaitLive(const JackPort& port, Deadline deadline) {
  return AwaitPeriodsUntil([&] { return port.live.load(); }, deadline);
}

void JackSession::WakeWaiters() noexcept {
  for (int n = waiters_.load(); n > 0; --n)
    periodEnded_.Post();
}

int JackSession::Process(jack_nframes_t frames, void* self) noexcept {
  auto* session = static_cast<JackSession*>(self);
  session->inCycle_.store(true);
  bool arrived = false;
  const std::size_t end = session->tableEnd_.load();
  for (std::size_t slot = 0; slot < end; ++slot) {
    JackPort* port = session->table_[slot].load();
    if (port == nullptr)
      continue;
    // The server applies a new connection when it next switches graphs, which
    // a loaded machine may put off for several periods: only the graph this
    // period runs tells whether the connection carries data now.
    if (!port->live.load(std::memory_order_relaxed) && jack_port_connected(port->port) > 0)
      port->live.store(true);
    void* buffer = jack_port_get_buffer(port->port, frames);
    if (buffer == nullptr)
      continue;
    if (port->input)
      arrived = session->Collect(*port, buffer) || arrived;
    else
      Emit(*port, buffer);
  }
  session->inCycle_.store(false);
  session->periods_.fetch_add(1);
  if (arrived)
    session->arrived_.release();
  session->WakeWaiters();
  return 0;
}

void JackSession::Shutdown(void* self) noexcept {
  auto* session = static_cast<JackSession*>(self);
  session->gone_.store(true);
  session->WakeWaiters();
}

bool JackSession::Collect(const JackPort& port, void* buffer) noexcept {
  bool any = false;
  const jack_nframes_t count = jack_midi_get_event_count(buffer);
  for (jack_nframes_t i = 0; i < count; ++i) {
    jack_midi_event_t event{};
    if (jack_midi_event_get(&event, buffer, i) != 0 || event.size == 0)
      continue;
    // Only SysEx, whole or in parts, is of use to anyone: short and
    // real-time messages are left here.
    const unsigned char first = event.buffer[0];
    if (first != 0xF0 && first >= 0x80)
      continue;
    const Arrival head{port.id, static_cast<std::uint32_t>(event.size)};
    // A full ring drops the event, as a full driver buffer would.
    any = incoming_.Write(BytesOf(head), {event.buffer, event.size}) || any;
  }
  return any;
}

void JackSession::Emit(JackPort& port, void* buffer) noexcept {
  jack_midi_clear_buffer(buffer);
  ByteRing& ring = *port.outgoing;
  port.holding.store(ring.ReadSpace() > 0);
  std::uint32_t size = 0;
  while (ring.ReadSpace() >= sizeof(size)) {
    ring.Peek(0, &size, sizeof(size));
    jack_midi_data_t* event = jack_midi_event_reserve(buffer, 0, size);
    if (event == nullptr) {
      // Sent in a later period, when the buffer is empty; one that could
      // never fit would block the port for good and is dropped.
      if (size > jack_midi_max_event_size(buffer) && jack_midi_get_event_count(buffer) == 0)
        ring.Consume(sizeof(size) + size);
      return;
    }
    ring.Peek(sizeof(size), event, size);
    ring.Consume(sizeof(size) + size);
  }
}

void JackSession::Read() {
  std::map<std::uint32_t, SysexAssembler> assemblers;
  std::vector<unsigned char> event;
  for (;;) {
    arrived_.acquire();
    if (stopping_.load())
      return;
    Arrival head{};
    while (incoming_.ReadSpace() >= sizeof(head)) {
      incoming_.Peek(0, &head, sizeof(head));
      event.resize(head.size);
      incoming_.Peek(sizeof(head), event.data(), head.size);
      incoming_.Consume(sizeof(head) + head.size);
      const auto message = assemblers[head.port].Add(event);
      if (message.empty())
        continue;
      std::shared_ptr<JackReceiver> receiver;
      {
        std::lock_guard lock(receiversMutex_);
        if (auto it = receivers_.find(head.port); it != receivers_.end())
          receiver = it->second;
      }
      if (receiver)
        receiver->Receive(message.data(), message.size());
      else
        assemblers.erase(head.port);  // the port has closed
    }
  }
}

}  // namespace korvane::rtmidi_backend

#endif

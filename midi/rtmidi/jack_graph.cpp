#include "midi/rtmidi/jack_graph.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include <rtmidi/RtMidi.h>

#include "midi/rtmidi/api_probe.h"
#include "midi/rtmidi/port_names.h"

#if KORVANE_HAVE_JACK
#include <jack/jack.h>
#endif

namespace korvane::rtmidi_backend {

bool HasNewConnection(const std::vector<std::string>& before, const std::vector<std::string>& now) {
  return std::any_of(now.begin(), now.end(), [&](const std::string& name) {
    return std::find(before.begin(), before.end(), name) == before.end();
  });
}

#if KORVANE_HAVE_JACK

namespace {

// Short enough not to add much to an open, long enough not to spin.
constexpr auto kPoll = std::chrono::milliseconds(2);

}  // namespace

// A client of our own that only reads the graph and the frame clock. It is
// never activated, so it takes no part in processing and has no ports.
struct JackGraph::Client {
  jack_client_t* handle = nullptr;
  std::atomic<bool> serverGone{false};

  Client() {
    SilenceJack();
    jack_status_t status{};
    handle = jack_client_open(std::string(kClientName).c_str(), JackNoStartServer, &status);
    if (handle != nullptr)
      jack_on_shutdown(handle, &Client::OnShutdown, this);
  }
  ~Client() {
    if (handle != nullptr)
      jack_client_close(handle);
  }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  bool Usable() const { return handle != nullptr && !serverGone.load(); }

  static void OnShutdown(void* self) { static_cast<Client*>(self)->serverGone.store(true); }
};

JackGraph::JackGraph() = default;
JackGraph::~JackGraph() = default;

bool JackGraph::Connect() {
  if (!client_ || !client_->Usable()) {
    client_.reset();
    client_ = std::make_unique<Client>();
  }
  return client_->Usable();
}

std::vector<std::string> JackGraph::OwnConnections(const std::string& peerPort) {
  std::vector<std::string> own;
  if (!Connect())
    return own;
  jack_port_t* port = jack_port_by_name(client_->handle, peerPort.c_str());
  if (port == nullptr)
    return own;
  const char** names = jack_port_get_all_connections(client_->handle, port);
  if (names == nullptr)
    return own;
  for (const char** name = names; *name != nullptr; ++name) {
    if (IsOwnPort(RtMidi::UNIX_JACK, *name))
      own.emplace_back(*name);
  }
  jack_free(names);
  return own;
}

MMRESULT JackGraph::WaitUntilLive(const std::string& peerPort,
                                  const std::vector<std::string>& before,
                                  std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  // The connection shows as soon as the server has recorded it.
  for (;;) {
    if (HasNewConnection(before, OwnConnections(peerPort)))
      break;
    if (!client_ || !client_->Usable())
      return MIDIERR_NOTREADY;
    if (jack_port_by_name(client_->handle, peerPort.c_str()) == nullptr)
      return MIDIERR_NODEVICE;
    if (std::chrono::steady_clock::now() >= deadline)
      return MIDIERR_NOTREADY;
    std::this_thread::sleep_for(kPoll);
  }
  // Two periods on, a cycle that began after the connection was recorded has
  // completed. Past the deadline the port is used as it is: the connection is
  // recorded, and a server this slow applies it at its next cycle.
  WaitTwoPeriods(std::chrono::duration_cast<std::chrono::milliseconds>(std::max(
      deadline - std::chrono::steady_clock::now(), std::chrono::steady_clock::duration{})));
  return MMSYSERR_NOERROR;
}

void JackGraph::WaitTwoPeriods(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  // Never a new client here: once the server has gone, libjack's next client
  // open deletes every client the process still has, RtMidi's included, and
  // their close then runs on freed memory. A gone server runs no cycles.
  if (!client_ || !client_->Usable())
    return;
  // The frame clock of the last cycle moves only when the server runs one.
  const std::uint32_t since = jack_last_frame_time(client_->handle);
  const std::uint32_t period = jack_get_buffer_size(client_->handle);
  while (client_->Usable() &&
         FramesSince(since, jack_last_frame_time(client_->handle)) < 2 * period &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(kPoll);
  }
}

#else

struct JackGraph::Client {};

JackGraph::JackGraph() = default;
JackGraph::~JackGraph() = default;

std::vector<std::string> JackGraph::OwnConnections(const std::string&) {
  return {};
}

MMRESULT JackGraph::WaitUntilLive(const std::string&, const std::vector<std::string>&,
                                  std::chrono::milliseconds) {
  return MMSYSERR_NOERROR;
}

void JackGraph::WaitTwoPeriods(std::chrono::milliseconds) {}

#endif

}  // namespace korvane::rtmidi_backend

#include "midi/rtmidi/jack_client.h"

#if KORVANE_HAVE_JACK

#include <chrono>

#include "midi/rtmidi/api_probe.h"
#include "midi/rtmidi/jack_session.h"
#include "midi/rtmidi/port_names.h"

namespace korvane::rtmidi_backend {
namespace {

// Generous for a loaded machine; a connection normally carries data once the
// server next switches graphs, a few tens of milliseconds on.
constexpr std::chrono::milliseconds kLiveTimeout{5000};
// How long a send waits for the process thread to make room.
constexpr std::chrono::milliseconds kRoomTimeout{5000};
// How long a close waits for what an output still holds to go out.
constexpr std::chrono::milliseconds kDrainTimeout{1000};
// An output's ring: 16384 bytes, 4 of them a message's length. The server's
// port buffer takes 32720 bytes in one event, so the ring is the limit.
constexpr std::size_t kOutgoingBytes = 16384;
constexpr std::size_t kLongestMessage = 16379;

std::chrono::steady_clock::time_point In(std::chrono::milliseconds time) {
  return std::chrono::steady_clock::now() + time;
}

bool ReadPorts(jack_client_t* client, bool sources, std::vector<std::string>& names) {
  names.clear();
  const char** ports = jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE,
                                      sources ? JackPortIsOutput : JackPortIsInput);
  if (ports == nullptr)
    return true;  // none at all
  for (const char** name = ports; *name != nullptr; ++name)
    names.emplace_back(*name);
  jack_free(ports);
  return true;
}

}  // namespace

JackClient::JackClient() = default;

JackClient::~JackClient() {
  std::lock_guard lock(lifecycle_);
  std::shared_ptr<JackSession> ending;
  {
    std::lock_guard current(current_);
    ending = std::move(session_);
  }
}

std::size_t JackClient::LongestMessage() {
  return kLongestMessage;
}

std::shared_ptr<JackSession> JackClient::SessionOf(const JackPort& port) {
  std::lock_guard lock(current_);
  if (session_ && session_->Number() == port.session)
    return session_;
  return nullptr;
}

std::shared_ptr<JackSession> JackClient::Session() {
  EndGone();
  if (session_)
    return session_;
  auto made = JackSession::Open(++sessions_);
  std::lock_guard lock(current_);
  session_ = made;
  return made;
}

void JackClient::EndGone() {
  std::shared_ptr<JackSession> ending;
  std::lock_guard lock(current_);
  // Once the server has gone, libjack's next client open deletes every
  // client the process still has: the dead one is closed first (outside the
  // lock, as ending goes), and its ports are stale from here on.
  if (session_ && session_->Gone())
    ending = std::move(session_);
}

void JackClient::EndIfIdle() {
  std::shared_ptr<JackSession> ending;
  {
    std::lock_guard lock(current_);
    if (!session_ || session_->PortCount() > 0)
      return;
    ending = std::move(session_);
  }
}

bool JackClient::ListPorts(bool sources, std::vector<std::string>& names) {
  const auto live = [&] {
    std::lock_guard lock(current_);
    return session_ && !session_->Gone() && ReadPorts(session_->Handle(), sources, names);
  };
  if (live())
    return true;
  // No client of ours now: one for the listing alone, never activated.
  std::lock_guard lock(lifecycle_);
  if (live())
    return true;
  EndGone();
  SilenceJack();
  jack_client_t* client =
      jack_client_open(std::string(kClientName).c_str(), JackNoStartServer, nullptr);
  if (client == nullptr)
    return false;
  const bool read = ReadPorts(client, sources, names);
  jack_client_close(client);
  return read;
}

MMRESULT JackClient::Open(const std::string& peer, std::shared_ptr<JackReceiver> receiver,
                          std::shared_ptr<JackPort>& port) {
  std::lock_guard lock(lifecycle_);
  const auto session = Session();
  if (!session)
    return MMSYSERR_NODRIVER;
  jack_client_t* client = session->Handle();
  const bool input = receiver != nullptr;
  const auto fail = [&](MMRESULT result) {
    EndIfIdle();
    return result;
  };
  if (jack_port_by_name(client, peer.c_str()) == nullptr)
    return fail(MIDIERR_NODEVICE);

  auto made = std::make_shared<JackPort>();
  made->session = session->Number();
  made->id = nextPort_++;
  made->input = input;
  if (!input)
    made->outgoing = std::make_unique<ByteRing>(kOutgoingBytes);
  const std::string name = (input ? "in-" : "out-") + std::to_string(made->id);
  made->port = jack_port_register(client, name.c_str(), JACK_DEFAULT_MIDI_TYPE,
                                  input ? JackPortIsInput : JackPortIsOutput, 0);
  if (made->port == nullptr)
    return fail(MMSYSERR_NOMEM);
  if (!session->Publish(made)) {
    jack_port_unregister(client, made->port);
    return fail(MMSYSERR_NOMEM);
  }
  ++session->PortCount();
  if (input)
    session->AddReceiver(made->id, std::move(receiver));
  const char* ours = jack_port_name(made->port);
  const int connected =
      input ? jack_connect(client, peer.c_str(), ours) : jack_connect(client, ours, peer.c_str());
  if (connected != 0) {
    const bool stillThere = jack_port_by_name(client, peer.c_str()) != nullptr;
    session->Withdraw(made);
    session->RemoveReceiver(made->id);
    jack_port_unregister(client, made->port);
    --session->PortCount();
    return fail(stillThere ? MMSYSERR_ALLOCATED : MIDIERR_NODEVICE);
  }
  port = std::move(made);
  return MMSYSERR_NOERROR;
}

void JackClient::AwaitLive(const JackPort& port) {
  if (const auto session = SessionOf(port))
    session->AwaitLive(port, In(kLiveTimeout));
}

MMRESULT JackClient::Send(JackPort& port, const unsigned char* data, std::size_t size) {
  const auto session = SessionOf(port);
  if (!session || session->Gone())
    return MIDIERR_NODEVICE;
  if (size > kLongestMessage)
    return MMSYSERR_INVALPARAM;
  // Past the deadline the message goes as it is: the connection is made, and
  // a server this slow applies it at its next period.
  session->AwaitLive(port, In(kLiveTimeout));
  const auto length = static_cast<std::uint32_t>(size);
  const std::span<const unsigned char> head(reinterpret_cast<const unsigned char*>(&length),
                                            sizeof(length));
  const auto deadline = In(kRoomTimeout);
  while (!port.outgoing->Write(head, {data, size})) {
    if (session->Gone())
      return MIDIERR_NODEVICE;
    if (!session->AwaitPeriods(session->Periods() + 1, deadline))
      return session->Gone() ? MIDIERR_NODEVICE : MIDIERR_NOTREADY;
  }
  return MMSYSERR_NOERROR;
}

void JackClient::Close(const std::shared_ptr<JackPort>& port) {
  std::lock_guard lock(lifecycle_);
  const auto session = SessionOf(*port);
  if (!session)
    return;  // its client has ended with the server
  if (!port->input) {
    // What MOM_DONE reported as sent goes out before the port ends, and a
    // period then empties its buffer, or the peer would read the last
    // message again every period until the port is gone.
    const auto deadline = In(kDrainTimeout);
    while ((port->outgoing->ReadSpace() > 0 || port->holding.load()) &&
           session->AwaitPeriods(session->Periods() + 1, deadline)) {
    }
  }
  session->Withdraw(port);
  session->RemoveReceiver(port->id);
  if (!session->Gone())
    jack_port_unregister(session->Handle(), port->port);
  --session->PortCount();
  EndIfIdle();
}

}  // namespace korvane::rtmidi_backend

#else

namespace korvane::rtmidi_backend {

// Without libjack there is no JACK to serve.
struct JackPort {};
class JackSession {};

JackClient::JackClient() = default;
JackClient::~JackClient() = default;
bool JackClient::ListPorts(bool, std::vector<std::string>& names) {
  names.clear();
  return false;
}
MMRESULT JackClient::Open(const std::string&, std::shared_ptr<JackReceiver>,
                          std::shared_ptr<JackPort>&) {
  return MMSYSERR_NODRIVER;
}
void JackClient::AwaitLive(const JackPort&) {}
MMRESULT JackClient::Send(JackPort&, const unsigned char*, std::size_t) {
  return MIDIERR_NODEVICE;
}
void JackClient::Close(const std::shared_ptr<JackPort>&) {}
std::size_t JackClient::LongestMessage() {
  return 0;
}

}  // namespace korvane::rtmidi_backend

#endif

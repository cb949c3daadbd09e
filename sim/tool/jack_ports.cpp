#include "sim/tool/jack_ports.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "midi/protocol.h"

namespace korvane {

namespace {

// JACK prints its own complaints, in one write each as korvane-sim's own
// lines are; they are quiet while we only look for a server, and once it
// is gone.
std::atomic<bool> quietJack{true};

void JackMessage(const char* text) {
  if (quietJack.load())
    return;
  const std::string line = std::string("JACK: ") + text + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

JackPorts::Opened Taken(const std::string& client) {
  return {nullptr,
          "a MIDI client named \"" + client +
              "\" is already on JACK (another korvane-sim?); choose another --port",
          true};
}

// Opens a client of exactly this name. JACK refuses a name in use without
// saying so in the status (only "server error"), so the name is looked up.
jack_client_t* OpenExactly(const std::string& name, JackPorts::Opened& failure) {
  jack_status_t status{};
  const auto options = static_cast<jack_options_t>(JackNoStartServer | JackUseExactName);
  if (jack_client_t* client = jack_client_open(name.c_str(), options, &status))
    return client;
  if (status & JackServerFailed) {
    failure = {nullptr, "no server runs", false};
    return nullptr;
  }
  failure = {nullptr, "the client \"" + name + "\" could not be opened", false};
  if (jack_client_t* lookup = jack_client_open("korvane-sim lookup", JackNoStartServer, nullptr)) {
    if (char* uuid = jack_get_uuid_for_client_name(lookup, name.c_str())) {
      jack_free(uuid);
      failure = Taken(name);
    }
    jack_client_close(lookup);
  }
  return nullptr;
}

}  // namespace

JackPorts::Opened JackPorts::Open(const std::string& name, Callbacks callbacks) {
  jack_set_error_function(JackMessage);
  jack_set_info_function(JackMessage);
  quietJack = true;
  std::unique_ptr<JackPorts> ports(new JackPorts());
  ports->callbacks_ = std::move(callbacks);
  // Exact names: a client of the same name would make the server rename
  // ours, and an updater could not tell the two controllers apart.
  Opened failure;
  ports->inClient_ = OpenExactly(name + " In", failure);
  if (ports->inClient_ == nullptr)
    return failure;
  ports->outClient_ = OpenExactly(name + " Out", failure);
  if (ports->outClient_ == nullptr)
    return failure;
  quietJack = false;
  JackPorts* self = ports.get();
  jack_on_shutdown(ports->inClient_, &JackPorts::OnShutdown, self);
  if (jack_set_process_callback(ports->inClient_, &JackPorts::ProcessIn, self) != 0 ||
      jack_set_process_callback(ports->outClient_, &JackPorts::ProcessOut, self) != 0 ||
      jack_set_port_connect_callback(ports->inClient_, &JackPorts::OnConnect, self) != 0 ||
      jack_activate(ports->inClient_) != 0 || jack_activate(ports->outClient_) != 0) {
    return {nullptr, "the clients \"" + name + " In\" and \"" + name + " Out\" could not start"};
  }
  // A port of a client not yet running is listed but refuses connections;
  // an updater that found it then would send into nothing.
  jack_port_t* in = jack_port_register(ports->inClient_, name.c_str(), JACK_DEFAULT_MIDI_TYPE,
                                       JackPortIsInput, 0);
  jack_port_t* out = jack_port_register(ports->outClient_, name.c_str(), JACK_DEFAULT_MIDI_TYPE,
                                        JackPortIsOutput, 0);
  if (in == nullptr || out == nullptr)
    return {nullptr, "the ports named \"" + name + "\" could not be registered"};
  ports->inputName_ = jack_port_name(in);
  ports->outputName_ = jack_port_name(out);
  ports->inPort_ = in;
  ports->outPort_ = out;
  return {std::move(ports), {}, false};
}

JackPorts::~JackPorts() {
  Close();
}

void JackPorts::Close() {
  {
    std::lock_guard lock(outMutex_);
    if (closed_)
      return;
    closed_ = true;
    outQueue_.clear();
  }
  // Whole clients, never a port alone (see the header). The input first: no
  // callback reaches the controller once it returns.
  if (inClient_ != nullptr)
    jack_client_close(inClient_);
  if (outClient_ != nullptr)
    jack_client_close(outClient_);
}

void JackPorts::Send(const Bytes& message) {
  std::lock_guard lock(outMutex_);
  if (!closed_)
    outQueue_.push_back(message);
}

bool JackPorts::CarryMessages(std::chrono::milliseconds deadline,
                              const std::function<bool()>& stop) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  bool joined = false;
  bool carried = false;
  while (!carried && !stop() && std::chrono::steady_clock::now() < end) {
    if (!joined) {
      const int result = jack_connect(inClient_, outputName_.c_str(), inputName_.c_str());
      joined = result == 0 || result == EEXIST;
    }
    if (!joined) {
      // The server is not ready for it yet: tried again.
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      continue;
    }
    const int before = probesIn_.load();
    Send(ProbeMessage());
    for (int i = 0; i < 25 && !carried && !stop(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      carried = probesIn_.load() > before;
    }
  }
  if (joined)
    jack_disconnect(inClient_, outputName_.c_str(), inputName_.c_str());
  return carried;
}

int JackPorts::ProcessIn(jack_nframes_t frames, void* arg) {
  auto* self = static_cast<JackPorts*>(arg);
  jack_port_t* port = self->inPort_.load();
  if (port == nullptr)
    return 0;
  void* buffer = jack_port_get_buffer(port, frames);
  const std::uint32_t count = jack_midi_get_event_count(buffer);
  for (std::uint32_t i = 0; i < count; ++i) {
    jack_midi_event_t event;
    if (jack_midi_event_get(&event, buffer, i) == 0 && event.size > 0)
      self->TakeEvent(event.buffer, event.size);
  }
  return 0;
}

void JackPorts::TakeEvent(const unsigned char* bytes, std::size_t size) {
  const unsigned char first = bytes[0];
  if (first >= 0xF8)
    return;  // real-time messages may come between the pieces of a SysEx
  if (first == kSysExStart) {
    assembling_.assign(bytes, bytes + size);
  } else if (!assembling_.empty() && (first < 0x80 || first == kSysExEnd)) {
    assembling_.insert(assembling_.end(), bytes, bytes + size);
  } else {
    assembling_.clear();  // no SysEx: nothing for the controller
    return;
  }
  if (assembling_.back() != kSysExEnd)
    return;
  Bytes message = std::move(assembling_);
  assembling_.clear();
  if (IsProbeMessage(message)) {
    ++probesIn_;
    return;
  }
  try {
    callbacks_.receive(std::move(message));
  } catch (...) {
    // Nothing may leave JACK's thread; a message lost here is a reply that
    // never comes, which the updater handles.
  }
}

int JackPorts::ProcessOut(jack_nframes_t frames, void* arg) {
  auto* self = static_cast<JackPorts*>(arg);
  jack_port_t* port = self->outPort_.load();
  if (port == nullptr)
    return 0;
  void* buffer = jack_port_get_buffer(port, frames);
  jack_midi_clear_buffer(buffer);
  std::unique_lock lock(self->outMutex_, std::try_to_lock);
  if (!lock.owns_lock())
    return 0;  // a sender holds it: the next period takes the messages
  while (!self->outQueue_.empty()) {
    const Bytes& message = self->outQueue_.front();
    jack_midi_data_t* event = jack_midi_event_reserve(buffer, 0, message.size());
    if (event == nullptr) {
      // The period is full; a message that fits in none is dropped.
      if (jack_midi_get_event_count(buffer) == 0)
        self->outQueue_.pop_front();
      break;
    }
    std::memcpy(event, message.data(), message.size());
    self->outQueue_.pop_front();
  }
  return 0;
}

void JackPorts::OnConnect(jack_port_id_t a, jack_port_id_t b, int connect, void* arg) {
  auto* self = static_cast<JackPorts*>(arg);
  // The names are read only once watching_ says they were written.
  if (!connect || !self->watching_.load())
    return;
  const jack_port_t* first = jack_port_by_id(self->inClient_, a);
  const jack_port_t* second = jack_port_by_id(self->inClient_, b);
  if (first == nullptr || second == nullptr)
    return;
  const std::string from = jack_port_name(first);
  const std::string to = jack_port_name(second);
  // Our own output joined to our input is the probe, no updater.
  if ((to == self->inputName_ && from != self->outputName_) ||
      (from == self->inputName_ && to != self->outputName_)) {
    self->callbacks_.newSession();
  }
}

void JackPorts::OnShutdown(void* arg) {
  // What the library says about a server that is gone adds nothing now.
  quietJack = true;
  static_cast<JackPorts*>(arg)->callbacks_.serverGone();
}

}  // namespace korvane

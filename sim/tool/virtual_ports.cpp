#include "sim/tool/virtual_ports.h"

#include <jack/jack.h>
#include <rtmidi/RtMidi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

#include "midi/rtmidi/api_probe.h"
#include "midi/rtmidi/device_list.h"
#include "midi/rtmidi/send_message.h"
#include "sim/tool/error_line.h"

namespace korvane {

namespace {

// JACK prints its own complaints; they are quiet while we only probe.
std::atomic<bool> quietJack{false};

void JackMessage(const char* text) {
  if (!quietJack.load())
    std::fprintf(stderr, "JACK: %s\n", text);
}

// RtMidi's warnings and errors arrive here instead of as exceptions.
void RtMidiMessage(RtMidiError::Type type, const std::string& text, void*) {
  if (type != RtMidiError::WARNING && type != RtMidiError::DEBUG_WARNING)
    PrintErrorLine(text);
}

// The ports are two clients of their own on JACK, whose client names must
// differ; the ports themselves carry the chosen name.
std::string InputClient(const std::string& name) {
  return name + " In";
}
std::string OutputClient(const std::string& name) {
  return name + " Out";
}

// A SysEx under the identifier for non-commercial use: no controller message.
const std::vector<unsigned char> kPing = {0xF0, 0x7D, 'K', 'S', 'I', 'M', 0xF7};

// The index of the first port whose name begins with prefix (ALSA appends
// the client and port numbers), or -1.
int FindPortByPrefix(RtMidi& midi, const std::string& prefix) {
  const unsigned count = midi.getPortCount();
  for (unsigned i = 0; i < count; ++i) {
    if (midi.getPortName(i).rfind(prefix, 0) == 0)
      return static_cast<int>(i);
  }
  return -1;
}

void QuietError(RtMidiError::Type, const std::string&, void*) {}

// Every port name of the API, as its inputs (or outputs) list them.
template <typename Midi>
std::vector<std::string> PortNamesOf(RtMidi::Api api) {
  std::vector<std::string> names;
  try {
    Midi midi(api, "korvane-sim lookup");
    midi.setErrorCallback(QuietError, nullptr);
    for (unsigned i = 0; i < midi.getPortCount(); ++i)
      names.push_back(midi.getPortName(i));
  } catch (const std::exception&) {
  }
  return names;
}

std::vector<std::string> PortNames(RtMidi::Api api, bool inputs) {
  return inputs ? PortNamesOf<RtMidiIn>(api) : PortNamesOf<RtMidiOut>(api);
}

// Our input's ports are found among the system's outputs, which programs
// write to, and our output's among its inputs.
std::string ListedName(RtMidi::Api api, bool asInput, const std::string& prefix) {
  for (const std::string& listed : PortNames(api, asInput)) {
    if (listed.rfind(prefix, 0) == 0)
      return listed;
  }
  return prefix;
}

// The name of one of our clients that another program already has, or empty.
std::string TakenClient(RtMidi::Api api, const std::string& name) {
  std::vector<std::string> listed = PortNames(api, false);
  const std::vector<std::string> inputs = PortNames(api, true);
  listed.insert(listed.end(), inputs.begin(), inputs.end());
  for (const std::string& client : {InputClient(name), OutputClient(name)}) {
    for (const std::string& port : listed) {
      if (port.rfind(client + ":", 0) == 0)
        return client;
    }
  }
  return {};
}

// Asked as the updater's back-end asks, which silences JACK; then JACK may
// speak again.
bool JackServerRuns() {
  const bool runs = rtmidi_backend::JackCanStart();
  jack_set_error_function(JackMessage);
  jack_set_info_function(JackMessage);
  return runs;
}

}  // namespace

std::variant<std::unique_ptr<VirtualPorts>, std::string> VirtualPorts::Open(
    SimApi api, const std::string& name, ReceiveFunction receive) {
  // ALSA's library prints when there is no sequencer; trying is not an error.
  rtmidi_backend::SilenceAlsa();
  std::vector<RtMidi::Api> candidates;
  switch (api) {
    case SimApi::kJack:
      candidates = {RtMidi::UNIX_JACK};
      break;
    case SimApi::kAlsa:
      candidates = {RtMidi::LINUX_ALSA};
      break;
    case SimApi::kCore:
      candidates = {RtMidi::MACOSX_CORE};
      break;
    case SimApi::kDefault:
      candidates = {RtMidi::UNIX_JACK, RtMidi::LINUX_ALSA, RtMidi::MACOSX_CORE};
      break;
  }

  std::string why;
  const std::vector<RtMidi::Api> usable = rtmidi_backend::UsableApis();
  for (RtMidi::Api candidate : candidates) {
    const std::string apiText = rtmidi_backend::ApiName(candidate);
    if (std::find(usable.begin(), usable.end(), candidate) == usable.end()) {
      why += "\n  " + apiText + ": not built into this RtMidi";
      continue;
    }
    // RtMidi's JACK code does not survive a missing server, so ask JACK first.
    if (candidate == RtMidi::UNIX_JACK && !JackServerRuns()) {
      why += "\n  JACK: no server runs";
      continue;
    }
    try {
      // A client of the same name would make the system rename ours, and an
      // updater could not tell the two controllers apart.
      if (const std::string taken = TakenClient(candidate, name); !taken.empty()) {
        return "a MIDI client named \"" + taken + "\" is already on " + apiText +
               " (another korvane-sim?); choose another --port";
      }
      std::unique_ptr<VirtualPorts> ports(new VirtualPorts());
      ports->receive_ = receive;
      ports->api_ = candidate;
      ports->apiName_ = apiText;
      ports->name_ = name;
      ports->in_ = std::make_unique<RtMidiIn>(candidate, InputClient(name));
      ports->in_->setErrorCallback(RtMidiMessage, nullptr);
      ports->in_->ignoreTypes(false, true, true);
      ports->in_->setCallback(&VirtualPorts::OnInput, ports.get());
      ports->in_->openVirtualPort(name);
      ports->out_ = std::make_unique<RtMidiOut>(candidate, OutputClient(name));
      ports->out_->setErrorCallback(RtMidiMessage, nullptr);
      ports->out_->openVirtualPort(name);
      ports->inputName_ = ListedName(candidate, false, InputClient(name) + ":" + name);
      ports->outputName_ = ListedName(candidate, true, OutputClient(name) + ":" + name);
      return ports;
    } catch (const std::exception& error) {
      why += "\n  " + apiText + ": " + error.what();
    }
  }
  return "no MIDI system could carry the ports:" + why;
}

VirtualPorts::~VirtualPorts() {
  // The input first: no callback may reach the session once it is gone.
  try {
    if (in_) {
      in_->cancelCallback();
      in_->closePort();
    }
    if (out_)
      out_->closePort();
  } catch (...) {
  }
}

bool VirtualPorts::IsPing(const std::vector<unsigned char>& message) {
  return message == kPing;
}

bool VirtualPorts::CarryMessages(std::chrono::milliseconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  auto wait = [&](const std::function<bool()>& done) {
    for (int i = 0; i < 25 && !done(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return done();
  };
  while (std::chrono::steady_clock::now() < end) {
    try {
      // Before the RtMidi objects: their threads may call back as soon as
      // those exist, and until they are gone.
      std::atomic<int> pingsOut{0};
      RtMidiOut intoInput(api_, name_ + " Probe Out");
      RtMidiIn fromOutput(api_, name_ + " Probe In");
      intoInput.setErrorCallback(QuietError, nullptr);
      fromOutput.setErrorCallback(QuietError, nullptr);
      fromOutput.ignoreTypes(false, true, true);
      fromOutput.setCallback(
          [](double, std::vector<unsigned char>* message, void* counter) {
            if (message != nullptr && IsPing(*message))
              ++*static_cast<std::atomic<int>*>(counter);
          },
          &pingsOut);
      const int in = FindPortByPrefix(intoInput, InputName());
      const int out = FindPortByPrefix(fromOutput, OutputName());
      if (in >= 0 && out >= 0) {
        intoInput.openPort(static_cast<unsigned>(in), "ping");
        fromOutput.openPort(static_cast<unsigned>(out), "pong");
        const int before = pingsIn_.load();
        bool carried = false;
        for (int round = 0; round < 5 && !carried; ++round) {
          rtmidi_backend::SendMessage(intoInput, kPing.data(), kPing.size());
          rtmidi_backend::SendMessage(*out_, kPing.data(), kPing.size());
          carried = wait([&] { return pingsIn_.load() > before && pingsOut.load() > 0; });
        }
        if (carried)
          return true;
      }
    } catch (const std::exception&) {
      // The MIDI system is not ready for a client yet: tried again.
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

void VirtualPorts::OnInput(double, std::vector<unsigned char>* message, void* user) {
  if (!message || message->empty())
    return;
  auto* self = static_cast<VirtualPorts*>(user);
  if (IsPing(*message)) {
    ++self->pingsIn_;
    return;
  }
  try {
    self->receive_(Bytes(message->begin(), message->end()));
  } catch (...) {
    // Nothing may leave the MIDI system's thread; a message lost here is a
    // reply that never comes, which the updater handles.
  }
}

void VirtualPorts::Send(const Bytes& message) {
  try {
    rtmidi_backend::SendMessage(*out_, message.data(), message.size());
  } catch (const std::exception& error) {
    PrintErrorLine(std::string("sending failed: ") + error.what());
  }
}

std::string VirtualPorts::InputClientName() const {
  return InputClient(name_);
}

std::unique_ptr<JackConnectionWatch> JackConnectionWatch::Start(const std::string& clientName,
                                                                const std::string& portName,
                                                                std::function<void()> onConnect,
                                                                std::function<void()> onShutdown) {
  quietJack = true;
  jack_client_t* client = jack_client_open(clientName.c_str(), JackNoStartServer, nullptr);
  quietJack = false;
  if (client == nullptr)
    return nullptr;
  std::unique_ptr<JackConnectionWatch> watch(new JackConnectionWatch());
  watch->client_ = client;
  watch->portName_ = portName;
  watch->onConnect_ = std::move(onConnect);
  watch->onShutdown_ = std::move(onShutdown);
  jack_on_shutdown(client, &JackConnectionWatch::OnShutdown, watch.get());
  if (jack_set_port_connect_callback(client, &JackConnectionWatch::OnConnect, watch.get()) != 0 ||
      jack_activate(client) != 0) {
    return nullptr;  // the destructor closes the client
  }
  return watch;
}

JackConnectionWatch::~JackConnectionWatch() {
  if (client_ != nullptr)
    jack_client_close(static_cast<jack_client_t*>(client_));
}

void JackConnectionWatch::OnShutdown(void* self) {
  // What the library says about a server that is gone adds nothing now.
  quietJack = true;
  static_cast<JackConnectionWatch*>(self)->onShutdown_();
}

void JackConnectionWatch::OnConnect(unsigned a, unsigned b, int connect, void* self) {
  auto* watch = static_cast<JackConnectionWatch*>(self);
  if (!connect)
    return;
  auto* client = static_cast<jack_client_t*>(watch->client_);
  for (const unsigned id : {a, b}) {
    const jack_port_t* port = jack_port_by_id(client, id);
    if (port != nullptr && watch->portName_ == jack_port_name(port)) {
      watch->onConnect_();
      return;
    }
  }
}

}  // namespace korvane

#include "sim/tool/rtmidi_ports.h"

#include <algorithm>
#include <thread>

#include "midi/rtmidi/api_descriptor.h"
#include "midi/rtmidi/device_list.h"
#include "midi/rtmidi/send_message.h"
#include "sim/tool/error_line.h"

namespace korvane {

namespace {

// RtMidi's warnings and errors arrive here instead of as exceptions.
void RtMidiMessage(RtMidiError::Type type, const std::string& text, void*) {
  if (type != RtMidiError::WARNING && type != RtMidiError::DEBUG_WARNING)
    PrintErrorLine(text);
}

void QuietError(RtMidiError::Type, const std::string&, void*) {}

std::string InputClient(const std::string& name) {
  return name + " In";
}
std::string OutputClient(const std::string& name) {
  return name + " Out";
}

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

}  // namespace

std::variant<std::unique_ptr<VirtualPorts>, std::string> RtMidiPorts::Open(RtMidi::Api api,
                                                                           const std::string& name,
                                                                           Callbacks callbacks) {
  const std::string apiText = rtmidi_backend::ApiName(api);
  try {
    std::unique_ptr<RtMidiPorts> ports(new RtMidiPorts());
    ports->callbacks_ = std::move(callbacks);
    ports->api_ = api;
    ports->apiName_ = apiText;
    ports->name_ = name;
    ports->in_ = std::make_unique<RtMidiIn>(api, InputClient(name));
    ports->in_->setErrorCallback(RtMidiMessage, nullptr);
    ports->in_->ignoreTypes(false, true, true);
    ports->in_->setCallback(&RtMidiPorts::OnInput, ports.get());
    ports->in_->openVirtualPort(name);
    ports->out_ = std::make_unique<RtMidiOut>(api, OutputClient(name));
    ports->out_->setErrorCallback(RtMidiMessage, nullptr);
    ports->out_->openVirtualPort(name);
    ports->inputName_ = ListedName(api, false, InputClient(name) + ":" + name);
    ports->outputName_ = ListedName(api, true, OutputClient(name) + ":" + name);
    return ports;
  } catch (const std::exception& error) {
    return apiText + ": " + error.what();
  }
}

std::string RtMidiPorts::TakenName(RtMidi::Api api, const std::string& name) {
  const std::string taken = TakenClient(api, name);
  if (taken.empty())
    return {};
  return "a MIDI client named \"" + taken + "\" is already on " + rtmidi_backend::ApiName(api) +
         " (another korvane-sim?); choose another --port";
}

RtMidiPorts::~RtMidiPorts() {
  alsaWatch_.reset();
  Close();
}

void RtMidiPorts::Close() {
  {
    std::lock_guard lock(sendMutex_);
    if (closed_)
      return;
    closed_ = true;
  }
  // The input first: no callback may reach the session once it is gone. A
  // virtual port leaves the MIDI system only with its RtMidi object (ALSA
  // keeps it through closePort), as a pulled USB cable takes its ports.
  try {
    if (in_) {
      in_->cancelCallback();
      in_->closePort();
    }
    if (out_)
      out_->closePort();
    in_.reset();
    out_.reset();
  } catch (...) {
  }
}

void RtMidiPorts::Send(const Bytes& message) {
  std::lock_guard lock(sendMutex_);
  if (closed_)
    return;
  try {
    rtmidi_backend::SendMessage(*out_, message.data(), message.size());
  } catch (const std::exception& error) {
    PrintErrorLine(std::string("sending failed: ") + error.what());
  }
}

void RtMidiPorts::WatchConnections() {
  if (rtmidi_backend::Describe(api_).announcesConnections) {
    alsaWatch_ =
        AlsaConnectionWatch::Start(InputClient(name_), name_, [this] { callbacks_.newSession(); });
    // Said, not hidden: without the watch a second update is stored after
    // the first.
    if (!alsaWatch_)
      PrintErrorLine(
          "cannot watch the sequencer for updaters connecting; each update "
          "continues the firmware of the one before");
  }
}

bool RtMidiPorts::CarryMessages(std::chrono::milliseconds deadline,
                                const std::function<bool()>& stop) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  auto wait = [&](const std::function<bool()>& done) {
    for (int i = 0; i < 25 && !done() && !stop(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return done();
  };
  const std::vector<unsigned char> probe(ProbeMessage().begin(), ProbeMessage().end());
  while (std::chrono::steady_clock::now() < end && !stop()) {
    try {
      // Before the RtMidi objects: their threads may call back as soon as
      // those exist, and until they are gone.
      std::atomic<int> probesOut{0};
      RtMidiOut intoInput(api_, name_ + " Probe Out");
      RtMidiIn fromOutput(api_, name_ + " Probe In");
      intoInput.setErrorCallback(QuietError, nullptr);
      fromOutput.setErrorCallback(QuietError, nullptr);
      fromOutput.ignoreTypes(false, true, true);
      fromOutput.setCallback(
          [](double, std::vector<unsigned char>* message, void* counter) {
            if (message != nullptr && IsProbeMessage(*message))
              ++*static_cast<std::atomic<int>*>(counter);
          },
          &probesOut);
      const int in = FindPortByPrefix(intoInput, InputName());
      const int out = FindPortByPrefix(fromOutput, OutputName());
      if (in >= 0 && out >= 0) {
        intoInput.openPort(static_cast<unsigned>(in), "ping");
        fromOutput.openPort(static_cast<unsigned>(out), "pong");
        const int before = probesIn_.load();
        bool carried = false;
        for (int round = 0; round < 5 && !carried && !stop(); ++round) {
          rtmidi_backend::SendMessage(intoInput, probe.data(), probe.size());
          Send(ProbeMessage());
          carried = wait([&] { return probesIn_.load() > before && probesOut.load() > 0; });
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

void RtMidiPorts::OnInput(double, std::vector<unsigned char>* message, void* user) {
  if (!message || message->empty())
    return;
  auto* self = static_cast<RtMidiPorts*>(user);
  if (IsProbeMessage(*message)) {
    ++self->probesIn_;
    return;
  }
  try {
    self->callbacks_.receive(Bytes(message->begin(), message->end()));
  } catch (...) {
    // Nothing may leave the MIDI system's thread; a message lost here is a
    // reply that never comes, which the updater handles.
  }
}

}  // namespace korvane

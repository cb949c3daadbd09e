#include "sim/tool/virtual_ports.h"

#include <jack/jack.h>
#include <rtmidi/RtMidi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <iostream>

#ifdef KORVANE_SIM_HAVE_ALSA
#include <alsa/asoundlib.h>
#endif

namespace korvane {

namespace {

// JACK prints its own complaints; they are quiet while we only probe.
std::atomic<bool> quietJack{false};

void JackMessage(const char* text) {
  if (!quietJack.load())
    std::fprintf(stderr, "JACK: %s\n", text);
}

#ifdef KORVANE_SIM_HAVE_ALSA
// ALSA's library prints when there is no sequencer; trying is not an error.
void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}
#endif

// RtMidi's warnings and errors arrive here instead of as exceptions.
void RtMidiMessage(RtMidiError::Type type, const std::string& text, void*) {
  if (type != RtMidiError::WARNING && type != RtMidiError::DEBUG_WARNING)
    std::cerr << "korvane-sim: " << text << std::endl;
}

bool Compiled(RtMidi::Api api) {
  std::vector<RtMidi::Api> apis;
  RtMidi::getCompiledApi(apis);
  return std::find(apis.begin(), apis.end(), api) != apis.end();
}

const char* ApiText(RtMidi::Api api) {
  switch (api) {
    case RtMidi::UNIX_JACK:
      return "JACK";
    case RtMidi::LINUX_ALSA:
      return "ALSA";
    case RtMidi::MACOSX_CORE:
      return "CoreMIDI";
    default:
      return "MIDI";
  }
}

// The ports are two clients of their own on JACK, whose client names must
// differ; the ports themselves carry the chosen name.
std::string InputClient(const std::string& name) {
  return name + " In";
}
std::string OutputClient(const std::string& name) {
  return name + " Out";
}

}  // namespace

bool JackServerRuns() {
  jack_set_error_function(JackMessage);
  jack_set_info_function(JackMessage);
  quietJack = true;
  jack_status_t status{};
  jack_client_t* client = jack_client_open("korvane-sim probe", JackNoStartServer, &status);
  const bool runs = client != nullptr;
  if (client)
    jack_client_close(client);
  quietJack = false;
  return runs;
}

std::variant<std::unique_ptr<VirtualPorts>, std::string> VirtualPorts::Open(
    SimApi api, const std::string& name, ReceiveFunction receive) {
#ifdef KORVANE_SIM_HAVE_ALSA
  snd_lib_error_set_handler(QuietAlsa);
#endif
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
  for (RtMidi::Api candidate : candidates) {
    const std::string apiText = ApiText(candidate);
    if (!Compiled(candidate)) {
      why += "\n  " + apiText + ": not built into this RtMidi";
      continue;
    }
    // RtMidi's JACK code does not survive a missing server, so ask JACK first.
    if (candidate == RtMidi::UNIX_JACK && !JackServerRuns()) {
      why += "\n  JACK: no server runs";
      continue;
    }
    try {
      std::unique_ptr<VirtualPorts> ports(new VirtualPorts());
      ports->receive_ = receive;
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

void VirtualPorts::OnInput(double, std::vector<unsigned char>* message, void* user) {
  if (!message || message->empty())
    return;
  auto* self = static_cast<VirtualPorts*>(user);
  try {
    self->receive_(Bytes(message->begin(), message->end()));
  } catch (...) {
    // Nothing may leave the MIDI system's thread; a message lost here is a
    // reply that never comes, which the updater handles.
  }
}

void VirtualPorts::Send(const Bytes& message) {
  try {
    out_->sendMessage(message.data(), message.size());
  } catch (const std::exception& error) {
    std::cerr << "korvane-sim: sending failed: " << error.what() << std::endl;
  }
}

std::string VirtualPorts::InputName() const {
  return InputClient(name_) + ":" + name_;
}

std::string VirtualPorts::OutputName() const {
  return OutputClient(name_) + ":" + name_;
}

}  // namespace korvane

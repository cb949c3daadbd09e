// The controller's two virtual MIDI ports on a real MIDI system (JACK, ALSA or
// CoreMIDI), through RtMidi: an input that hands every SysEx it receives to a
// function, and an output that sends whole messages.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <variant>

#include "sim/device_model.h"
#include "sim/tool/sim_options.h"

class RtMidiIn;
class RtMidiOut;

namespace korvane {

class VirtualPorts {
 public:
  // Called on the MIDI system's thread; must not block for long.
  using ReceiveFunction = std::function<void(Bytes)>;

  // The ports, or a text that says why they could not be made.
  static std::variant<std::unique_ptr<VirtualPorts>, std::string> Open(SimApi api,
                                                                       const std::string& name,
                                                                       ReceiveFunction receive);
  ~VirtualPorts();
  VirtualPorts(const VirtualPorts&) = delete;
  VirtualPorts& operator=(const VirtualPorts&) = delete;

  // Sends one whole message; a failure is printed, never thrown.
  void Send(const Bytes& message);
  // "JACK", "ALSA" or "CoreMIDI".
  const std::string& ApiName() const { return apiName_; }
  // The names the two ports show under, as other programs list them.
  std::string InputName() const;
  std::string OutputName() const;

 private:
  VirtualPorts() = default;
  static void OnInput(double timeStamp, std::vector<unsigned char>* message, void* user);

  ReceiveFunction receive_;
  std::string apiName_;
  std::string name_;
  std::unique_ptr<RtMidiIn> in_;
  std::unique_ptr<RtMidiOut> out_;
};

// True when a JACK server accepts clients (JACK_DEFAULT_SERVER is honoured);
// says nothing on stderr either way.
bool JackServerRuns();

}  // namespace korvane

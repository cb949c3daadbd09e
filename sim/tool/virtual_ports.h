// The controller's two virtual MIDI ports on a real MIDI system (JACK, ALSA or
// CoreMIDI), through RtMidi: an input that hands every SysEx it receives to a
// function, and an output that sends whole messages.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <variant>

#include "sim/device_model.h"
#include "sim/tool/sim_options.h"

#include <rtmidi/RtMidi.h>

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
  // Proves that both ports carry messages: a probe of our own sends into the
  // input and listens on the output. A port that is listed may not carry
  // data for a moment yet; an updater that asks then gets no answer. Tries
  // until the deadline; the probe's messages never reach the controller.
  bool CarryMessages(std::chrono::milliseconds deadline);
  // "JACK", "ALSA" or "CoreMIDI".
  const std::string& ApiName() const { return apiName_; }
  // The name of the input's own client, and the port's.
  std::string InputClientName() const;
  const std::string& PortName() const { return name_; }
  // The names the two ports show under, as the MIDI system lists them (ALSA
  // adds the client and port numbers).
  const std::string& InputName() const { return inputName_; }
  const std::string& OutputName() const { return outputName_; }

 private:
  VirtualPorts() = default;
  static void OnInput(double timeStamp, std::vector<unsigned char>* message, void* user);

  // Our probe's message, told apart from anything an updater sends.
  static bool IsPing(const std::vector<unsigned char>& message);

  ReceiveFunction receive_;
  std::atomic<int> pingsIn_{0};
  RtMidi::Api api_ = RtMidi::UNSPECIFIED;
  std::string apiName_;
  std::string name_;
  std::string inputName_;
  std::string outputName_;
  std::unique_ptr<RtMidiIn> in_;
  std::unique_ptr<RtMidiOut> out_;
};

// Calls onConnect (on a JACK thread) whenever a port is connected to the
// named one, and onShutdown when the server goes away, for as long as it
// lives. Nothing when JACK does not run.
class JackConnectionWatch {
 public:
  static std::unique_ptr<JackConnectionWatch> Start(const std::string& clientName,
                                                    const std::string& portName,
                                                    std::function<void()> onConnect,
                                                    std::function<void()> onShutdown);
  ~JackConnectionWatch();
  JackConnectionWatch(const JackConnectionWatch&) = delete;
  JackConnectionWatch& operator=(const JackConnectionWatch&) = delete;

 private:
  JackConnectionWatch() = default;
  static void OnConnect(unsigned a, unsigned b, int connect, void* self);
  static void OnShutdown(void* self);

  void* client_ = nullptr;  // jack_client_t, kept out of this header
  std::string portName_;
  std::function<void()> onConnect_;
  std::function<void()> onShutdown_;
};

}  // namespace korvane

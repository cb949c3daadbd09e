// The controller's two virtual MIDI ports on a real MIDI system: an input
// that hands every SysEx it receives to a function, and an output that sends
// whole messages. On JACK they are clients of korvane-sim's own
// (jack_ports.h); on ALSA and CoreMIDI they are RtMidi's (rtmidi_ports.h).
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <variant>

#include "sim/device_model.h"
#include "sim/tool/sim_options.h"

namespace korvane {

class VirtualPorts {
 public:
  struct Callbacks {
    // A message arrived; called on the MIDI system's thread, must not block for long.
    std::function<void(Bytes)> receive;
    // An updater connected to the input, once WatchConnections was called.
    std::function<void()> newSession;
    // The MIDI server went away (JACK).
    std::function<void()> serverGone;
  };

  // The ports, or a text that says why they could not be made.
  static std::variant<std::unique_ptr<VirtualPorts>, std::string> Open(SimApi api,
                                                                       const std::string& name,
                                                                       Callbacks callbacks);
  virtual ~VirtualPorts() = default;

  // Sends one whole message; a failure is printed, never thrown. Any thread
  // may send; sends wait for each other (two at once in RtMidi's output
  // corrupted JACK's ring buffer for good).
  virtual void Send(const Bytes& message) = 0;
  // Takes both ports out of the MIDI system, as a cable pulled; what is sent
  // afterwards goes nowhere.
  virtual void Close() = 0;
  // Proves that both ports carry messages with a probe message of our own,
  // which never reaches the controller. A port that is listed may not carry
  // data for a moment yet; an updater that asks then gets no answer. Tries
  // until the deadline, or until stop says so.
  virtual bool CarryMessages(std::chrono::milliseconds deadline,
                             const std::function<bool()>& stop) = 0;
  // From now on an updater that connects to the input begins a new session.
  virtual void WatchConnections() = 0;

  // "JACK", "ALSA" or "CoreMIDI".
  virtual const std::string& ApiName() const = 0;
  // The names the two ports show under, as the MIDI system lists them (ALSA
  // adds the client and port numbers).
  virtual const std::string& InputName() const = 0;
  virtual const std::string& OutputName() const = 0;
};

// The probe's message: a SysEx under the identifier for non-commercial use,
// no controller message.
const Bytes& ProbeMessage();
bool IsProbeMessage(std::span<const std::uint8_t> message);

}  // namespace korvane

// The controller's ports on ALSA or CoreMIDI, through RtMidi: a virtual
// input and output of clients "NAME In" and "NAME Out". Connections to the
// input are watched on ALSA (alsa_connection_watch.h).
#pragma once

#include <rtmidi/RtMidi.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "sim/tool/alsa_connection_watch.h"
#include "sim/tool/virtual_ports.h"

namespace korvane {

class RtMidiPorts final : public VirtualPorts {
 public:
  // Why one of our clients' names is taken on api ("a MIDI client named
  // ..."), or empty.
  static std::string TakenName(RtMidi::Api api, const std::string& name);
  // The ports on api, or why not.
  static std::variant<std::unique_ptr<VirtualPorts>, std::string> Open(RtMidi::Api api,
                                                                       const std::string& name,
                                                                       Callbacks callbacks);
  ~RtMidiPorts() override;

  void Send(const Bytes& message) override;
  void Close() override;
  // A probe client of our own sends into the input and listens on the output.
  bool CarryMessages(std::chrono::milliseconds deadline,
                     const std::function<bool()>& stop) override;
  void WatchConnections() override;

  const std::string& ApiName() const override { return apiName_; }
  const std::string& InputName() const override { return inputName_; }
  const std::string& OutputName() const override { return outputName_; }

 private:
  RtMidiPorts() = default;
  static void OnInput(double timeStamp, std::vector<unsigned char>* message, void* user);

  Callbacks callbacks_;
  std::atomic<int> probesIn_{0};
  RtMidi::Api api_ = RtMidi::UNSPECIFIED;
  std::string apiName_;
  std::string name_;
  std::string inputName_;
  std::string outputName_;
  std::unique_ptr<RtMidiIn> in_;
  std::unique_ptr<RtMidiOut> out_;
  std::mutex sendMutex_;  // one sender at a time; guards closed_ too
  bool closed_ = false;
  std::unique_ptr<AlsaConnectionWatch> alsaWatch_;
};

}  // namespace korvane

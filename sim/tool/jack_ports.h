// The controller's ports on JACK as two clients of korvane-sim's own, "NAME
// In" with the input port NAME and "NAME Out" with the output port NAME.
// RtMidi's would do but for taking them away: it unregisters a port before
// closing its client, and libjack's notification thread walks the client's
// port list without a lock while jack_port_unregister erases from it (a
// SIGSEGV when the graph changed at that moment). A client closed whole has
// its notification thread stopped first, so these ports go only that way.
#pragma once

#include <jack/types.h>

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "sim/tool/virtual_ports.h"

namespace korvane {

class JackPorts final : public VirtualPorts {
 public:
  struct Opened {
    std::unique_ptr<VirtualPorts> ports;
    std::string why;     // when there are no ports
    bool taken = false;  // another client has one of the names
  };
  static Opened Open(const std::string& name, Callbacks callbacks);
  ~JackPorts() override;

  void Send(const Bytes& message) override;
  void Close() override;
  // The output is joined to the input for the probe: whatever the output
  // sends meanwhile also comes back in, and the controller ignores replies.
  bool CarryMessages(std::chrono::milliseconds deadline,
                     const std::function<bool()>& stop) override;
  void WatchConnections() override { watching_ = true; }

  const std::string& ApiName() const override { return apiName_; }
  const std::string& InputName() const override { return inputName_; }
  const std::string& OutputName() const override { return outputName_; }

 private:
  JackPorts() = default;
  static int ProcessIn(jack_nframes_t frames, void* self);
  static int ProcessOut(jack_nframes_t frames, void* self);
  static void OnConnect(jack_port_id_t a, jack_port_id_t b, int connect, void* self);
  static void OnShutdown(void* self);
  void TakeEvent(const unsigned char* bytes, std::size_t size);

  Callbacks callbacks_;
  const std::string apiName_ = "JACK";
  std::string inputName_;
  std::string outputName_;
  jack_client_t* inClient_ = nullptr;
  jack_client_t* outClient_ = nullptr;
  // Registered once the clients run, so that a port is never listed before
  // it can be connected; the process threads may run before then.
  std::atomic<jack_port_t*> inPort_{nullptr};
  std::atomic<jack_port_t*> outPort_{nullptr};
  Bytes assembling_;  // a SysEx arriving in pieces; the input's process thread only
  std::atomic<int> probesIn_{0};
  std::atomic<bool> watching_{false};
  // What waits to go out; the output's process thread takes it without
  // waiting for the lock, or in its next period.
  std::mutex outMutex_;
  std::deque<Bytes> outQueue_;
  bool closed_ = false;
};

}  // namespace korvane

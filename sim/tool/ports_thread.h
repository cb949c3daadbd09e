// korvane-sim's ports over their life, on a thread of their own: opened,
// proved to carry messages, watched for updaters, announced ready, and taken
// out of the MIDI system when the controller vanishes. The MIDI system may
// keep a call waiting for seconds (a JACK server busy with other clients), so
// none of this runs on the main thread, which stays free to end the program
// at a signal whatever the ports are doing.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "sim/device_model.h"
#include "sim/tool/sim_options.h"
#include "sim/tool/virtual_ports.h"

namespace korvane {

class PortsThread {
 public:
  struct Events {
    std::function<void(Bytes)> receive;  // a message arrived, on the MIDI system's thread
    std::function<void()> newSession;    // an updater connected to the input
    std::function<void()> failed;        // no ports could be made; said on stderr
    std::function<void()> serverGone;    // the JACK server went away
  };

  // controller names the controller in the line that announces the ports.
  PortsThread(SimApi api, std::string portName, std::string controller);
  // Asks the thread to stop and joins it. korvane-sim itself ends with
  // _Exit instead, while the thread may still be inside the MIDI system.
  ~PortsThread();
  PortsThread(const PortsThread&) = delete;
  PortsThread& operator=(const PortsThread&) = delete;

  void Start(Events events);
  // Any thread. Dropped before the ports are open and after they vanished.
  void Send(const Bytes& message);
  // The ports leave the MIDI system; returns at once, the thread takes them away.
  void Vanish();
  // At the end: the thread closes the ports if it can within the time given
  // (false if it could not, e.g. still waiting for the MIDI system).
  bool CloseWithin(std::chrono::milliseconds limit);

 private:
  void Run();
  bool Stopping();

  const SimApi api_;
  const std::string portName_;
  const std::string controller_;
  Events events_;
  std::mutex mutex_;  // guards ports_ and the flags
  std::condition_variable wake_;
  std::unique_ptr<VirtualPorts> ports_;
  bool vanish_ = false;
  bool stopping_ = false;
  bool done_ = false;  // the ports are closed, or were never made
  std::thread thread_;
};

}  // namespace korvane

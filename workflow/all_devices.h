// Every controller at once: one scan finds every controller of the file's model,
// then each is updated on its own pair of ports at the same time, each run
// with its own state, log and verdict. The engine's steps are called in
// order here, without a window thread to post them to.
#pragma once

#include <chrono>
#include <cstddef>
#include <thread>

#include "run/update_state.h"
#include "workflow/steps_in_order.h"

namespace korvane {

// One controller's update: a state of its own on the scan's MIDI services
// that opens only the device's two ports. Its log begins with the scan's, so
// it reads as the log of an update of that device alone.
class DeviceRun {
 public:
  DeviceRun(const UpdateState& scan, std::size_t device, Window& window);
  ~DeviceRun();
  DeviceRun(const DeviceRun&) = delete;
  DeviceRun& operator=(const DeviceRun&) = delete;

  // Opens the pair and sends the firmware on a thread of its own.
  void Start();
  // Waits for the verdict; the ports are closed when it returns.
  void Join();

  UpdateState& State() { return state_; }
  const FoundDevice& Device() const { return state_.foundDevices.front(); }
  std::chrono::duration<double> Duration() const { return ended_ - started_; }

 private:
  void Run();

  UpdateState state_;
  std::chrono::steady_clock::time_point started_, ended_;
  std::thread thread_;
};

}  // namespace korvane

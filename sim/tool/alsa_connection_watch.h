// On ALSA, how korvane-sim hears an updater connect (JACK tells its own
// clients, jack_ports.h): calls onConnect (on a thread of its own) whenever
// a port subscribes to the named port of one of this process's clients, as
// the sequencer announces it on its system port.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace korvane {

class AlsaConnectionWatch {
 public:
  // Nothing when there is no sequencer, ALSA is not built in, or the port is
  // not found.
  static std::unique_ptr<AlsaConnectionWatch> Start(const std::string& clientName,
                                                    const std::string& portName,
                                                    std::function<void()> onConnect);
  // Stops the thread and joins it: no call comes after.
  ~AlsaConnectionWatch();
  AlsaConnectionWatch(const AlsaConnectionWatch&) = delete;
  AlsaConnectionWatch& operator=(const AlsaConnectionWatch&) = delete;

 private:
  struct Sequencer;
  AlsaConnectionWatch() = default;
  void Run();

  std::unique_ptr<Sequencer> seq_;
  int wake_[2] = {-1, -1};  // a pipe: a byte on it ends Run
  std::function<void()> onConnect_;
  std::thread thread_;
};

}  // namespace korvane

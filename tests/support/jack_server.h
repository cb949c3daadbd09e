// A private JACK server with the dummy driver for tests that need real MIDI.
// Start() runs `jackd -n <free pooled name> -d dummy`, points JACK_DEFAULT_SERVER at
// it for this process and waits until it accepts clients; the destructor stops
// it and restores the variable. Only one at a time per process.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace korvane::testing {

class JackServer {
 public:
  JackServer() = default;
  ~JackServer();
  JackServer(const JackServer&) = delete;
  JackServer& operator=(const JackServer&) = delete;

  // True when jackd can be found on PATH; tests skip only when it cannot.
  static bool Installed();

  // Empty on success, otherwise why the server did not come up.
  std::string Start();
  void Stop();
  // Kills the server with SIGKILL, as a crash would, and reaps it; Stop()
  // then only restores the environment.
  void Kill();

  const std::string& Name() const { return name_; }

 private:
  std::string StartNamed();
  void RestoreEnvironment();

  std::string name_;
  pid_t pid_ = -1;
  int lockFd_ = -1;  // holds name_ for this process
  std::optional<std::string> previousServer_;
};

}  // namespace korvane::testing

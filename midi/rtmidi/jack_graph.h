// Waits, after RtMidi has connected one of our JACK ports to a peer, until the
// server actually carries data over that connection. JACK records a new
// connection at once but applies it to its processing graph at a later cycle,
// and on a loaded machine the first cycles of a new client come late: a
// message sent right after the open was lost there. A WinMM port is live when
// its open returns, so ours waits until the connection is listed and the
// server has run two more periods.
//
// ALSA needs no such wait: a sequencer subscription is in effect when the
// call that makes it returns.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "midi/winmm.h"

namespace korvane::rtmidi_backend {

class JackGraph {
 public:
  JackGraph();
  ~JackGraph();
  JackGraph(const JackGraph&) = delete;
  JackGraph& operator=(const JackGraph&) = delete;

  // Held around a snapshot, the open and the wait, so that a connection made
  // by another thread's open is never taken for ours; and around the end of
  // one of our clients, whose name a client made meanwhile could take.
  std::mutex& OpenLock() { return openLock_; }

  // The ports of our own clients connected to peerPort now.
  std::vector<std::string> OwnConnections(const std::string& peerPort);

  // After an open that connected to peerPort: MMSYSERR_NOERROR once a new
  // connection of ours shows and two periods have run since (or once the
  // server has stopped running cycles altogether: then none runs without the
  // connection); MIDIERR_NODEVICE when the peer port went away,
  // MIDIERR_NOTREADY when the connection never showed.
  MMRESULT WaitUntilLive(const std::string& peerPort, const std::vector<std::string>& before,
                         std::chrono::milliseconds timeout);

  // Returns once the server has run two periods since the call: a process
  // cycle that began before it has then ended, unless the client running it
  // is itself that late. Returns at once when the server is gone or no open
  // has made our client yet, and after the timeout when it runs no cycles.
  void WaitTwoPeriods(std::chrono::milliseconds timeout);

 private:
  struct Client;
  // The client, opened again when the server went away; false when none can be.
  bool Connect();

  std::mutex openLock_;
  std::unique_ptr<Client> client_;  // opened on first use, again after the server went away
};

// True when some name in `now` is not in `before`.
bool HasNewConnection(const std::vector<std::string>& before, const std::vector<std::string>& now);

// Frames from `since` to `now` on JACK's wrapping 32-bit frame clock.
inline std::uint32_t FramesSince(std::uint32_t since, std::uint32_t now) {
  return now - since;
}

}  // namespace korvane::rtmidi_backend

// The one JACK client of ours that serves every JACK port the services open,
// on libjack directly: RtMidi makes a client, and a real-time thread in the
// user's audio graph, for every port. Made on the first open and closed when
// the last port closes (or the services go), so an updater with no port open
// is no client at all.
//
// Threads: JACK's process thread moves MIDI between our ports and lock-free
// rings and takes no lock; one reader thread takes what arrived, puts SysEx
// back together and hands it to the port's receiver; opens, closes and
// listings take the client's own locks, which the process thread never does.
//
// A connection carries data only once the server has switched to a graph
// that holds it, which on a loaded machine may take several periods. An open
// does not wait for that: the first start of an input and each send on an
// output do, so that a scan opening many ports waits for one switch in all,
// not one per port, and a port is live before anything could pass through
// it, as WinMM's is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "midi/winmm.h"

namespace korvane::rtmidi_backend {

// Receives the SysEx that arrive on one of our inputs, on the reader thread.
class JackReceiver {
 public:
  virtual void Receive(const unsigned char* data, std::size_t size) noexcept = 0;

 protected:
  ~JackReceiver() = default;
};

struct JackPort;    // one port of ours (jack_session.h)
class JackSession;  // one client of the server, while it lasts (jack_session.h)

class JackClient {
 public:
  JackClient();
  ~JackClient();
  JackClient(const JackClient&) = delete;
  JackClient& operator=(const JackClient&) = delete;

  // The names of every MIDI port that sends (sources) or receives, ours
  // included, in the server's order; false when no server takes a client.
  bool ListPorts(bool sources, std::vector<std::string>& names);

  // Registers a port of ours (an input when receiver is set, else an output)
  // and connects it with peer. MMSYSERR_NODRIVER when no server takes a
  // client, MIDIERR_NODEVICE when peer is gone, MMSYSERR_ALLOCATED when it is
  // there but the connection is refused.
  MMRESULT Open(const std::string& peer, std::shared_ptr<JackReceiver> receiver,
                std::shared_ptr<JackPort>& port);
  // Returns once the port's connection carries data, the server has gone, or
  // a server that runs no periods has had its time.
  void AwaitLive(const JackPort& port);
  // Queues a whole message on an output for the process thread, once the
  // connection is live. MIDIERR_NODEVICE when the server has gone,
  // MIDIERR_NOTREADY when it took nothing for too long.
  MMRESULT Send(JackPort& port, const unsigned char* data, std::size_t size);
  // Ends a port. Waits for the server without a bound: called on the
  // teardown thread.
  void Close(const std::shared_ptr<JackPort>& port);

  // The longest message Send takes.
  static std::size_t LongestMessage();

 private:
  // The live session port belongs to, or null when it has ended.
  std::shared_ptr<JackSession> SessionOf(const JackPort& port);
  // Under lifecycle_: the session, made when there is none and remade when
  // the server went away; null when no server takes a client.
  std::shared_ptr<JackSession> Session();
  // Under lifecycle_: ends the session when no port of it is left.
  void EndIfIdle();
  // Under lifecycle_: ends the session whose server has gone.
  void EndGone();

  // Held by opens, closes and the making and ending of sessions, which may
  // wait for the server; never by the process or the reader thread.
  std::mutex lifecycle_;
  // Guards session_ for readers that must not wait behind lifecycle_.
  std::mutex current_;
  std::shared_ptr<JackSession> session_;
  std::uint64_t sessions_ = 0;  // sessions made, to tell a stale port
  std::uint32_t nextPort_ = 1;
};

}  // namespace korvane::rtmidi_backend

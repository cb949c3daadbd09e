// The end of our ports, on a thread of its own.
//
// Closing a JACK port or client is a request that libjack sends to the server
// and then waits on without a time limit: a stopped or stuck server would hold
// the close, and the window's thread that calls it, for ever. A close hands
// the end of its port to this thread and waits for it up to a bound; past the
// bound the end goes on here alone. That is safe because nothing the caller
// still holds is touched: the job owns the port it ends (the RtMidi object,
// the error slot and the callback's target), and the user's callback is done
// with before the job is given. Once one end is overdue, the closes behind it
// do not wait at all, so a server that does not answer costs one bound in all.
//
// Jobs run one at a time, in the order given; the destructor runs those still
// waiting and joins the thread, however long the server takes (libjack's
// other clients of ours wait on it at that point anyway).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include <rtmidi/RtMidi.h>

#include "midi/rtmidi/jack_client.h"

namespace korvane::rtmidi_backend {

// Long enough for a busy server: a JACK output's end waits up to 1 s for what
// it holds to go out, and a healthy server ends a port in a few periods.
inline constexpr std::chrono::milliseconds kCloseBound{2000};

class PortTeardown {
 public:
  PortTeardown();
  ~PortTeardown();
  PortTeardown(const PortTeardown&) = delete;
  PortTeardown& operator=(const PortTeardown&) = delete;

  // Runs job on the teardown thread; true when it ended within bound, false
  // when it goes on alone. job must not throw.
  bool Run(std::function<void()> job, std::chrono::milliseconds bound);

 private:
  void Work();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> jobs_;
  std::uint64_t given_ = 0;  // jobs queued so far
  std::uint64_t ended_ = 0;  // jobs run so far, in the same order
  bool overdue_ = false;     // a job outlived its bound and has not ended
  bool stopping_ = false;
  std::thread thread_;  // last: started once the state above exists
};

// Ends an RtMidi object: its port first, then the object.
template <typename Midi>
void EndMidi(std::unique_ptr<Midi>& midi) {
  if (!midi)
    return;
  try {
    midi->closePort();
  } catch (...) {
  }
  midi.reset();
}

// Ends what carries one of our ports: its port on our JACK client, or its
// RtMidi object.
template <typename Midi>
void EndPort(JackClient* jack, const std::shared_ptr<JackPort>& jackPort,
             std::unique_ptr<Midi>& midi) {
  if (jackPort)
    jack->Close(jackPort);
  else
    EndMidi(midi);
}

}  // namespace korvane::rtmidi_backend

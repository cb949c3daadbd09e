// The other side of the wire for the back-end tests: a client named "Test
// Peer" on the MIDI system under test (JACK or ALSA) with one port that sends
// to us, and one named "Test Sink" that receives from us.
#pragma once

#include <rtmidi/RtMidi.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "midi/rtmidi/send_message.h"
#include "tests/contract/callback_recorder.h"

namespace korvane::testing {

// One client per RtMidi object, each under a name of its own so that JACK
// does not rename the second one.
inline constexpr const char* kPeerClient = "Test Peer";
inline constexpr const char* kSinkClient = "Test Sink";
inline constexpr const char* kPeerSource = "Test Peer:to korvane";
inline constexpr const char* kPeerSink = "Test Sink:from korvane";

class Peer {
 public:
  explicit Peer(RtMidi::Api api)
      : out_(std::make_unique<RtMidiOut>(api, kPeerClient)), in_(api, kSinkClient) {
    in_.ignoreTypes(false, true, true);
    in_.setCallback(&Peer::OnMessage, this);
    out_->openVirtualPort("to korvane");
    in_.openVirtualPort("from korvane");
  }

  void Send(const std::vector<unsigned char>& message) {
    rtmidi_backend::SendMessage(*out_, message.data(), message.size());
  }
  // The source port goes away. Closing it is not enough: RtMidi keeps an
  // ALSA client's virtual port until the client goes.
  void CloseSource() { out_.reset(); }

  // Waits for the next message the peer received, or returns nothing.
  std::vector<unsigned char> NextReceived() {
    std::unique_lock lock(mutex_);
    if (!arrived_.wait_for(lock, kArrival, [&] { return !received_.empty(); }))
      return {};
    auto message = received_.front();
    received_.erase(received_.begin());
    return message;
  }

 private:
  static void OnMessage(double, std::vector<unsigned char>* message, void* self) {
    auto* peer = static_cast<Peer*>(self);
    {
      std::lock_guard lock(peer->mutex_);
      peer->received_.push_back(*message);
    }
    peer->arrived_.notify_all();
  }

  // Before the RtMidi objects: JACK's thread may use them as soon as those exist.
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<std::vector<unsigned char>> received_;
  std::unique_ptr<RtMidiOut> out_;
  RtMidiIn in_;
};

}  // namespace korvane::testing

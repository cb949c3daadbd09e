// The simulated controller at work: messages arrive from the MIDI system's
// thread, a thread of the session's own feeds them to the device model, prints
// one line per event and sends the replies when they are due. It carries out
// the model's scripted pauses: a paused controller takes nothing in (what
// arrives meanwhile is lost, or waits, as the pause says) and sends nothing.
//
// Threads: Deliver and NewSession may be called from any thread (the MIDI
// system's); the device model, the send function and the event stream are
// used only by the session's thread until Stop has joined it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <utility>

#include "sim/device_model.h"

namespace korvane {

// What one received message did, as a line for the user; nothing for a
// message that is not a SysEx, or a block message that completes nothing.
class EventDescriber {
 public:
  // The model's counts before a message arrived.
  struct Before {
    std::size_t blocksAccepted = 0;
    std::size_t blocksReceived = 0;
    std::size_t pending = 0;
    std::size_t lost = 0;
  };
  static Before Take(const DeviceModel& model) {
    return {model.BlocksAccepted(), model.BlocksReceived(), model.PendingMessages(),
            model.LostMessages()};
  }

  explicit EventDescriber(std::string name) : name_(std::move(name)) {}

  std::optional<std::string> Describe(const Bytes& message, const std::vector<DeviceReply>& replies,
                                      const Before& before, const DeviceModel& after);

 private:
  std::string name_;
  std::size_t currentBlock_ = 0;  // from 1; 0 before the first block
  std::size_t attempt_ = 0;
};

class ControllerSession {
 public:
  using SendFunction = std::function<void(const Bytes&)>;

  // onVanish is called once, on the session's thread, when the model's
  // ports are to leave the MIDI system; no reply is sent after it.
  ControllerSession(DeviceModelOptions options, SendFunction send, std::ostream& events,
                    std::function<void()> onVanish = {});
  ~ControllerSession();
  ControllerSession(const ControllerSession&) = delete;
  ControllerSession& operator=(const ControllerSession&) = delete;

  // Hands a received message to the session; returns at once.
  void Deliver(Bytes message);
  // An updater connected to the controller's input: a new update begins, in
  // order with the messages delivered before and after.
  void NewSession();
  // Handles what has arrived, drops replies not yet due, joins the thread.
  void Stop();
  // The firmware the model accepted, the trailing partial block included. Call after Stop.
  Bytes SavedFirmware() const { return model_.AcceptedFirmwareWithPartial(); }
  const DeviceModel& Model() const { return model_; }

 private:
  using Clock = std::chrono::steady_clock;
  struct Arrival {
    Bytes message;  // empty: a new session begins
    Clock::time_point at;
  };

  void Run();
  void Handle(const Arrival& arrival);
  void SendDue(std::unique_lock<std::mutex>& lock);
  bool Paused() const { return Clock::now() < pausedUntil_; }

  DeviceModel model_;
  EventDescriber describer_;
  SendFunction send_;
  std::ostream& events_;
  std::function<void()> onVanish_;
  bool vanished_ = false;  // the session's thread only

  std::mutex mutex_;  // guards incoming_, due_, stopping_
  std::condition_variable wake_;
  std::deque<Arrival> incoming_;
  // Replies by due time; the sequence number keeps equal times in order.
  std::map<std::pair<Clock::time_point, std::uint64_t>, Bytes> due_;
  std::uint64_t sequence_ = 0;
  bool stopping_ = false;
  // The pause the model began, if any; only the session's thread uses these.
  Clock::time_point pausedFrom_{};
  Clock::time_point pausedUntil_{};
  bool keepWhilePaused_ = false;
  std::size_t lostWhilePaused_ = 0;
  std::thread thread_;
};

}  // namespace korvane

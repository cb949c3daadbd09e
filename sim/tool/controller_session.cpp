#include "sim/tool/controller_session.h"

#include <algorithm>
#include <sstream>

#include "update/device_messages.h"

namespace korvane {

namespace {

bool IsOurs(const Bytes& bytes) {
  return bytes.size() > kCommandIndex && HasMessageHeader(bytes);
}

std::string ModelText(std::uint8_t model) {
  if (const char* name = ModelName(model))
    return name;
  std::ostringstream out;
  out << "model 0x" << std::hex << static_cast<int>(model);
  return out.str();
}

}  // namespace

std::optional<std::string> EventDescriber::Describe(const Bytes& message,
                                                    const std::vector<DeviceReply>& replies,
                                                    const Before& before,
                                                    const DeviceModel& after) {
  if (message.empty() || message.front() != kSysExStart)
    return std::nullopt;
  std::ostringstream line;
  if (!IsOurs(message)) {
    line << "foreign SysEx of " << message.size() << " bytes: ignored";
    return line.str();
  }
  const std::uint8_t command = message[kCommandIndex];
  const std::uint8_t model = message[kModelIndex];

  if (command == kCmdIdentityRequest) {
    bool answered = false;
    for (const auto& reply : replies)
      answered =
          answered || (IsOurs(reply.bytes) && reply.bytes[kCommandIndex] == kCmdIdentityReply);
    line << "identity request for " << ModelText(model) << ": "
         << (answered ? "answered as " + name_ : std::string("no answer"));
    if (before.pending > 0 && after.PendingMessages() == 0)
      line << "; the unfinished block (" << before.pending << " messages) starts again";
    return line.str();
  }

  if (command != kCmdFirmwareBlock) {
    line << "message with command 0x" << std::hex << static_cast<int>(command) << std::dec << " ("
         << message.size() << " bytes): ignored";
    return line.str();
  }
  if (after.LostMessages() > before.lost)
    return "block message lost on the way in";
  if (after.BlocksReceived() == before.blocksReceived)
    return std::nullopt;  // a message within a block is no event of its own

  // An addressed block is numbered by the place its messages carry.
  std::size_t block = before.blocksAccepted + 1;
  if (after.Options().addressed) {
    if (const auto index = AddressedIndex(message))
      block = *index / DeviceModel::kBlockMessages + 1;
  }
  attempt_ = block == currentBlock_ ? attempt_ + 1 : 1;
  currentBlock_ = block;
  std::optional<std::uint8_t> status;
  for (const auto& reply : replies) {
    if (IsOurs(reply.bytes) && reply.bytes[kCommandIndex] != kCmdIdentityReply)
      status = BlockReplyStatus(reply.bytes);
  }
  line << "block " << block << " (attempt " << attempt_ << ", " << DeviceModel::kBlockMessages
       << " messages): ";
  if (!status)
    line << "no answer";
  else if (*status == 0)
    line << "accepted";
  else
    line << "refused with status " << static_cast<int>(*status) << " (" << BlockStatusText(*status)
         << ")";
  return line.str();
}

ControllerSession::ControllerSession(DeviceModelOptions options, SendFunction send,
                                     std::ostream& events, std::function<void()> onVanish)
    : model_(options),
      describer_(options.name),
      send_(std::move(send)),
      events_(events),
      onVanish_(std::move(onVanish)) {
  thread_ = std::thread([this] { Run(); });
}

ControllerSession::~ControllerSession() {
  Stop();
}

void ControllerSession::Deliver(Bytes message) {
  if (message.empty())
    return;  // an empty arrival marks a new session
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_)
      return;
    incoming_.push_back({std::move(message), Clock::now()});
  }
  wake_.notify_one();
}

void ControllerSession::NewSession() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_)
      return;
    incoming_.push_back({Bytes(), Clock::now()});
  }
  wake_.notify_one();
}

void ControllerSession::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable())
    thread_.join();
}

void ControllerSession::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    // While paused with arrivals kept, they wait for the pause to end.
    while (!incoming_.empty() && !(Paused() && keepWhilePaused_)) {
      Arrival arrival = std::move(incoming_.front());
      incoming_.pop_front();
      lock.unlock();
      Handle(arrival);
      lock.lock();
    }
    if (stopping_)
      return;
    if (!Paused()) {
      if (lostWhilePaused_ > 0) {
        events_ << "pause over: " << lostWhilePaused_ << " messages lost meanwhile" << std::endl;
        lostWhilePaused_ = 0;
      }
      SendDue(lock);
    }
    // Sending let go of the lock: look again before waiting, or a stop or an
    // arrival meanwhile would be waited through.
    if (stopping_ || (!incoming_.empty() && !Paused()))
      continue;
    std::optional<Clock::time_point> until;
    if (Paused())
      until = pausedUntil_;
    else if (!due_.empty())
      until = due_.begin()->first.first;
    if (until)
      wake_.wait_until(lock, *until);
    else
      wake_.wait(lock);
  }
}

// Runs without the lock but for the queueing of the replies.
void ControllerSession::Handle(const Arrival& arrival) {
  if (arrival.message.empty()) {
    model_.StartSession();
    events_ << "new session: an updater connected; the firmware starts afresh" << std::endl;
    return;
  }
  // What arrived while the controller was paused never reached it.
  if (arrival.at >= pausedFrom_ && arrival.at < pausedUntil_ && !keepWhilePaused_) {
    ++lostWhilePaused_;
    return;
  }
  const EventDescriber::Before before = EventDescriber::Take(model_);
  std::vector<DeviceReply> replies = model_.Receive(arrival.message);
  if (auto line = describer_.Describe(arrival.message, replies, before, model_))
    events_ << *line << std::endl;
  if (model_.Vanished()) {
    if (!vanished_) {
      vanished_ = true;
      events_ << "vanished with " << model_.AcceptedMessages() + model_.PendingMessages()
              << " block messages held: the ports leave the MIDI system" << std::endl;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        due_.clear();
      }
      if (onVanish_)
        onVanish_();
    }
    return;
  }
  // Replies count from when the message was taken in, which a pause delays.
  const Clock::time_point takenAt = std::max(arrival.at, pausedUntil_);
  if (const std::optional<Stall> stall = model_.TakeStall()) {
    pausedFrom_ = Clock::now();
    pausedUntil_ = pausedFrom_ + std::chrono::milliseconds(stall->ms);
    keepWhilePaused_ = stall->queued;
    events_ << "pausing for " << stall->ms << " ms; what arrives meanwhile "
            << (stall->queued ? "waits" : "is lost") << std::endl;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& reply : replies) {
    const auto at = takenAt + std::chrono::milliseconds(reply.delayMs);
    due_.emplace(std::make_pair(at, sequence_++), std::move(reply.bytes));
  }
}

void ControllerSession::SendDue(std::unique_lock<std::mutex>& lock) {
  while (!due_.empty() && due_.begin()->first.first <= Clock::now()) {
    Bytes bytes = std::move(due_.begin()->second);
    due_.erase(due_.begin());
    lock.unlock();
    send_(bytes);
    lock.lock();
  }
}

}  // namespace korvane

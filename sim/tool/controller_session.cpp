#include "sim/tool/controller_session.h"

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
                                                    std::size_t blocksAcceptedBefore) {
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
    return line.str();
  }

  if (command != kCmdFirmwareBlock) {
    line << "message with command 0x" << std::hex << static_cast<int>(command) << std::dec << " ("
         << message.size() << " bytes): ignored";
    return line.str();
  }

  if (messagesInBlock_ == 0) {
    const std::size_t block = blocksAcceptedBefore + 1;
    attempt_ = block == currentBlock_ ? attempt_ + 1 : 1;
    currentBlock_ = block;
  }
  ++messagesInBlock_;
  std::optional<std::uint8_t> status;
  for (const auto& reply : replies) {
    if (IsOurs(reply.bytes) && reply.bytes[kCommandIndex] != kCmdIdentityReply)
      status = BlockReplyStatus(reply.bytes);
  }
  if (!status && messagesInBlock_ < DeviceModel::kBlockMessages)
    return std::nullopt;  // a message within a block is no event of its own
  messagesInBlock_ = 0;
  line << "block " << currentBlock_ << " (attempt " << attempt_ << ", "
       << DeviceModel::kBlockMessages << " messages): ";
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
                                     std::ostream& events)
    : model_(options), describer_(options.name), send_(std::move(send)), events_(events) {
  thread_ = std::thread([this] { Run(); });
}

ControllerSession::~ControllerSession() {
  Stop();
}

void ControllerSession::Deliver(Bytes message) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_)
      return;
    incoming_.push_back({std::move(message), Clock::now()});
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
    while (!incoming_.empty()) {
      Arrival arrival = std::move(incoming_.front());
      incoming_.pop_front();
      lock.unlock();
      Handle(arrival);
      lock.lock();
    }
    if (stopping_)
      return;
    SendDue(lock);
    if (!incoming_.empty() || stopping_)
      continue;
    if (due_.empty())
      wake_.wait(lock);
    else
      wake_.wait_until(lock, due_.begin()->first.first);
  }
}

// Runs without the lock but for the queueing of the replies.
void ControllerSession::Handle(const Arrival& arrival) {
  const std::size_t acceptedBefore = model_.BlocksAccepted();
  std::vector<DeviceReply> replies = model_.Receive(arrival.message);
  if (auto line = describer_.Describe(arrival.message, replies, acceptedBefore))
    events_ << *line << std::endl;
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& reply : replies) {
    const auto at = arrival.at + std::chrono::milliseconds(reply.delayMs);
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

#include "sim/tool/ports_thread.h"

#include <chrono>
#include <iostream>
#include <variant>

#include "sim/tool/error_line.h"

namespace korvane {

namespace {

// Generous: a loaded machine may take a while to schedule new MIDI clients.
constexpr std::chrono::milliseconds kReadyDeadline{30000};

// One write per line: the session's thread prints its events meanwhile.
void PrintLine(const std::string& text) {
  std::cout << (text + "\n") << std::flush;
}

}  // namespace

PortsThread::PortsThread(SimApi api, std::string portName, std::string controller)
    : api_(api), portName_(std::move(portName)), controller_(std::move(controller)) {}

PortsThread::~PortsThread() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable())
    thread_.join();
}

void PortsThread::Start(Events events) {
  events_ = std::move(events);
  thread_ = std::thread([this] { Run(); });
}

void PortsThread::Send(const Bytes& message) {
  std::lock_guard lock(mutex_);
  if (ports_ && !vanish_ && !stopping_)
    ports_->Send(message);
}

void PortsThread::Vanish() {
  {
    std::lock_guard lock(mutex_);
    vanish_ = true;
  }
  wake_.notify_all();
}

bool PortsThread::CloseWithin(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  stopping_ = true;
  wake_.notify_all();
  return wake_.wait_for(lock, limit, [this] { return done_; });
}

bool PortsThread::Stopping() {
  std::lock_guard lock(mutex_);
  return stopping_;
}

void PortsThread::Run() {
  auto opened = VirtualPorts::Open(api_, portName_,
                                   {.receive = events_.receive,
                                    .newSession = events_.newSession,
                                    .serverGone = events_.serverGone});
  if (auto* why = std::get_if<std::string>(&opened)) {
    PrintErrorLine(*why);
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    wake_.notify_all();
    events_.failed();
    return;
  }
  VirtualPorts* ports = std::get<std::unique_ptr<VirtualPorts>>(opened).get();
  {
    std::lock_guard lock(mutex_);
    ports_ = std::move(std::get<std::unique_ptr<VirtualPorts>>(opened));
  }
  PrintLine("korvane-sim: " + controller_ + " on " + ports->ApiName() + ", input \"" +
            ports->InputName() + "\", output \"" + ports->OutputName() + "\"");

  // Listed is not yet live: an updater that asks before the ports carry
  // messages gets no answer. Scripts and tests wait for the ready line.
  const bool live = ports->CarryMessages(kReadyDeadline, [this] { return Stopping(); });
  // An updater that connects to the input begins a new update. Watched from
  // after the probe, whose own connections are no updater's, and before the
  // ready line, so that no updater comes unseen.
  ports->WatchConnections();
  if (live) {
    PrintLine("korvane-sim: ready");
  } else if (!Stopping()) {
    PrintErrorLine("the ports did not carry a test message within " +
                   std::to_string(kReadyDeadline.count() / 1000) +
                   " s; updaters may get no answer");
  }

  // Send drops everything once vanish_ or stopping_ is set, so the ports
  // may go without the lock.
  std::unique_lock lock(mutex_);
  wake_.wait(lock, [this] { return vanish_ || stopping_; });
  lock.unlock();
  ports->Close();
  lock.lock();
  done_ = true;
  wake_.notify_all();
  wake_.wait(lock, [this] { return stopping_; });
}

}  // namespace korvane

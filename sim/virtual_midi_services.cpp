#include "sim/virtual_midi_services.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "midi/header_queue.h"
#include "midi/header_rules.h"

namespace korvane {
namespace {

using Clock = std::chrono::steady_clock;

const Bytes kUniversalSysEx = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
const Bytes kOtherMakerSysEx = {0xF0, 0x01, 0x10, 0x20, 0x30, 0x40, 0xF7};

std::uintptr_t Token(HMIDIIN handle) {
  return reinterpret_cast<std::uintptr_t>(handle);
}
std::uintptr_t Token(HMIDIOUT handle) {
  return reinterpret_cast<std::uintptr_t>(handle);
}

}  // namespace

struct VirtualMidiServices::Port {
  bool input = false;
  UINT device = 0;           // the port's id
  std::uint64_t serial = 0;  // tells a record from the one that replaced it
  std::string name;
  bool listed = true;         // false once its controller vanished
  bool replaced = false;      // a restart put a new port in its place: it leads nowhere
  std::uintptr_t handle = 0;  // 0 while closed
  DWORD_PTR callback = 0;
  DWORD_PTR instance = 0;
  bool started = false;
  HeaderQueue queued;       // inputs: headers waiting for data
  std::vector<Bytes> sent;  // outputs: every long message sent
};

struct VirtualMidiServices::Wiring {
  DeviceModel model;
  UINT output = 0;
  std::vector<UINT> inputs;
  // While the controller pauses: until when, and whether what arrives
  // meanwhile waits in `waiting` or is lost.
  Clock::time_point stalledUntil{};
  bool queueWhileStalled = false;
  std::deque<Bytes> waiting;
};

struct VirtualMidiServices::Delivery {
  enum Kind { kInputData, kOutputDone, kControllerResumes };
  Clock::time_point due;
  Kind kind = kInputData;
  UINT device = 0;            // kControllerResumes: the controller's index
  std::uintptr_t handle = 0;  // kOutputDone: the port as it was when the message went out
  std::uint64_t serial = 0;   // kInputData: that record of the port only; 0: whichever holds it
  MIDIHDR* header = nullptr;
  Bytes bytes;
};

struct VirtualMidiServices::FaultState {
  CallFault fault;
  std::uint64_t matched = 0;
  std::mt19937 random;
};

struct VirtualMidiServices::Callback {
  DWORD_PTR proc = 0;
  bool input = false;
  std::uintptr_t handle = 0;
  UINT message = 0;
  DWORD_PTR instance = 0;
  DWORD_PTR param1 = 0;
  const Port* port = nullptr;
};

VirtualMidiServices::VirtualMidiServices() {
  driver_ = std::thread([this] { DriverLoop(); });
  std::lock_guard lock(mutex_);
  driverThread_ = driver_.get_id();
}

VirtualMidiServices::~VirtualMidiServices() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  driver_.join();
}

// --- Building the system.

UINT VirtualMidiServices::AddInput(std::string productName) {
  std::lock_guard lock(mutex_);
  auto port = std::make_unique<Port>();
  port->input = true;
  port->device = static_cast<UINT>(inputs_.size());
  port->serial = nextSerial_++;
  port->name = std::move(productName);
  inputs_.push_back(std::move(port));
  return inputs_.back()->device;
}

UINT VirtualMidiServices::AddOutput(std::string productName) {
  std::lock_guard lock(mutex_);
  auto port = std::make_unique<Port>();
  port->device = static_cast<UINT>(outputs_.size());
  port->serial = nextSerial_++;
  port->name = std::move(productName);
  outputs_.push_back(std::move(port));
  return outputs_.back()->device;
}

int VirtualMidiServices::AttachController(UINT output, std::vector<UINT> inputs,
                                          DeviceModelOptions options) {
  std::lock_guard lock(mutex_);
  auto controller = std::make_unique<Wiring>();
  controller->model = DeviceModel(std::move(options));
  controller->output = output;
  controller->inputs = std::move(inputs);
  controllers_.push_back(std::move(controller));
  const std::size_t id = controllers_.size() - 1;
  if (controllers_[id]->model.Vanished())
    VanishLocked(id);
  return static_cast<int>(id);
}

void VirtualMidiServices::UnplugController(int id) {
  std::lock_guard lock(mutex_);
  controllers_.at(static_cast<std::size_t>(id))->model.Unplug();
}

void VirtualMidiServices::VanishController(int id) {
  std::lock_guard lock(mutex_);
  controllers_.at(static_cast<std::size_t>(id))->model.Unplug();
  VanishLocked(static_cast<std::size_t>(id));
}

void VirtualMidiServices::VanishLocked(std::size_t id) {
  Wiring& controller = *controllers_[id];
  controller.waiting.clear();
  if (controller.output < outputs_.size())
    outputs_[controller.output]->listed = false;
  for (UINT input : controller.inputs) {
    if (input < inputs_.size())
      inputs_[input]->listed = false;
  }
}

void VirtualMidiServices::RestartController(int id) {
  std::lock_guard lock(mutex_);
  Wiring& controller = *controllers_.at(static_cast<std::size_t>(id));
  auto replace = [this](std::vector<std::unique_ptr<Port>>& ports, UINT device) {
    if (device >= ports.size())
      return;
    auto fresh = std::make_unique<Port>();
    fresh->input = ports[device]->input;
    fresh->device = device;
    fresh->serial = nextSerial_++;
    fresh->name = ports[device]->name;
    ports[device]->replaced = true;
    replaced_.push_back(std::move(ports[device]));
    ports[device] = std::move(fresh);
  };
  replace(outputs_, controller.output);
  for (UINT input : controller.inputs)
    replace(inputs_, input);
  controller.model = DeviceModel(controller.model.Options());
  controller.stalledUntil = {};
  controller.waiting.clear();
  if (controller.model.Vanished())
    VanishLocked(static_cast<std::size_t>(id));
}

void VirtualMidiServices::PauseController(int id, std::uint32_t ms, bool queued) {
  std::lock_guard lock(mutex_);
  PauseLocked(static_cast<std::size_t>(id), Stall{ms, queued}, Clock::now());
}

DeviceModel VirtualMidiServices::Controller(int id) const {
  std::lock_guard lock(mutex_);
  return controllers_.at(static_cast<std::size_t>(id))->model;
}

// --- Fault injection.

void VirtualMidiServices::AddCallFault(CallFault fault) {
  std::lock_guard lock(mutex_);
  auto state = std::make_unique<FaultState>();
  state->random.seed(fault.seed);
  state->fault = fault;
  faults_.push_back(std::move(state));
}

void VirtualMidiServices::FailInOpen(UINT device, MMRESULT result) {
  AddCallFault({.call = MidiCall::kInOpen, .result = result, .onward = true, .device = device});
}

void VirtualMidiServices::FailOutOpen(UINT device, MMRESULT result) {
  AddCallFault({.call = MidiCall::kOutOpen, .result = result, .onward = true, .device = device});
}

void VirtualMidiServices::ClearCallFaults() {
  std::lock_guard lock(mutex_);
  faults_.clear();
}

void VirtualMidiServices::InjectInput(UINT input, Bytes message, std::uint32_t delayMs) {
  auto delivery = std::make_unique<Delivery>();
  delivery->due = Clock::now() + std::chrono::milliseconds(delayMs);
  delivery->device = input;
  delivery->bytes = std::move(message);
  std::lock_guard lock(mutex_);
  ScheduleLocked(std::move(delivery));
}

void VirtualMidiServices::InjectForeignSysEx(UINT input) {
  InjectInput(input, kUniversalSysEx);
  InjectInput(input, kOtherMakerSysEx);
}

std::optional<MMRESULT> VirtualMidiServices::InjectedFailureLocked(MidiCall call,
                                                                   std::optional<UINT> device) {
  ++callCounts_[static_cast<int>(call)];
  std::optional<MMRESULT> failure;
  // Every matching fault counts the call, so that each one's nth stays true to
  // its own definition even when another one fails it first.
  for (auto& state : faults_) {
    const CallFault& fault = state->fault;
    if (fault.call != call)
      continue;
    if (fault.device && (!device || *fault.device != *device))
      continue;
    ++state->matched;
    bool fails = false;
    if (fault.probability > 0.0) {
      fails = std::bernoulli_distribution(std::min(fault.probability, 1.0))(state->random);
    } else {
      fails = fault.onward ? state->matched >= fault.nth : state->matched == fault.nth;
    }
    if (fails && !failure)
      failure = fault.result;
  }
  return failure;
}

// --- Observation.

std::vector<Bytes> VirtualMidiServices::SentMessages(UINT output) const {
  std::lock_guard lock(mutex_);
  if (output >= outputs_.size())
    return {};
  return outputs_[output]->sent;
}

std::uint64_t VirtualMidiServices::CallCount(MidiCall call) const {
  std::lock_guard lock(mutex_);
  return callCounts_[static_cast<int>(call)];
}

std::size_t VirtualMidiServices::QueuedInputHeaders(UINT input) const {
  std::lock_guard lock(mutex_);
  if (input >= inputs_.size())
    return 0;
  return inputs_[input]->queued.Size();
}

bool VirtualMidiServices::WaitIdle(std::uint32_t timeoutMs) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [this] { return deliveries_.empty() && inCallback_ == nullptr; });
}

// --- The driver thread.

void VirtualMidiServices::ScheduleLocked(std::unique_ptr<Delivery> delivery) {
  // Kept in due order; equal times keep the order they were scheduled in.
  auto at = std::upper_bound(
      deliveries_.begin(), deliveries_.end(), delivery->due,
      [](Clock::time_point due, const std::unique_ptr<Delivery>& d) { return due < d->due; });
  deliveries_.insert(at, std::move(delivery));
  changed_.notify_all();
}

void VirtualMidiServices::RunCallback(std::unique_lock<std::mutex>& lock,
                                      const Callback& callback) {
  lock.unlock();
  if (callback.input) {
    reinterpret_cast<MidiInCallback>(callback.proc)(reinterpret_cast<HMIDIIN>(callback.handle),
                                                    callback.message, callback.instance,
                                                    callback.param1, 0);
  } else {
    reinterpret_cast<MidiOutCallback>(callback.proc)(reinterpret_cast<HMIDIOUT>(callback.handle),
                                                     callback.message, callback.instance,
                                                     callback.param1, 0);
  }
  lock.lock();
}

void VirtualMidiServices::DriverLoop() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    if (deliveries_.empty()) {
      changed_.wait(lock);
      continue;
    }
    if (Clock::now() < deliveries_.front()->due) {
      changed_.wait_until(lock, deliveries_.front()->due);
      continue;
    }
    std::unique_ptr<Delivery> delivery = std::move(deliveries_.front());
    deliveries_.pop_front();

    std::optional<Callback> callback;
    if (delivery->kind == Delivery::kControllerResumes) {
      ResumeLocked(delivery->device, Clock::now());
    } else if (delivery->kind == Delivery::kInputData) {
      Port* port = delivery->device < inputs_.size() ? inputs_[delivery->device].get() : nullptr;
      if (port && delivery->serial != 0 && port->serial != delivery->serial)
        port = nullptr;  // meant for a port a restart replaced
      // A vanished, stopped or closed input, or one with no header queued,
      // drops the message; a short message never fills a header, as WinMM
      // reports it apart (MIM_DATA, which no caller of ours takes).
      const bool sysEx = !delivery->bytes.empty() && delivery->bytes.front() == 0xF0;
      MIDIHDR* header = nullptr;
      if (port && port->listed && port->handle != 0 && port->started && sysEx)
        header = port->queued.Fill(delivery->bytes.data(), delivery->bytes.size());
      if (header != nullptr) {
        callback = Callback{port->callback,
                            true,
                            port->handle,
                            MIM_LONGDATA,
                            port->instance,
                            reinterpret_cast<DWORD_PTR>(header),
                            port};
      }
    } else {
      if (Port* port = FindOpenLocked(false, delivery->handle)) {
        callback = Callback{port->callback,
                            false,
                            port->handle,
                            MOM_DONE,
                            port->instance,
                            reinterpret_cast<DWORD_PTR>(delivery->header),
                            port};
      }
    }
    // A port opened without a callback still fills its headers.
    if (callback && callback->proc != 0) {
      inCallback_ = callback->port;
      RunCallback(lock, *callback);
      inCallback_ = nullptr;
    }
    changed_.notify_all();
  }
}

// --- Controllers at work.

void VirtualMidiServices::ReceiveLocked(std::size_t id, const Bytes& message,
                                        Clock::time_point now) {
  Wiring& controller = *controllers_[id];
  std::vector<DeviceReply> replies = controller.model.Receive(message);
  if (controller.model.Vanished()) {
    VanishLocked(id);
    return;  // its ports are gone: no reply leaves
  }
  if (const std::optional<Stall> stall = controller.model.TakeStall())
    PauseLocked(id, *stall, now);
  for (DeviceReply& reply : replies) {
    // A paused controller sends nothing: its answers wait for the pause to end.
    const Clock::time_point due =
        std::max(now + std::chrono::milliseconds(reply.delayMs), controller.stalledUntil);
    for (UINT input : controller.inputs) {
      auto delivery = std::make_unique<Delivery>();
      delivery->due = due;
      delivery->device = input;
      // A controller restarted meanwhile is another process: this reply is not its.
      delivery->serial = input < inputs_.size() ? inputs_[input]->serial : 0;
      delivery->bytes = reply.bytes;
      ScheduleLocked(std::move(delivery));
    }
  }
}

void VirtualMidiServices::PauseLocked(std::size_t id, const Stall& stall, Clock::time_point now) {
  Wiring& controller = *controllers_[id];
  controller.stalledUntil = now + std::chrono::milliseconds(stall.ms);
  controller.queueWhileStalled = stall.queued;
  auto resume = std::make_unique<Delivery>();
  resume->due = controller.stalledUntil;
  resume->kind = Delivery::kControllerResumes;
  resume->device = static_cast<UINT>(id);
  ScheduleLocked(std::move(resume));
}

// Takes in what waited during a pause, unless it begins another pause.
void VirtualMidiServices::ResumeLocked(std::size_t id, Clock::time_point now) {
  Wiring& controller = *controllers_[id];
  while (!controller.waiting.empty() && now >= controller.stalledUntil) {
    Bytes message = std::move(controller.waiting.front());
    controller.waiting.pop_front();
    ReceiveLocked(id, message, now);
  }
}

// --- MidiServices.

UINT VirtualMidiServices::CountListedLocked(bool input) const {
  const auto& ports = input ? inputs_ : outputs_;
  return static_cast<UINT>(
      std::count_if(ports.begin(), ports.end(), [](const auto& port) { return port->listed; }));
}

VirtualMidiServices::Port* VirtualMidiServices::ListedLocked(bool input, UINT_PTR deviceId) {
  for (auto& port : input ? inputs_ : outputs_) {
    if (port->listed && deviceId-- == 0)
      return port.get();
  }
  return nullptr;
}

UINT VirtualMidiServices::midiInGetNumDevs() {
  std::lock_guard lock(mutex_);
  return CountListedLocked(true);
}

UINT VirtualMidiServices::midiOutGetNumDevs() {
  std::lock_guard lock(mutex_);
  return CountListedLocked(false);
}

MMRESULT VirtualMidiServices::midiInGetDevCapsA(UINT_PTR deviceId, MIDIINCAPSA* caps,
                                                UINT capsSize) {
  std::lock_guard lock(mutex_);
  const Port* port = ListedLocked(true, deviceId);
  if (port == nullptr)
    return MMSYSERR_BADDEVICEID;
  if (caps == nullptr || capsSize < sizeof(MIDIINCAPSA))
    return MMSYSERR_INVALPARAM;
  std::memset(caps, 0, sizeof(MIDIINCAPSA));
  const std::string& name = port->name;
  std::memcpy(caps->szPname, name.data(), std::min<std::size_t>(name.size(), MAXPNAMELEN - 1));
  return MMSYSERR_NOERROR;
}

MMRESULT VirtualMidiServices::midiOutGetDevCapsA(UINT_PTR deviceId, MIDIOUTCAPSA* caps,
                                                 UINT capsSize) {
  std::lock_guard lock(mutex_);
  const Port* port = ListedLocked(false, deviceId);
  if (port == nullptr)
    return MMSYSERR_BADDEVICEID;
  if (caps == nullptr || capsSize < sizeof(MIDIOUTCAPSA))
    return MMSYSERR_INVALPARAM;
  std::memset(caps, 0, sizeof(MIDIOUTCAPSA));
  const std::string& name = port->name;
  std::memcpy(caps->szPname, name.data(), std::min<std::size_t>(name.size(), MAXPNAMELEN - 1));
  return MMSYSERR_NOERROR;
}

MMRESULT VirtualMidiServices::LookUpLocked(MidiCall call, bool input, std::uintptr_t handle,
                                           Port*& port) {
  port = FindOpenLocked(input, handle);
  if (auto failure =
          InjectedFailureLocked(call, port ? std::optional(port->device) : std::nullopt)) {
    port = nullptr;
    return *failure;
  }
  if (port == nullptr)
    return MMSYSERR_INVALHANDLE;
  // A port whose device is gone still stops, resets and unprepares, so that
  // it can be closed; what needs the driver fails.
  const bool needsDriver = call == MidiCall::kInStart || call == MidiCall::kInAddBuffer ||
                           call == MidiCall::kInPrepareHeader ||
                           call == MidiCall::kOutPrepareHeader || call == MidiCall::kOutLongMsg;
  if (!port->listed && needsDriver) {
    port = nullptr;
    return MMSYSERR_NODRIVER;
  }
  return MMSYSERR_NOERROR;
}

VirtualMidiServices::Port* VirtualMidiServices::FindOpenLocked(bool input, std::uintptr_t handle) {
  if (handle == 0)
    return nullptr;
  for (auto& port : input ? inputs_ : outputs_) {
    if (port->handle == handle)
      return port.get();
  }
  for (auto& port : replaced_) {
    if (port->input == input && port->handle == handle)
      return port.get();
  }
  return nullptr;
}

MMRESULT VirtualMidiServices::Open(bool input, std::uintptr_t* handle, UINT deviceId,
                                   DWORD_PTR callback, DWORD_PTR instance) {
  std::unique_lock lock(mutex_);
  Port* listed = ListedLocked(input, deviceId);
  if (auto failure = InjectedFailureLocked(input ? MidiCall::kInOpen : MidiCall::kOutOpen,
                                           listed ? listed->device : deviceId)) {
    return *failure;
  }
  if (listed == nullptr)
    return MMSYSERR_BADDEVICEID;
  if (handle == nullptr)
    return MMSYSERR_INVALPARAM;
  Port& port = *listed;
  if (port.handle != 0)
    return MMSYSERR_ALLOCATED;
  port.handle = nextHandle_++;
  port.callback = callback;
  port.instance = instance;
  port.started = false;
  *handle = port.handle;
  // An update that opens the port the controller listens on begins a session.
  if (!input) {
    for (auto& controller : controllers_) {
      if (controller->output == port.device)
        controller->model.StartSession();
    }
  }
  if (callback != 0) {
    RunCallback(lock, Callback{callback, input, port.handle,
                               static_cast<UINT>(input ? MIM_OPEN : MOM_OPEN), instance, 0, &port});
  }
  return MMSYSERR_NOERROR;
}

MMRESULT VirtualMidiServices::midiInOpen(HMIDIIN* handle, UINT deviceId, DWORD_PTR callback,
                                         DWORD_PTR instance, DWORD) {
  std::uintptr_t token = 0;
  const MMRESULT result = Open(true, handle ? &token : nullptr, deviceId, callback, instance);
  if (result == MMSYSERR_NOERROR)
    *handle = reinterpret_cast<HMIDIIN>(token);
  return result;
}

MMRESULT VirtualMidiServices::midiOutOpen(HMIDIOUT* handle, UINT deviceId, DWORD_PTR callback,
                                          DWORD_PTR instance, DWORD) {
  std::uintptr_t token = 0;
  const MMRESULT result = Open(false, handle ? &token : nullptr, deviceId, callback, instance);
  if (result == MMSYSERR_NOERROR)
    *handle = reinterpret_cast<HMIDIOUT>(token);
  return result;
}

MMRESULT VirtualMidiServices::Close(bool input, std::uintptr_t handle) {
  std::unique_lock lock(mutex_);
  Port* port = FindOpenLocked(input, handle);
  if (auto failure = InjectedFailureLocked(input ? MidiCall::kInClose : MidiCall::kOutClose,
                                           port ? std::optional(port->device) : std::nullopt)) {
    return *failure;
  }
  // The caller may release the record once close returns: no callback for
  // the port may still be running. The driver thread itself need not wait.
  while (port && inCallback_ == port && std::this_thread::get_id() != driverThread_) {
    changed_.wait(lock);
    port = FindOpenLocked(input, handle);
  }
  if (!port)
    return MMSYSERR_INVALHANDLE;
  if (!port->queued.Empty())
    return MIDIERR_STILLPLAYING;
  const Callback closed{
      port->callback, input, handle, static_cast<UINT>(input ? MIM_CLOSE : MOM_CLOSE),
      port->instance, 0,     port};
  port->handle = 0;
  port->started = false;
  port->callback = 0;
  port->instance = 0;
  if (closed.proc != 0)
    RunCallback(lock, closed);
  return MMSYSERR_NOERROR;
}

MMRESULT VirtualMidiServices::midiInClose(HMIDIIN handle) {
  return Close(true, Token(handle));
}

MMRESULT VirtualMidiServices::midiOutClose(HMIDIOUT handle) {
  return Close(false, Token(handle));
}

MMRESULT VirtualMidiServices::midiInStart(HMIDIIN handle) {
  std::lock_guard lock(mutex_);
  Port* port = nullptr;
  if (const MMRESULT refused = LookUpLocked(MidiCall::kInStart, true, Token(handle), port))
    return refused;
  port->started = true;
  return MMSYSERR_NOERROR;
}

MMRESULT VirtualMidiServices::midiInStop(HMIDIIN handle) {
  std::lock_guard lock(mutex_);
  Port* port = nullptr;
  if (const MMRESULT refused = LookUpLocked(MidiCall::kInStop, true, Token(handle), port))
    return refused;
  port->started = false;
  return MMSYSERR_NOERROR;
}

MMRESULT VirtualMidiServices::midiInReset(HMIDIIN handle) {
  std::unique_lock lock(mutex_);
  Port* port = nullptr;
  if (const MMRESULT refused = LookUpLocked(MidiCall::kInReset, true, Token(handle), port))
    return refused;
  // Reset stops the input and hands back every queued header, empty, before
  // it returns.
  port->started = false;
  MIDIHDR* returned = port->queued.TakeAll();
  const DWORD_PTR proc = port->callback;
  const DWORD_PTR instance = port->instance;
  HandBack(returned, [&](MIDIHDR& header) {
    if (proc != 0)
      RunCallback(lock, Callback{proc, true, Token(handle), MIM_LONGDATA, instance,
                                 reinterpret_cast<DWORD_PTR>(&header), port});
  });
  return MMSYSERR_NOERROR;
}

MMRESULT VirtualMidiServices::midiOutReset(HMIDIOUT handle) {
  std::lock_guard lock(mutex_);
  Port* port = nullptr;
  // Long messages are sent whole inside midiOutLongMsg: nothing is ever pending.
  return LookUpLocked(MidiCall::kOutReset, false, Token(handle), port);
}

MMRESULT VirtualMidiServices::Prepare(MidiCall call, bool input, std::uintptr_t handle,
                                      MIDIHDR* header, UINT headerSize, bool prepare) {
  std::lock_guard lock(mutex_);
  Port* port = nullptr;
  if (const MMRESULT refused = LookUpLocked(call, input, handle, port))
    return refused;
  if (const MMRESULT refused = CheckHeaderArgument(header, headerSize))
    return refused;
  return prepare ? PrepareHeader(*header) : UnprepareHeader(*header);
}

MMRESULT VirtualMidiServices::midiInPrepareHeader(HMIDIIN handle, MIDIHDR* header,
                                                  UINT headerSize) {
  return Prepare(MidiCall::kInPrepareHeader, true, Token(handle), header, headerSize, true);
}

MMRESULT VirtualMidiServices::midiInUnprepareHeader(HMIDIIN handle, MIDIHDR* header,
                                                    UINT headerSize) {
  return Prepare(MidiCall::kInUnprepareHeader, true, Token(handle), header, headerSize, false);
}

MMRESULT VirtualMidiServices::midiOutPrepareHeader(HMIDIOUT handle, MIDIHDR* header,
                                                   UINT headerSize) {
  return Prepare(MidiCall::kOutPrepareHeader, false, Token(handle), header, headerSize, true);
}

MMRESULT VirtualMidiServices::midiOutUnprepareHeader(HMIDIOUT handle, MIDIHDR* header,
                                                     UINT headerSize) {
  return Prepare(MidiCall::kOutUnprepareHeader, false, Token(handle), header, headerSize, false);
}

MMRESULT VirtualMidiServices::midiInAddBuffer(HMIDIIN handle, MIDIHDR* header, UINT headerSize) {
  std::lock_guard lock(mutex_);
  Port* port = nullptr;
  if (const MMRESULT refused = LookUpLocked(MidiCall::kInAddBuffer, true, Token(handle), port))
    return refused;
  if (const MMRESULT refused = CheckHeaderArgument(header, headerSize))
    return refused;
  return port->queued.Add(*header);
}

void VirtualMidiServices::SetLongestMessage(std::size_t bytes) {
  std::lock_guard lock(mutex_);
  longestMessage_ = bytes;
}

std::size_t VirtualMidiServices::LongestMessage(HMIDIOUT /*handle*/) {
  std::lock_guard lock(mutex_);
  return longestMessage_;
}

MMRESULT VirtualMidiServices::midiOutLongMsg(HMIDIOUT handle, MIDIHDR* header, UINT headerSize) {
  std::lock_guard lock(mutex_);
  Port* port = nullptr;
  if (const MMRESULT refused = LookUpLocked(MidiCall::kOutLongMsg, false, Token(handle), port))
    return refused;
  if (const MMRESULT refused = CheckHeaderArgument(header, headerSize))
    return refused;
  if (const MMRESULT refused = CheckReadyToQueue(*header))
    return refused;
  if (header->dwBufferLength > longestMessage_)
    return MMSYSERR_INVALPARAM;

  const auto* data = reinterpret_cast<const std::uint8_t*>(header->lpData);
  Bytes message(data, data + header->dwBufferLength);
  const auto now = Clock::now();

  // The message goes out whole inside this call; the driver reports it done.
  MarkSent(*header);
  auto done = std::make_unique<Delivery>();
  done->due = now;
  done->kind = Delivery::kOutputDone;
  done->device = port->device;
  done->handle = port->handle;
  done->header = header;
  ScheduleLocked(std::move(done));

  for (std::size_t id = 0; id < controllers_.size() && !port->replaced; ++id) {
    Wiring& controller = *controllers_[id];
    if (controller.output != port->device)
      continue;
    if (now < controller.stalledUntil) {
      if (controller.queueWhileStalled)
        controller.waiting.push_back(message);
      continue;
    }
    ReceiveLocked(id, message, now);
  }
  port->sent.push_back(std::move(message));

  return MMSYSERR_NOERROR;
}

}  // namespace korvane

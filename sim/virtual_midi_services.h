// An in-process MIDI system under WinMM's contract: virtual input and output
// devices with product names, simulated controllers (DeviceModel) wired to
// them, and fault injection. Each instance is a separate system with a driver
// thread of its own, which delivers MIM_LONGDATA and MOM_DONE as a real
// driver does; open and close call back MIM_OPEN/MOM_OPEN and
// MIM_CLOSE/MOM_CLOSE inside the call, and an input reset hands its queued
// headers back inside the call. A controller's scripted pause (StallFault) is
// carried out here: what it is sent meanwhile is lost or waits, and its
// answers wait for the pause to end. Opening the output a controller listens
// on starts a new session of its model.
//
// Ports leave the system as a real one's do. A controller that vanishes (a
// USB cable pulled) takes its ports away: they are no longer listed, the
// device numbers of the ports after them shift down, calls that need the
// driver on a handle still open to them fail with MMSYSERR_NODRIVER (WinMM's
// answer once a device's driver is gone), and nothing more arrives on them.
// A controller that restarts (a new process on JACK) gets new ports of the
// same names in the place of the old ones; handles still open to the old
// ones work but lead nowhere, as an old JACK connection does.
//
// Locking: one mutex guards all state. It is never held while a callback
// runs, because the input callback calls midiInAddBuffer from inside. Closing
// a port waits until a callback in flight for it has returned, so that its
// record may be released once close returns.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "midi/midi_services.h"
#include "sim/device_model.h"

namespace korvane {

enum class MidiCall {
  kInOpen,
  kOutOpen,
  kInClose,
  kOutClose,
  kInStart,
  kInStop,
  kInReset,
  kOutReset,
  kInPrepareHeader,
  kInUnprepareHeader,
  kInAddBuffer,
  kOutPrepareHeader,
  kOutUnprepareHeader,
  kOutLongMsg,
  kCount,
};

// A call that fails with a chosen result and does nothing else. Without a
// probability the nth matching call fails (counting from 1), or with onward
// every call from the nth on; with a probability each matching call fails
// with that chance, drawn from the seed.
struct CallFault {
  MidiCall call = MidiCall::kOutLongMsg;
  MMRESULT result = MMSYSERR_ERROR;
  std::uint32_t nth = 1;
  bool onward = false;
  double probability = 0.0;
  std::uint32_t seed = 1;
  std::optional<UINT> device = std::nullopt;  // only calls on this device number match
};

class VirtualMidiServices : public MidiServices {
 public:
  VirtualMidiServices();
  ~VirtualMidiServices() override;  // stops and joins the driver thread
  VirtualMidiServices(const VirtualMidiServices&) = delete;
  VirtualMidiServices& operator=(const VirtualMidiServices&) = delete;

  // --- Building the system. Ports are numbered in the order they are added;
  // the number returned is the port's id, which the calls of this class take.
  // WinMM's device numbers count the listed ports only: they are the ids
  // until a port leaves the system.
  UINT AddInput(std::string productName);
  UINT AddOutput(std::string productName);
  // A controller that hears what is sent on the output and answers on each of
  // the inputs (two inputs: one reply arrives on both). Returns its id.
  int AttachController(UINT output, std::vector<UINT> inputs, DeviceModelOptions options = {});
  // The controller goes silent; its ports stay.
  void UnplugController(int id);
  // The controller and its ports leave the system, as vanishAfterMessages
  // does once reached.
  void VanishController(int id);
  // The controller starts again, holding nothing, with the options it was
  // attached with; its ports are replaced by new ones under the same ids and
  // names (a vanished controller comes back).
  void RestartController(int id);
  // The controller pauses from now for ms, as a scripted StallFault would.
  void PauseController(int id, std::uint32_t ms, bool queued);
  // A copy of the controller's state, taken under the lock.
  DeviceModel Controller(int id) const;

  // --- Fault injection.
  void AddCallFault(CallFault fault);
  void FailInOpen(UINT device, MMRESULT result);
  void FailOutOpen(UINT device, MMRESULT result);
  void ClearCallFaults();
  // The longest long message an output carries whole; a longer one is refused.
  void SetLongestMessage(std::size_t bytes);
  // A message arriving on an input from outside, after the delay.
  void InjectInput(UINT input, Bytes message, std::uint32_t delayMs = 0);
  // A universal SysEx (F0 7E ... F7) and another maker's SysEx on the input.
  void InjectForeignSysEx(UINT input);

  // --- Observation.
  // Every long message sent on the output, in order; after a restart, on the new port.
  std::vector<Bytes> SentMessages(UINT output) const;
  std::uint64_t CallCount(MidiCall call) const;
  std::size_t QueuedInputHeaders(UINT input) const;
  // Waits until nothing is due to be delivered and no callback runs; false
  // when the time-out passed first.
  bool WaitIdle(std::uint32_t timeoutMs = 5000);

  // --- MidiServices.
  UINT midiInGetNumDevs() override;
  UINT midiOutGetNumDevs() override;
  MMRESULT midiInGetDevCapsA(UINT_PTR deviceId, MIDIINCAPSA* caps, UINT capsSize) override;
  MMRESULT midiOutGetDevCapsA(UINT_PTR deviceId, MIDIOUTCAPSA* caps, UINT capsSize) override;
  MMRESULT midiInOpen(HMIDIIN* handle, UINT deviceId, DWORD_PTR callback, DWORD_PTR instance,
                      DWORD flags) override;
  MMRESULT midiOutOpen(HMIDIOUT* handle, UINT deviceId, DWORD_PTR callback, DWORD_PTR instance,
                       DWORD flags) override;
  MMRESULT midiInClose(HMIDIIN handle) override;
  MMRESULT midiOutClose(HMIDIOUT handle) override;
  MMRESULT midiInStart(HMIDIIN handle) override;
  MMRESULT midiInStop(HMIDIIN handle) override;
  MMRESULT midiInReset(HMIDIIN handle) override;
  MMRESULT midiOutReset(HMIDIOUT handle) override;
  MMRESULT midiInPrepareHeader(HMIDIIN handle, MIDIHDR* header, UINT headerSize) override;
  MMRESULT midiInUnprepareHeader(HMIDIIN handle, MIDIHDR* header, UINT headerSize) override;
  MMRESULT midiInAddBuffer(HMIDIIN handle, MIDIHDR* header, UINT headerSize) override;
  MMRESULT midiOutPrepareHeader(HMIDIOUT handle, MIDIHDR* header, UINT headerSize) override;
  MMRESULT midiOutUnprepareHeader(HMIDIOUT handle, MIDIHDR* header, UINT headerSize) override;
  MMRESULT midiOutLongMsg(HMIDIOUT handle, MIDIHDR* header, UINT headerSize) override;
  std::size_t LongestMessage(HMIDIOUT handle) override;

 private:
  struct Port;
  struct Wiring;
  struct Delivery;
  struct FaultState;
  struct Callback;

  Port* FindOpenLocked(bool input, std::uintptr_t handle);
  // The port WinMM's device number names now, or nothing.
  Port* ListedLocked(bool input, UINT_PTR deviceId);
  UINT CountListedLocked(bool input) const;
  void VanishLocked(std::size_t id);
  // Every call on an open port starts here: the call is counted, an injected
  // failure applies, and a handle that names no open port is refused. Returns
  // the result to give back, or MMSYSERR_NOERROR with port set.
  MMRESULT LookUpLocked(MidiCall call, bool input, std::uintptr_t handle, Port*& port);
  // Counts the call; the result of an injected failure, if one applies.
  std::optional<MMRESULT> InjectedFailureLocked(MidiCall call, std::optional<UINT> device);
  void ScheduleLocked(std::unique_ptr<Delivery> delivery);
  // Hands a message to a controller that is not paused and schedules its replies.
  void ReceiveLocked(std::size_t id, const Bytes& message,
                     std::chrono::steady_clock::time_point now);
  void PauseLocked(std::size_t id, const Stall& stall, std::chrono::steady_clock::time_point now);
  void ResumeLocked(std::size_t id, std::chrono::steady_clock::time_point now);
  void DriverLoop();
  // Runs one callback with the lock released; the lock is held again on return.
  void RunCallback(std::unique_lock<std::mutex>& lock, const Callback& callback);
  MMRESULT Open(bool input, std::uintptr_t* handle, UINT deviceId, DWORD_PTR callback,
                DWORD_PTR instance);
  MMRESULT Close(bool input, std::uintptr_t handle);
  MMRESULT Prepare(MidiCall call, bool input, std::uintptr_t handle, MIDIHDR* header,
                   UINT headerSize, bool prepare);

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  // By id: the port that holds the id now, listed or vanished.
  std::vector<std::unique_ptr<Port>> inputs_;
  std::vector<std::unique_ptr<Port>> outputs_;
  // Ports a restart replaced; kept, since a handle or a callback may still
  // name them.
  std::vector<std::unique_ptr<Port>> replaced_;
  std::uint64_t nextSerial_ = 1;
  std::vector<std::unique_ptr<Wiring>> controllers_;
  std::vector<std::unique_ptr<FaultState>> faults_;
  std::deque<std::unique_ptr<Delivery>> deliveries_;  // by due time, then order
  std::uint64_t callCounts_[static_cast<int>(MidiCall::kCount)] = {};
  std::uintptr_t nextHandle_ = 1;
  std::size_t longestMessage_ = kNoKnownLimit;
  const Port* inCallback_ = nullptr;  // the port whose callback runs now
  std::thread::id driverThread_;
  bool stopping_ = false;
  std::thread driver_;
};

}  // namespace korvane

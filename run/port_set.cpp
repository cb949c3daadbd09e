#include "run/port_set.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "midi/header_rules.h"
#include "midi/protocol.h"
#include "run/report_midi_result.h"

namespace korvane {
namespace {

// A fresh record with its header and a buffer of the given size; nothing when
// memory cannot be had.
std::unique_ptr<PortRecord> NewRecord(MidiServices& services, bool isInput) {
  auto record = std::unique_ptr<PortRecord>(new (std::nothrow) PortRecord);
  if (!record)
    return nullptr;
  record->services = &services;
  record->isInput = isInput;
  return record;
}

bool CompleteRecord(PortRecord& record, std::uint32_t deviceNumber, std::uint32_t bufferSize) {
  try {
    record.header = std::make_unique<MIDIHDR>();
    std::memset(record.header.get(), 0, sizeof(MIDIHDR));
    record.buffer.assign(bufferSize, 0);
    record.header->lpData = record.buffer.data();
    record.header->dwBufferLength = bufferSize;
    record.header->dwFlags = 0;
    record.event = std::make_unique<ManualResetEvent>();
  } catch (const std::bad_alloc&) {
    return false;
  }
  record.deviceNumber = deviceNumber;
  return true;
}

PortRecord* Find(PortRecord* head, std::int32_t deviceNumber) {
  if (deviceNumber < 0)
    return nullptr;
  for (PortRecord* r = head; r != nullptr; r = r->next.get()) {
    if (r->deviceNumber == static_cast<std::uint32_t>(deviceNumber))
      return r;
  }
  return nullptr;
}

}  // namespace

PortSet::PortSet(MidiServices& services, LogConsole& log) : services_(services), log_(log) {}

PortSet::~PortSet() {
  CloseAllMidiIn();
  CloseAllMidiOut();
}

PortSet::Opened PortSet::OpenInput(UINT device, std::uint32_t bufferSize) {
  // Zeroed before the open call: MIM_OPEN arrives inside it and counts here.
  auto record = NewRecord(services_, true);
  if (!record)
    return Opened::kNoMemory;
  const MMRESULT result = ReportMidiResult(
      log_,
      services_.midiInOpen(&record->inHandle, device, reinterpret_cast<DWORD_PTR>(&MidiInProc),
                           reinterpret_cast<DWORD_PTR>(record.get()), CALLBACK_FUNCTION),
      kMidiInOpen);
  if (result != MMSYSERR_NOERROR)
    return Opened::kNo;
  if (!CompleteRecord(*record, device, bufferSize)) {
    // Without its buffer the port is of no use: give it back.
    ReportMidiResult(log_, MMSYSERR_NOMEM, kMidiInOpen);
    services_.midiInClose(record->inHandle);
    return Opened::kNo;
  }
  services_.midiInGetDevCapsA(device, &record->inCaps, sizeof(MIDIINCAPSA));
  record->next = std::move(inputHead_);
  inputHead_ = std::move(record);
  return Opened::kYes;
}

PortSet::Opened PortSet::OpenOutput(UINT device, std::uint32_t bufferSize) {
  auto record = NewRecord(services_, false);
  if (!record)
    return Opened::kNoMemory;
  const MMRESULT result = ReportMidiResult(
      log_,
      services_.midiOutOpen(&record->outHandle, device, reinterpret_cast<DWORD_PTR>(&MidiOutProc),
                            reinterpret_cast<DWORD_PTR>(record.get()), CALLBACK_FUNCTION),
      kMidiOutOpen);
  if (result != MMSYSERR_NOERROR)
    return Opened::kNo;
  if (!CompleteRecord(*record, device, bufferSize)) {
    ReportMidiResult(log_, MMSYSERR_NOMEM, kMidiOutOpen);
    services_.midiOutClose(record->outHandle);
    return Opened::kNo;
  }
  services_.midiOutGetDevCapsA(device, &record->outCaps, sizeof(MIDIOUTCAPSA));
  record->next = std::move(outputHead_);
  outputHead_ = std::move(record);
  return Opened::kYes;
}

void PortSet::ListInputEvents() {
  inputEvents_.clear();
  for (PortRecord* r = inputHead_.get(); r != nullptr; r = r->next.get()) {
    inputEvents_.push_back(r->event.get());
    r->event->Reset();
  }
}

int PortSet::OpenAllMidiIn(std::uint32_t bufferSize) {
  const UINT count = services_.midiInGetNumDevs();
  int opened = 0;
  for (UINT d = 0; d < count; ++d) {
    const Opened result = OpenInput(d, bufferSize);
    // Short of memory for a record: the ports after it are not tried either.
    if (result == Opened::kNoMemory)
      break;
    opened += result == Opened::kYes ? 1 : 0;
  }
  if (opened > 0)
    ListInputEvents();
  return opened;
}

int PortSet::OpenAllMidiOut(std::uint32_t bufferSize) {
  const UINT count = services_.midiOutGetNumDevs();
  int opened = 0;
  for (UINT d = 0; d < count; ++d) {
    const Opened result = OpenOutput(d, bufferSize);
    if (result == Opened::kNoMemory)
      break;
    opened += result == Opened::kYes ? 1 : 0;
  }
  return opened;
}

bool PortSet::OpenPair(PortPair ports, std::uint32_t bufferSize) {
  if (ports.output < 0 || ports.input < 0)
    return false;
  const bool opened = OpenOutput(static_cast<UINT>(ports.output), bufferSize) == Opened::kYes &&
                      OpenInput(static_cast<UINT>(ports.input), bufferSize) == Opened::kYes;
  ListInputEvents();
  return opened;
}

void PortSet::CloseInput(std::unique_ptr<PortRecord> record) {
  if (record->openCount.load(std::memory_order_acquire) == 0)
    return;  // not open: just release
  HMIDIIN handle = record->inHandle;
  ReportMidiResult(log_, services_.midiInReset(handle), kMidiInReset);
  if (record->header->dwFlags & MHDR_PREPARED) {
    ReportMidiResult(log_,
                     services_.midiInUnprepareHeader(handle, record->header.get(), sizeof(MIDIHDR)),
                     kMidiInUnprepareHeader);
  }
  if (ReportMidiResult(log_, services_.midiInClose(handle), kMidiInClose) != MMSYSERR_NOERROR)
    unclosed_.push_back(std::move(record));
}

void PortSet::CloseOutput(std::unique_ptr<PortRecord> record) {
  if (record->openCount.load(std::memory_order_acquire) == 0)
    return;
  HMIDIOUT handle = record->outHandle;
  ReportMidiResult(log_, services_.midiOutReset(handle), kMidiOutReset);
  if (record->header->dwFlags & MHDR_PREPARED) {
    ReportMidiResult(
        log_, services_.midiOutUnprepareHeader(handle, record->header.get(), sizeof(MIDIHDR)),
        kMidiOutUnprepareHeader);
  }
  if (ReportMidiResult(log_, services_.midiOutClose(handle), kMidiOutClose) != MMSYSERR_NOERROR)
    unclosed_.push_back(std::move(record));
}

void PortSet::CloseAllMidiIn() {
  inputEvents_.clear();
  while (inputHead_) {
    std::unique_ptr<PortRecord> record = std::move(inputHead_);
    inputHead_ = std::move(record->next);
    CloseInput(std::move(record));
  }
}

void PortSet::CloseAllMidiOut() {
  while (outputHead_) {
    std::unique_ptr<PortRecord> record = std::move(outputHead_);
    outputHead_ = std::move(record->next);
    CloseOutput(std::move(record));
  }
}

void PortSet::CloseAll() {
  CloseAllMidiOut();
  CloseAllMidiIn();
}

void PortSet::CloseAllBut(PortPair ports) {
  // Each list is taken apart and the kept record put back alone: the order of
  // a list of one cannot change.
  const auto keepOne = [](std::unique_ptr<PortRecord>& head, std::int32_t kept, auto close) {
    std::unique_ptr<PortRecord> keep;
    while (head) {
      std::unique_ptr<PortRecord> record = std::move(head);
      head = std::move(record->next);
      if (!keep && kept >= 0 && record->deviceNumber == static_cast<std::uint32_t>(kept))
        keep = std::move(record);
      else
        close(std::move(record));
    }
    head = std::move(keep);
  };
  keepOne(outputHead_, ports.output, [this](auto record) { CloseOutput(std::move(record)); });
  inputEvents_.clear();
  keepOne(inputHead_, ports.input, [this](auto record) { CloseInput(std::move(record)); });
  ListInputEvents();
}

void PortSet::RequeueInputBuffer(PortRecord& input) {
  input.header->dwBytesRecorded = 0;
  input.header->dwFlags &= ~MHDR_DONE;
  ReportMidiResult(log_,
                   services_.midiInAddBuffer(input.inHandle, input.header.get(), sizeof(MIDIHDR)),
                   kMidiInAddBuffer);
}

PortRecord* PortSet::FindInput(std::int32_t deviceNumber) const {
  return Find(inputHead_.get(), deviceNumber);
}

PortRecord* PortSet::FindOutput(std::int32_t deviceNumber) const {
  return Find(outputHead_.get(), deviceNumber);
}

void CALLBACK MidiInProc(HMIDIIN, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
  auto* record = reinterpret_cast<PortRecord*>(instance);
  if (record == nullptr)
    return;
  record->lastMessage.store(message, std::memory_order_relaxed);
  switch (message) {
    case MIM_OPEN:
      record->openCount.fetch_add(1, std::memory_order_acq_rel);
      return;
    case MIM_CLOSE:
      record->openCount.fetch_sub(1, std::memory_order_acq_rel);
      // Wakes a worker that waits for the close to be confirmed.
      if (record->event)
        record->event->Set();
      return;
    case MIM_LONGDATA: {
      const auto* returned = reinterpret_cast<const MIDIHDR*>(param1);
      if (returned == nullptr)
        return;
      // Only recorded bytes inside the buffer are looked at.
      const DWORD valid = std::min(returned->dwBytesRecorded, returned->dwBufferLength);
      const bool ours =
          valid >= kMessageHeader.size() && returned->lpData != nullptr &&
          std::memcmp(returned->lpData, kMessageHeader.data(), kMessageHeader.size()) == 0;
      if (returned->dwBytesRecorded == 0 || ours) {
        // The buffer stays out of the queue until the waiting worker has read it.
        if (record->event)
          record->event->Set();
        return;
      }
      [[fallthrough]];  // another maker's message goes straight back to the driver
    }
    case MIM_LONGERROR:
      if (record->header && record->services) {
        // The driver clears MHDR_DONE as it queues the buffer, in one store: the
        // worker watching the flags never sees it neither done nor queued while
        // this thread still holds it. Only a refused buffer is marked out here.
        MIDIHDR& header = *record->header;
        header.dwBytesRecorded = 0;
        if (record->services->midiInAddBuffer(record->inHandle, &header, sizeof(MIDIHDR)) !=
            MMSYSERR_NOERROR) {
          StoreHeaderFlags(header, LoadHeaderFlags(header) & ~MHDR_DONE);
        }
      }
      return;
    default:
      return;
  }
}

void CALLBACK MidiOutProc(HMIDIOUT, UINT message, DWORD_PTR instance, DWORD_PTR, DWORD_PTR) {
  auto* record = reinterpret_cast<PortRecord*>(instance);
  if (record == nullptr)
    return;
  record->lastMessage.store(message, std::memory_order_relaxed);
  if (message == MOM_OPEN)
    record->openCount.fetch_add(1, std::memory_order_acq_rel);
  if (message == MOM_CLOSE)
    record->openCount.fetch_sub(1, std::memory_order_acq_rel);
  // During the open call the record has no event yet, so MOM_OPEN signals nothing.
  if (record->event)
    record->event->Set();
}

}  // namespace korvane

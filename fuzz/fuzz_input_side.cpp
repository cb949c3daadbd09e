// The input side on arbitrary returned buffers: MidiInProc with any message
// code, any buffer size and any recorded byte count (larger than the buffer
// included), then the reply tests the scan and the transfer apply to what it
// leaves. Nothing may read outside the buffer (the address sanitizer aborts),
// and the callback must signal or hand back exactly as its contract says.
//
// Input layout: [code selector] [buffer size, 2 bytes] [recorded count,
// 4 bytes] [flags] [sent command] [buffer contents...].
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "midi/fixed_result_midi_services.h"
#include "midi/header_rules.h"
#include "midi/protocol.h"
#include "run/port_record.h"
#include "run/port_set.h"
#include "update/device_messages.h"
#include "update/header_bytes.h"

namespace {

using namespace korvane;

// Counts the headers handed back and queues them as a driver does, or
// refuses them; every other call succeeds and does nothing.
class CountingServices final : public FixedResultMidiServices {
 public:
  CountingServices() : FixedResultMidiServices(MMSYSERR_NOERROR, MMSYSERR_NOERROR) {}
  MMRESULT midiInAddBuffer(HMIDIIN, MIDIHDR* header, UINT size) override {
    ++added;
    lastAdded = header;
    lastSize = size;
    if (refuse)
      return MMSYSERR_INVALHANDLE;
    MarkQueued(*header);
    return MMSYSERR_NOERROR;
  }

  bool refuse = false;
  int added = 0;
  const MIDIHDR* lastAdded = nullptr;
  UINT lastSize = 0;
};

constexpr UINT kCodes[] = {MIM_LONGDATA, MIM_LONGERROR, MIM_OPEN, MIM_CLOSE, MIM_DATA, MIM_ERROR};
// Enough for any buffer the file check can ask for, and a bit beyond.
constexpr std::size_t kMostBuffer = 2048;

void Check(bool condition) {
  if (!condition)
    std::abort();
}

// The tests the scan and the transfer make on a reply, and what each implies.
void CheckReplyTests(std::span<const std::uint8_t> reply, std::uint8_t sentCommand) {
  const bool header = HasMessageHeader(reply);
  Check(header == (reply.size() >= 4 &&
                   std::equal(kMessageHeader.begin(), kMessageHeader.end(), reply.begin())));

  const bool answer = IsReplyTo(reply, sentCommand);
  Check(answer == (header && reply.size() > kCommandIndex &&
                   reply[kCommandIndex] == static_cast<std::uint8_t>(sentCommand + 1)));
  Check(IsIdentityReply(reply) == IsReplyTo(reply, kCmdIdentityRequest));

  const std::optional<std::uint8_t> status = BlockReplyStatus(reply);
  Check(status.has_value() == (reply.size() > kStatusIndex));
  if (status) {
    Check(*status == reply[kStatusIndex]);
    Check(BlockStatusText(*status) != nullptr);
  }

  // "%12.12s" of the bytes from index 7: up to a zero byte, the buffer's end
  // or 12 characters, padded with blanks on the left.
  std::size_t shown = 0;
  while (shown < kDeviceNameLength && kNameIndex + shown < reply.size() &&
         reply[kNameIndex + shown] != 0) {
    ++shown;
  }
  const std::string name = DeviceNameFromReply(reply);
  Check(name.size() == kDeviceNameLength);
  Check(name.find_first_not_of(' ') >= kDeviceNameLength - shown);
  if (shown > 0) {
    Check(std::memcmp(name.data() + kDeviceNameLength - shown, reply.data() + kNameIndex, shown) ==
          0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 9)
    return 0;
  const UINT code = kCodes[data[0] % std::size(kCodes)];
  const std::size_t bufferSize = (static_cast<std::size_t>(data[1]) | (data[2] << 8)) % kMostBuffer;
  DWORD recorded = 0;
  std::memcpy(&recorded, data + 3, sizeof recorded);
  const std::uint8_t flags = data[7];
  const std::uint8_t sentCommand = data[8];
  const std::span<const std::uint8_t> contents(data + 9, size - 9);

  CountingServices services;
  PortRecord record;
  record.isInput = true;
  record.services = (flags & 1) ? nullptr : &services;
  services.refuse = (flags & 8) != 0;
  record.header = std::make_unique<MIDIHDR>();
  if (!(flags & 2))
    record.event = std::make_unique<ManualResetEvent>();
  // Exactly bufferSize bytes, so that a read one past the end is caught.
  record.buffer = std::vector<char>(bufferSize);
  if (bufferSize > 0 && !contents.empty())
    std::memcpy(record.buffer.data(), contents.data(), std::min(bufferSize, contents.size()));
  record.header->lpData = bufferSize == 0 ? nullptr : record.buffer.data();
  record.header->dwBufferLength = static_cast<DWORD>(bufferSize);
  record.header->dwBytesRecorded = recorded;
  record.header->dwFlags = MHDR_DONE | MHDR_PREPARED;

  const std::size_t valid = std::min<std::size_t>(recorded, bufferSize);
  const bool ours = valid >= 4 && std::memcmp(record.buffer.data(), kMessageHeader.data(), 4) == 0;
  const bool nullHeader = (flags & 4) != 0;
  MidiInProc(nullptr, code, reinterpret_cast<DWORD_PTR>(&record),
             nullHeader ? 0 : reinterpret_cast<DWORD_PTR>(record.header.get()), 0);
  Check(record.lastMessage.load() == code);

  const bool eventSet = record.event && record.event->IsSet();
  const bool handBack =
      code == MIM_LONGERROR || (code == MIM_LONGDATA && !nullHeader && recorded != 0 && !ours);
  if (code == MIM_LONGDATA && !nullHeader && (recorded == 0 || ours)) {
    // Kept for the worker: signalled, not queued, left as the driver returned it.
    Check(eventSet == (record.event != nullptr));
    Check(services.added == 0);
    Check(record.header->dwBytesRecorded == recorded);
  } else {
    // A close wakes a worker waiting for its confirmation; nothing else does.
    Check(eventSet == (code == MIM_CLOSE && record.event != nullptr));
    if (handBack && record.services) {
      Check(services.added == 1 && services.lastAdded == record.header.get());
      Check(services.lastSize == sizeof(MIDIHDR));
      // Queued again, or, refused, out of the queue and no longer done.
      const DWORD out = record.header->dwFlags & (MHDR_DONE | MHDR_INQUEUE);
      Check(record.header->dwBytesRecorded == 0 && out == (services.refuse ? 0 : MHDR_INQUEUE));
    } else {
      Check(services.added == 0);
    }
  }
  Check(record.openCount.load() == (code == MIM_OPEN ? 1 : code == MIM_CLOSE ? -1 : 0));

  // What a worker reads once the event fired: the whole buffer, whatever the
  // recorded count says.
  const std::span<const std::uint8_t> reply = HeaderBytes(record);
  Check(reply.size() == bufferSize);
  CheckReplyTests(reply, sentCommand);
  // The same tests on a buffer cut to the recorded count.
  CheckReplyTests(reply.first(std::min<std::size_t>(recorded, reply.size())), sentCommand);
  return 0;
}

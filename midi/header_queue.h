// The headers an emulated input holds for the SysEx to come, linked through
// their own lpNext as WinMM does, so queueing never allocates. The input's
// own lock guards it; the caller hands back what it returns outside that
// lock, as the callback may queue a header again.
#pragma once

#include <cstddef>

#include "midi/winmm.h"

namespace korvane {

class HeaderQueue {
 public:
  bool Empty() const { return head_ == nullptr; }
  std::size_t Size() const;

  // midiInAddBuffer's checks, then the header at the end of the queue.
  MMRESULT Add(MIDIHDR& header);
  // The first header, out of the queue and returned holding as much of the
  // message as it can (the rest is lost, as with one buffer on WinMM); null
  // when none is queued.
  MIDIHDR* Fill(const unsigned char* data, std::size_t size);
  // Every queued header, returned empty, still linked in order; the queue is
  // then empty.
  MIDIHDR* TakeAll();

 private:
  MIDIHDR* head_ = nullptr;
  MIDIHDR* tail_ = nullptr;
};

// Calls back each header of a list TakeAll gave, in order, unlinked first:
// the callback may queue it again, which rewrites its lpNext.
template <typename Callback>
void HandBack(MIDIHDR* list, Callback callback) {
  while (list != nullptr) {
    MIDIHDR* next = list->lpNext;
    list->lpNext = nullptr;
    callback(*list);
    list = next;
  }
}

}  // namespace korvane

#include "midi/header_queue.h"

#include <algorithm>
#include <cstring>

#include "midi/header_rules.h"

namespace korvane {

MMRESULT HeaderQueue::Add(MIDIHDR& header) {
  if (const MMRESULT ready = CheckReadyToQueue(header); ready != MMSYSERR_NOERROR)
    return ready;
  MarkQueued(header);
  header.lpNext = nullptr;
  if (tail_ != nullptr) {
    tail_->lpNext = &header;
  } else {
    head_ = &header;
  }
  tail_ = &header;
  return MMSYSERR_NOERROR;
}

std::size_t HeaderQueue::Size() const {
  std::size_t size = 0;
  for (const MIDIHDR* h = head_; h != nullptr; h = h->lpNext)
    ++size;
  return size;
}

MIDIHDR* HeaderQueue::Fill(const unsigned char* data, std::size_t size) {
  MIDIHDR* header = head_;
  if (header == nullptr)
    return nullptr;
  head_ = header->lpNext;
  if (head_ == nullptr)
    tail_ = nullptr;
  header->lpNext = nullptr;
  const std::size_t kept = std::min<std::size_t>(size, header->dwBufferLength);
  if (kept > 0)
    std::memcpy(header->lpData, data, kept);
  MarkReturned(*header, static_cast<DWORD>(kept));
  return header;
}

MIDIHDR* HeaderQueue::TakeAll() {
  MIDIHDR* taken = head_;
  head_ = tail_ = nullptr;
  for (MIDIHDR* h = taken; h != nullptr; h = h->lpNext)
    MarkReturned(*h, 0);
  return taken;
}

}  // namespace korvane

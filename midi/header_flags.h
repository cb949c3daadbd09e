// The flags of a long-message header that a driver's thread may change while
// the header is queued (MHDR_DONE set, MHDR_INQUEUE cleared when it hands the
// buffer back). The driver stores them, and whoever looks at a header that
// may still be queued loads them, through these: one word, never torn, and
// the buffer's bytes written before the store are seen after the load.
#pragma once

#include <atomic>

#include "midi/winmm.h"

namespace korvane {

inline DWORD LoadHeaderFlags(MIDIHDR& header) {
  return std::atomic_ref<DWORD>(header.dwFlags).load(std::memory_order_acquire);
}

inline void StoreHeaderFlags(MIDIHDR& header, DWORD flags) {
  std::atomic_ref<DWORD>(header.dwFlags).store(flags, std::memory_order_release);
}

}  // namespace korvane

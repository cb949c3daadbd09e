// A lock-free ring of bytes between one writer thread and one reader thread,
// for JACK's process thread, which must neither lock nor allocate. A record
// goes in whole or not at all. Its own atomics rather than libjack's ring
// buffer: ThreadSanitizer sees the ordering these give, not libjack's.
#pragma once

#include <atomic>
#include <bit>
#include <cstddef>
#include <cstring>
#include <span>
#include <vector>

namespace korvane::rtmidi_backend {

class ByteRing {
 public:
  // capacity is rounded up to a power of two.
  explicit ByteRing(std::size_t capacity)
      : data_(std::bit_ceil(capacity)), mask_(data_.size() - 1) {}
  ByteRing(const ByteRing&) = delete;
  ByteRing& operator=(const ByteRing&) = delete;

  std::size_t Capacity() const { return data_.size(); }

  // Writer: appends head then body as one record; false, writing nothing,
  // when they do not fit.
  bool Write(std::span<const unsigned char> head, std::span<const unsigned char> body) {
    const std::size_t written = written_.load(std::memory_order_relaxed);
    const std::size_t free = data_.size() - (written - read_.load(std::memory_order_acquire));
    if (head.size() + body.size() > free)
      return false;
    CopyIn(written, head);
    CopyIn(written + head.size(), body);
    written_.store(written + head.size() + body.size(), std::memory_order_release);
    return true;
  }

  // Reader: the bytes written and not yet consumed.
  std::size_t ReadSpace() const {
    return written_.load(std::memory_order_acquire) - read_.load(std::memory_order_relaxed);
  }
  // Reader: copies size bytes from offset on, without consuming them.
  void Peek(std::size_t offset, void* out, std::size_t size) const {
    const std::size_t from = read_.load(std::memory_order_relaxed) + offset;
    auto* bytes = static_cast<unsigned char*>(out);
    const std::size_t first = std::min(size, data_.size() - (from & mask_));
    std::memcpy(bytes, data_.data() + (from & mask_), first);
    std::memcpy(bytes + first, data_.data(), size - first);
  }
  // Reader: gives size bytes back to the writer.
  void Consume(std::size_t size) {
    read_.store(read_.load(std::memory_order_relaxed) + size, std::memory_order_release);
  }

 private:
  void CopyIn(std::size_t at, std::span<const unsigned char> bytes) {
    const std::size_t first = std::min(bytes.size(), data_.size() - (at & mask_));
    std::memcpy(data_.data() + (at & mask_), bytes.data(), first);
    std::memcpy(data_.data(), bytes.data() + first, bytes.size() - first);
  }

  std::vector<unsigned char> data_;
  const std::size_t mask_;
  // Bytes written and read since the start; they never wrap in practice.
  std::atomic<std::size_t> written_{0};
  std::atomic<std::size_t> read_{0};
};

}  // namespace korvane::rtmidi_backend

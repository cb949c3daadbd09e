#include "run/port_record.h"

#include <new>

namespace korvane {

bool PortRecord::ResizeBuffer(std::size_t size) {
  try {
    buffer.resize(size);
  } catch (const std::bad_alloc&) {
    return false;
  }
  header->lpData = buffer.data();
  header->dwBufferLength = static_cast<DWORD>(size);
  return true;
}

}  // namespace korvane

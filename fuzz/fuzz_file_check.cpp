// The file check on arbitrary bytes: it must never read outside the image
// (the address sanitizer aborts if it does) and its result must hold together.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "update/file_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A copy of exactly this size, so a read one past the end is caught.
  const std::vector<std::uint8_t> image(data, data + size);
  const korvane::FileCheckResult result = korvane::CheckUpdateImage(image);

  if (result.longestDistance != 0 && result.longestDistance >= image.size())
    std::abort();
  if (result.fault == korvane::FileFault::kMessage &&
      (result.faultIndex >= image.size() || image[result.faultIndex] != 0xF0)) {
    std::abort();
  }
  if (result.fault == korvane::FileFault::kNone && (image.size() < 7 || !result.model)) {
    std::abort();
  }
  // An accepted image never ends inside a message: its last 0xF0 is closed.
  if (result.fault == korvane::FileFault::kNone) {
    const auto lastStart = std::find(image.rbegin(), image.rend(), 0xF0);
    if (lastStart != image.rend() && std::find(image.rbegin(), lastStart, 0xF7) == lastStart)
      std::abort();
  }
  return 0;
}

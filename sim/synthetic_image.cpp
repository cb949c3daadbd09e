#include "sim/synthetic_image.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <random>

#include "update/device_messages.h"

namespace korvane {

Bytes MakeSyntheticImage(std::uint8_t model, std::size_t messages, std::size_t length,
                         std::uint32_t seed, bool addressed) {
  Bytes image;
  if (length < 8)
    return image;
  image.reserve(messages * length);
  // mt19937 is fixed by the standard, so a seed gives the same file everywhere.
  std::mt19937 generator(seed);
  for (std::size_t m = 0; m < messages; ++m) {
    image.insert(image.end(), kMessageHeader.begin(), kMessageHeader.end());
    image.insert(image.end(), {kBuiltIndex4, model, kCmdFirmwareBlock});
    std::size_t i = 7;
    if (addressed && length >= 10) {
      image.push_back(static_cast<std::uint8_t>(m & 0x7F));
      image.push_back(static_cast<std::uint8_t>((m >> 7) & 0x7F));
      i = 9;
    }
    for (; i + 1 < length; ++i)
      image.push_back(static_cast<std::uint8_t>(generator() & 0x7F));
    image.push_back(kSysExEnd);
  }
  return image;
}

std::string WriteBytesToFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out)
    return "cannot open " + path + " for writing: " + std::strerror(errno);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out)
    return "cannot write " + path;
  return {};
}

}  // namespace korvane

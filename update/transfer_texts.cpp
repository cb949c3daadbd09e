#include "update/transfer_texts.h"

#include <array>
#include <cstdio>

namespace korvane {

std::string OrdinalWord(int retry) {
  static constexpr std::array<const char*, 10> kWords = {"1st", "2nd", "3rd", "4th", "5th",
                                                         "6th", "7th", "8th", "9th", "10th"};
  if (retry >= 1 && retry <= static_cast<int>(kWords.size()))
    return kWords[retry - 1];
  return std::to_string(retry) + "th";
}

std::string WritingBlockLine(int block, int totalBlocks) {
  char text[64];
  std::snprintf(text, sizeof text, kWritingBlockFormat, block, totalBlocks);
  return text;
}

std::string RetryBlockLine(int retry, int block, int totalBlocks) {
  char text[96];
  std::snprintf(text, sizeof text, kRetryBlockFormat, OrdinalWord(retry).c_str(), block,
                totalBlocks);
  return text;
}

std::string MessageTooLongLine(std::size_t longest, std::size_t carried) {
  char text[192];
  std::snprintf(text, sizeof text, kMessageTooLongFormat, longest, carried);
  return text;
}

}  // namespace korvane

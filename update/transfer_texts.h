// The block lines of the transfer's log, built from the catalogue's formats.
#pragma once

#include <cstddef>
#include <string>

#include "run/texts.h"

namespace korvane {

// "1st" to "10th" for retry counters 1 to 10; the number with "th" beyond.
std::string OrdinalWord(int retry);

// "\r\nWriting Block %d/%d ..."
std::string WritingBlockLine(int block, int totalBlocks);
// "\r\n%s retry on Block %d/%d ..."
std::string RetryBlockLine(int retry, int block, int totalBlocks);
// kMessageTooLongFormat filled in.
std::string MessageTooLongLine(std::size_t longest, std::size_t carried);

}  // namespace korvane

// The texts the transfer writes to the log. The user knows them from earlier
// versions of the program, so they are kept word for word, spelling included.
#pragma once

#include <string>

namespace korvane {

inline constexpr const char* kStartingUpdateText = "\r\nStarting Update";
inline constexpr const char* kTimeoutText = "timeout ERROR";
inline constexpr const char* kLostConnectionText =
    "\r\nThe hardware is not longer conected to your computer";
inline constexpr const char* kSuccessText = "\r\nUpdate successfully completed.";
inline constexpr const char* kDangerText =
    "\r\n--------------------------------\r\nDANGER!!!\r\nDO NOT SWITCH OFF YOUR KORVANE NOW"
    "\r\nThere were errors while flashing the OS.\r\nRetry it now!\r\nIf you do switch off now "
    "your Korvane is only refreshable with a standard MIDI Interface but not working with USB "
    "anymore";
inline constexpr const char* kMemoryErrorText = "\r\n!!!Memory alloction Error!!!";

// Cases of our own, where the run cannot begin or go on.
inline constexpr const char* kPairNotFoundText =
    "\r\nThe chosen device's MIDI ports are no longer open; please rescan.";
inline constexpr const char* kInputNotClosedText =
    "\r\nThe MIDI input port did not confirm its close; nothing was sent; please rescan.";
inline constexpr const char* kWaitFailedText = "waiting for the reply failed";

// "1st" to "10th" for retry counters 1 to 10; the number with "th" beyond.
std::string OrdinalWord(int retry);

// "\r\nWriting Block %d/%d ..."
std::string WritingBlockLine(int block, int totalBlocks);
// "\r\n%s retry on Block %d/%d ..."
std::string RetryBlockLine(int retry, int block, int totalBlocks);

}  // namespace korvane

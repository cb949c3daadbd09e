// The system's texts, in one place. Those marked as the system's own are
// what owners know from earlier versions of the program and what their
// guides quote: they are kept character for character, spelling mistakes
// included ("conected", "alloction", "progrss"). Each text that starts a log
// line carries its own "\r\n"; the others run on in the current line.
#pragma once

namespace korvane {

// --- The system's own: the log.
inline constexpr const char* kGreetingText = "Welcome to the Korvane-Update Utility.";
inline constexpr const char* kSelectFileText = "\r\nPlease select a file to upload.";
inline constexpr const char* kCheckingFileText = "\r\nChecking file: ";
inline constexpr const char* kFileNotFoundText = "\r\nERROR: File not found.";
inline constexpr const char* kReadErrorText = "\r\nERROR reading file";
inline constexpr const char* kModelSelectedFormat = "\r\n%s update file selected.";
inline constexpr const char* kUnknownModelText = "\r\nSorry, unknown Controller file selected.";
inline constexpr const char* kIncorrectFileText = "\r\nERROR incorrect file";
inline constexpr const char* kRecheckFailedText = "\r\nSorry, incorrect file";
inline constexpr const char* kCheckingPortsText = "\r\nChecking MidiPorts...";
inline constexpr const char* kNoPortText =
    "\r\nSorry, it seems as if there is no MIDI IN Port.\r\nYou may choose another File or "
    "connect an appropriate device and press the RESCAN button.";
inline constexpr const char* kNoDeviceText =
    "\r\nNo Suitable device found!\r\nPlease choose another file using the OPEN button or "
    "connect an appropriate device and press the RESCAN button.";
inline constexpr const char* kMemoryErrorText = "\r\n!!!Memory alloction Error!!!";
inline constexpr const char* kStartingUpdateText = "\r\nStarting Update";
inline constexpr const char* kWritingBlockFormat = "\r\nWriting Block %d/%d ...";
inline constexpr const char* kRetryBlockFormat = "\r\n%s retry on Block %d/%d ...";
inline constexpr const char* kOkText = "OK";
inline constexpr const char* kOkAfterRetryText = "OK\r\n";
inline constexpr const char* kSequenceErrorText = "Sequence error";
inline constexpr const char* kEraseErrorText = "Erase error";
inline constexpr const char* kReprogramErrorText = "Reprogram error";
inline constexpr const char* kUnknownErrorText = "Unknown error";
inline constexpr const char* kTimeoutText = "timeout ERROR";
inline constexpr const char* kLostConnectionText =
    "\r\nThe hardware is not longer conected to your computer";
inline constexpr const char* kSuccessText = "\r\nUpdate successfully completed.";
inline constexpr const char* kDangerText =
    "\r\n--------------------------------\r\nDANGER!!!\r\nDO NOT SWITCH OFF YOUR KORVANE NOW"
    "\r\nThere were errors while flashing the OS.\r\nRetry it now!\r\nIf you do switch off now "
    "your Korvane is only refreshable with a standard MIDI Interface but not working with USB "
    "anymore";

// --- The system's own: the window.
inline constexpr const char* kMainCaption = "Aldermark Korvane Update Utility";
inline constexpr const char* kQuestionCaption = "Korvane Update Utility";
// Asked at the cancel command while busy: OK keeps the work running.
inline constexpr const char* kCancelQuestion =
    "There is an operation in progrss which should not be interrupted.\r\nYou may interrupt it "
    "on your own risk by pressing [CANCEL]\r\nOtherwise press [OK] to continue";
// Asked when the window is destroyed while busy: OK interrupts.
inline constexpr const char* kDestroyQuestion =
    "There is an operation in progrss which should not be interrupted.\r\nYou may interrupt it "
    "on your own risk by pressing [OK]\r\nOtherwise press [CANCEL]";
inline constexpr const char* kOpenText = "&Open";
inline constexpr const char* kRescanText = "&Rescan";
inline constexpr const char* kExitText = "&Exit";
inline constexpr const char* kAboutCaption = "About KORVANEUPDATE";
inline constexpr const char* kAboutText = "KORVANEUPDATE Version 1.0";
inline constexpr const char* kAboutMenuText = "&About KORVANEUPDATE...";
inline constexpr const char* kDeviceCaption = "Please select device to update";
inline constexpr const char* kFileFilterName = "SysEx Files (*.syx)";

// --- Ours: cases the earlier versions had no words for.
inline constexpr const char* kNoMemoryForFileText = "\r\nERROR: Not enough memory for the file.";
inline constexpr const char* kPairNotFoundText =
    "\r\nThe chosen device's MIDI ports are no longer open; please rescan.";
inline constexpr const char* kInputNotClosedText =
    "\r\nThe MIDI input port did not confirm its close; nothing was sent; please rescan.";
inline constexpr const char* kDeviceSilentText =
    "\r\nThe device did not answer; nothing was sent; please rescan.";
// The file's longest message, then the longest the chosen MIDI system carries.
inline constexpr const char* kMessageTooLongFormat =
    "\r\nThe update file holds a message of %zu bytes, and this MIDI connection carries %zu at "
    "most; nothing was sent.";
// After "timeout ERROR": the block's OK came after the wait; it is not sent again.
inline constexpr const char* kLateOkText = " - its reply came late: OK\r\n";
inline constexpr const char* kAnsweredTwiceText =
    "\r\nA block was answered after it had been sent again; the controller may hold it twice.";
inline constexpr const char* kWaitFailedText = "waiting for the reply failed";
// Followed by what failed and ")".
inline constexpr const char* kWorkerFailedText =
    "\r\nAn internal error ended this step; please try again (";

}  // namespace korvane

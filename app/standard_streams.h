// A program started with standard input, output or error closed would hand
// those descriptor numbers to the next files it opens: the MIDI system's
// shared database, a log file. What it then prints lands in them. Each of our
// programs calls this first thing, and a closed one is opened on /dev/null.
#pragma once

namespace korvane {

void ReopenClosedStandardStreams();

}  // namespace korvane

// korvane-sim: a simulated Korvane controller on real virtual MIDI ports, and
// the maker of synthetic update files.
#include <string>
#include <vector>

#include "app/standard_streams.h"
#include "sim/tool/sim_commands.h"

int main(int argc, char** argv) {
  korvane::ReopenClosedStandardStreams();
  return korvane::RunSimCommand(std::vector<std::string>(argv + 1, argv + argc));
}

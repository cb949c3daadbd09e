// korvane-sim: a simulated Korvane controller on real virtual MIDI ports, and
// the maker of synthetic update files.
#include <string>
#include <vector>

#include "sim/tool/sim_commands.h"

int main(int argc, char** argv) {
  return korvane::RunSimCommand(std::vector<std::string>(argv + 1, argv + argc));
}

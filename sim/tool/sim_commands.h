// The two things korvane-sim does: play a controller until a signal ends it,
// and write a synthetic update file. Each returns the exit status.
#pragma once

#include <string>
#include <vector>

namespace korvane {

constexpr int kSimExitOk = 0;
constexpr int kSimExitFailure = 1;
constexpr int kSimExitUsage = 64;

// args excludes the program name.
int RunSimCommand(const std::vector<std::string>& args);

}  // namespace korvane

// korvane-sim's complaints on stderr. JACK's own threads print there too, so
// each line goes out whole in one write; written piece by piece, it came out
// torn by theirs.
#pragma once

#include <cstdio>
#include <string>

namespace korvane {

inline void PrintErrorLine(const std::string& text) {
  const std::string line = "korvane-sim: " + text + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

}  // namespace korvane

// How the load maps 4096-byte pieces onto the progress bar, whose range is a
// 16-bit value: up to 65535 whole pieces (256 MiB) one step each; beyond that
// one step per 2^shift pieces, so the range never wraps.
#pragma once

#include <cstdint>

namespace korvane {

constexpr std::uint64_t kLoadPieceSize = 4096;
constexpr std::uint64_t kProgressRangeMax = 0xFFFF;

struct LoadProgress {
  int high = 0;        // the range is 0 to high
  unsigned shift = 0;  // a step after every 2^shift pieces
};

constexpr LoadProgress PlanLoadProgress(std::uint64_t fileSize) {
  const std::uint64_t pieces = fileSize / kLoadPieceSize;
  unsigned shift = 0;
  while ((pieces >> shift) > kProgressRangeMax)
    ++shift;
  return {static_cast<int>(pieces >> shift), shift};
}

// Whether the piece with this 1-based count ends a progress step.
constexpr bool StepsAfterPiece(const LoadProgress& plan, std::uint64_t piecesRead) {
  return (piecesRead & ((std::uint64_t{1} << plan.shift) - 1)) == 0;
}

}  // namespace korvane

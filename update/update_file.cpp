#include "update/update_file.h"

#include <cstdio>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <limits>
#include <new>

#include "run/steps.h"
#include "run/texts.h"
#include "run/update_state.h"
#include "update/device_messages.h"
#include "update/file_check.h"
#include "update/load_progress.h"

namespace korvane {

namespace {

enum class LoadResult { kLoaded, kNotOpened, kFailed };

// The largest file read. These controllers' firmware is a small fraction of
// this; the transfer paces 3 bytes per millisecond, as a MIDI cable carries
// them, so 16 MiB would already take over an hour and a half to send. Anything
// larger is no update for them, and is refused before it costs memory.
constexpr std::uint64_t kLargestUpdateFile = 16u << 20;

// Steps 2 to 8 of the load, between entering and leaving the busy state.
LoadResult LoadImage(UpdateState& state) {
  const std::filesystem::path path(state.filePath.value_or(std::string()));
  std::error_code error;
  // A folder, a device or a pipe opens on some systems but is no update file.
  if (path.empty() || !std::filesystem::is_regular_file(path, error)) {
    state.log.AppendLog(kFileNotFoundText);
    return LoadResult::kNotOpened;
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    state.log.AppendLog(kFileNotFoundText);
    return LoadResult::kNotOpened;
  }

  file.seekg(0, std::ios::end);
  const std::streamoff end = file.tellg();
  file.seekg(0, std::ios::beg);
  // The old image goes as soon as the new file is open, as for any load.
  state.image.reset();
  if (end < 0 || !file) {
    state.log.AppendLog(kReadErrorText);
    return LoadResult::kFailed;
  }
  const auto size = static_cast<std::uint64_t>(end);
  if (size > kLargestUpdateFile) {
    state.log.AppendLog(kReadErrorText);
    return LoadResult::kFailed;
  }
  try {
    state.image.emplace(static_cast<std::size_t>(size));
  } catch (const std::bad_alloc&) {
    state.image.reset();
    state.log.AppendLog(kNoMemoryForFileText);
    return LoadResult::kFailed;
  }

  const LoadProgress plan = PlanLoadProgress(size);
  state.window.ProgressSetRange(0, plan.high);
  state.window.ProgressSetPosition(0);
  state.window.ProgressStep();

  std::vector<std::uint8_t>& image = *state.image;
  LoadResult result = LoadResult::kLoaded;
  std::uint64_t offset = 0;
  std::uint64_t piecesRead = 0;
  do {
    const auto piece = static_cast<std::streamsize>(std::min(kLoadPieceSize, size - offset));
    // A piece counts only when it arrived whole; an empty piece never does.
    bool whole = piece > 0;
    if (whole) {
      file.read(reinterpret_cast<char*>(image.data() + offset), piece);
      whole = file.gcount() == piece;
    }
    if (!whole) {
      state.image.reset();
      state.log.AppendLog(kReadErrorText);
      result = LoadResult::kFailed;
      break;
    }
    ++piecesRead;
    if (StepsAfterPiece(plan, piecesRead))
      state.window.ProgressStep();
    offset += static_cast<std::uint64_t>(piece);
  } while (offset < size);

  file.close();
  state.window.ProgressSetPosition(0);
  return result;
}

}  // namespace

void FileLoadWorker(UpdateState& state) {
  BusyScope busy(state.busy);
  const LoadResult result = LoadImage(state);
  busy.Leave();
  if (result == LoadResult::kLoaded) {
    state.window.PostStep(STEP_CHECK_FILE);
    return;
  }
  state.Record(RunOutcome::kFileRefused);
  state.window.SetButtonText(kOpenButton, kOpenText);
  state.window.ShowButton(kOpenButton);
  state.window.SetButtonText(kExitButton, kExitText);
  state.window.ShowButton(kExitButton);
}

void FileCheckWorker(UpdateState& state) {
  BusyScope busy(state.busy);
  const std::span<const std::uint8_t> image =
      state.image ? std::span<const std::uint8_t>(*state.image) : std::span<const std::uint8_t>();
  const FileCheckResult check = CheckUpdateImage(image);

  if (check.fault != FileFault::kHeader) {
    const char* model = check.model ? ModelName(*check.model) : nullptr;
    if (model != nullptr) {
      char line[64];
      std::snprintf(line, sizeof line, kModelSelectedFormat, model);
      state.log.AppendLog(line);
    } else {
      state.log.AppendLog(kUnknownModelText);
    }
  }

  if (check.fault != FileFault::kNone) {
    state.Record(RunOutcome::kFileRefused);
    state.image.reset();
    state.log.AppendLog(kIncorrectFileText);
    state.window.ShowButton(kOpenButton);
    return;
  }
  // The image is at most 16 MiB, so the longest length fits.
  state.inputBufferSize = static_cast<std::uint32_t>(check.longestDistance + 1);
  state.Record(RunOutcome::kFileAccepted);
  // Left after the post, at the end of the scope: the scan's enter may meet it.
  state.window.PostStep(STEP_SCAN_PORTS);
}

bool RecheckModel(UpdateState& state) {
  const std::optional<std::uint8_t> model =
      state.image ? ImageModelByte(*state.image) : std::nullopt;
  if (!model || FindModel(*model) == nullptr) {
    state.log.AppendLog(kRecheckFailedText);
    state.Record(RunOutcome::kFileRefused);
    return false;
  }
  return true;
}

}  // namespace korvane

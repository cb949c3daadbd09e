// The command line of korvane-sim: the controller's options, and those of its
// make-image command. One table per command drives both the parsing and the
// usage text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "sim/device_model.h"

namespace korvane {

enum class SimApi { kDefault, kJack, kAlsa, kCore };

struct SimOptions {
  SimApi api = SimApi::kDefault;
  // Its ports are named after this.
  std::string portName = "Korvane Sim";
  DeviceModelOptions model;
  std::optional<std::string> savePath;
  bool help = false;
};

struct MakeImageOptions {
  std::uint8_t model = 0x15;
  std::size_t messages = 0;
  std::size_t length = 256;
  std::uint32_t seed = 1;
  // Each message carries its index in data bytes 7 and 8, for an addressed controller.
  bool addressed = false;
  std::string outPath;
  bool help = false;
};

// The text that goes to the user, after "korvane-sim: ".
struct UsageError {
  std::string text;
};

// args excludes the program name.
std::variant<SimOptions, UsageError> ParseSimOptions(const std::vector<std::string>& args);
// args excludes the program name and "make-image".
std::variant<MakeImageOptions, UsageError> ParseMakeImageOptions(
    const std::vector<std::string>& args);

// The whole program's usage, and make-image's alone.
std::string SimUsage();
std::string MakeImageUsage();

// The longest name an identity reply carries.
constexpr std::size_t kSimNameLimit = 12;

}  // namespace korvane

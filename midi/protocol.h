// The controllers' protocol in numbers: the frame of every System Exclusive
// message exchanged with a Korvane (F0, the maker's three-byte identifier,
// index 4, model, command, data, F7), the command and model bytes, and the
// block and reply-wait sizes of the update. One home for them: the port set's
// input callback, the update procedures and the simulated controller all read
// them here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace korvane {

constexpr std::uint8_t kSysExStart = 0xF0;
constexpr std::uint8_t kSysExEnd = 0xF7;

// F0 00 20 32: the start of a System Exclusive message with the controllers'
// maker identifier, the message header every received buffer is tested for.
constexpr std::array<std::uint8_t, 4> kMessageHeader = {kSysExStart, 0x00, 0x20, 0x32};
// The same four bytes read as one little-endian 32-bit value.
constexpr std::uint32_t kMessageHeaderValue = 0x322000F0;
// Index 4 of every message the system builds.
constexpr std::uint8_t kBuiltIndex4 = 0x7F;

constexpr std::size_t kModelIndex = 5;
constexpr std::size_t kCommandIndex = 6;
constexpr std::size_t kNameIndex = 7;
constexpr std::size_t kStatusIndex = 9;
constexpr std::size_t kDeviceNameLength = 12;

constexpr std::uint8_t kModelTrv1000 = 0x14;
constexpr std::uint8_t kModelTrw1000 = 0x15;

// Every controller model the updater knows: the file check, the log, the
// simulated controller and the bench read this table, so a new model is one
// line here.
struct ControllerModel {
  std::uint8_t byte;
  std::string_view name;
};
inline constexpr std::array<ControllerModel, 2> kControllerModels = {{
    {kModelTrv1000, "TRV1000"},
    {kModelTrw1000, "TRW1000"},
}};

constexpr const ControllerModel* FindModel(std::uint8_t byte) {
  for (const ControllerModel& model : kControllerModels) {
    if (model.byte == byte)
      return &model;
  }
  return nullptr;
}

constexpr const ControllerModel* FindModel(std::string_view name) {
  for (const ControllerModel& model : kControllerModels) {
    if (model.name == name)
      return &model;
  }
  return nullptr;
}

constexpr std::uint8_t kCmdIdentityRequest = 0x01;
constexpr std::uint8_t kCmdIdentityReply = 0x02;
constexpr std::uint8_t kCmdFirmwareBlock = 0x34;
constexpr std::uint8_t kCmdBlockReply = 0x35;

constexpr std::size_t kIdentityRequestLength = 8;

// Firmware messages go in blocks of 16, each answered by one block reply.
constexpr std::size_t kBlockMessages = 16;

// How long the updater waits for a controller's reply: in the discovery,
// after every block and in the connection probe.
constexpr std::uint32_t kReplyWaitMs = 300;

}  // namespace korvane

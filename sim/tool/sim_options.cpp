#include "sim/tool/sim_options.h"

#include <charconv>
#include <functional>
#include <limits>
#include <sstream>

#include "update/device_messages.h"

namespace korvane {

namespace {

constexpr const char* kDefaultIdentityName = "KORVANE-SIM";
// Reply delays beyond a minute only make a controller look dead.
constexpr std::uint64_t kMaxReplyDelayMs = 60000;
// A firmware block message is at least 8 bytes: header, index 4, model, command, F7.
constexpr std::uint64_t kMinMessageLength = 8;
// An index takes data bytes 7 and 8: a message of at least 10 bytes, 14 bits of index.
constexpr std::size_t kMinAddressedLength = 10;
constexpr std::size_t kMaxAddressedMessages = std::size_t{1} << 14;
// Keeps a made image far below what a 32-bit image length can carry.
constexpr std::uint64_t kMaxImageBytes = 256ull * 1024 * 1024;

std::optional<std::uint64_t> ParseNumber(const std::string& text, std::uint64_t max) {
  std::uint64_t value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || value > max)
    return std::nullopt;
  return value;
}

std::optional<std::uint8_t> ParseModel(const std::string& text) {
  if (const ControllerModel* model = FindModel(std::string_view(text)))
    return model->byte;
  return std::nullopt;
}

// "TRV1000 or TRW1000", or with another separator.
std::string ModelNames(std::string_view separator) {
  std::string names;
  for (const ControllerModel& model : kControllerModels) {
    if (!names.empty())
      names += separator;
    names += model.name;
  }
  return names;
}

const char* ModelChoices() {
  static const std::string choices = ModelNames("|");
  return choices.c_str();
}

// "K:S[,K:S...]": block K counted from 1, status S a MIDI data byte.
std::optional<std::vector<BlockFault>> ParseRefusals(const std::string& text) {
  std::vector<BlockFault> faults;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t comma = text.find(',', start);
    if (comma == std::string::npos)
      comma = text.size();
    const std::string entry = text.substr(start, comma - start);
    const std::size_t colon = entry.find(':');
    if (colon == std::string::npos)
      return std::nullopt;
    auto block = ParseNumber(entry.substr(0, colon), std::numeric_limits<std::uint32_t>::max());
    auto status = ParseNumber(entry.substr(colon + 1), 0x7F);
    if (!block || *block == 0 || !status)
      return std::nullopt;
    BlockFault fault;
    fault.block = static_cast<std::size_t>(*block - 1);
    fault.status = static_cast<std::uint8_t>(*status);
    faults.push_back(fault);
    start = comma + 1;
  }
  return faults;
}

// "A:B[:C...]" of numbers, each at most max; nothing when malformed.
std::optional<std::vector<std::uint64_t>> ParseFields(const std::string& text, std::size_t count,
                                                      std::uint64_t max) {
  std::vector<std::uint64_t> fields;
  std::size_t start = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t colon = i + 1 < count ? text.find(':', start) : text.size();
    if (colon == std::string::npos)
      return std::nullopt;
    const auto value = ParseNumber(text.substr(start, colon - start), max);
    if (!value)
      return std::nullopt;
    fields.push_back(*value);
    start = colon + 1;
  }
  return fields;
}

// "K:M:MS[:queued]": block K and its message M, both from 1.
std::optional<StallFault> ParseStall(std::string text) {
  bool queued = false;
  if (text.ends_with(":queued")) {
    queued = true;
    text.resize(text.size() - 7);
  }
  const auto fields = ParseFields(text, 3, kMaxReplyDelayMs);
  if (!fields || (*fields)[0] == 0 || (*fields)[1] == 0 || (*fields)[1] > 16)
    return std::nullopt;
  return StallFault{.block = (*fields)[0] - 1,
                    .message = (*fields)[1] - 1,
                    .ms = static_cast<std::uint32_t>((*fields)[2]),
                    .queued = queued};
}

// "K[:identity|:command]": block K from 1, accepted, with a stray before its reply.
std::optional<BlockFault> ParseStray(std::string text) {
  StrayMessage kind = StrayMessage::kIdentityReply;
  if (text.ends_with(":command")) {
    kind = StrayMessage::kForeignCommand;
    text.resize(text.size() - 8);
  } else if (text.ends_with(":identity")) {
    text.resize(text.size() - 9);
  }
  const auto block = ParseNumber(text, std::numeric_limits<std::uint32_t>::max());
  if (!block || *block == 0)
    return std::nullopt;
  return BlockFault{.block = *block - 1, .status = 0, .strayBefore = kind};
}

bool IsDataText(const std::string& text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c >= 0x7F)
      return false;
  }
  return true;
}

// One row per option: its name, the name of its argument (empty for a flag),
// its help line, and what it does with the argument (an error text, or empty).
template <typename Options>
struct OptionRow {
  const char* name;
  const char* argument;
  const char* help;
  std::function<std::string(Options&, const std::string&)> apply;
};

const std::vector<OptionRow<SimOptions>>& SimTable() {
  static const std::vector<OptionRow<SimOptions>> table = {
      {"--api", "jack|alsa|core",
       "MIDI system for the ports (default: JACK when a server runs, else ALSA, else CoreMIDI)",
       [](SimOptions& o, const std::string& v) -> std::string {
         if (v == "jack")
           o.api = SimApi::kJack;
         else if (v == "alsa")
           o.api = SimApi::kAlsa;
         else if (v == "core")
           o.api = SimApi::kCore;
         else
           return "unknown --api '" + v + "' (jack, alsa or core)";
         return {};
       }},
      {"--model", ModelChoices(), "the model it answers for (default TRW1000)",
       [](SimOptions& o, const std::string& v) -> std::string {
         auto model = ParseModel(v);
         if (!model)
           return "unknown --model '" + v + "' (" + ModelNames(" or ") + ")";
         o.model.model = *model;
         return {};
       }},
      {"--name", "TEXT", "name in the identity reply, at most 12 characters (default KORVANE-SIM)",
       [](SimOptions& o, const std::string& v) -> std::string {
         if (v.size() > kSimNameLimit || !IsDataText(v))
           return "--name takes at most 12 printable ASCII characters";
         o.model.name = v;
         return {};
       }},
      {"--port", "NAME", "name of its MIDI input and output (default \"Korvane Sim\")",
       [](SimOptions& o, const std::string& v) -> std::string {
         if (v.empty() || !IsDataText(v))
           return "--port takes a non-empty printable ASCII name";
         o.portName = v;
         return {};
       }},
      {"--refuse", "K:S[,K:S...]",
       "answer the next attempt of block K (from 1) with status S; repeats apply in order",
       [](SimOptions& o, const std::string& v) -> std::string {
         auto faults = ParseRefusals(v);
         if (!faults)
           return "--refuse takes K:S pairs, K from 1, S from 0 to 127";
         o.model.blockFaults.insert(o.model.blockFaults.end(), faults->begin(), faults->end());
         return {};
       }},
      {"--ignore-blocks-after", "N", "answer no block after N accepted ones (identity still)",
       [](SimOptions& o, const std::string& v) -> std::string {
         auto n = ParseNumber(v, std::numeric_limits<std::uint32_t>::max());
         if (!n)
           return "--ignore-blocks-after takes a count from 0 to 4294967295";
         o.model.ignoreBlocksAfter = static_cast<std::size_t>(*n);
         return {};
       }},
      {"--unplug-after", "N", "answer nothing at all after N accepted blocks",
       [](SimOptions& o, const std::string& v) -> std::string {
         auto n = ParseNumber(v, std::numeric_limits<std::uint32_t>::max());
         if (!n)
           return "--unplug-after takes a count from 0 to 4294967295";
         o.model.unplugAfter = static_cast<std::size_t>(*n);
         return {};
       }},
      {"--unplug-after-messages", "N",
       "answer nothing at all once N block messages have arrived (inside a block, or during "
       "the last one, which is never acknowledged); the ports stay, as a MIDI cable pulled",
       [](SimOptions& o, const std::string& v) -> std::string {
         auto n = ParseNumber(v, std::numeric_limits<std::uint32_t>::max());
         if (!n)
           return "--unplug-after-messages takes a count from 0 to 4294967295";
         o.model.unplugAfterMessages = static_cast<std::size_t>(*n);
         return {};
       }},
      {"--vanish-after-messages", "N",
       "take both ports out of the MIDI system once N block messages have arrived, as a USB "
       "cable pulled; it runs on, silent, until a signal",
       [](SimOptions& o, const std::string& v) -> std::string {
         auto n = ParseNumber(v, std::numeric_limits<std::uint32_t>::max());
         if (!n || *n == 0)
           return "--vanish-after-messages takes a count from 1 to 4294967295";
         o.model.vanishAfterMessages = static_cast<std::size_t>(*n);
         return {};
       }},
      {"--stall", "K:M:MS[:queued]",
       "once message M (1-16) of block K has arrived, pause for MS ms: what arrives meanwhile "
       "is lost, as on JACK, or with :queued waits, as in a USB or ALSA queue (repeatable)",
       [](SimOptions& o, const std::string& v) -> std::string {
         auto stall = ParseStall(v);
         if (!stall)
           return "--stall takes K:M:MS[:queued], K from 1, M from 1 to 16, MS up to 60000";
         o.model.stalls.push_back(*stall);
         return {};
       }},
      {"--lose", "K:M:N", "lose N block messages on the way in, from message M (1-16) of block K",
       [](SimOptions& o, const std::string& v) -> std::string {
         auto fields = ParseFields(v, 3, std::numeric_limits<std::uint32_t>::max());
         if (!fields || (*fields)[0] == 0 || (*fields)[1] == 0 || (*fields)[1] > 16 ||
             (*fields)[2] == 0) {
           return "--lose takes K:M:N, K from 1, M from 1 to 16, N from 1 to 4294967295";
         }
         o.model.losses.push_back(
             {.block = (*fields)[0] - 1, .message = (*fields)[1] - 1, .count = (*fields)[2]});
         return {};
       }},
      {"--late", "K:MS", "accept block K but answer it MS ms later than the other replies",
       [](SimOptions& o, const std::string& v) -> std::string {
         auto fields = ParseFields(v, 2, kMaxReplyDelayMs);
         if (!fields || (*fields)[0] == 0)
           return "--late takes K:MS, K from 1, MS up to 60000";
         o.model.blockFaults.push_back({.block = (*fields)[0] - 1,
                                        .status = 0,
                                        .extraDelayMs = static_cast<std::uint32_t>((*fields)[1])});
         return {};
       }},
      {"--reply-delay", "MS", "send every reply MS milliseconds late",
       [](SimOptions& o, const std::string& v) -> std::string {
         auto n = ParseNumber(v, kMaxReplyDelayMs);
         if (!n)
           return "--reply-delay takes milliseconds from 0 to 60000";
         o.model.replyDelayMs = static_cast<std::uint32_t>(*n);
         return {};
       }},
      {"--identity-delay", "MS",
       "send identity replies MS milliseconds late instead of after --reply-delay",
       [](SimOptions& o, const std::string& v) -> std::string {
         auto n = ParseNumber(v, kMaxReplyDelayMs);
         if (!n)
           return "--identity-delay takes milliseconds from 0 to 60000";
         o.model.identityDelayMs = static_cast<std::uint32_t>(*n);
         return {};
       }},
      {"--stray-before-reply", "K[:identity|:command]",
       "accept block K, sending just before its reply the identity reply or a message with "
       "another command byte (default identity; repeatable)",
       [](SimOptions& o, const std::string& v) -> std::string {
         auto stray = ParseStray(v);
         if (!stray)
           return "--stray-before-reply takes K[:identity|:command], K from 1";
         o.model.blockFaults.push_back(*stray);
         return {};
       }},
      {"--noise", "", "send a universal and a foreign SysEx before each reply",
       [](SimOptions& o, const std::string&) -> std::string {
         o.model.noise = true;
         return {};
       }},
      {"--addressed", "",
       "place firmware messages by the index in their data bytes 7 and 8; a block that leaves "
       "a gap gets status 1",
       [](SimOptions& o, const std::string&) -> std::string {
         o.model.addressed = true;
         return {};
       }},
      {"--save", "PATH", "on SIGINT or SIGTERM, write the accepted firmware there as .syx",
       [](SimOptions& o, const std::string& v) -> std::string {
         if (v.empty())
           return "--save takes a path";
         o.savePath = v;
         return {};
       }},
      {"--help", "", "show this text",
       [](SimOptions& o, const std::string&) -> std::string {
         o.help = true;
         return {};
       }},
  };
  return table;
}

const std::vector<OptionRow<MakeImageOptions>>& MakeImageTable() {
  static const std::vector<OptionRow<MakeImageOptions>> table = {
      {"--model", ModelChoices(), "the model the image is for (required)",
       [](MakeImageOptions& o, const std::string& v) -> std::string {
         auto model = ParseModel(v);
         if (!model)
           return "unknown --model '" + v + "' (" + ModelNames(" or ") + ")";
         o.model = *model;
         return {};
       }},
      {"--messages", "N", "number of firmware block messages (required, at least 1)",
       [](MakeImageOptions& o, const std::string& v) -> std::string {
         auto n = ParseNumber(v, kMaxImageBytes / kMinMessageLength);
         if (!n || *n == 0)
           return "--messages takes a count from 1 to 33554432";
         o.messages = static_cast<std::size_t>(*n);
         return {};
       }},
      {"--length", "L", "bytes per message, 0xF0 and 0xF7 included (default 256, at least 8)",
       [](MakeImageOptions& o, const std::string& v) -> std::string {
         auto n = ParseNumber(v, kMaxImageBytes);
         if (!n || *n < kMinMessageLength)
           return "--length takes a byte count from 8 to 268435456";
         o.length = static_cast<std::size_t>(*n);
         return {};
       }},
      {"--seed", "S", "seed of the data bytes (default 1)",
       [](MakeImageOptions& o, const std::string& v) -> std::string {
         auto n = ParseNumber(v, std::numeric_limits<std::uint32_t>::max());
         if (!n)
           return "--seed takes a number from 0 to 4294967295";
         o.seed = static_cast<std::uint32_t>(*n);
         return {};
       }},
      {"--addressed", "", "write each message's index in its data bytes 7 and 8 (low 7 bits first)",
       [](MakeImageOptions& o, const std::string&) -> std::string {
         o.addressed = true;
         return {};
       }},
      {"--help", "", "show this text",
       [](MakeImageOptions& o, const std::string&) -> std::string {
         o.help = true;
         return {};
       }},
  };
  return table;
}

// Parses "--name value", "--name=value" and flags; every other word is a
// positional argument handed to positional().
template <typename Options>
std::optional<UsageError> ParseWith(
    const std::vector<OptionRow<Options>>& table, const std::vector<std::string>& args,
    Options& options, const std::function<std::string(const std::string&)>& positional) {
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string word = args[i];
    if (!optionsEnded && word == "--") {
      optionsEnded = true;  // what follows is positional, even if it starts with '-'
      continue;
    }
    if (!optionsEnded && word == "-h")
      word = "--help";
    if (optionsEnded || word.size() < 2 || word.compare(0, 2, "--") != 0) {
      std::string error = positional(word);
      if (!error.empty())
        return UsageError{error};
      continue;
    }
    std::optional<std::string> inlineValue;
    if (auto eq = word.find('='); eq != std::string::npos) {
      inlineValue = word.substr(eq + 1);
      word = word.substr(0, eq);
    }
    const OptionRow<Options>* row = nullptr;
    for (const auto& candidate : table) {
      if (word == candidate.name)
        row = &candidate;
    }
    if (!row)
      return UsageError{"unknown option '" + word + "'"};
    std::string value;
    if (*row->argument != '\0') {
      if (inlineValue) {
        value = *inlineValue;
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        return UsageError{word + " needs " + row->argument};
      }
    } else if (inlineValue) {
      return UsageError{word + " takes no value"};
    }
    std::string error = row->apply(options, value);
    if (!error.empty())
      return UsageError{error};
  }
  return std::nullopt;
}

template <typename Options>
void AppendTable(std::ostringstream& out, const std::vector<OptionRow<Options>>& table) {
  for (const auto& row : table) {
    std::string left = std::string("  ") + row.name;
    if (*row.argument != '\0')
      left += std::string(" ") + row.argument;
    out << left;
    const std::size_t column = 34;
    out << std::string(left.size() < column ? column - left.size() : 1, ' ') << row.help << '\n';
  }
}

}  // namespace

std::variant<SimOptions, UsageError> ParseSimOptions(const std::vector<std::string>& args) {
  SimOptions options;
  options.model.name = kDefaultIdentityName;
  options.model.model = kModelTrw1000;
  auto error = ParseWith<SimOptions>(SimTable(), args, options, [](const std::string& word) {
    return "unexpected argument '" + word + "'";
  });
  if (error)
    return *error;
  return options;
}

std::variant<MakeImageOptions, UsageError> ParseMakeImageOptions(
    const std::vector<std::string>& args) {
  MakeImageOptions options;
  bool modelGiven = false;
  bool messagesGiven = false;
  for (const auto& word : args) {
    if (word == "--model" || word.rfind("--model=", 0) == 0)
      modelGiven = true;
    if (word == "--messages" || word.rfind("--messages=", 0) == 0)
      messagesGiven = true;
  }
  auto error = ParseWith<MakeImageOptions>(
      MakeImageTable(), args, options, [&options](const std::string& word) -> std::string {
        if (!options.outPath.empty())
          return "make-image writes one file; unexpected '" + word + "'";
        options.outPath = word;
        return {};
      });
  if (error)
    return *error;
  if (options.help)
    return options;
  if (!modelGiven)
    return UsageError{"make-image needs --model"};
  if (!messagesGiven)
    return UsageError{"make-image needs --messages"};
  if (options.outPath.empty())
    return UsageError{"make-image needs the path of the file to write"};
  if (options.addressed && options.length < kMinAddressedLength)
    return UsageError{"make-image --addressed needs --length of at least 10"};
  if (options.addressed && options.messages > kMaxAddressedMessages)
    return UsageError{"make-image --addressed writes at most 16384 messages"};
  if (static_cast<std::uint64_t>(options.messages) * options.length > kMaxImageBytes)
    return UsageError{"make-image: the image would exceed 256 MiB"};
  return options;
}

std::string MakeImageUsage() {
  std::ostringstream out;
  out << "Usage: korvane-sim make-image --model M --messages N [--length L] [--seed S] "
         "[--addressed] OUT.syx\n"
         "Writes a valid synthetic update file.\n\n";
  AppendTable(out, MakeImageTable());
  return out.str();
}

std::string SimUsage() {
  std::ostringstream out;
  out << "Usage: korvane-sim [OPTIONS]\n"
         "A simulated Korvane controller on one virtual MIDI input and output. It prints\n"
         "one line per event, \"korvane-sim: ready\" once its ports carry messages both\n"
         "ways, and runs until SIGINT or SIGTERM.\n\n"
         "Like a controller that takes an identity request as \"start the block again\",\n"
         "it drops what arrived of an unfinished block when an identity request comes,\n"
         "even after the last block (a last short block that nothing follows is kept),\n"
         "and it starts the firmware afresh when an updater connects to its input.\n\n";
  AppendTable(out, SimTable());
  out << "\n" << MakeImageUsage();
  return out.str();
}

}  // namespace korvane

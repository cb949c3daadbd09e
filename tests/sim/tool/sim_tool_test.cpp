#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <variant>

#include "sim/synthetic_image.h"
#include "sim/tool/controller_session.h"
#include "sim/tool/sim_options.h"
#include "update/device_messages.h"

namespace korvane {
namespace {

SimOptions ParseOk(const std::vector<std::string>& args) {
  auto parsed = ParseSimOptions(args);
  EXPECT_TRUE(std::holds_alternative<SimOptions>(parsed));
  if (auto* error = std::get_if<UsageError>(&parsed))
    ADD_FAILURE() << error->text;
  return std::holds_alternative<SimOptions>(parsed) ? std::get<SimOptions>(parsed) : SimOptions{};
}

bool Refused(const std::vector<std::string>& args) {
  return std::holds_alternative<UsageError>(ParseSimOptions(args));
}

TEST(SimOptions, DefaultsAnswerAsKorvaneSimForTheTrw1000) {
  const SimOptions options = ParseOk({});
  EXPECT_EQ(options.model.name, "KORVANE-SIM");
  EXPECT_EQ(options.model.model, kModelTrw1000);
  EXPECT_EQ(options.portName, "Korvane Sim");
  EXPECT_EQ(options.api, SimApi::kDefault);
  EXPECT_FALSE(options.savePath);
  EXPECT_TRUE(options.model.blockFaults.empty());
}

TEST(SimOptions, RefusalsCountBlocksFromOneAndKeepTheirOrder) {
  const SimOptions options = ParseOk({"--refuse", "2:2,2:3", "--refuse=5:1"});
  ASSERT_EQ(options.model.blockFaults.size(), 3u);
  EXPECT_EQ(options.model.blockFaults[0].block, 1u);
  EXPECT_EQ(options.model.blockFaults[0].status, 2);
  EXPECT_EQ(options.model.blockFaults[1].block, 1u);
  EXPECT_EQ(options.model.blockFaults[1].status, 3);
  EXPECT_EQ(options.model.blockFaults[2].block, 4u);
  EXPECT_EQ(options.model.blockFaults[2].status, 1);
}

TEST(SimOptions, EveryFaultOptionReachesTheModel) {
  const SimOptions options = ParseOk({"--api",
                                      "jack",
                                      "--model",
                                      "TRV1000",
                                      "--name",
                                      "ABCDEFGHIJKL",
                                      "--port",
                                      "P",
                                      "--ignore-blocks-after",
                                      "3",
                                      "--unplug-after",
                                      "4",
                                      "--reply-delay",
                                      "25",
                                      "--noise",
                                      "--save",
                                      "out.syx",
                                      "--identity-delay",
                                      "350",
                                      "--stray-before-reply",
                                      "2:command",
                                      "--stray-before-reply=3",
                                      "--vanish-after-messages",
                                      "36"});
  EXPECT_EQ(options.api, SimApi::kJack);
  EXPECT_EQ(options.model.model, kModelTrv1000);
  EXPECT_EQ(options.model.name, "ABCDEFGHIJKL");
  EXPECT_EQ(options.portName, "P");
  EXPECT_EQ(options.model.ignoreBlocksAfter, std::optional<std::size_t>(3));
  EXPECT_EQ(options.model.unplugAfter, std::optional<std::size_t>(4));
  EXPECT_EQ(options.model.replyDelayMs, 25u);
  EXPECT_TRUE(options.model.noise);
  EXPECT_EQ(options.savePath, std::optional<std::string>("out.syx"));
  EXPECT_EQ(options.model.identityDelayMs, std::optional<std::uint32_t>(350));
  EXPECT_EQ(options.model.vanishAfterMessages, std::optional<std::size_t>(36));
  ASSERT_EQ(options.model.blockFaults.size(), 2u);
  EXPECT_EQ(options.model.blockFaults[0].block, 1u);
  EXPECT_EQ(options.model.blockFaults[0].status, 0);
  EXPECT_EQ(options.model.blockFaults[0].strayBefore, StrayMessage::kForeignCommand);
  EXPECT_EQ(options.model.blockFaults[1].block, 2u);
  EXPECT_EQ(options.model.blockFaults[1].strayBefore, StrayMessage::kIdentityReply);
}

TEST(SimOptions, DashHAndDoubleDashAreTakenAsEverywhere) {
  EXPECT_TRUE(ParseOk({"-h"}).help);
  auto made = ParseMakeImageOptions({"--model=TRW1000", "--messages=3", "--", "-odd.syx"});
  ASSERT_TRUE(std::holds_alternative<MakeImageOptions>(made));
  EXPECT_EQ(std::get<MakeImageOptions>(made).outPath, "-odd.syx");
}

TEST(SimOptions, BadValuesAreRefused) {
  EXPECT_TRUE(Refused({"--refuse", "0:1"}));    // blocks count from 1
  EXPECT_TRUE(Refused({"--refuse", "2:128"}));  // a status is a data byte
  EXPECT_TRUE(Refused({"--refuse", "2"}));
  EXPECT_TRUE(Refused({"--refuse", "2:1,"}));
  EXPECT_TRUE(Refused({"--name", "ABCDEFGHIJKLM"}));  // 13 characters
  EXPECT_TRUE(Refused({"--model", "TRX1000"}));
  EXPECT_TRUE(Refused({"--api", "winmm"}));
  EXPECT_TRUE(Refused({"--reply-delay", "-1"}));
  EXPECT_TRUE(Refused({"--unplug-after"}));  // value missing
  EXPECT_TRUE(Refused({"--noise=1"}));
  EXPECT_TRUE(Refused({"--identity-delay", "60001"}));
  EXPECT_TRUE(Refused({"--stray-before-reply", "0"}));
  EXPECT_TRUE(Refused({"--vanish-after-messages", "0"}));
  EXPECT_TRUE(Refused({"--stray-before-reply", "2:reply"}));
  EXPECT_TRUE(Refused({"--bogus"}));
  EXPECT_TRUE(Refused({"stray"}));
}

TEST(MakeImageOptions, NeedsModelMessagesAndOnePath) {
  auto ok = ParseMakeImageOptions({"--model", "TRV1000", "--messages", "3", "out.syx"});
  ASSERT_TRUE(std::holds_alternative<MakeImageOptions>(ok));
  const auto& options = std::get<MakeImageOptions>(ok);
  EXPECT_EQ(options.model, kModelTrv1000);
  EXPECT_EQ(options.messages, 3u);
  EXPECT_EQ(options.length, 256u);
  EXPECT_EQ(options.outPath, "out.syx");

  using Args = std::vector<std::string>;
  for (const Args& bad : {Args{"--messages", "3", "out.syx"}, Args{"--model", "TRW1000", "out.syx"},
                          Args{"--model", "TRW1000", "--messages", "3"},
                          Args{"--model", "TRW1000", "--messages", "0", "o.syx"},
                          Args{"--model", "TRW1000", "--messages", "3", "--length", "7", "o.syx"},
                          Args{"--model", "TRW1000", "--messages", "3", "a.syx", "b.syx"}})
    EXPECT_TRUE(std::holds_alternative<UsageError>(ParseMakeImageOptions(bad)));
}

TEST(SyntheticImage, EveryMessageIsAValidFirmwareBlockMessage) {
  const Bytes image = MakeSyntheticImage(kModelTrw1000, 5, 40, 9);
  ASSERT_EQ(image.size(), 200u);
  for (std::size_t m = 0; m < 5; ++m) {
    const std::size_t at = m * 40;
    EXPECT_EQ((Bytes(image.begin() + at, image.begin() + at + 7)),
              (Bytes{0xF0, 0x00, 0x20, 0x32, 0x7F, kModelTrw1000, kCmdFirmwareBlock}));
    EXPECT_EQ(image[at + 39], kSysExEnd);
    for (std::size_t i = at + 7; i < at + 39; ++i)
      ASSERT_LT(image[i], 0x80) << "byte " << i;
  }
}

TEST(SyntheticImage, TheSeedDecidesTheData) {
  EXPECT_EQ(MakeSyntheticImage(kModelTrv1000, 3, 64, 5),
            MakeSyntheticImage(kModelTrv1000, 3, 64, 5));
  EXPECT_NE(MakeSyntheticImage(kModelTrv1000, 3, 64, 5),
            MakeSyntheticImage(kModelTrv1000, 3, 64, 6));
  // The shortest message has no data bytes at all.
  EXPECT_EQ(MakeSyntheticImage(kModelTrv1000, 1, 8, 1),
            (Bytes{0xF0, 0x00, 0x20, 0x32, 0x7F, kModelTrv1000, kCmdFirmwareBlock, 0xF7}));
}

// Collects what the session sends, for a test to wait on.
class SentReplies {
 public:
  ControllerSession::SendFunction Sink() {
    return [this](const Bytes& bytes) {
      std::lock_guard<std::mutex> lock(mutex_);
      sent_.push_back({bytes, std::chrono::steady_clock::now()});
      changed_.notify_all();
    };
  }
  // Waits (generously) until count replies were sent.
  bool WaitFor(std::size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return sent_.size() >= count; });
  }
  struct Sent {
    Bytes bytes;
    std::chrono::steady_clock::time_point at;
  };
  std::vector<Sent> All() {
    std::lock_guard<std::mutex> lock(mutex_);
    return sent_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Sent> sent_;
};

Bytes IdentityRequest(std::uint8_t model) {
  return {0xF0, 0x00, 0x20, 0x32, 0x7F, model, kCmdIdentityRequest, 0xF7};
}

DeviceModelOptions ControllerOptions() {
  auto parsed = ParseSimOptions({});
  return std::get<SimOptions>(parsed).model;
}

TEST(ControllerSession, AnswersAnIdentityRequestWithItsNameAndSaysSo) {
  SentReplies replies;
  std::ostringstream events;
  ControllerSession session(ControllerOptions(), replies.Sink(), events);
  session.Deliver(IdentityRequest(kModelTrw1000));
  session.Deliver(IdentityRequest(kModelTrv1000));  // another model: no answer
  ASSERT_TRUE(replies.WaitFor(1));
  session.Stop();
  const auto sent = replies.All();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_TRUE(IsIdentityReply(sent[0].bytes));
  EXPECT_EQ(DeviceNameFromReply(sent[0].bytes), " KORVANE-SIM");
  EXPECT_EQ(events.str(),
            "identity request for TRW1000: answered as KORVANE-SIM\n"
            "identity request for TRV1000: no answer\n");
}

TEST(ControllerSession, BlocksAreAcknowledgedRefusedAndSavedAsTheyCame) {
  auto parsed = ParseSimOptions({"--refuse", "1:2"});
  SentReplies replies;
  std::ostringstream events;
  ControllerSession session(std::get<SimOptions>(parsed).model, replies.Sink(), events);
  const Bytes image = MakeSyntheticImage(kModelTrw1000, 18, 12, 3);
  auto deliverMessages = [&](std::size_t first, std::size_t count) {
    for (std::size_t m = first; m < first + count; ++m)
      session.Deliver(Bytes(image.begin() + m * 12, image.begin() + (m + 1) * 12));
  };
  deliverMessages(0, 16);  // refused with status 2
  ASSERT_TRUE(replies.WaitFor(1));
  deliverMessages(0, 16);  // sent again: accepted
  ASSERT_TRUE(replies.WaitFor(2));
  deliverMessages(16, 2);  // the trailing partial block
  session.Stop();

  const auto sent = replies.All();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(BlockReplyStatus(sent[0].bytes), std::optional<std::uint8_t>(2));
  EXPECT_EQ(BlockReplyStatus(sent[1].bytes), std::optional<std::uint8_t>(0));
  EXPECT_EQ(events.str(),
            "block 1 (attempt 1, 16 messages): refused with status 2 (Erase error)\n"
            "block 1 (attempt 2, 16 messages): accepted\n");
  EXPECT_EQ(session.SavedFirmware(), image);
}

TEST(ControllerSession, RepliesLeaveNoEarlierThanTheDelay) {
  auto parsed = ParseSimOptions({"--reply-delay", "120"});
  SentReplies replies;
  std::ostringstream events;
  ControllerSession session(std::get<SimOptions>(parsed).model, replies.Sink(), events);
  const auto before = std::chrono::steady_clock::now();
  session.Deliver(IdentityRequest(kModelTrw1000));
  ASSERT_TRUE(replies.WaitFor(1));
  EXPECT_GE(replies.All()[0].at - before, std::chrono::milliseconds(120));
}

TEST(ControllerSession, AStopDropsRepliesNotYetDue) {
  auto parsed = ParseSimOptions({"--reply-delay", "60000"});
  SentReplies replies;
  std::ostringstream events;
  ControllerSession session(std::get<SimOptions>(parsed).model, replies.Sink(), events);
  session.Deliver(IdentityRequest(kModelTrw1000));
  session.Stop();  // must not wait a minute for the reply
  EXPECT_TRUE(replies.All().empty());
  EXPECT_EQ(events.str(), "identity request for TRW1000: answered as KORVANE-SIM\n");
}

TEST(ControllerSession, AVanishedControllerSendsNothingMoreAndKeepsWhatArrived) {
  auto parsed = ParseSimOptions({"--vanish-after-messages", "16"});
  SentReplies replies;
  std::ostringstream events;
  int vanished = 0;  // the session's thread counts; read after Stop joined it
  ControllerSession session(std::get<SimOptions>(parsed).model, replies.Sink(), events,
                            [&vanished] { ++vanished; });
  const Bytes image = MakeSyntheticImage(kModelTrw1000, 18, 12, 3);
  for (std::size_t m = 0; m < 18; ++m)
    session.Deliver(Bytes(image.begin() + m * 12, image.begin() + (m + 1) * 12));
  session.Deliver(IdentityRequest(kModelTrw1000));
  session.Stop();
  EXPECT_EQ(vanished, 1);
  // Block 1 was taken as its 16th message arrived, but its reply never left.
  EXPECT_TRUE(replies.All().empty());
  EXPECT_EQ(session.SavedFirmware(), Bytes(image.begin(), image.begin() + 16 * 12));
  EXPECT_NE(events.str().find("vanished with 16 block messages held"), std::string::npos)
      << events.str();
}

TEST(SimOptions, AddressedIsOffUnlessAsked) {
  EXPECT_FALSE(ParseOk({}).model.addressed);
  EXPECT_TRUE(ParseOk({"--addressed"}).model.addressed);
  EXPECT_TRUE(Refused({"--addressed=1"}));
}

TEST(SyntheticImage, AddressedMessagesCarryTheirIndexAndAnAddressedModelPlacesThem) {
  const Bytes image = MakeSyntheticImage(kModelTrw1000, 200, 12, 5, true);
  ASSERT_EQ(image.size(), 200u * 12);
  for (std::size_t m = 0; m < 200; ++m) {
    const std::span<const std::uint8_t> message(image.data() + m * 12, 12);
    EXPECT_EQ(AddressedIndex(message), std::optional<std::size_t>(m)) << m;
  }
  // The index takes bytes 7 and 8; the rest is the seed's data, as without it.
  const Bytes plain = MakeSyntheticImage(kModelTrw1000, 200, 12, 5);
  EXPECT_NE(image, plain);

  DeviceModel model({.addressed = true});
  for (std::size_t m = 0; m < 200; ++m)
    model.Receive(std::span<const std::uint8_t>(image.data() + m * 12, 12));
  EXPECT_EQ(model.AcceptedFirmwareWithPartial(), image);
}

TEST(MakeImageOptions, AddressedNeedsRoomForTheIndex) {
  auto ok = ParseMakeImageOptions(
      {"--model", "TRW1000", "--messages", "16384", "--length", "10", "--addressed", "o.syx"});
  ASSERT_TRUE(std::holds_alternative<MakeImageOptions>(ok));
  EXPECT_TRUE(std::get<MakeImageOptions>(ok).addressed);
  EXPECT_TRUE(std::holds_alternative<UsageError>(ParseMakeImageOptions(
      {"--model", "TRW1000", "--messages", "3", "--length", "9", "--addressed", "o.syx"})));
  EXPECT_TRUE(std::holds_alternative<UsageError>(ParseMakeImageOptions(
      {"--model", "TRW1000", "--messages", "16385", "--length", "10", "--addressed", "o.syx"})));
}

// The built program, as a user runs it, where no MIDI system is needed.
struct ProgramRun {
  int status = -1;
  std::string out;
  std::string err;
};

ProgramRun RunSim(const std::string& args) {
  const std::string base =
      std::string(KORVANE_BINARY_DIR) + "/sim-program-" + std::to_string(::getpid());
  const int raw = std::system(("'" + std::string(KORVANE_SIM_PATH) + "' " + args + " >'" + base +
                               ".out' 2>'" + base + ".err'")
                                  .c_str());
  auto read = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read(base + ".out"), read(base + ".err")};
}

TEST(KorvaneSimProgram, SaysWhatIsWrongBeforeItStarts) {
  // --save is tried at once, not when the firmware is to be written.
  ProgramRun run = RunSim("--save /no-such-dir/out.syx");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err,
            "korvane-sim: cannot write --save /no-such-dir/out.syx: No such file or "
            "directory\n");
  // A number out of range says the range.
  run = RunSim("make-image --model TRW1000 --messages 0 x.syx");
  EXPECT_EQ(run.status, 64);
  EXPECT_TRUE(run.err.starts_with("korvane-sim: --messages takes a count from 1 to 33554432\n"))
      << run.err;
  // make-image's help is its own.
  run = RunSim("make-image --help");
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.out.starts_with("Usage: korvane-sim make-image")) << run.out;
  EXPECT_EQ(run.out.find("--reply-delay"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace korvane

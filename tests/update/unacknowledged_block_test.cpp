// A reply whose command byte is not the block reply's answers nothing: the
// wait goes on, runs out, and the block is sent again. Whatever the
// controller did with the block, the run ends in success exactly when it
// holds the image.
#include <gtest/gtest.h>

#include <string>

#include "tests/update/procedure_rig.h"
#include "update/transfer.h"
#include "update/transfer_texts.h"

namespace korvane::testing {
namespace {

struct AddressedRig : ProcedureRig {
  AddressedRig(std::size_t messages, std::vector<BlockFault> faults) {
    midi.AddInput("In A");
    midi.AddOutput("Out A");
    DeviceModelOptions options;
    options.addressed = true;
    options.blockFaults = std::move(faults);
    controller = midi.AttachController(0, {0}, options);
    state.image = MakeImage(messages, 12);
    state.inputBufferSize = 12;
    state.UsePair({0, 0});
    OpenPorts();
  }

  bool Succeeded() const { return state.log.Text().ends_with(kSuccessText); }
  bool DeviceHoldsImage() const {
    return midi.Controller(controller).AcceptedFirmwareWithPartial() == *state.image;
  }

  int controller = 0;
};

struct UnreadableReply {
  const char* what;
  std::size_t messages;
  BlockFault fault;
};

class UnacknowledgedBlockTest : public ::testing::TestWithParam<UnreadableReply> {};

TEST_P(UnacknowledgedBlockTest, IsSentAgainAndTheVerdictIsTheTruth) {
  AddressedRig rig(GetParam().messages, {GetParam().fault});
  TransferWorker(rig.state);

  const std::string log = rig.state.log.Text();
  EXPECT_NE(log.find("timeout ERROR\r\n1st retry on Block"), std::string::npos) << log;
  EXPECT_TRUE(rig.DeviceHoldsImage());
  EXPECT_TRUE(rig.Succeeded()) << log;
}

INSTANTIATE_TEST_SUITE_P(
    ForeignCommandBytes, UnacknowledgedBlockTest,
    ::testing::Values(
        UnreadableReply{"RefusedLastBlock", 32, {.block = 1, .status = 2, .replyCommand = 0x36}},
        UnreadableReply{"RefusedBeforeTheUnacknowledgedRest",
                        20,
                        {.block = 0, .status = 1, .replyCommand = 0x00}},
        UnreadableReply{"TakenLastBlock", 32, {.block = 1, .status = 0, .replyCommand = 0x7F}},
        UnreadableReply{"TakenMiddleBlock", 48, {.block = 1, .status = 0, .replyCommand = 0x36}},
        UnreadableReply{"RefusedMiddleBlock", 48, {.block = 1, .status = 3, .replyCommand = 0x36}}),
    [](const ::testing::TestParamInfo<UnreadableReply>& info) { return info.param.what; });

}  // namespace
}  // namespace korvane::testing

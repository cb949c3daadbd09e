// A block whose reply cannot be read (a foreign command byte) is passed over.
// Only a later acknowledged block shows that the controller took it, since a
// controller refuses a block that does not continue its firmware; without one
// the run must not report success.
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
    state.portPairList = std::vector<PortPair>{{0, 0}, kPairListEnd};
    OpenPorts();
  }

  bool Succeeded() const { return state.log.Text().ends_with(kSuccessText); }
  bool Warned() const { return state.log.Text().ends_with(kDangerText); }
  bool DeviceHoldsImage() const {
    return midi.Controller(controller).AcceptedFirmwareWithPartial() == *state.image;
  }

  int controller = 0;
};

TEST(UnacknowledgedBlockTest, RefusedLastBlockBehindAForeignCommandByteIsNoSuccess) {
  AddressedRig rig(32, {BlockFault{.block = 1, .status = 2, .replyCommand = 0x36}});
  TransferWorker(rig.state);

  EXPECT_FALSE(rig.DeviceHoldsImage());
  EXPECT_FALSE(rig.Succeeded()) << rig.state.log.Text();
  EXPECT_TRUE(rig.Warned()) << rig.state.log.Text();
  // The block was still passed over without a log text or a retry.
  EXPECT_EQ(rig.state.log.Text().find("retry"), std::string::npos);
}

TEST(UnacknowledgedBlockTest, UnreadableReplyBeforeTheUnacknowledgedRestIsNoSuccess) {
  // 20 messages: block 1 is refused behind a foreign command byte, then the
  // four left over go out with no reply expected.
  AddressedRig rig(20, {BlockFault{.block = 0, .status = 1, .replyCommand = 0x00}});
  TransferWorker(rig.state);

  EXPECT_FALSE(rig.DeviceHoldsImage());
  EXPECT_FALSE(rig.Succeeded()) << rig.state.log.Text();
  EXPECT_TRUE(rig.Warned());
}

TEST(UnacknowledgedBlockTest, UnreadableLastReplyWarnsEvenWhenTheBlockWasTaken) {
  // The controller took the block, but nothing we could read says so.
  AddressedRig rig(32, {BlockFault{.block = 1, .status = 0, .replyCommand = 0x7F}});
  TransferWorker(rig.state);

  EXPECT_TRUE(rig.DeviceHoldsImage());
  EXPECT_TRUE(rig.Warned()) << rig.state.log.Text();
}

TEST(UnacknowledgedBlockTest, LaterAcknowledgedBlockConfirmsAPassedOverOne) {
  AddressedRig rig(48, {BlockFault{.block = 1, .status = 0, .replyCommand = 0x36}});
  TransferWorker(rig.state);

  EXPECT_TRUE(rig.DeviceHoldsImage());
  EXPECT_TRUE(rig.Succeeded()) << rig.state.log.Text();
}

TEST(UnacknowledgedBlockTest, RefusedBlockPassedOverIsCaughtByTheNextBlocksSequenceError) {
  // The controller refuses every later block as out of sequence; the retries
  // run out and the run warns.
  AddressedRig rig(48, {BlockFault{.block = 1, .status = 3, .replyCommand = 0x36}});
  TransferWorker(rig.state);

  EXPECT_FALSE(rig.DeviceHoldsImage());
  EXPECT_TRUE(rig.Warned());
  EXPECT_NE(rig.state.log.Text().find("Sequence error"), std::string::npos);
}

}  // namespace
}  // namespace korvane::testing

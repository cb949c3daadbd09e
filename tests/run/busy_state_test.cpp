#include "run/busy_state.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "run/window.h"
#include "tests/support/recording_window.h"

namespace korvane {
namespace {

using testing::RecordingWindow;
using testing::WindowOp;

std::vector<std::string> Rendered(const RecordingWindow& window) {
  std::vector<std::string> lines;
  for (const WindowOp& op : window.Ops()) {
    switch (op.kind) {
      case WindowOp::kWaitCursor:
        lines.push_back("wait");
        break;
      case WindowOp::kRestoreCursor:
        lines.push_back("restore");
        break;
      case WindowOp::kButtonShow:
        lines.push_back("show " + std::to_string(op.a));
        break;
      case WindowOp::kButtonHide:
        lines.push_back("hide " + std::to_string(op.a));
        break;
      default:
        lines.push_back("other");
        break;
    }
  }
  return lines;
}

class BusyStateTest : public ::testing::Test {
 protected:
  RecordingWindow window_;
  BusyState busy_{&window_};
};

TEST_F(BusyStateTest, EnterShowsTheWaitCursorAndHidesAllFiveButtonsInOrder) {
  window_.ShowButton(kOpenButton);
  window_.ClearOps();
  busy_.EnterBusy();
  EXPECT_EQ(Rendered(window_), (std::vector<std::string>{"wait", "hide 1008", "hide 1009",
                                                         "hide 1010", "hide 1011", "hide 1012"}));
  EXPECT_TRUE(busy_.IsBusy());
  EXPECT_TRUE(window_.WaitCursorShown());
  EXPECT_FALSE(window_.ButtonVisible(kOpenButton));
}

TEST_F(BusyStateTest, NestedEntersChangeNothingUntilTheOuterLeave) {
  busy_.EnterBusy();
  window_.ClearOps();
  busy_.EnterBusy();
  EXPECT_EQ(busy_.Counter(), 2);
  busy_.LeaveBusy();
  EXPECT_TRUE(window_.Ops().empty());
  EXPECT_TRUE(window_.WaitCursorShown());
  EXPECT_EQ(busy_.Counter(), 1);

  busy_.LeaveBusy();
  EXPECT_EQ(Rendered(window_), (std::vector<std::string>{"restore", "show 1008"}));
  EXPECT_FALSE(window_.WaitCursorShown());
  EXPECT_TRUE(window_.ButtonVisible(kExitButton));
  EXPECT_FALSE(window_.ButtonVisible(kOpenButton));
  EXPECT_FALSE(window_.ButtonVisible(kRescanButton));
  EXPECT_EQ(busy_.Counter(), 0);
}

TEST_F(BusyStateTest, LeaveWhileIdleStaysAtZeroAndShowsExit) {
  busy_.LeaveBusy();
  EXPECT_EQ(busy_.Counter(), 0);
  EXPECT_EQ(Rendered(window_), (std::vector<std::string>{"show 1008"}));
  // The next enter still works from idle.
  busy_.EnterBusy();
  EXPECT_EQ(busy_.Counter(), 1);
  EXPECT_TRUE(window_.WaitCursorShown());
}

TEST_F(BusyStateTest, EntersAndLeavesFromManyThreadsBalanceOut) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([this] {
      for (int i = 0; i < 500; ++i) {
        busy_.EnterBusy();
        busy_.LeaveBusy();
      }
    });
  }
  for (std::thread& t : threads)
    t.join();
  EXPECT_EQ(busy_.Counter(), 0);
  EXPECT_FALSE(window_.WaitCursorShown());
  EXPECT_TRUE(window_.ButtonVisible(kExitButton));
}

}  // namespace
}  // namespace korvane

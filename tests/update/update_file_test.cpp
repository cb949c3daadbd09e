#include "update/update_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "midi/fixed_result_midi_services.h"
#include "run/steps.h"
#include "run/update_state.h"
#include "tests/support/recording_window.h"
#include "update/device_messages.h"
#include "update/file_check.h"
#include "update/load_progress.h"
#include "workflow/file_select.h"

namespace korvane {
namespace {

using ::testing::ElementsAre;
using Bytes = std::vector<std::uint8_t>;
using testing::RecordingWindow;
using testing::WindowOp;

// A firmware block message of the given length, 0xF0 and 0xF7 included.
Bytes Message(std::size_t length, std::uint8_t model = kModelTrw1000, std::uint8_t command = 0x34) {
  Bytes m{0xF0, 0x00, 0x20, 0x32, 0x7F, model, command};
  while (m.size() + 1 < length)
    m.push_back(static_cast<std::uint8_t>(m.size() & 0x7F));
  m.push_back(0xF7);
  return m;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts)
    all.insert(all.end(), p.begin(), p.end());
  return all;
}

// The window operations that matter to the load and the check, one line each;
// the log control's selection and scrolling are the log console's own.
std::vector<std::string> Rendered(const RecordingWindow& window) {
  std::vector<std::string> lines;
  for (const WindowOp& op : window.Ops()) {
    switch (op.kind) {
      case WindowOp::kLogReplace:
        lines.push_back("log " + op.text);
        break;
      case WindowOp::kProgressRange:
        lines.push_back("range " + std::to_string(op.a) + " " + std::to_string(op.b));
        break;
      case WindowOp::kProgressPosition:
        lines.push_back("pos " + std::to_string(op.a));
        break;
      case WindowOp::kProgressStep:
        lines.push_back("step");
        break;
      case WindowOp::kButtonText:
        lines.push_back("text " + std::to_string(op.a) + " " + op.text);
        break;
      case WindowOp::kButtonShow:
        lines.push_back("show " + std::to_string(op.a));
        break;
      case WindowOp::kButtonHide:
        lines.push_back("hide " + std::to_string(op.a));
        break;
      case WindowOp::kWaitCursor:
        lines.push_back("wait");
        break;
      case WindowOp::kRestoreCursor:
        lines.push_back("restore");
        break;
      case WindowOp::kPostStep:
        lines.push_back("post " + std::to_string(op.a));
        break;
      default:
        break;
    }
  }
  return lines;
}

const std::vector<std::string> kEnterBusy{"wait",      "hide 1008", "hide 1009",
                                          "hide 1010", "hide 1011", "hide 1012"};

std::vector<std::string> Busy(std::vector<std::string> inner) {
  std::vector<std::string> all = kEnterBusy;
  all.insert(all.end(), inner.begin(), inner.end());
  return all;
}

class UpdateFileTest : public ::testing::Test {
 protected:
  UpdateFileTest()
      : dir_(std::filesystem::temp_directory_path() /
             ("korvane-update-file-" + std::to_string(::getpid()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name())) {
    std::filesystem::create_directories(dir_);
  }
  ~UpdateFileTest() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  std::string WriteFile(const std::string& name, const Bytes& bytes) {
    const std::filesystem::path path = dir_ / name;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return path.string();
  }

  void Load(const std::string& path) {
    state_.filePath = path;
    FileLoadWorker(state_);
  }

  void CheckImage(Bytes image) {
    state_.image = std::move(image);
    FileCheckWorker(state_);
  }

  std::filesystem::path dir_;
  NoMidiServices midi_;
  RecordingWindow window_;
  UpdateState state_{midi_, window_};
};

// --- the pure check ---

TEST(FileCheck, SampleFilePassesWithItsLongestMessage) {
  const Bytes image = Join({Message(150), Message(300), Message(8)});
  const FileCheckResult r = CheckUpdateImage(image);
  EXPECT_EQ(r.fault, FileFault::kNone);
  EXPECT_EQ(r.model, kModelTrw1000);
  EXPECT_EQ(r.longestDistance, 299u);
}

TEST(FileCheck, TooShortForAHeaderOrAModelByte) {
  EXPECT_EQ(CheckUpdateImage(Bytes{}).fault, FileFault::kHeader);
  EXPECT_EQ(CheckUpdateImage(Bytes{0xF0, 0x00, 0x20}).fault, FileFault::kHeader);
  // Header present, but the file ends before the model byte.
  const FileCheckResult r = CheckUpdateImage(Bytes{0xF0, 0x00, 0x20, 0x32, 0x7F});
  EXPECT_EQ(r.fault, FileFault::kModel);
  EXPECT_FALSE(r.model.has_value());
}

TEST(FileCheck, OnlyTheFirstMessagesModelCounts) {
  const Bytes image = Join({Message(20, kModelTrw1000), Message(20, 0x55), Message(20, 0x14)});
  EXPECT_EQ(CheckUpdateImage(image).fault, FileFault::kNone);
  EXPECT_EQ(CheckUpdateImage(Join({Message(20, 0x13), Message(20)})).fault, FileFault::kModel);
}

TEST(FileCheck, EveryF0NeedsTheHeaderAndTheBlockCommand) {
  Bytes foreign = Join({Message(20), Message(20), Message(20)});
  foreign[40 + 3] = 0x33;
  FileCheckResult r = CheckUpdateImage(foreign);
  EXPECT_EQ(r.fault, FileFault::kMessage);
  EXPECT_EQ(r.faultIndex, 40u);

  r = CheckUpdateImage(Join({Message(20), Message(20, kModelTrw1000, 0x35)}));
  EXPECT_EQ(r.fault, FileFault::kMessage);
  EXPECT_EQ(r.faultIndex, 20u);

  // The first message's own command byte is tested too.
  EXPECT_EQ(CheckUpdateImage(Message(20, kModelTrw1000, 0x01)).fault, FileFault::kMessage);
}

TEST(FileCheck, F0TooCloseToTheEndFailsWithoutReadingPastIt) {
  // Six bytes after the 0xF0 are needed; here there are five. The vector is
  // exactly this long, so a read past it shows under the address sanitizer.
  const Bytes image = Join({Message(20), Bytes{0xF0, 0x00, 0x20, 0x32, 0x7F, 0x15}});
  const FileCheckResult r = CheckUpdateImage(image);
  EXPECT_EQ(r.fault, FileFault::kMessage);
  EXPECT_EQ(r.faultIndex, 20u);
}

TEST(FileCheck, SecondF0BeforeF7IsTestedButDoesNotRestartTheLength) {
  Bytes inner = Message(30);
  inner.pop_back();  // no 0xF7: the next message's 0xF0 comes first
  const Bytes image = Join({inner, Message(10)});
  FileCheckResult r = CheckUpdateImage(image);
  EXPECT_EQ(r.fault, FileFault::kNone);
  EXPECT_EQ(r.longestDistance, image.size() - 1);

  Bytes badInner = Join({inner, Message(10, kModelTrw1000, 0x20)});
  r = CheckUpdateImage(badInner);
  EXPECT_EQ(r.fault, FileFault::kMessage);
  EXPECT_EQ(r.faultIndex, inner.size());
}

TEST(FileCheck, TrailingMessageWithoutF7IsACutDownloadAndRefused) {
  Bytes tail = Message(500);
  tail.pop_back();
  EXPECT_EQ(CheckUpdateImage(Join({Message(40), tail})).fault, FileFault::kUnclosed);
  // Bytes other than 0xF0 after the last 0xF7 open nothing.
  EXPECT_EQ(CheckUpdateImage(Join({Message(40), Bytes{0x01, 0x02}})).fault, FileFault::kNone);
}

TEST(FileCheck, BytesBetweenMessagesAndStrayF7AreLetThrough) {
  // A stray 0xF7 far into the file does not inflate the longest length.
  Bytes gap(1000, 0x00);
  gap[10] = 0x80;
  gap[500] = 0xF7;
  const FileCheckResult r = CheckUpdateImage(Join({Message(12), gap, Message(8)}));
  EXPECT_EQ(r.fault, FileFault::kNone);
  EXPECT_EQ(r.longestDistance, 11u);
}

// --- the progress plan ---

TEST(LoadProgressPlan, WholePiecesUpTo256MiBThenScaled) {
  EXPECT_EQ(PlanLoadProgress(0).high, 0);
  EXPECT_EQ(PlanLoadProgress(4095).high, 0);
  EXPECT_EQ(PlanLoadProgress(4096).high, 1);
  EXPECT_EQ(PlanLoadProgress(10000).high, 2);
  const LoadProgress last = PlanLoadProgress(65535ull * 4096 + 4095);
  EXPECT_EQ(last.high, 65535);
  EXPECT_EQ(last.shift, 0u);
  const LoadProgress over = PlanLoadProgress(256ull << 20);
  EXPECT_EQ(over.high, 32768);
  EXPECT_EQ(over.shift, 1u);
  EXPECT_FALSE(StepsAfterPiece(over, 1));
  EXPECT_TRUE(StepsAfterPiece(over, 2));
  const LoadProgress largest = PlanLoadProgress(0xFFFFFFFFull);
  EXPECT_LE(largest.high, 65535);
  EXPECT_GT(largest.high, 32767);
}

// --- the load worker ---

TEST_F(UpdateFileTest, FileOfOnePieceReadsWholeAndPostsTheCheck) {
  Bytes bytes(4096);
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<std::uint8_t>(i * 7);
  Load(WriteFile("one.syx", bytes));
  EXPECT_EQ(Rendered(window_), Busy({"range 0 1", "pos 0", "step", "step", "pos 0", "restore",
                                     "show 1008", "post 258"}));
  ASSERT_TRUE(state_.image.has_value());
  EXPECT_EQ(*state_.image, bytes);
  EXPECT_FALSE(state_.busy.IsBusy());
  EXPECT_EQ(state_.log.Text(), "");
}

TEST_F(UpdateFileTest, TenThousandBytesTakeThreePieces) {
  Bytes bytes(10000, 0x11);
  bytes.back() = 0x22;
  Load(WriteFile("three.syx", bytes));
  EXPECT_EQ(Rendered(window_), Busy({"range 0 2", "pos 0", "step", "step", "step", "step", "pos 0",
                                     "restore", "show 1008", "post 258"}));
  EXPECT_EQ(*state_.image, bytes);
}

const std::vector<std::string> kLoadFailedButtons{"restore",   "show 1008",       "text 1012 &Open",
                                                  "show 1012", "text 1008 &Exit", "show 1008"};

TEST_F(UpdateFileTest, EmptyFileIsAReadError) {
  state_.image = Bytes{1, 2, 3};
  Load(WriteFile("empty.syx", {}));
  std::vector<std::string> expected =
      Busy({"range 0 0", "pos 0", "step", "log \r\nERROR reading file", "pos 0"});
  expected.insert(expected.end(), kLoadFailedButtons.begin(), kLoadFailedButtons.end());
  EXPECT_EQ(Rendered(window_), expected);
  EXPECT_FALSE(state_.image.has_value());
  EXPECT_TRUE(window_.PostedSteps().empty());
}

TEST_F(UpdateFileTest, MissingFileOrFolderIsNotFoundAndKeepsThePreviousImage) {
  for (const std::string& path : {(dir_ / "absent.syx").string(), dir_.string(), std::string()}) {
    SCOPED_TRACE(path);
    window_.ClearOps();
    state_.image = Bytes{9, 8, 7};
    Load(path);
    std::vector<std::string> expected = Busy({"log \r\nERROR: File not found."});
    expected.insert(expected.end(), kLoadFailedButtons.begin(), kLoadFailedButtons.end());
    EXPECT_EQ(Rendered(window_), expected);
    EXPECT_EQ(state_.image, (Bytes{9, 8, 7}));
  }
  EXPECT_TRUE(window_.PostedSteps().empty());
}

// A file larger than any update for these controllers is refused before it
// is read, as a failed read is; one at the limit is read.
TEST_F(UpdateFileTest, FileBeyondTheLargestUpdateIsRefusedBeforeAnyAllocation) {
  for (const std::uint64_t size : {(16ull << 20) + 1, 1ull << 32}) {
    SCOPED_TRACE(size);
    window_.ClearOps();
    const std::string path = WriteFile("huge.syx", {});
    std::error_code error;
    std::filesystem::resize_file(path, size, error);  // sparse: takes no disk
    if (error)
      GTEST_SKIP() << "cannot make a sparse file here: " << error.message();
    Load(path);
    std::vector<std::string> expected = Busy({"log \r\nERROR reading file"});
    expected.insert(expected.end(), kLoadFailedButtons.begin(), kLoadFailedButtons.end());
    EXPECT_EQ(Rendered(window_), expected);
    EXPECT_FALSE(state_.image.has_value());
  }
  const std::string path = WriteFile("largest.syx", {});
  std::filesystem::resize_file(path, 16ull << 20);
  Load(path);
  ASSERT_TRUE(state_.image.has_value());
  EXPECT_EQ(state_.image->size(), 16u << 20);
}

// --- the check worker ---

TEST_F(UpdateFileTest, CheckPassesSetsBufferSizeAndPostsBeforeLeavingBusy) {
  CheckImage(Join({Message(100), Message(300), Message(8)}));
  EXPECT_EQ(Rendered(window_),
            Busy({"log \r\nTRW1000 update file selected.", "post 259", "restore", "show 1008"}));
  EXPECT_EQ(state_.inputBufferSize, 300u);
  EXPECT_TRUE(state_.image.has_value());
  EXPECT_EQ(state_.Outcome(), RunOutcome::kFileAccepted);
}

TEST_F(UpdateFileTest, CheckNamesTheTrv1000) {
  CheckImage(Message(8, kModelTrv1000));
  EXPECT_EQ(state_.log.Text(), "\r\nTRV1000 update file selected.");
  EXPECT_EQ(state_.inputBufferSize, 8u);
}

TEST_F(UpdateFileTest, UnknownModelIsLoggedThenRefused) {
  CheckImage(Join({Message(20, 0x16), Message(20)}));
  EXPECT_EQ(Rendered(window_),
            Busy({"log \r\nSorry, unknown Controller file selected.",
                  "log \r\nERROR incorrect file", "show 1012", "restore", "show 1008"}));
  EXPECT_FALSE(state_.image.has_value());
  EXPECT_EQ(state_.inputBufferSize, 128u);
  EXPECT_TRUE(window_.PostedSteps().empty());
  EXPECT_EQ(state_.Outcome(), RunOutcome::kFileRefused);
}

TEST_F(UpdateFileTest, MissingHeaderLogsNoModelLine) {
  Bytes image = Message(20);
  image[0] = 0x00;
  CheckImage(image);
  EXPECT_EQ(state_.log.Text(), "\r\nERROR incorrect file");
  EXPECT_FALSE(state_.image.has_value());
  EXPECT_TRUE(window_.ButtonVisible(kOpenButton));
}

TEST_F(UpdateFileTest, BadCommandByteFailsAfterTheModelLine) {
  CheckImage(Message(20, kModelTrw1000, 0x33));
  EXPECT_EQ(state_.log.Text(), "\r\nTRW1000 update file selected.\r\nERROR incorrect file");
  EXPECT_FALSE(state_.busy.IsBusy());
}

TEST_F(UpdateFileTest, CheckWithoutImageIsRefused) {
  FileCheckWorker(state_);
  EXPECT_EQ(state_.log.Text(), "\r\nERROR incorrect file");
  EXPECT_TRUE(window_.PostedSteps().empty());
}

TEST_F(UpdateFileTest, RecheckAcceptsOnlyTheTwoModels) {
  state_.image = Message(8, kModelTrv1000);
  EXPECT_TRUE(RecheckModel(state_));
  state_.image = Message(8, kModelTrw1000);
  EXPECT_TRUE(RecheckModel(state_));
  EXPECT_EQ(state_.log.Text(), "");
  state_.image = Message(8, 0x16);
  EXPECT_FALSE(RecheckModel(state_));
  EXPECT_EQ(state_.log.Text(), "\r\nSorry, incorrect file");
  state_.image.reset();
  EXPECT_FALSE(RecheckModel(state_));
  EXPECT_TRUE(window_.PostedSteps().empty());
}

TEST_F(UpdateFileTest, SampleFileRunsThroughLoadAndCheckOnWorkerThreads) {
  state_.filePath = std::string(KORVANE_TEST_DATA_DIR) + "/trw1000-sample.syx";
  state_.workers.Start([this] { FileLoadWorker(state_); });
  ASSERT_EQ(window_.WaitForPostedStep(10000), STEP_CHECK_FILE);
  state_.workers.Start([this] { FileCheckWorker(state_); });
  ASSERT_EQ(window_.WaitForPostedStep(10000), STEP_SCAN_PORTS);
  state_.workers.JoinAll();
  EXPECT_EQ(state_.image->size(), 5550u);
  EXPECT_EQ(state_.inputBufferSize, 300u);
  EXPECT_EQ(state_.log.Text(), "\r\nTRW1000 update file selected.");
  EXPECT_EQ(window_.ControlText(), state_.log.Text());
}

// --- the file selection ---

TEST_F(UpdateFileTest, CancelledSelectionShowsOpenAndKeepsEverything) {
  state_.filePath = "/old/path.syx";
  state_.image = Bytes{1};
  window_.fileAnswer.reset();
  FileSelectWorker(state_);
  EXPECT_THAT(Rendered(window_), ElementsAre("show 1012"));
  EXPECT_EQ(state_.filePath, "/old/path.syx");
  EXPECT_EQ(state_.image, Bytes{1});
}

TEST_F(UpdateFileTest, ChosenFileIsStoredLoggedInTwoAppendsAndLoaded) {
  window_.fileAnswer = "/data/fw/new.syx";
  FileSelectWorker(state_);
  EXPECT_THAT(Rendered(window_),
              ElementsAre("log \r\nChecking file: ", "log /data/fw/new.syx", "post 257"));
  EXPECT_EQ(state_.filePath, "/data/fw/new.syx");
  EXPECT_FALSE(state_.busy.IsBusy());
}

}  // namespace
}  // namespace korvane

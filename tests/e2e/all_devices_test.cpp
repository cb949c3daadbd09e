// korvane-flash --all: every controller on the MIDI system updated at once,
// each on its own pair of ports, each judged on its own: what each
// controller holds is checked against the verdict the table and its log
// give it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "run/texts.h"
#include "tests/e2e/e2e_fixture.h"

namespace korvane::testing {
namespace {

struct Controller {
  const char* port;
  std::vector<std::string> faults;
  // What its log shows of its fault, how it ends, and the table's verdict.
  std::string fault;
  std::string logEnd;
  const char* verdict;
  bool holdsFile;
};

struct AllCase {
  const char* name;
  std::vector<Controller> controllers;
  int status;
};

class AllDevices : public MidiEndToEnd, public ::testing::WithParamInterface<AllCase> {
 protected:
  // The one log file of the controller behind port (its ports' names are in
  // the file's name).
  std::string LogOf(const std::string& port) {
    std::string key = port + " In";
    for (char& c : key)
      c = c == ' ' ? '_' : c;
    std::string found;
    for (const auto& entry : std::filesystem::directory_iterator(LogDir())) {
      const std::string name = entry.path().filename().string();
      if (name.find(key) != std::string::npos) {
        EXPECT_TRUE(found.empty()) << "two logs for " << port;
        found = ReadFile(entry.path().string());
      }
    }
    return found;
  }
};

const std::string kOk = std::string(kSuccessText);

TEST_P(AllDevices, EachControllerGetsItsOwnVerdict) {
  const AllCase& c = GetParam();
  // Whole blocks only, each confirmed by its reply, to controllers that place
  // each block where it belongs: a message or reply that four updates at
  // once on a loaded MIDI system lose is then sent again, never stored twice
  // or taken for delivered, and each verdict is exact.
  const std::string image = MakeImage(48, 64, {"--addressed"});
  std::vector<ChildProcess*> sims;
  for (const Controller& controller : c.controllers) {
    std::vector<std::string> options = controller.faults;
    options.push_back("--addressed");
    sims.push_back(&StartSim(controller.port, options));
  }

  const RunResult all = FlashAll(image);
  EXPECT_EQ(all.status, c.status) << all.out << all.err;
  for (std::size_t i = 0; i < c.controllers.size(); ++i) {
    const Controller& controller = c.controllers[i];
    SCOPED_TRACE(controller.port);
    // Read as the log of an update of this controller alone.
    const std::string log = LogOf(controller.port);
    EXPECT_TRUE(log.starts_with(LogHead(image))) << log;
    EXPECT_NE(log.find(controller.fault), std::string::npos) << log;
    EXPECT_TRUE(log.ends_with(controller.logEnd)) << log;
    // Its row: the ports' names, then the verdict.
    const std::size_t row = all.out.find(std::string(controller.port) + " In:");
    ASSERT_NE(row, std::string::npos) << all.out;
    const std::string line = all.out.substr(row, all.out.find('\n', row) - row);
    EXPECT_NE(line.find(std::string("  ") + controller.verdict + "  "), std::string::npos) << line;
    const std::string held = StopSim(*sims[i], controller.port);
    if (controller.holdsFile)
      EXPECT_EQ(held, image_);
    else
      EXPECT_NE(held, image_);
  }
}

// A retry under load may come before it: the verdict is what counts.
const std::string kDone = kOk;

INSTANTIATE_TEST_SUITE_P(
    OnOneMidiSystem, AllDevices,
    ::testing::Values(AllCase{"TwoOneGoneMidway",
                              {{"Sim A", {}, "", kDone, "success", true},
                               {"Sim B",
                                {"--vanish-after-messages", "20"},
                                "timeout ERROR",
                                std::string(kLostConnectionText) + kDangerText,
                                "connection lost",
                                false}},
                              1},
                      AllCase{
                          "FourOneRefusingOnce",
                          {{"Sim A", {}, "", kDone, "success", true},
                           {"Sim B", {}, "", kDone, "success", true},
                           {"Sim C", {}, "", kDone, "success", true},
                           {"Sim D", {"--refuse", "2:2"}, kEraseErrorText, kDone, "success", true}},
                          0}),
    [](const auto& info) { return std::string(info.param.name); });

// A controller of another model is no controller for this file.
TEST_F(MidiEndToEnd, AllWithNoControllerOfTheModelSendsNothingAndExitsThree) {
  ChildProcess& other = StartSim("Sim A", {"--model", "TRV1000"});
  const RunResult all = FlashAll(MakeImage(16, 64));
  EXPECT_EQ(all.status, 3) << all.out << all.err;
  EXPECT_NE(all.out.find("No Suitable device found!"), std::string::npos) << all.out;
  EXPECT_FALSE(std::filesystem::exists(LogDir()) && !std::filesystem::is_empty(LogDir()));
  EXPECT_EQ(StopSim(other, "Sim A"), "");
}

}  // namespace
}  // namespace korvane::testing

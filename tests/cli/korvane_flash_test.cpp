// Runs the built korvane-flash as a user would and compares its exit status,
// its output and the exact bytes of its --log file.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

const std::string kData = KORVANE_TEST_DATA_DIR;
const std::string kGreeting =
    "Welcome to the Korvane-Update Utility.\r\nPlease select a file to upload.";

class KorvaneFlash : public ::testing::Test {
 protected:
  KorvaneFlash()
      : dir_(std::filesystem::temp_directory_path() /
             ("korvane-flash-" + std::to_string(::getpid()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name())) {
    std::filesystem::create_directories(dir_);
  }
  ~KorvaneFlash() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  // Runs the program with args (already quoted) in the folder cwd, with env
  // ("NAME=value") set; returns its exit status.
  int Run(const std::string& args, const std::string& cwd = ".", const std::string& env = "") {
    const std::string command = "cd '" + cwd + "' && " + env + " '" +
                                std::string(KORVANE_FLASH_PATH) + "' " + args + " >'" +
                                Path("stdout") + "' 2>'" + Path("stderr") + "'";
    const int raw = std::system(command.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  std::string Read(const std::string& name) const {
    std::ifstream in(dir_ / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::filesystem::path dir_;
};

TEST_F(KorvaneFlash, GoodFileGivesTheExactLogAndStatusZero) {
  const std::string file = kData + "/trw1000-sample.syx";
  EXPECT_EQ(Run("--check '" + file + "' --log '" + Path("log") + "'"), 0);
  const std::string expected =
      kGreeting + "\r\nChecking file: " + file + "\r\nTRW1000 update file selected.";
  EXPECT_EQ(Read("log"), expected);
  EXPECT_EQ(Read("stdout"),
            "Welcome to the Korvane-Update Utility.\nPlease select a file to upload.\n"
            "Checking file: " +
                file + "\nTRW1000 update file selected.\n");
  EXPECT_EQ(Read("stderr"), "");
}

TEST_F(KorvaneFlash, RelativePathIsLoggedInFull) {
  EXPECT_EQ(Run("--check trv1000-sample.syx --log '" + Path("log") + "'", kData), 0);
  EXPECT_EQ(Read("log"), kGreeting + "\r\nChecking file: " + kData +
                             "/trv1000-sample.syx\r\nTRV1000 update file selected.");
}

TEST_F(KorvaneFlash, BadFileIsRefusedWithStatusTwo) {
  const std::string file = kData + "/bad/unknown-model.syx";
  EXPECT_EQ(Run("--check '" + file + "' --log '" + Path("log") + "'"), 2);
  EXPECT_EQ(Read("log"),
            kGreeting + "\r\nChecking file: " + file +
                "\r\nSorry, unknown Controller file selected.\r\nERROR incorrect file");
}

TEST_F(KorvaneFlash, BadCommandLineGivesUsageOnStderr) {
  EXPECT_EQ(Run("--check"), 64);
  EXPECT_EQ(Read("stdout"), "");
  EXPECT_NE(Read("stderr").find("korvane-flash --check FILE [--log PATH]"), std::string::npos);
  EXPECT_EQ(Run("--frobnicate"), 64);
  EXPECT_EQ(Run(""), 64);
}

TEST_F(KorvaneFlash, LogFileProblemsSayWhyAndTheVerdictStands) {
  const std::string file = kData + "/trw1000-sample.syx";
  // Opened first: a path that cannot be written ends the run before anything.
  EXPECT_EQ(Run("--check '" + file + "' --log '" + Path("no-dir/log") + "'"), 74);
  EXPECT_EQ(Read("stdout"), "");
  EXPECT_EQ(Read("stderr"), "korvane-flash: cannot open the log file " + Path("no-dir/log") +
                                ": No such file or directory\n");
  // Written at the end: a failure then is reported and the status stands.
  EXPECT_EQ(Run("--check '" + file + "' --log /dev/full"), 0);
  EXPECT_EQ(Read("stderr"),
            "korvane-flash: cannot write the log to /dev/full: No space left on device\n");
  // The log must not overwrite the file it describes, nor --device be given twice.
  std::filesystem::copy_file(file, Path("update.syx"));
  EXPECT_EQ(Run("--check update.syx --log ./update.syx", dir_.string()), 64);
  EXPECT_EQ(std::filesystem::file_size(Path("update.syx")), std::filesystem::file_size(file));
  EXPECT_EQ(Run("--device 0 --device 1 update.syx", dir_.string()), 64);
  EXPECT_NE(Read("stderr").find("--device given twice"), std::string::npos);
}

TEST_F(KorvaneFlash, ListWithNoMidiSystemSaysWhichWereTriedAndExitsThree) {
  if (std::filesystem::exists("/dev/snd/seq"))
    GTEST_SKIP() << "this machine has an ALSA sequencer: a MIDI system runs";
  const std::string server = "korvane-nobody-" + std::to_string(::getpid());
  EXPECT_EQ(Run("--list", ".", "JACK_DEFAULT_SERVER=" + server), 3);
  EXPECT_EQ(Read("stdout"), "");
  const std::string err = Read("stderr");
  EXPECT_TRUE(err.starts_with("korvane-flash: no MIDI system runs:\n  ALSA: ")) << err;
  EXPECT_NE(err.find("  JACK: no server \"" + server + "\" accepts clients\n"), std::string::npos)
      << err;
}

TEST_F(KorvaneFlash, HelpGoesToStdout) {
  EXPECT_EQ(Run("--help"), 0);
  EXPECT_NE(Read("stdout").find("Usage: korvane-flash"), std::string::npos);
  EXPECT_EQ(Read("stderr"), "");
}

}  // namespace

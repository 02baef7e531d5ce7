// A run ended by a signal, during the training or while the destination is
// being written, leaves an existing destination byte for byte as it was and
// no temporary beside it.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "FileHandler/ParseTools.h"
#include "driver/Varnel.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::set<std::string> FileNames(const fs::path& dir) {
  std::set<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// The signal that ended the child, or -1 when it exited or did not end
// within the bounded wait (it is then killed).
int WaitForSignalDeath(pid_t pid) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      ADD_FAILURE() << "the child did not end in time";
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return WIFSIGNALED(status) ? WTERMSIG(status) : -1;
}

class SignalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = testing::TempDir() + "varnel-signal-XXXXXX";
    ASSERT_NE(mkdtemp(&pattern[0]), nullptr) << std::strerror(errno);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  fs::path dir_;
};

// The example network trained for far longer than the test waits, onto a
// destination that already holds a network.
TEST_F(SignalTest, TrainingStoppedBySignalKeepsTheOldDestination) {
  const fs::path examples = fs::path(VARNEL_SOURCE_DIR) / "examples";
  for (const char* name : {"iris-start.wgt", "iris-setosa.dat", "iris-versicolor.dat"}) {
    fs::copy_file(examples / name, dir_ / name);
  }
  const std::string old = ReadFile(examples / "iris-start.wgt");
  WriteFile(dir_ / "old.wgt", old);
  WriteFile(dir_ / "run.par",
            "WeightFile = iris-start.wgt\nDestinationFile = old.wgt\n#DataClasses = 2\n"
            "DataFile = iris-setosa.dat\nExamples = 40\nDataFile = iris-versicolor.dat\n"
            "Examples = 40\nEpochs = 2000000000\nChangeAfter = 10\n");
  const std::set<std::string> before = FileNames(dir_);

  for (const int signal : {SIGINT, SIGTERM}) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      // The test runner may have been started with these signals ignored,
      // which the program would keep.
      std::signal(SIGINT, SIG_DFL);
      std::signal(SIGTERM, SIG_DFL);
      if (chdir(dir_.c_str()) != 0) _exit(127);
      execl(VARNEL_BINARY, VARNEL_BINARY, "run.par", static_cast<char*>(nullptr));
      _exit(127);
    }
    // Loading takes milliseconds; the training would take hours.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    kill(pid, signal);
    EXPECT_EQ(WaitForSignalDeath(pid), signal);
    EXPECT_EQ(ReadFile(dir_ / "old.wgt"), old) << strsignal(signal);
    EXPECT_EQ(FileNames(dir_), before) << strsignal(signal);
  }
}

// A signal that arrives while the temporary is half written: the handler
// removes it and lets the signal end the process.
TEST_F(SignalTest, SignalDuringTheWriteRemovesTheTemporary) {
  const fs::path destination = dir_ / "net.wgt";
  WriteFile(destination, "the old network\n");
  for (const int signal : {SIGINT, SIGTERM}) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      std::signal(SIGINT, SIG_DFL);
      std::signal(SIGTERM, SIG_DFL);
      RemoveTemporariesOnSignals();
      TReplacingFile file(destination.c_str());
      file.stream() << "half of a new network" << std::flush;
      if (!fs::exists(destination.string() + ".tmp")) _exit(2);
      raise(signal);
      _exit(3);
    }
    EXPECT_EQ(WaitForSignalDeath(pid), signal);
    EXPECT_EQ(ReadFile(destination), "the old network\n");
    EXPECT_EQ(FileNames(dir_), std::set<std::string>{"net.wgt"});
  }
}

// Started with SIGTERM ignored, the program keeps ignoring it.
TEST_F(SignalTest, AnInheritedIgnoredSignalStaysIgnored) {
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    std::signal(SIGTERM, SIG_IGN);
    RemoveTemporariesOnSignals();
    raise(SIGTERM);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
}  // namespace varnel

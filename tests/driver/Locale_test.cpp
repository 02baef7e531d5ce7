// The files and the console output of a run do not depend on the user's
// locale: a locale with a decimal comma changes neither what is written nor
// how it is read.

#include <gtest/gtest.h>
#include <locale.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <locale>
#include <memory>
#include <sstream>
#include <string>

#include "DataObject/Data.h"
#include "FileHandler/ParseTools.h"
#include "NeuralNets/TBasicNetwork.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;

constexpr const char* kCommaLocale = "de_DE.UTF-8";

bool HasLocale(const char* name) {
  const locale_t locale = newlocale(LC_ALL_MASK, name, static_cast<locale_t>(0));
  if (locale == static_cast<locale_t>(0)) return false;
  freelocale(locale);
  return true;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class LocaleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HasLocale(kCommaLocale)) {
      GTEST_SKIP() << "locale " << kCommaLocale << " is not installed (localedef -i de_DE -f UTF-8 "
                   << kCommaLocale << ")";
    }
    std::string pattern = testing::TempDir() + "varnel-locale-XXXXXX";
    ASSERT_NE(mkdtemp(&pattern[0]), nullptr) << std::strerror(errno);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    if (!dir_.empty()) fs::remove_all(dir_, ignored);
  }

  // Runs the program on run.par in the folder with the locale in LANG and
  // LC_ALL; returns its standard output, or "" after a failure.
  std::string RunIn(const char* locale) const {
    const fs::path out = dir_ / "stdout.txt";
    const pid_t pid = fork();
    if (pid == 0) {
      const std::string lang = std::string("LANG=") + locale;
      const std::string all = std::string("LC_ALL=") + locale;
      char* const env[] = {const_cast<char*>(lang.c_str()), const_cast<char*>(all.c_str()),
                           nullptr};
      if (chdir(dir_.c_str()) != 0 || freopen(out.c_str(), "w", stdout) == nullptr) _exit(127);
      execle(VARNEL_BINARY, VARNEL_BINARY, "run.par", static_cast<char*>(nullptr), env);
      _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "";
    return ReadFile(out);
  }

  fs::path dir_;
};

// The same seeded run under "C" and under a decimal-comma locale prints the
// same error line and writes the same network, digit for digit.
TEST_F(LocaleTest, RunWritesTheSameFilesUnderADecimalCommaLocale) {
  const fs::path examples = fs::path(VARNEL_SOURCE_DIR) / "examples";
  for (const char* name : {"iris-start.wgt", "iris-setosa.dat", "iris-virginica.dat"}) {
    fs::copy_file(examples / name, dir_ / name);
  }
  std::ofstream(dir_ / "run.par")
      << "WeightFile = iris-start.wgt\nDestinationFile = out.wgt\n#DataClasses = 2\n"
         "DataFile = iris-setosa.dat\nExamples = 10\nDataFile = iris-virginica.dat\n"
         "Examples = 10\nEpochs = 20\nChangeAfter = 5\nLearningRate = 0.25\nMomentum = 0.5\n"
         "Seed = 7\n";
  const std::string plainOut = RunIn("C");
  const std::string plainNet = ReadFile(dir_ / "out.wgt");
  const std::string commaOut = RunIn(kCommaLocale);
  ASSERT_NE(plainOut.find("Error = 0."), std::string::npos) << plainOut;
  EXPECT_EQ(commaOut, plainOut);
  EXPECT_EQ(ReadFile(dir_ / "out.wgt"), plainNet);
  EXPECT_EQ(plainNet.find(','), std::string::npos);
}

// Even with the locale made active in both the C and the C++ library, the
// files are written and read in the "C" conventions.
TEST_F(LocaleTest, FilesIgnoreAnActiveDecimalCommaLocale) {
  const fs::path source = fs::path(VARNEL_SOURCE_DIR) / "examples" / "iris-start.wgt";
  FileTools tools;
  const std::unique_ptr<TBasicNetwork> net = tools.ReadNetworkFile(source.c_str(), nullptr);
  Data table(2, 2, 1, false);
  const double row0[] = {0.5, -1234.25, 1e-7};
  const double row1[] = {2.5, 3.0, 1e20};
  table.AppendRow(row0, row0 + 2, nullptr);
  table.AppendRow(row1, row1 + 2, nullptr);

  tools.WriteNetworkFile((dir_ / "c.wgt").c_str(), net.get(), nullptr);
  tools.WriteDataFile((dir_ / "c.dat").c_str(), &table, nullptr, nullptr);

  const std::locale previous = std::locale::global(std::locale(kCommaLocale));
  setlocale(LC_ALL, kCommaLocale);
  tools.WriteNetworkFile((dir_ / "comma.wgt").c_str(), net.get(), nullptr);
  tools.WriteDataFile((dir_ / "comma.dat").c_str(), &table, nullptr, nullptr);
  std::unique_ptr<Data> back;
  const int status = tools.ReadDataFile((dir_ / "comma.dat").c_str(), &back);
  const std::unique_ptr<TBasicNetwork> netBack =
      tools.ReadNetworkFile((dir_ / "comma.wgt").c_str(), nullptr);
  setlocale(LC_ALL, "C");
  std::locale::global(previous);

  EXPECT_EQ(ReadFile(dir_ / "comma.wgt"), ReadFile(dir_ / "c.wgt"));
  EXPECT_EQ(ReadFile(dir_ / "comma.dat"), ReadFile(dir_ / "c.dat"));
  ASSERT_EQ(status, SUCCESS);
  double value = 0.0;
  back->GetInputDatum(0, 1, value);
  EXPECT_EQ(value, -1234.25);
  back->GetOutputDatum(1, 0, value);
  EXPECT_EQ(value, 1e20);
  EXPECT_EQ(netBack->GetNumNeurons(), net->GetNumNeurons());
}

}  // namespace
}  // namespace varnel

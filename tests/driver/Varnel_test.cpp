#include "driver/Varnel.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace varnel {
namespace {

// Every setting that the checks look at, and one class list of two classes.
const std::string kValid =
    "WeightFile = start.wgt\n"
    "#DataClasses = 2\n"
    "DataFile = a.dat\nExamples = 5\n"
    "DataFile = b.dat\nExamples = 6\n"
    "Epochs = 10\nChangeAfter = 2\n";

std::string Load(const std::string& text) {
  std::istringstream in(text);
  TRunSettings settings;
  return LoadParameters(in, &settings);
}

TRunSettings Read(const std::string& text, std::string* problem) {
  std::istringstream in(text);
  return ReadParameters(in, problem);
}

TEST(ParameterFileTest, ReadsTheExampleFile) {
  std::string problem;
  const TRunSettings s = Read(
      "WeightFile = start.wgt\nDestinationFile = result.wgt\n#DataClasses = 2\n"
      "DataFile = class0.dat\nExamples = 50\nDataFile = class1.dat\nExamples = 50\n"
      "Epochs = 1000\nChangeAfter = 10\nLearningRate = 0.1\nMomentum = 0.9\nBatch = false\n"
      "#Features = 3\nFeatures = 0 2 5\n",
      &problem);
  EXPECT_EQ(problem, "");
  EXPECT_EQ(s.weightFile, "start.wgt");
  EXPECT_EQ(s.destinationFile, "result.wgt");
  EXPECT_EQ(s.numClasses, 2);
  EXPECT_EQ(s.dataFiles, (std::vector<std::string>{"class0.dat", "class1.dat"}));
  EXPECT_EQ(s.examples, (std::vector<int>{50, 50}));
  EXPECT_EQ(s.epochs, 1000);
  EXPECT_EQ(s.changeAfter, 10);
  EXPECT_EQ(s.learningRate, 0.1f);
  EXPECT_EQ(s.momentum, 0.9f);
  EXPECT_FALSE(s.batch);
  EXPECT_EQ(s.numFeatures, 3);
  EXPECT_EQ(s.features, (std::vector<int>{0, 2, 5}));
}

TEST(ParameterFileTest, DefaultsHoldWithoutTheirKeys) {
  std::string problem;
  const TRunSettings s = Read("", &problem);
  EXPECT_EQ(s.weightFile, "");
  EXPECT_EQ(s.destinationFile, "trained.wgt");
  EXPECT_EQ(s.numClasses, 0);
  EXPECT_TRUE(s.dataFiles.empty());
  EXPECT_EQ(s.epochs, 0);
  EXPECT_EQ(s.changeAfter, 0);
  EXPECT_EQ(s.learningRate, 0.5f);
  EXPECT_EQ(s.momentum, 0.5f);
  EXPECT_FALSE(s.batch);
  EXPECT_EQ(s.numFeatures, 0);
  EXPECT_TRUE(s.features.empty());
  EXPECT_EQ(problem, "");
}

TEST(ParameterFileTest, WordsSeparatorsAndKeys) {
  std::string problem;
  // Keys in any case; a separator of any character, glued to its value or
  // standing in for a missing one; remarks between entries; later values win.
  TRunSettings s = Read(
      "weightfile = a.wgt  this remark is skipped\n"
      "WEIGHTFILE : b.wgt\tDestinationFile =out.wgt\n"
      "Epochs 100 ChangeAfter = 12abc LearningRate 0.1 Momentum = +2.5e-1\n"
      "Epochs = 7 EPOCHS = +8 DataFile=x.dat",
      &problem);
  EXPECT_EQ(problem, "");
  EXPECT_EQ(s.weightFile, "b.wgt");
  EXPECT_EQ(s.destinationFile, "out.wgt");
  EXPECT_EQ(s.changeAfter, 12);
  EXPECT_EQ(s.learningRate, 0.1f);
  EXPECT_EQ(s.momentum, 0.25f);
  EXPECT_EQ(s.epochs, 8);

  // The separator eats the first digit: "00" is read.
  s = Read("Epochs 100", &problem);
  EXPECT_EQ(s.epochs, 0);
}

TEST(ParameterFileTest, BatchCanOnlyBeSwitchedOn) {
  const struct {
    const char* text;
    bool batch;
  } cases[] = {
      {"Batch = TRUE", true},
      {"Batch = true Batch = false", true},
      {"Batch = yes", false},
      {"Batch = truest", false},
  };
  for (const auto& c : cases) {
    std::string problem;
    EXPECT_EQ(Read(c.text, &problem).batch, c.batch) << c.text;
    EXPECT_EQ(problem, "") << c.text;
  }
}

TEST(ParameterFileTest, ListsAreRemadeByTheirCountKeys) {
  std::string problem;
  const TRunSettings s = Read(
      "#DataClasses = 3 #DataClasses = 1 DataFile = a.dat Examples = 4 "
      "#Features = 3 Features = 1 2 3 #Features = 2 Features = 4 1 Features = 0 3",
      &problem);
  EXPECT_EQ(problem, "");
  EXPECT_EQ(s.numClasses, 1);
  EXPECT_EQ(s.dataFiles, std::vector<std::string>{"a.dat"});
  EXPECT_EQ(s.examples, std::vector<int>{4});
  EXPECT_EQ(s.features, (std::vector<int>{0, 3}));
}

TEST(ParameterFileTest, ChecksRunInOrderBeforeOtherProblems) {
  const struct {
    std::string text;
    const char* message;
  } cases[] = {
      {"", "No weight file specified"},
      {"WeightFile=a.wgt #DataClasses = 1 Epochs = 1 ChangeAfter = 1", "No weight file specified"},
      {"WeightFile = a.wgt", "Number of classes not specified or invalid"},
      {"WeightFile = a.wgt #DataClasses = 0 Epochs = 1 ChangeAfter = 1",
       "Number of classes not specified or invalid"},
      {"WeightFile = a.wgt #DataClasses = -2 Epochs = 1 ChangeAfter = 1",
       "Number of classes not specified or invalid"},
      {"WeightFile = a.wgt #DataClasses = 1 DataFile = a Examples = 1",
       "Number of epochs not specified or invalid"},
      {"WeightFile = a.wgt #DataClasses = 1 Epochs 100 ChangeAfter = 1",
       "Number of epochs not specified or invalid"},
      {"WeightFile = a.wgt #DataClasses = 1 Epochs = 1", "Change After not specified or invalid"},
      {"WeightFile = a.wgt #DataClasses = 1 Epochs = 1 ChangeAfter = 0",
       "Change After not specified or invalid"},
      // Further problems wait behind a failing check.
      {"DataFile = x.dat #Features = -1 WeightFile = a.wgt",
       "Number of classes not specified or invalid"},
      {"Epochs = many " + kValid.substr(0, kValid.find("Epochs")) + "ChangeAfter = 1",
       "Number of epochs not specified or invalid"},
      {kValid, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Load(c.text), c.message) << c.text;
}

TEST(ParameterFileTest, EntriesTheSettingsCannotTakeAreReported) {
  const std::string longWord(256, 'w');
  const struct {
    std::string text;
    const char* message;
  } cases[] = {
      {"DataFile = x.dat " + kValid, "DataFile: given before #DataClasses"},
      {"Examples = 3 " + kValid, "Examples: given before #DataClasses"},
      {kValid + "DataFile = c.dat", "DataFile: more entries than #DataClasses (2)"},
      {kValid + "Examples = 7", "Examples: more entries than #DataClasses (2)"},
      {kValid + "#DataClasses = 3 DataFile = c.dat Examples = 1",
       "#DataClasses: given again after DataFile or Examples entries"},
      {"WeightFile = a.wgt #DataClasses = 2 DataFile = a.dat Examples = 1 Examples = 2 "
       "Epochs = 1 ChangeAfter = 1",
       "DataFile: fewer entries (1) than #DataClasses (2)"},
      {"WeightFile = a.wgt #DataClasses = 1000000000 Epochs = 1 ChangeAfter = 1",
       "DataFile: fewer entries (0) than #DataClasses (1000000000)"},
      {"WeightFile = a.wgt #DataClasses = 1 DataFile = a.dat Epochs = 1 ChangeAfter = 1",
       "Examples: fewer entries (0) than #DataClasses (1)"},
      {kValid + "Features = 1 2", "Features: given before #Features"},
      {kValid + "#Features = -1", "#Features: negative number of features: -1"},
      {kValid + "#Features = 2", "Features: no entry for #Features (2)"},
      {kValid + "#Features = 2 Features = 1 2 #Features = 1",
       "Features: no entry for #Features (1)"},
      {kValid + "#Features = 3 Features = 0 2", "Features: value missing at the end of the file"},
      {kValid + "#Features = 3 Features = 0 2 Epochs = 10", "Features: not a number: Epochs"},
      {kValid + "Epochs = abc", "Epochs: not a number: abc"},
      {kValid + "LearningRate = fast", "LearningRate: not a number: fast"},
      {kValid + "Momentum = .", "Momentum: not a number: ."},
      {kValid + "#DataClasses = two", "#DataClasses: not a number: two"},
      {kValid + "Epochs = 99999999999", "Epochs: number out of range: 99999999999"},
      {kValid + "LearningRate = 1e99", "LearningRate: number out of range: 1e99"},
      {kValid + "Momentum =", "Momentum: value missing at the end of the file"},
      {kValid + "DestinationFile", "DestinationFile: value missing at the end of the file"},
      {kValid + longWord,
       "Word too long (more than 255 characters): wwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwww..."},
      {kValid + "WeightFile = " + std::string(256, 'n'),
       "WeightFile: value too long (more than 255 characters): "
       "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn..."},
      {kValid + "DestinationFile = " + std::string(256, 'n'),
       "DestinationFile: value too long (more than 255 characters): "
       "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn..."},
      {"WeightFile = a.wgt #DataClasses = 1 DataFile = " + std::string(255, 'd') +
           " Examples = 1 Epochs = 1 ChangeAfter = 1",
       "DataFile: value too long (more than 254 characters): "
       "dddddddddddddddddddddddddddddddddddddddd..."},
      {kValid + "Batch = truetruetruetrue",
       "Batch: value too long (more than 15 characters): "
       "truetruetruetrue"},
      // The first problem is the one reported.
      {kValid + "Epochs = x LearningRate = y", "Epochs: not a number: x"},
  };
  for (const auto& c : cases) EXPECT_EQ(Load(c.text), c.message) << c.text.substr(0, 120);
}

TEST(ParameterFileTest, WordsUpToTheirLimitsAreAccepted) {
  std::string problem;
  const TRunSettings s = Read(std::string(255, 'k') + " WeightFile = " + std::string(255, 'n') +
                                  " #DataClasses = 1 DataFile = " + std::string(254, 'd') +
                                  " Batch = " + std::string(15, 'b'),
                              &problem);
  EXPECT_EQ(problem, "Examples: fewer entries (0) than #DataClasses (1)");
  EXPECT_EQ(s.weightFile.size(), 255u);
  EXPECT_EQ(s.dataFiles.at(0).size(), 254u);
}

TEST(ParameterFileTest, AFailedNumberLeavesTheSettingAndReadingGoesOn) {
  std::string problem;
  const TRunSettings s = Read("Epochs = 5 Epochs = x WeightFile = a.wgt", &problem);
  EXPECT_EQ(problem, "Epochs: not a number: x");
  EXPECT_EQ(s.epochs, 5);
  EXPECT_EQ(s.weightFile, "a.wgt");
}

TEST(ReportFileErrorTest, WritesTheMessageAsOneLine) {
  std::ostringstream out;
  ReportFileError(FileTools::Error{"Error on File Open", nullptr, nullptr}, out);
  EXPECT_EQ(out.str(), "Error on File Open\n");
}

// The catcher owns the error structure: the report frees it (the sanitizer
// build would see a leak) and leaves the error without it.
TEST(ReportStructureErrorTest, WritesTheStructureAsOneLineAndFreesIt) {
  TKQstructure* message = TKQstructure::MakeError("type-error");
  message->SetString("found", "abc");
  const std::string text = message->ToText();
  TKQstructure::Error e{message};
  std::ostringstream out;
  ReportStructureError(e, out);
  EXPECT_EQ(out.str(), text + "\n");
  EXPECT_NE(text.find("type-error"), std::string::npos);
  EXPECT_EQ(text.find('\n'), std::string::npos);
  EXPECT_EQ(e.message, nullptr);
}

}  // namespace
}  // namespace varnel

#include "NeuralNets/TMLPBPBootStrap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "DataObject/Data.h"
#include "KQmessage/KQML.h"
#include "NeuralNets/TErrorObj.h"
#include "NeuralNets/TMLPNetwork.h"
#include "NeuralNets/TTrainModule.h"
#include "errors/TException.h"

namespace varnel {
namespace {

// What the trainer handed the module in one cycle.
struct Cycle {
  int epochs;
  std::string params;
  std::vector<int> ids;      // input 0 of every sample row, in order
  std::vector<int> classes;  // output 0 of every sample row
};

// Records every cycle; replays scripted epoch errors when given some (the
// last one repeats), otherwise trains for real.
class RecordingModule : public TBackpropModule {
 public:
  RecordingModule(TBasicNetwork* net, std::vector<double> errors)
      : TBackpropModule(net), script(std::move(errors)) {}

  double Train(Data* data, TKQstructure* params, int* epochs) override {
    Cycle cycle{*epochs, params->ToText(), {}, {}};
    for (int row = 0; row < data->GetNumDataRows(); ++row) {
      double id, cls;
      data->GetInputDatum(row, 0, id);
      data->GetOutputDatum(row, 0, cls);
      cycle.ids.push_back(static_cast<int>(id));
      cycle.classes.push_back(static_cast<int>(cls));
    }
    cycles.push_back(cycle);
    return TBackpropModule::Train(data, params, epochs);
  }

  double TrainEpoch(Data* data, TKQstructure* params) override {
    ++epochsRun;
    if (script.empty()) return TBackpropModule::TrainEpoch(data, params);
    return script[std::min(epochsRun, static_cast<int>(script.size())) - 1];
  }

  std::vector<double> script;
  std::vector<Cycle> cycles;
  int epochsRun = 0;
};

// Class tables of `rows` rows: inputs (id, class), output class, with ids
// counted from 1000 * class.
std::unique_ptr<Data> ClassTable(int cls, int rows) {
  auto table = std::make_unique<Data>(rows, 2, 1, false);
  for (int i = 0; i < rows; ++i) {
    const double in[] = {1000.0 * cls + i, static_cast<double>(cls)};
    const double out[] = {static_cast<double>(cls)};
    table->AppendRow(in, out, nullptr);
  }
  return table;
}

class BootStrapTest : public ::testing::Test {
 protected:
  void SetUp() override { srand(11); }

  // Replaces the trainer's module by a recording one.
  RecordingModule* Record(TMLPBPBootStrap* trainer, std::vector<double> errors = {}) {
    auto module = std::make_unique<RecordingModule>(&net, std::move(errors));
    RecordingModule* raw = module.get();
    trainer->module = std::move(module);
    return raw;
  }

  const int sizes[2] = {2, 1};
  TMLPNetwork net{2, sizes, true};
  std::unique_ptr<Data> class0 = ClassTable(0, 100);
  std::unique_ptr<Data> class1 = ClassTable(1, 40);
  Data* tables[2] = {class0.get(), class1.get()};
  const int examples[2] = {30, 30};
};

TEST_F(BootStrapTest, CyclesRunUntilTheEpochsAreSpent) {
  struct Case {
    int epochs;
    int perCycle;
    double threshold;
    std::vector<double> errors;
    std::vector<int> cycleEpochs;  // epochs handed to the module, per cycle
    int epochsRun;
    double result;
  };
  const Case cases[] = {
      {25, 10, 0.0, {0.3}, {10, 10, 10}, 30, 0.3},
      {1, 10, 0.0, {0.3}, {10}, 10, 0.3},
      {0, 10, 0.0, {0.3}, {}, 0, 2147483647.0},
      // The error reaching the threshold ends the run at the end of a cycle.
      {100, 10, 0.25, {0.3, 0.25}, {10}, 10, 0.25},
      // The module compares with the six-decimal text 0.123457 and stops at
      // index 1; the trainer compares with 0.1234567, goes on, and later
      // cycles run the lowered count.
      {4, 5, 0.1234567, {0.2, 0.12345695, 0.2}, {5, 1, 1, 1}, 5, 0.2},
      // A cycle that runs no epoch ends the call instead of looping forever.
      {20, 0, 0.0, {0.3}, {0}, 0, 0.0},
      {20, -5, -1.0, {0.3}, {-5}, 0, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.epochs << " epochs, " << c.perCycle << " per cycle");
    TMLPBPBootStrap trainer(&net);
    RecordingModule* module = Record(&trainer, c.errors);
    const double result =
        trainer.Train(2, tables, examples, c.epochs, c.perCycle, 0.5f, 0.0f, c.threshold, false);
    EXPECT_EQ(result, c.result);
    std::vector<int> handed;
    for (const Cycle& cycle : module->cycles) handed.push_back(cycle.epochs);
    EXPECT_EQ(handed, c.cycleEpochs);
    EXPECT_EQ(module->epochsRun, c.epochsRun);
  }
}

TEST_F(BootStrapTest, EverySampleHoldsTheExamplesOfEachClassWithoutRepeats) {
  TMLPBPBootStrap trainer(&net);
  RecordingModule* module = Record(&trainer, {0.3});
  trainer.Train(2, tables, examples, 30, 10, 0.5f, 0.0f, 0.0, false);
  ASSERT_EQ(module->cycles.size(), 3u);
  for (const Cycle& cycle : module->cycles) {
    ASSERT_EQ(cycle.ids.size(), 60u);
    std::set<int> ids[2];
    for (size_t r = 0; r < cycle.ids.size(); ++r) {
      const int cls = cycle.classes[r];
      ASSERT_TRUE(cls == 0 || cls == 1);
      EXPECT_EQ(cycle.ids[r] / 1000, cls);  // the row belongs to its class
      ids[cls].insert(cycle.ids[r]);
    }
    EXPECT_EQ(ids[0].size(), 30u);
    EXPECT_EQ(ids[1].size(), 30u);
    // Mixed order: the classes are not laid out in two runs.
    EXPECT_FALSE(std::is_sorted(cycle.classes.begin(), cycle.classes.end()));
  }
  EXPECT_NE(module->cycles[0].ids, module->cycles[1].ids);
  // The class tables are left as they were.
  EXPECT_EQ(class0->GetNumDataRows(), 100);
  EXPECT_EQ(class1->GetNumDataRows(), 40);
}

TEST_F(BootStrapTest, ParametersReachTheModuleAsSixDecimalTexts) {
  struct Case {
    float rate;
    float momentum;
    double threshold;
    bool batch;
    const char* text;
  };
  const Case cases[] = {
      {0.5f, 0.25f, 0.0, false,
       "(Params :LearningRate 0.500000 :Momentum 0.250000 :Threshold 0.000000 :Batch false)"},
      {0.0000001f, 0.9f, -1.0, true,
       "(Params :LearningRate 0.000000 :Momentum 0.900000 :Threshold -1.000000 :Batch true)"},
  };
  for (const Case& c : cases) {
    TMLPBPBootStrap trainer(&net);
    RecordingModule* module = Record(&trainer, {0.3});
    trainer.Train(2, tables, examples, 2, 1, c.rate, c.momentum, c.threshold, c.batch);
    ASSERT_EQ(module->cycles.size(), 2u);
    EXPECT_EQ(module->cycles[0].params, c.text);
  }
}

TEST_F(BootStrapTest, SamplingFailuresPropagate) {
  TMLPBPBootStrap trainer(&net);
  struct Case {
    int classes;
    int examples[2];
    const char* message;
  };
  const Case cases[] = {
      {1, {30, 30}, "Insufficient number of classes"},
      {2, {30, 41}, "Insufficient rows"},
  };
  for (const Case& c : cases) {
    try {
      trainer.Train(c.classes, tables, c.examples, 10, 10, 0.5f, 0.0f, 0.0, false);
      ADD_FAILURE() << c.message << ": no TException thrown";
    } catch (const TException& e) {
      EXPECT_STREQ(e.GetMessage(), c.message);
    }
  }
}

// Two blobs, centred at (-1, -1) for class 0 and (1, 1) for class 1.
std::unique_ptr<Data> Blob(int cls, int rows) {
  auto table = std::make_unique<Data>(rows, 2, 1, false);
  const double centre = cls == 0 ? -1.0 : 1.0;
  for (int i = 0; i < rows; ++i) {
    const double in[] = {centre + (rand() % 1000) / 1000.0 - 0.5,
                         centre + (rand() % 1000) / 1000.0 - 0.5};
    const double out[] = {static_cast<double>(cls)};
    table->AppendRow(in, out, nullptr);
  }
  return table;
}

TEST_F(BootStrapTest, TrainingTwoBlobsLowersTheError) {
  const int blobSizes[] = {2, 3, 1};
  TMLPNetwork blobNet(3, blobSizes, true);
  blobNet.Randomize(-0.5, 0.5);
  auto blob0 = Blob(0, 50);
  auto blob1 = Blob(1, 50);
  Data* blobs[] = {blob0.get(), blob1.get()};
  const int perClass[] = {20, 20};
  auto all = std::make_unique<Data>(100, 2, 1, false);
  for (Data* blob : blobs) {
    for (int r = 0; r < 50; ++r) {
      double in[2], out[1];
      blob->GetInputRow(r, in);
      blob->GetOutputRow(r, out);
      all->AppendRow(in, out, nullptr);
    }
  }
  TErrorRMSObj before(1);
  const double initial = blobNet.CalcError(all.get(), &before);

  TMLPBPBootStrap trainer(&blobNet);
  const double last = trainer.Train(2, blobs, perClass, 200, 20, 0.5f, 0.5f, 0.0, false);
  TErrorRMSObj after(1);
  const double final = blobNet.CalcError(all.get(), &after);
  EXPECT_LT(final, 0.5 * initial);
  EXPECT_LT(last, 0.5 * initial);
  // The momentum memory is kept by the trainer's module.
  std::vector<double> changes(trainer.module->last_change->GetNumWeights(FMaskExists));
  trainer.module->last_change->GetWeights(changes.data(), FMaskExists);
  EXPECT_TRUE(std::any_of(changes.begin(), changes.end(), [](double c) { return c != 0.0; }));
}

// The observer sees every cycle once, after it has run, and the training
// goes exactly as without it.
TEST_F(BootStrapTest, AfterCycleWatchesEveryCycleAndChangesNothing) {
  struct TRun {
    double result;
    std::vector<double> weights;
  };
  std::vector<std::vector<double>> seen;  // cycles, epochs and error of each call
  const auto run = [&](bool watch) {
    srand(5);
    TMLPNetwork network(2, sizes, true);
    network.Randomize(-0.5, 0.5);
    TMLPBPBootStrap trainer(&network);
    if (watch) {
      trainer.afterCycle = [&](int cycles, int epochs, double error) {
        seen.push_back({static_cast<double>(cycles), static_cast<double>(epochs), error});
      };
    }
    TRun result{trainer.Train(2, tables, examples, 25, 10, 0.5f, 0.5f, 0.0, false), {}};
    result.weights.resize(network.GetNumWeights(FMaskExists));
    network.GetWeights(result.weights.data(), FMaskExists);
    return result;
  };
  const TRun plain = run(false);
  const TRun watched = run(true);
  EXPECT_EQ(watched.result, plain.result);
  EXPECT_EQ(watched.weights, plain.weights);
  ASSERT_EQ(seen.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(seen[i][0], i + 1);
    EXPECT_EQ(seen[i][1], 10 * (i + 1));
  }
  EXPECT_EQ(seen[2][2], watched.result);
}

}  // namespace
}  // namespace varnel

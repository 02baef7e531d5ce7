#include "NeuralNets/TMLPNetwork.h"

#include <utility>

#include "DataObject/Data.h"
#include "KQmessage/Assert.h"
#include "NeuralNets/ActFunctions.h"
#include "NeuralNets/TErrorObj.h"
#include "NeuralNets/TPatternBuffers.h"
#include "errors/TException.h"

namespace varnel {

TMLPNetwork::TMLPNetwork(int n, const int* sizes, bool with_bias) : bias(with_bias) {
  VARNEL_ASSERT(n >= 1, "n >= 1");
  VARNEL_ASSERT(sizes != nullptr, "sizes != nil");
  Allocate(n + 1);

  auto* bias_layer = new TSimpleLayer(this, 0, bias ? 1 : 0);
  layers[0] = bias_layer;
  if (bias) bias_layer->SetActivationFunction(ActBias);

  auto* input_layer = new TSimpleInputLayer(this, inLayer, sizes[0]);
  layers[inLayer] = input_layer;
  input_layer->SetActivationFunction(ActLinear);

  for (int k = 2; k <= n; ++k) {
    auto* layer = new TGainLayer(this, k, sizes[k - 1], 1.0);
    layers[k] = layer;
    layer->SetActivationFunction(ActSigmoid);
    Connect(k - 1, k);
    if (bias) Connect(0, k);
  }
}

TMLPNetwork::TMLPNetwork(int n, bool with_bias) : bias(with_bias) { Allocate(n + 1); }

TMLPNetwork::~TMLPNetwork() = default;

const char* TMLPNetwork::GetNetworkType() const { return "MLP"; }

int TMLPNetwork::NumInputNeurons() const { return layers[inLayer]->numNeurons; }

int TMLPNetwork::NumOutputNeurons() const { return layers[outLayer]->numNeurons; }

std::unique_ptr<Data> TMLPNetwork::RecallData(Data* in) {
  VARNEL_ASSERT(in != nullptr, "in != nil");
  if (TPatternBuffers::InputsRead(*in) != NumInputNeurons()) {
    ThrowColumnMismatch("TMLPNetwork::RecallData");
  }
  TPatternBuffers rows;
  rows.Fit(*in, NumInputNeurons(), NumOutputNeurons());

  in->ResetCursor();
  const int patterns = in->GetNumRows();
  auto out = std::make_unique<Data>(patterns, NumInputNeurons(), NumOutputNeurons(), false);
  for (int i = 0; i < patterns; ++i) {
    in->GetNextRow(rows.input.data(), nullptr, nullptr);
    Recall(rows.input.data(), rows.recalled.data());
    out->AppendRow(rows.input.data(), rows.recalled.data(), nullptr);
  }
  return out;
}

void TMLPNetwork::RecallOutputOnly(Data* in, std::unique_ptr<Data>* result) {
  if (in == nullptr) {
    throw TException("Null data pointer", "Null Pointer Parameter", "TOrrin::RecallOutputOnly",
                     nullptr);
  }
  VARNEL_ASSERT(result != nullptr, "result != nil");
  if (TPatternBuffers::InputsRead(*in) != NumInputNeurons()) {
    ThrowColumnMismatch("TMLPNetwork::RecallOutputOnly");
  }
  TPatternBuffers rows;
  rows.Fit(*in, NumInputNeurons(), NumOutputNeurons());

  in->ResetCursor();
  const int patterns = in->GetNumDataRows();
  auto out = std::make_unique<Data>(patterns, 0, NumOutputNeurons(), false);
  for (int i = 0; i < patterns; ++i) {
    in->GetNextRow(rows.input.data(), nullptr, nullptr);
    Recall(rows.input.data(), rows.recalled.data());
    out->AppendRow(nullptr, rows.recalled.data(), nullptr);
  }
  *result = std::move(out);
}

double TMLPNetwork::CalcError(Data* in, TErrorObj* err) {
  VARNEL_ASSERT(in != nullptr, "in != nil");
  VARNEL_ASSERT(err != nullptr, "err != nil");
  if (TPatternBuffers::InputsRead(*in) != NumInputNeurons() ||
      TPatternBuffers::OutputsRead(*in) != NumOutputNeurons()) {
    ThrowColumnMismatch("TMLPNetwork::CalcError");
  }
  // The error object reads n_outputs values of both rows.
  if (err->n_outputs != NumOutputNeurons()) {
    throw TException("Error measure does not match network", "Bad Parameter",
                     "TMLPNetwork::CalcError", nullptr);
  }
  TPatternBuffers rows;
  rows.Fit(*in, NumInputNeurons(), NumOutputNeurons());

  in->ResetCursor();
  const int patterns = in->GetNumRows();
  for (int i = 0; i < patterns; ++i) {
    in->GetNextRow(rows.input.data(), rows.expected.data(), nullptr);
    Recall(rows.input.data(), rows.recalled.data());
    err->AddPattern(rows.expected.data(), rows.recalled.data());
  }
  return err->GetError();
}

}  // namespace varnel

#include "NeuralNets/TErrorObj.h"

#include <cmath>

#include "KQmessage/Assert.h"
#include "KQmessage/KQML.h"
#include "KQmessage/StrCaseCmp.h"

namespace varnel {

namespace {

// Each weight's term levels off at epsilon1 for large weights (beta sets
// where) and adds the plain quadratic epsilon2 * w^2.
double QuadPenalty(int count, const double* w, const TKQstructure* penalty, double scale) {
  const double epsilon1 = ReadRealParameter(penalty, "EPSILON1", 0.0);
  const double epsilon2 = ReadRealParameter(penalty, "EPSILON2", 0.0);
  const double beta = ReadRealParameter(penalty, "BETA", 1.0);
  double total = 0.0;
  for (int i = 0; i < count; ++i) {
    const double w2 = w[i] * w[i];
    total += scale * (epsilon1 * beta * w2 / (beta * w2 + 1.0) + epsilon2 * w2);
  }
  return total;
}

// Learning rate times forgetting rate times the summed absolute weights; a
// missing coefficient counts as 0.0 and so switches the term off.
double LWFPenalty(int count, const double* w, const TKQstructure* penalty) {
  const double learning_rate = ReadRealParameter(penalty, "LEARNINGRATE", 0.0);
  const double forgetting_rate = ReadRealParameter(penalty, "FORGETTINGRATE", 0.0);
  double magnitude = 0.0;
  for (int i = 0; i < count; ++i) magnitude += std::fabs(w[i]);
  return learning_rate * forgetting_rate * magnitude;
}

// The cross-entropy of one output y against its target t. A target of
// exactly 0 or 1 leaves out the term whose factor is 0, so that y = 0.0 or
// y = 1.0 there adds the limit 0 * ln 0 = 0 instead of NaN; the remaining
// arithmetic is that of the full formula.
double CrossEntropyTerm(double t, double y) {
  if (y == 1.0) return t == 1.0 ? 0.0 : 1000000.0;
  if (t == 0.0) return -std::log(1.0 - y);
  if (t == 1.0) return -std::log(y);
  return -t * std::log(y) - (1.0 - t) * std::log(1.0 - y);
}

}  // namespace

double ReadRealParameter(const TKQstructure* params, const char* key, double fallback) {
  const TKQstructure* value = params->FindValue(key);
  if (value == nullptr) return fallback;
  return TKQstructure::ReadReal(value->GetWord());
}

double TErrorObj::CalcPenalty(int count, const double* weights, const TKQstructure* penalty,
                              double scale) const {
  if (penalty == nullptr) return 0.0;
  const char* type = penalty->GetWord();
  if (strcasecmp(type, "NONE") == 0) return 0.0;
  if (strcasecmp(type, "QUADPENALTY") == 0) return QuadPenalty(count, weights, penalty, scale);
  if (strcasecmp(type, "LWF") == 0) return LWFPenalty(count, weights, penalty);
  VARNEL_ASSERT(false, "false");
  return 0.0;
}

// ---------------------------------------------------------------------------
// TErrorRMSObj

void TErrorRMSObj::Reset() {
  n_patterns = 0;
  sum = 0.0;
}

void TErrorRMSObj::AddPattern(const double* expected, const double* calculated) {
  for (int i = 0; i < n_outputs; ++i) {
    const double d = expected[i] - calculated[i];
    sum += d * d;
  }
  ++n_patterns;
}

double TErrorRMSObj::GetError() const {
  // Nothing to average over: no pattern yet, or patterns without outputs.
  if (n_patterns == 0 || n_outputs == 0) return 0.0;
  return std::sqrt(sum / n_outputs / n_patterns);
}

void TErrorRMSObj::AddPenalty(int count, const double* weights, const TKQstructure* penalty) {
  sum += CalcPenalty(count, weights, penalty, 1.0);
}

// ---------------------------------------------------------------------------
// TErrorCrossEntropyObj

void TErrorCrossEntropyObj::Reset() {
  n_patterns = 0;
  sum = 0.0;
}

void TErrorCrossEntropyObj::AddPattern(const double* expected, const double* calculated) {
  for (int i = 0; i < n_outputs; ++i) sum += CrossEntropyTerm(expected[i], calculated[i]);
  ++n_patterns;
}

double TErrorCrossEntropyObj::GetError() const { return sum; }

void TErrorCrossEntropyObj::AddPenalty(int count, const double* weights,
                                       const TKQstructure* penalty) {
  sum += CalcPenalty(count, weights, penalty, 1.0);
}

}  // namespace varnel

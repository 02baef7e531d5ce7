#ifndef NEURALNETS_TERROROBJ_H_
#define NEURALNETS_TERROROBJ_H_

namespace varnel {

class TKQstructure;

// Accumulates the error of a network's outputs against the expected outputs
// over a number of patterns and reports one figure for them, optionally with
// a weight-penalty term. An error object is fed pattern by pattern, asked for
// its figure and discarded (or Reset and reused); it owns nothing.
//
// A penalty structure names the penalty by its type word ("NONE",
// "QUADPENALTY" or "LWF", any letter case) and holds its coefficients as
// keys; a coefficient whose text is not a number raises TKQstructure::Error.
class TErrorObj {
 public:
  explicit TErrorObj(int outputs) : n_outputs(outputs), n_patterns(0) {}
  virtual ~TErrorObj() = default;

  // Forgets every pattern and penalty added so far.
  virtual void Reset() = 0;
  // Adds one pattern: n_outputs expected values first, then as many
  // calculated values (cross-entropy is not symmetric in the two).
  virtual void AddPattern(const double* expected, const double* calculated) = 0;
  // The error of the patterns added so far; 0.0 before the first pattern.
  virtual double GetError() const = 0;
  // Adds CalcPenalty(count, weights, penalty, 1.0) to the error.
  virtual void AddPenalty(int count, const double* weights, const TKQstructure* penalty) = 0;

  // The penalty term of the weights w[0 .. count-1]: 0.0 without a structure
  // or for "NONE"; scale times the QUADPENALTY sum; the LWF term, which
  // ignores scale. An unknown penalty type fails the assertion "false".
  double CalcPenalty(int count, const double* weights, const TKQstructure* penalty,
                     double scale) const;

  int n_outputs;   // values per pattern
  int n_patterns;  // patterns added since construction or Reset
};

// The root of the mean squared error over all outputs of all patterns.
class TErrorRMSObj final : public TErrorObj {
 public:
  explicit TErrorRMSObj(int outputs) : TErrorObj(outputs) {}

  void Reset() override;
  void AddPattern(const double* expected, const double* calculated) override;
  double GetError() const override;
  void AddPenalty(int count, const double* weights, const TKQstructure* penalty) override;

  double sum = 0.0;  // squared differences (and penalties) so far
};

// The summed cross-entropy of sigmoid outputs against targets in [0, 1].
// An output of exactly 1.0 counts 1e6 against a target other than 1.0, and
// a target of exactly 0 or 1 drops its vanishing term (0 * ln 0 = 0), so an
// output of exactly 0.0 never turns the sum into NaN.
class TErrorCrossEntropyObj final : public TErrorObj {
 public:
  explicit TErrorCrossEntropyObj(int outputs) : TErrorObj(outputs) {}

  void Reset() override;
  void AddPattern(const double* expected, const double* calculated) override;
  double GetError() const override;  // the sum itself, not averaged
  void AddPenalty(int count, const double* weights, const TKQstructure* penalty) override;

  double sum = 0.0;  // cross-entropy terms (and penalties) so far
};

// The real number stored under key (any letter case) in a parameter or
// penalty structure, or fallback when the key is absent. Throws
// TKQstructure::Error when the value's text is not a number.
double ReadRealParameter(const TKQstructure* params, const char* key, double fallback);

}  // namespace varnel

#endif  // NEURALNETS_TERROROBJ_H_

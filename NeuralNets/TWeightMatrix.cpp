#include "NeuralNets/TWeightMatrix.h"

#include <cstdint>
#include <cstring>

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#include <immintrin.h>
#define VARNEL_AVX2_SUMS 1
#endif

namespace varnel {

namespace {

// The bytes are combined without an early exit, which lets the compiler scan
// them a vector at a time.
VARNEL_VECTOR_CLONES bool AllBytesHold(const unsigned char* flags, int n, unsigned char bits) {
  unsigned char common = bits;
  for (int i = 0; i < n; ++i) common &= flags[i];
  return common == bits;
}

}  // namespace

bool AllFlagsHold(const unsigned char* flags, int n, unsigned char bits) {
  // The flags of a small matrix are looked at eight at a time in place: a
  // vector loop would spend more on its start and end than on the bytes.
  constexpr int kShort = 64;
  if (n >= kShort) return AllBytesHold(flags, n, bits);
  const std::uint64_t everyByte = 0x0101010101010101ULL * bits;
  std::uint64_t common = everyByte;
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t eight;
    std::memcpy(&eight, flags + i, 8);
    common &= eight;
  }
  unsigned char rest = bits;
  for (; i < n; ++i) rest &= flags[i];
  return common == everyByte && rest == bits;
}

namespace matrix_kernels {

namespace {

double RowSum(const double* __restrict row, const double* __restrict x, int n) {
  double sum = 0.0;
  for (int c = 0; c < n; ++c) sum = row[c] * x[c] + sum;
  return sum;
}

// K rows side by side, K independent sums in flight.
template <int K>
void RowSums(const double* const* rows, const double* __restrict x, int n, double* net) {
  double s[K] = {};
  for (int c = 0; c < n; ++c) {
    const double xc = x[c];
    for (int k = 0; k < K; ++k) s[k] = rows[k][c] * xc + s[k];
  }
  for (int k = 0; k < K; ++k) net[k] += s[k];
}

// Eight, then four rows side by side, then one at a time.
int ScalarRowSums(const double* const* rows, int numRows, int numCols, const double* x, double* net,
                  int r) {
  for (; r + 8 <= numRows; r += 8) RowSums<8>(rows + r, x, numCols, net + r);
  for (; r + 4 <= numRows; r += 4) RowSums<4>(rows + r, x, numCols, net + r);
  for (; r < numRows; ++r) net[r] += RowSum(rows[r], x, numCols);
  return r;
}

#ifdef VARNEL_AVX2_SUMS

// G groups of four rows, one sum per lane: a 4 x 4 tile of each group is
// turned so that its columns lie in registers, and column c of the tile is
// added to the group's four sums before column c + 1, as in RowSum. The
// columns past the last whole tile are added one by one afterwards.
template <int G>
__attribute__((target("avx2"))) void TiledRowSums(const double* const* rows, const double* x, int n,
                                                  double* net) {
  __m256d sums[G];
  for (int g = 0; g < G; ++g) sums[g] = _mm256_setzero_pd();
  int c = 0;
  for (; c + 4 <= n; c += 4) {
    const __m256d x0 = _mm256_broadcast_sd(x + c);
    const __m256d x1 = _mm256_broadcast_sd(x + c + 1);
    const __m256d x2 = _mm256_broadcast_sd(x + c + 2);
    const __m256d x3 = _mm256_broadcast_sd(x + c + 3);
    for (int g = 0; g < G; ++g) {
      const double* const* tile = rows + 4 * g;
      const __m256d a = _mm256_loadu_pd(tile[0] + c);
      const __m256d b = _mm256_loadu_pd(tile[1] + c);
      const __m256d d = _mm256_loadu_pd(tile[2] + c);
      const __m256d e = _mm256_loadu_pd(tile[3] + c);
      const __m256d ab02 = _mm256_unpacklo_pd(a, b);  // a0 b0 a2 b2
      const __m256d ab13 = _mm256_unpackhi_pd(a, b);  // a1 b1 a3 b3
      const __m256d de02 = _mm256_unpacklo_pd(d, e);
      const __m256d de13 = _mm256_unpackhi_pd(d, e);
      const __m256d col0 = _mm256_permute2f128_pd(ab02, de02, 0x20);
      const __m256d col1 = _mm256_permute2f128_pd(ab13, de13, 0x20);
      const __m256d col2 = _mm256_permute2f128_pd(ab02, de02, 0x31);
      const __m256d col3 = _mm256_permute2f128_pd(ab13, de13, 0x31);
      sums[g] = _mm256_add_pd(_mm256_mul_pd(col0, x0), sums[g]);
      sums[g] = _mm256_add_pd(_mm256_mul_pd(col1, x1), sums[g]);
      sums[g] = _mm256_add_pd(_mm256_mul_pd(col2, x2), sums[g]);
      sums[g] = _mm256_add_pd(_mm256_mul_pd(col3, x3), sums[g]);
    }
  }
  for (int g = 0; g < G; ++g) {
    double lane[4];
    _mm256_storeu_pd(lane, sums[g]);
    for (int k = 0; k < 4; ++k) {
      const double* row = rows[4 * g + k];
      double sum = lane[k];
      for (int tail = c; tail < n; ++tail) sum = row[tail] * x[tail] + sum;
      net[4 * g + k] += sum;
    }
  }
}

// Sixteen, eight, then four rows at a time; returns the first row left.
int AvxRowSums(const double* const* rows, int numRows, int numCols, const double* x, double* net) {
  int r = 0;
  for (; r + 16 <= numRows; r += 16) TiledRowSums<4>(rows + r, x, numCols, net + r);
  for (; r + 8 <= numRows; r += 8) TiledRowSums<2>(rows + r, x, numCols, net + r);
  for (; r + 4 <= numRows; r += 4) TiledRowSums<1>(rows + r, x, numCols, net + r);
  return r;
}

bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}

#endif

}  // namespace

void AddRowSums(const double* const* rows, int numRows, int numCols, const double* x, double* net) {
  int r = 0;
#ifdef VARNEL_AVX2_SUMS
  // A tile needs four columns; narrower matrices gain nothing from turning.
  if (numCols >= 4 && HasAvx2()) r = AvxRowSums(rows, numRows, numCols, x, net);
#endif
  ScalarRowSums(rows, numRows, numCols, x, net, r);
}

}  // namespace matrix_kernels
}  // namespace varnel

// Vector lanes for the hot kernels: the vector type per element type and width, the processor
// paths a kernel is built for, and the one chooser that picks the path a kernel runs on.
//
// House rules for kernels, which keep every path's results equal, bit for bit, to the plain loop
// beside it:
// - No contraction: the build has -ffp-contract=off, so a * b + c is two roundings on every path.
//   std::fma is used only where the plain loop writes it as well.
// - Each lane sums its own terms in the plain loop's order; lanes never share a partial sum.
// - Horizontal sums, where a kernel needs one, add the lanes in lane order.
// - No reassociation, no -ffast-math; square roots and divisions are IEEE operations on every path.
//
// A kernel is a body written once (an inline template over its vector type, or over nothing when
// the compiler vectorises the loop by itself) with one entry point per path, each marked with the
// path's target attribute below, and a dispatch through lanes::pick. Tests run every path this
// processor can execute (lanes::runnable) under lanes::PathOverride and compare bytes with the
// plain loop.
#ifndef ORV_LANES_H
#define ORV_LANES_H

#include <atomic>
#include <vector>

namespace orv::lanes {

// The vector of N elements of type T (GCC's vector extension: element-wise arithmetic, lane
// access by index, loads and stores through memcpy).
template <class T, int N>
struct VectorOf {
  typedef T type __attribute__((vector_size(N * sizeof(T))));
};
template <class T, int N>
using Vector = typename VectorOf<T, N>::type;

// The processor paths, from the baseline every x86-64 processor runs to AVX-512.
enum class Path : int {
  baseline = 0,  // x86-64: SSE2, 16-byte vectors
  avx2 = 1,      // x86-64-v3: AVX2 and FMA, 32-byte vectors
  avx512 = 2     // x86-64-v4: AVX-512, 64-byte vectors
};

// The target attributes of the paths, spelled here only. The baseline needs none.
#if defined(__x86_64__) && defined(__GNUC__)
#define ORV_LANES_AVX2 __attribute__((target("arch=x86-64-v3")))
#define ORV_LANES_AVX512 __attribute__((target("arch=x86-64-v4")))
#else
#define ORV_LANES_AVX2
#define ORV_LANES_AVX512
#endif

// Bytes of one vector register on a path.
constexpr int vectorBytes(Path path) { return path == Path::avx512 ? 64 : path == Path::avx2 ? 32 : 16; }

// Whether this processor executes the path's instructions.
inline bool canRun(Path path) {
#if defined(__x86_64__) && defined(__GNUC__)
  __builtin_cpu_init();
#if defined(__clang__)
  // Clang knows no level names here: the features of each level that it can ask for.
  const bool v3 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") &&
                  __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2");
  const bool v4 = v3 && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                  __builtin_cpu_supports("avx512cd") && __builtin_cpu_supports("avx512dq") &&
                  __builtin_cpu_supports("avx512vl");
#else
  const bool v3 = __builtin_cpu_supports("x86-64-v3"), v4 = __builtin_cpu_supports("x86-64-v4");
#endif
  switch (path) {
    case Path::baseline:
      return true;
    case Path::avx2:
      return v3;
    case Path::avx512:
      return v4;
  }
  return false;
#else
  return path == Path::baseline;
#endif
}

// Every path this processor executes, baseline first.
inline std::vector<Path> runnable() {
  std::vector<Path> paths;
  for (Path path : {Path::baseline, Path::avx2, Path::avx512})
    if (canRun(path)) paths.push_back(path);
  return paths;
}

namespace detail {

constexpr int notChosen = -1;

// The path of a PathOverride, or notChosen.
inline std::atomic<int>& overridden() {
  static std::atomic<int> path{notChosen};
  return path;
}

inline Path widestRunnable() {
  static const Path widest = runnable().back();
  return widest;
}

}  // namespace detail

// The path kernels run on: the widest this processor executes, or the one a PathOverride set.
// Decided at the first call, never by a static initialiser at load time.
inline Path chosen() {
  const int path = detail::overridden().load(std::memory_order_relaxed);
  return path == detail::notChosen ? detail::widestRunnable() : static_cast<Path>(path);
}

// The entry point of a kernel for the chosen path.
template <class Fn>
Fn pick(Fn baseline, Fn avx2, Fn avx512) {
  switch (chosen()) {
    case Path::avx512:
      return avx512;
    case Path::avx2:
      return avx2;
    case Path::baseline:
      break;
  }
  return baseline;
}

// Makes every kernel run on `path` while it lives (for tests; the path must be runnable).
class PathOverride {
 public:
  explicit PathOverride(Path path) : previous_(detail::overridden().exchange(static_cast<int>(path))) {}
  PathOverride(const PathOverride&) = delete;
  PathOverride& operator=(const PathOverride&) = delete;
  ~PathOverride() { detail::overridden().store(previous_); }

 private:
  int previous_;
};

// A name for messages and test names.
inline const char* pathName(Path path) {
  return path == Path::avx512 ? "avx512" : path == Path::avx2 ? "avx2" : "baseline";
}

}  // namespace orv::lanes

#endif

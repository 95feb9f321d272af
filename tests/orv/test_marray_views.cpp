// Element access, sharing, rebasing and views of arrays, checked against the
// naive index formula on the source.
#include <gtest/gtest.h>

#include <bit>
#include <random>
#include <string>
#include <type_traits>
#include <utility>

#include "orv/marray.h"

namespace {

using orv::MArray;
using orv::Range;

TEST(MArrayAccessTest, ElementsAreAddressedColumnMajor) {
  MArray<int, 4> a(2, 3, 4, 5);
  int* p = a.firstElement();
  for (int m = 0; m < a.numElements(); ++m) p[m] = m;
  for (int l = 1; l <= 5; ++l)
    for (int k = 1; k <= 4; ++k)
      for (int j = 1; j <= 3; ++j)
        for (int i = 1; i <= 2; ++i)
          EXPECT_EQ(a(i, j, k, l), (i - 1) + 2 * (j - 1) + 6 * (k - 1) + 24 * (l - 1));
  MArray<double, 3> c(Range(-1, 1), Range(0, 1), Range(5, 6));
  c(-1, 0, 5) = 1.5;
  EXPECT_EQ(c.firstElement()[0], 1.5);
  c(1, 1, 6) = 2.5;
  EXPECT_EQ(c.firstElement()[c.numElements() - 1], 2.5);
}

TEST(MArrayAccessTest, CopiesShareAndFillReachesEveryElement) {
  MArray<double, 2> a(3, 4);
  a = 0.0;
  MArray<double, 2> b(a);
  b(2, 3) = 7.0;
  EXPECT_EQ(a(2, 3), 7.0);
  EXPECT_EQ(a.getMemoryBlock()->references, 2);
  b = 2.0;
  for (int j = 1; j <= 4; ++j)
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(a(i, j), 2.0);
}

TEST(MArrayAccessTest, SetBaseRenumbersWithoutMoving) {
  MArray<float, 2> a(4, 3);
  for (int j = 1; j <= 3; ++j)
    for (int i = 1; i <= 4; ++i) a(i, j) = 10.0f * i + j;
  const float* before = a.firstElement();
  a.setBase(100, -2);
  EXPECT_EQ(a.firstElement(), before);
  EXPECT_EQ(a.first(1), 100);
  EXPECT_EQ(a.last(1), 103);
  EXPECT_EQ(a.first(2), -2);
  EXPECT_EQ(a.last(2), 0);
  EXPECT_EQ(a(100, -2), 11.0f);
  EXPECT_EQ(a(103, 0), 43.0f);
  EXPECT_EQ(a.getShape()->zeroOffset, -(100 - 2 * 4));
}

TEST(MArrayAccessTest, DefaultArrayIsEmptyAndFreeReleases) {
  MArray<float, 2> none;
  EXPECT_TRUE(none.isEmpty());
  MArray<float, 2> copyOfNone(none);
  EXPECT_TRUE(copyOfNone.isEmpty());
  MArray<short, 2> a(5, 5);
  MArray<short, 2> b(a);
  a.free();
  EXPECT_TRUE(a.isEmpty());
  a.free();
  EXPECT_EQ(b.getMemoryBlock()->references, 1);
  b(5, 5) = 3;
  EXPECT_EQ(b(5, 5), 3);
}

TEST(MArrayAccessTest, MakeReferenceOfItselfKeepsElements) {
  MArray<double, 1> a(4);
  a = 3.0;
  a.makeReference(a);
  EXPECT_EQ(a.getMemoryBlock()->references, 1);
  EXPECT_EQ(a(4), 3.0);
  MArray<double, 1> b(9);
  b.makeReference(a);
  EXPECT_EQ(b.length(1), 4);
  EXPECT_EQ(a.getMemoryBlock()->references, 2);
  MArray<double, 1> none;
  b.makeReference(none);
  EXPECT_TRUE(b.isEmpty());
  EXPECT_EQ(a.getMemoryBlock()->references, 1);
}

}  // namespace

namespace views {

using orv::NoArgument;

// The naive reference: how each view index maps to a source index, kept in
// index space and composed by hand, independent of the pointer arithmetic.
struct DimMap {
  int srcDim;    // source dimension (0-based)
  int srcFirst;  // source index at the view's base
  int step;      // source indices per view index
  int base;      // view's first index
  int length;
};
struct Mapping {
  int rank;
  DimMap dims[4];
  int fixed[4];  // fixed source index per source dimension, where no view dim maps
};

// Source element address by a source index tuple.
template <int M>
int* sourceAt(MArray<int, M>& src, const int* idx) {
  if constexpr (M == 1) return &src(idx[0]);
  if constexpr (M == 2) return &src(idx[0], idx[1]);
  if constexpr (M == 3) return &src(idx[0], idx[1], idx[2]);
  if constexpr (M == 4) return &src(idx[0], idx[1], idx[2], idx[3]);
}
template <int N>
int* viewAt(MArray<int, N>& v, const int* j) {
  return sourceAt<N>(v, j);
}

// Compares every element address of the view with the one the mapping names,
// and the geometry of the view with the mapping.
template <int M, int N>
void expectViewMatches(MArray<int, M>& src, MArray<int, N>& view, const Mapping& map,
                       const std::string& what) {
  SCOPED_TRACE(what);
  ASSERT_EQ(map.rank, N);
  long count = 1;
  bool contiguous = true;
  for (int d = 0; d < N; ++d) {
    ASSERT_EQ(view.first(d + 1), map.dims[d].base);
    ASSERT_EQ(view.length(d + 1), map.dims[d].length);
    ASSERT_EQ(view.stride(d + 1), src.stride(map.dims[d].srcDim + 1) * map.dims[d].step);
    count *= map.dims[d].length;
    if (d > 0 && view.stride(d + 1) != view.stride(d) * view.length(d)) contiguous = false;
  }
  ASSERT_EQ(view.numElements(), count);
  ASSERT_EQ(view.isStorageContiguous(), contiguous);
  if (count == 0) return;
  int j[4] = {};
  for (int d = 0; d < N; ++d) j[d] = map.dims[d].base;
  for (long m = 0; m < count; ++m) {
    int idx[4];
    for (int k = 0; k < M; ++k) idx[k] = map.fixed[k];
    for (int d = 0; d < N; ++d)
      idx[map.dims[d].srcDim] = map.dims[d].srcFirst + (j[d] - map.dims[d].base) * map.dims[d].step;
    ASSERT_EQ(viewAt<N>(view, j), sourceAt<M>(src, idx)) << "element " << m;
    for (int d = 0; d < N; ++d) {
      if (++j[d] < map.dims[d].base + map.dims[d].length) break;
      j[d] = map.dims[d].base;
    }
  }
}

// A random range inside [lo, lo+len-1] with stride +-1..3, sometimes the whole
// extent, sometimes the rangeAll markers at one end, sometimes empty.
Range randomRange(std::mt19937& rng, int lo, int len, int& first, int& step, int& length) {
  const int hi = lo + len - 1;
  std::uniform_int_distribution<int> kind(0, 9);
  std::uniform_int_distribution<int> pick(lo, hi);
  std::uniform_int_distribution<int> strideMag(1, 3);
  const int k = kind(rng);
  if (k == 0) {
    first = lo, step = 1, length = len;
    return Range::all();
  }
  if (k == 1) {
    first = pick(rng), step = 1, length = hi - first + 1;
    return Range(first, orv::rangeAll);
  }
  if (k == 2) {
    const int last = pick(rng);
    first = lo, step = 1, length = last - lo + 1;
    return Range(orv::rangeAll, last);
  }
  if (k == 3) {
    first = pick(rng), step = 1, length = 0;
    return Range(first, first - 1);
  }
  int a = pick(rng), b = pick(rng);
  step = strideMag(rng);
  if (b < a) step = -step;
  first = a;
  length = (b - a) / step + 1;
  return Range(a, b, step);
}

Mapping identity(const int* bases, const int* lengths, int rank) {
  Mapping m{rank, {}, {}};
  for (int d = 0; d < rank; ++d) m.dims[d] = {d, bases[d], 1, bases[d], lengths[d]};
  return m;
}

// Restriction of view dimension d by a random range, in the mapping.
Range restrict(std::mt19937& rng, Mapping& map, int d) {
  DimMap& dm = map.dims[d];
  int first, step, length;
  const Range r = randomRange(rng, dm.base, dm.length, first, step, length);
  dm.srcFirst += (first - dm.base) * dm.step;
  dm.step *= step;
  dm.base = 1;
  dm.length = length;
  return r;
}

template <int M>
MArray<int, M> randomSource(std::mt19937& rng, int* bases, int* lengths) {
  std::uniform_int_distribution<int> len(1, 6);
  std::uniform_int_distribution<int> base(-30, 5);
  for (int d = 0; d < M; ++d) bases[d] = base(rng), lengths[d] = len(rng);
  MArray<int, M> src;
  if constexpr (M == 1) src.makeReference(MArray<int, 1>(Range(bases[0], bases[0] + lengths[0] - 1)));
  if constexpr (M == 2) src.makeReference(MArray<int, 2>(lengths[0], lengths[1]));
  if constexpr (M == 3) src.makeReference(MArray<int, 3>(lengths[0], lengths[1], lengths[2]));
  if constexpr (M == 4) src.makeReference(MArray<int, 4>(lengths[0], lengths[1], lengths[2], lengths[3]));
  if constexpr (M == 2) src.setBase(bases[0], bases[1]);
  if constexpr (M == 3) src.setBase(bases[0], bases[1], bases[2]);
  if constexpr (M == 4) src.setBase(bases[0], bases[1], bases[2], bases[3]);
  return src;
}

// setrange on copies (every rank), the call operators and subarray, then a
// random rebase of the view.
template <int M>
void randomRestrictions(std::mt19937& rng, int rounds) {
  for (int round = 0; round < rounds; ++round) {
    int bases[4], lengths[4];
    MArray<int, M> src = randomSource<M>(rng, bases, lengths);
    Mapping map = identity(bases, lengths, M);
    MArray<int, M> view(src);
    std::string what = "rank " + std::to_string(M) + " round " + std::to_string(round);
    const int steps = 1 + round % 3;  // views of views
    for (int s = 0; s < steps; ++s) {
      std::uniform_int_distribution<int> dim(0, M - 1);
      const int d = dim(rng);
      if (map.dims[d].length <= 0) continue;
      if constexpr (M == 1) {
        if (s % 2 == 0) {
          view.makeReference(view(restrict(rng, map, 0)));
          continue;
        }
      }
      if constexpr (M == 2) {
        if (map.dims[0].length > 0 && map.dims[1].length > 0 && s % 2 == 0) {
          const Range r1 = restrict(rng, map, 0);
          const Range r2 = restrict(rng, map, 1);
          if (round % 2) {
            view.makeReference(view(r1, r2));
          } else {
            MArray<int, 2> sub;
            sub.subarray(view, r1, r2);
            view.makeReference(sub);
          }
          continue;
        }
      }
      view.setrange(d + 1, restrict(rng, map, d));
    }
    expectViewMatches<M, M>(src, view, map, what);
    if (round % 4 == 0) {
      int newBase[4];
      for (int d = 0; d < M; ++d) newBase[d] = map.dims[d].base = round % 7 - d * 3;
      if constexpr (M == 1) view.setBase(newBase[0]);
      if constexpr (M == 2) view.setBase(newBase[0], newBase[1]);
      if constexpr (M == 3) view.setBase(newBase[0], newBase[1], newBase[2]);
      if constexpr (M == 4) view.setBase(newBase[0], newBase[1], newBase[2], newBase[3]);
      expectViewMatches<M, M>(src, view, map, what + " rebased");
    }
  }
}

// Argument k of a slice: a Range (bit k-1 of Mask set), an int, or NoArgument
// past the source rank.
template <int M, unsigned Mask, int K>
using SliceArg =
    std::conditional_t<(K > M), NoArgument, std::conditional_t<((Mask >> (K - 1)) & 1u) != 0, Range, int>>;

template <int M, unsigned Mask, int K>
SliceArg<M, Mask, K> sliceArg(const Range* ranges, const int* indices) {
  using A = SliceArg<M, Mask, K>;
  if constexpr (std::is_same_v<A, Range>) return ranges[K - 1];
  if constexpr (std::is_same_v<A, int>) return indices[K - 1];
  if constexpr (std::is_same_v<A, NoArgument>) return NoArgument();
}

// One slicearray form: a random restriction of every kept dimension and a
// random index of every dropped one, checked against the mapping; made both
// through slicearray on an empty array and through the slicing constructor.
template <int M, unsigned Mask>
void randomSlices(std::mt19937& rng, int rounds) {
  constexpr int N = std::popcount(Mask);
  for (int round = 0; round < rounds; ++round) {
    int bases[4], lengths[4];
    MArray<int, M> src = randomSource<M>(rng, bases, lengths);
    Mapping map{N, {}, {}};
    Range ranges[7];
    int indices[7] = {};
    int d = 0;
    for (int k = 0; k < M; ++k) {
      if ((Mask >> k) & 1u) {
        map.dims[d] = {k, bases[k], 1, bases[k], lengths[k]};
        ranges[k] = restrict(rng, map, d);
        ++d;
      } else {
        std::uniform_int_distribution<int> pick(bases[k], bases[k] + lengths[k] - 1);
        indices[k] = map.fixed[k] = pick(rng);
      }
    }
    const std::string what = "slice of rank " + std::to_string(M) + " mask " + std::to_string(Mask) +
                             " round " + std::to_string(round);
    MArray<int, N> viaMember;
    viaMember.slicearray(src, sliceArg<M, Mask, 1>(ranges, indices), sliceArg<M, Mask, 2>(ranges, indices),
                         sliceArg<M, Mask, 3>(ranges, indices), sliceArg<M, Mask, 4>(ranges, indices),
                         sliceArg<M, Mask, 5>(ranges, indices), sliceArg<M, Mask, 6>(ranges, indices),
                         sliceArg<M, Mask, 7>(ranges, indices));
    expectViewMatches<M, N>(src, viaMember, map, what);
    MArray<int, N> viaConstructor(
        src, sliceArg<M, Mask, 1>(ranges, indices), sliceArg<M, Mask, 2>(ranges, indices),
        sliceArg<M, Mask, 3>(ranges, indices), sliceArg<M, Mask, 4>(ranges, indices),
        sliceArg<M, Mask, 5>(ranges, indices), sliceArg<M, Mask, 6>(ranges, indices),
        sliceArg<M, Mask, 7>(ranges, indices));
    expectViewMatches<M, N>(src, viaConstructor, map, what + " (constructor)");
  }
}

// Every mask with at least one kept and one dropped dimension.
template <int M, unsigned... Masks>
void allSliceForms(std::mt19937& rng, std::integer_sequence<unsigned, Masks...>) {
  auto one = [&]<unsigned Mask>() {
    if constexpr (Mask != 0 && Mask != (1u << M) - 1) randomSlices<M, Mask>(rng, 60);
  };
  (one.template operator()<Masks>(), ...);
}

TEST(MArrayViewTest, RandomViewsMatchTheIndexFormula) {
  const unsigned seed = 20261210;
  std::mt19937 rng(seed);
  SCOPED_TRACE(testing::Message() << "seed " << seed);
  randomRestrictions<1>(rng, 600);
  randomRestrictions<2>(rng, 800);
  randomRestrictions<3>(rng, 600);
  randomRestrictions<4>(rng, 600);
  allSliceForms<2>(rng, std::make_integer_sequence<unsigned, 4>());
  allSliceForms<3>(rng, std::make_integer_sequence<unsigned, 8>());
  allSliceForms<4>(rng, std::make_integer_sequence<unsigned, 16>());
}

// The worked examples of restrictions and their contiguity flags.
TEST(MArrayViewTest, RestrictionExamples) {
  MArray<double, 1> a(10);
  for (int i = 1; i <= 10; ++i) a(i) = i;
  MArray<double, 1> v(a);
  v.setrange(1, Range(3, 7));
  EXPECT_EQ(v.length(1), 5);
  EXPECT_EQ(v.first(1), 1);
  EXPECT_EQ(v(1), 3.0);
  MArray<double, 1> rev = a(Range(10, 1, -1));
  EXPECT_EQ(rev.length(1), 10);
  EXPECT_EQ(rev(1), 10.0);
  EXPECT_EQ(rev(10), 1.0);
  EXPECT_TRUE(a(Range(1, 10, 3)).isStorageContiguous());

  MArray<float, 1> based(Range(-5, 5));
  based.setrange(1, Range::all());
  EXPECT_EQ(based.first(1), 1);
  EXPECT_EQ(based.length(1), 11);

  struct Case {
    int nx;
    Range r1, r2;
    bool contiguous;
  };
  const Case cases[] = {
      {6, Range(2, 5), Range::all(), false},   {6, Range::all(), Range(2, 3), true},
      {6, Range(1, 6, 2), Range::all(), true}, {7, Range(1, 7, 2), Range::all(), false},
      {6, Range(3, 2), Range::all(), false},
  };
  for (const Case& c : cases) {
    MArray<float, 2> img(c.nx, 4);
    const MArray<float, 2> view = img(c.r1, c.r2);
    EXPECT_EQ(view.isStorageContiguous(), c.contiguous) << "nx " << c.nx << " first " << c.r1.first;
  }
  MArray<float, 2> img(6, 4);
  EXPECT_EQ(img(Range(3, 2), Range::all()).numElements(), 0);
}

// Ranges that run backwards or far outside their source are caller errors; the
// view still has well-defined geometry: no element when a length is negative
// (two negative lengths must not multiply to a positive count), and a capped
// count instead of an overflowing product.
TEST(MArrayViewTest, CallerErrorRangesGiveDefinedGeometry) {
  MArray<float, 2> img(6, 4);
  const MArray<float, 2> backwards = img(Range(3, 1), Range(4, 2));
  EXPECT_EQ(backwards.length(1), -1);
  EXPECT_EQ(backwards.numElements(), 0);
  // A zero stride is refused, and a refused slice keeps no share of the source.
  MArray<float, 2> src(3, 3);
  EXPECT_THROW(src.setrange(1, Range(1, 3, 0)), orv::RangeException);
  EXPECT_THROW((MArray<float, 1>(src, Range(1, 3, 0), 2)), orv::RangeException);
  EXPECT_EQ(src.getMemoryBlock()->references, 1);
  MArray<char, 4> tiny(1, 1, 1, 1);
  for (int d = 1; d <= 4; ++d) tiny.setrange(d, Range(0, 2147483646));
  EXPECT_EQ(tiny.numElements(), 2147483647);
}

TEST(MArrayViewTest, SlicesOfTheDocumentedForms) {
  MArray<double, 4> cube(3, 4, 5, 2);
  for (int m = 0; m < cube.numElements(); ++m) cube.firstElement()[m] = m;
  MArray<double, 2> plane(cube, 2, 3, Range::all(), Range::all());
  EXPECT_EQ(plane.length(1), 5);
  EXPECT_EQ(plane.length(2), 2);
  EXPECT_EQ(&plane(4, 2), &cube(2, 3, 4, 2));
  MArray<double, 3> sub(cube, Range::all(), Range::all(), Range::all(), 2);
  EXPECT_EQ(&sub(3, 4, 5), &cube(3, 4, 5, 2));
  EXPECT_TRUE(sub.isStorageContiguous());
  MArray<float, 4> fcube(3, 4, 5, 2);
  MArray<float, 2> front(fcube, Range::all(), Range::all(), 1, 2);
  EXPECT_EQ(&front(2, 3), &fcube(2, 3, 1, 2));
  MArray<float, 2> img(5, 6);
  MArray<float, 1> row(img, Range::all(), 4);
  EXPECT_EQ(row.stride(1), 1);
  MArray<float, 1> column(img, 2, Range::all());
  EXPECT_EQ(column.stride(1), 5);
  EXPECT_EQ(&column(6), &img(2, 6));
}

// A view keeps the storage alive after its source is gone.
TEST(MArrayViewTest, ViewOutlivesItsSource) {
  MArray<double, 2> view;
  {
    MArray<double, 2> src(8, 8);
    src = 4.0;
    view.subarray(src, Range(2, 5), Range(3, 8, 2));
    EXPECT_EQ(src.getMemoryBlock()->references, 2);
  }
  EXPECT_EQ(view.getMemoryBlock()->references, 1);
  EXPECT_EQ(view(4, 3), 4.0);
  MArray<float, 1> line;
  {
    MArray<float, 3> src(2, 3, 4);
    src = 1.5f;
    line.slicearray(src, 2, 3, Range::all(), NoArgument(), NoArgument(), NoArgument(), NoArgument());
  }
  EXPECT_EQ(line(4), 1.5f);
}

}  // namespace views

#ifndef ORV_ARRAY_H
#define ORV_ARRAY_H

// Belongs to the array library, whose one include is orv/marray.h.
#ifndef ORV_MARRAY_UMBRELLA
#error "include \"orv/marray.h\", the one header of the array library, instead of orv/array.h"
#endif

#include <climits>
#include <cstdint>
#include <type_traits>

#include "orv/memory_block.h"
#include "orv/memory_map_block.h"
#include "orv/range.h"
#include "orv/range_exception.h"
#include "orv/shape.h"

namespace orv {

template <typename T, int N>
class MArrayIterConst;
template <typename T, int N>
class MArrayIter;
template <typename E, int N>
class TExpr;
template <typename A>
class ListInitializationSwitch;

namespace detail {

// Moves a pointer by k elements; an array without storage keeps its null
// pointer (no arithmetic on null).
template <typename T>
inline T* shiftPointer(T* p, std::int64_t k) {
  return p == nullptr ? p : p + k;
}

}  // namespace detail

// The n-dimensional array (rank 1 to 4), column-major, index base 1 unless
// given otherwise. A light handle: a reference-counted storage block, a shape,
// and `data`, the address of the element with all indices 0 (which need not
// exist). Copies and views share the block; no operation here copies elements
// and none checks indices.
template <typename T, int N>
class MArray {
  static_assert(N >= 1 && N <= 4, "arrays have rank 1 to 4");

 public:
  using T_numtype = T;
  using value_type = T;
  using ConstIterator = MArrayIterConst<T, N>;
  using Iterator = MArrayIter<T, N>;
  static constexpr int rank = N;

  // No storage; isEmpty() is true.
  MArray() = default;

  // From lengths, base 1 in every dimension; the map flag asks for storage in a
  // temporary mapped file instead of the heap. Elements are not initialised.
  explicit MArray(int n1, bool map = false) requires(N == 1) {
    const int lengths[1] = {n1};
    allocate__(ones__(), lengths, map);
  }
  MArray(int n1, int n2, bool map = false) requires(N == 2) {
    const int lengths[2] = {n1, n2};
    allocate__(ones__(), lengths, map);
  }
  MArray(int n1, int n2, int n3, bool map = false) requires(N == 3) {
    const int lengths[3] = {n1, n2, n3};
    allocate__(ones__(), lengths, map);
  }
  MArray(int n1, int n2, int n3, int n4, bool map = false) requires(N == 4) {
    const int lengths[4] = {n1, n2, n3, n4};
    allocate__(ones__(), lengths, map);
  }

  // From Ranges: base = first, length = the range's length; the range's stride
  // is ignored (the new array is contiguous).
  explicit MArray(const Range& r1, bool map = false) requires(N == 1) { allocateFromRanges__({&r1}, map); }
  MArray(const Range& r1, const Range& r2, bool map = false) requires(N == 2) {
    allocateFromRanges__({&r1, &r2}, map);
  }
  MArray(const Range& r1, const Range& r2, const Range& r3, bool map = false) requires(N == 3) {
    allocateFromRanges__({&r1, &r2, &r3}, map);
  }
  MArray(const Range& r1, const Range& r2, const Range& r3, const Range& r4,
         bool map = false) requires(N == 4) {
    allocateFromRanges__({&r1, &r2, &r3, &r4}, map);
  }

  // Fresh storage with the bases and lengths of another shape (column-major,
  // nothing shared). The file name is accepted but the map file always takes
  // the template name.
  explicit MArray(const Shape<N>* other, bool map = false, const char* file = nullptr) {
    (void)file;
    allocate__(other->base, other->length, map);
  }

  // Shares the storage of `other`.
  MArray(const MArray& other) : memBlock(other.memBlock), shape(other.shape), data(other.data) {
    if (memBlock != nullptr) ++memBlock->references;
  }

  // Lower-rank view of `src`: each int argument fixes that source dimension at an
  // index in the source's own numbering and drops it, each Range keeps it.
  template <int M, typename A1, typename A2, typename A3 = NoArgument, typename A4 = NoArgument,
            typename A5 = NoArgument, typename A6 = NoArgument, typename A7 = NoArgument>
  requires(M > N) MArray(const MArray<T, M>& src, A1 a1, A2 a2, A3 a3 = A3(), A4 a4 = A4(), A5 a5 = A5(),
                         A6 a6 = A6(), A7 a7 = A7()) {
    // A refused range leaves a constructor whose destructor never runs: give
    // back the reference taken of src's block.
    try {
      slicearray(src, a1, a2, a3, a4, a5, a6, a7);
    } catch (...) {
      release__();
      throw;
    }
  }

  ~MArray() { release__(); }

  // Whole-array assignments write elements into the existing storage; they
  // are defined with the evaluators (orv/assign.h).
  MArray& operator=(const MArray& other);
  template <typename T2>
  MArray& operator=(const MArray<T2, N>& other);
  template <typename E>
  MArray& operator=(const TExpr<E, N>& expr);
  ListInitializationSwitch<MArray> operator=(T value);
  MArray& operator*=(T value);
  MArray& operator/=(T value);

  // Gives up the storage (the last holder frees the block). The shape is kept;
  // a second call finds no block.
  void free() {
    release__();
    memBlock = nullptr;
    data = nullptr;
  }

  // Becomes a second handle on `other`'s elements. The new reference is taken
  // before the old one is released, so a.makeReference(a) is safe.
  void makeReference(const MArray& other) {
    MemoryBlock<T>* block = other.memBlock;
    if (block != nullptr) ++block->references;
    release__();
    memBlock = block;
    shape = other.shape;
    data = other.data;
  }

  // Restricts dimension dim (1..N) in place and rebases it to 1: view index 1
  // is the range's first index, index 2 first + stride, and so on. The derived
  // shape fields are recomputed at once, so a copy restricted this way is a
  // complete view.
  void setrange(int dim, const Range& r) {
    setrangeOnly__(dim, r);
    shape.recompute();
  }

  // This array becomes the view src(r1, r2).
  void subarray(const MArray& src, const Range& r1, const Range& r2) requires(N == 2) {
    makeReference(src);
    setrangeOnly__(1, r1);
    setrangeOnly__(2, r2);
    shape.recompute();
  }

  // Views sharing this array's storage, rebased to 1 in every dimension.
  MArray operator()(const Range& r1) const requires(N == 1) {
    MArray view(*this);
    view.setrangeOnly__(1, r1);
    view.shape.recompute();
    return view;
  }
  MArray operator()(const Range& r1, const Range& r2) const requires(N == 2) {
    MArray view(*this);
    view.setrangeOnly__(1, r1);
    view.setrangeOnly__(2, r2);
    view.shape.recompute();
    return view;
  }

  // Makes this array, which should hold no storage, an N-dimensional view of
  // the M-dimensional src. Arguments past M are NoArgument.
  template <int M, typename A1, typename A2, typename A3, typename A4, typename A5, typename A6, typename A7>
  void slicearray(const MArray<T, M>& src, A1 a1, A2 a2, A3 a3, A4 a4, A5 a5, A6 a6, A7 a7) {
    static_assert(M > N, "a slice has lower rank than its source");
    static_assert((isRange__<A1>() + isRange__<A2>() + isRange__<A3>() + isRange__<A4>() + isRange__<A5>() +
                   isRange__<A6>() + isRange__<A7>()) == N,
                  "the number of Range arguments is the rank of the slice");
    static_assert((isIndex__<A1>() + isIndex__<A2>() + isIndex__<A3>() + isIndex__<A4>() + isIndex__<A5>() +
                   isIndex__<A6>() + isIndex__<A7>()) == M - N,
                  "every source dimension takes an int or a Range, the rest NoArgument");
    static_assert(placed__<A1, 1, M>() && placed__<A2, 2, M>() && placed__<A3, 3, M>() &&
                      placed__<A4, 4, M>() && placed__<A5, 5, M>() && placed__<A6, 6, M>() &&
                      placed__<A7, 7, M>(),
                  "argument k belongs to source dimension k: NoArgument exactly past the source rank");
    MemoryBlock<T>* block = src.memBlock;
    if (block != nullptr) ++block->references;
    release__();
    memBlock = block;
    data = src.data;
    shape.zeroOffset = src.shape.zeroOffset;
    int dim = 1;
    sliceArgument__(dim, a1, src, 1);
    sliceArgument__(dim, a2, src, 2);
    sliceArgument__(dim, a3, src, 3);
    sliceArgument__(dim, a4, src, 4);
    sliceArgument__(dim, a5, src, 5);
    sliceArgument__(dim, a6, src, 6);
    sliceArgument__(dim, a7, src, 7);
    shape.recompute();
  }

  // One Range step of slicearray: dimension srcDim of src becomes dimension dim
  // of this array, restricted by r; dim moves on.
  template <int M>
  void slice(int& dim, Range r, const MArray<T, M>& src, int srcDim) {
    const int d = dim - 1;
    const int s = srcDim - 1;
    shape.base[d] = src.shape.base[s];
    shape.length[d] = src.shape.length[s];
    shape.stride[d] = src.shape.stride[s];
    setrange(dim, r);
    ++dim;
  }

  // Element access at absolute indices, no bounds check.
  T& operator()(int i) requires(N == 1) { return data[static_cast<std::ptrdiff_t>(i) * shape.stride[0]]; }
  const T& operator()(int i) const requires(N == 1) {
    return data[static_cast<std::ptrdiff_t>(i) * shape.stride[0]];
  }
  T& operator()(int i, int j) requires(N == 2) { return data[offset2__(i, j)]; }
  const T& operator()(int i, int j) const requires(N == 2) { return data[offset2__(i, j)]; }
  T& operator()(int i, int j, int k) requires(N == 3) {
    return data[offset2__(i, j) + static_cast<std::ptrdiff_t>(k) * shape.stride[2]];
  }
  const T& operator()(int i, int j, int k) const requires(N == 3) {
    return data[offset2__(i, j) + static_cast<std::ptrdiff_t>(k) * shape.stride[2]];
  }
  T& operator()(int i, int j, int k, int l) requires(N == 4) {
    return data[offset2__(i, j) + static_cast<std::ptrdiff_t>(k) * shape.stride[2] +
                static_cast<std::ptrdiff_t>(l) * shape.stride[3]];
  }
  const T& operator()(int i, int j, int k, int l) const requires(N == 4) {
    return data[offset2__(i, j) + static_cast<std::ptrdiff_t>(k) * shape.stride[2] +
                static_cast<std::ptrdiff_t>(l) * shape.stride[3]];
  }

  // Geometry per dimension (1..N).
  int first(int dim) const { return shape.base[dim - 1]; }
  int last(int dim) const {
    return static_cast<int>(static_cast<std::int64_t>(shape.base[dim - 1]) + shape.length[dim - 1] - 1);
  }
  int length(int dim) const { return shape.length[dim - 1]; }
  int stride(int dim) const { return shape.stride[dim - 1]; }
  int numElements() const { return shape.numElements; }
  bool isStorageContiguous() const { return shape.isStorageContiguous; }
  // True for an array without storage (default-constructed or freed).
  bool isEmpty() const { return memBlock == nullptr; }

  // Sets the first index of every dimension in place; the elements stay where
  // they are, only their indices change. Bases whose zero offset or last index
  // would not fit an int are refused.
  template <typename... B>
  requires(sizeof...(B) == N && (std::is_convertible_v<B, int> && ...)) void setBase(B... bases) {
    T* firstElem = firstElement();
    const int values[N] = {static_cast<int>(bases)...};
    if (!Shape<N>::fitsIndexRange__(values, shape.length, shape.stride))
      throw RangeException("Array index base out of range");
    for (int d = 0; d < N; ++d) shape.base[d] = values[d];
    shape.recompute();
    data = detail::shiftPointer(firstElem, shape.zeroOffset);
  }

  // Internals for the evaluators, iterators, readers and writers.
  const Shape<N>* getShape() const { return &shape; }
  // Address of the element with all indices 0.
  T* getData() const { return data; }
  // Address of the first element (all indices at base).
  T* firstElement() const { return detail::shiftPointer(data, -static_cast<std::int64_t>(shape.zeroOffset)); }
  const MemoryBlock<T>* getMemoryBlock() const { return memBlock; }

  // Iteration in storage order, dimension 1 fastest.
  ConstIterator begin() const;
  ConstIterator end() const;

  // Diagnostic dump of the internals on standard output; defined with the text
  // output of arrays.
  void describeSelf() const;

 private:
  template <typename, int>
  friend class MArray;
  friend class ListInitializationSwitch<MArray>;

  // Sets every element of the array or view to x (the scalar fill).
  void fill__(const T& x);
  template <typename T2>
  MArray& assignArray__(const MArray<T2, N>& other);

  static const int* ones__() {
    static const int ones[4] = {1, 1, 1, 1};
    return ones;
  }

  // The steps of setrange, in 32-bit index arithmetic widened where a product
  // could overflow; the rangeAll markers are replaced before any length is
  // formed from them.
  void setrangeOnly__(int dim, const Range& r) {
    // A zero stride would divide by zero below.
    if (r.stride == 0) throw RangeException("Range stride of 0");
    const int d = dim - 1;
    const std::int64_t first = r.first == rangeAll ? shape.base[d] : r.first;
    const std::int64_t last =
        r.last == rangeAll ? static_cast<std::int64_t>(shape.base[d]) + shape.length[d] - 1 : r.last;
    shape.base[d] = 1;
    shape.length[d] = static_cast<int>((last - first) / r.stride + 1);
    data = detail::shiftPointer(data, (first - r.stride) * shape.stride[d]);
    shape.stride[d] = static_cast<int>(static_cast<std::int64_t>(shape.stride[d]) * r.stride);
  }

  std::ptrdiff_t offset2__(int i, int j) const {
    return static_cast<std::ptrdiff_t>(i) * shape.stride[0] +
           static_cast<std::ptrdiff_t>(j) * shape.stride[1];
  }

  // New block for a fresh column-major layout; the previous block, if any, is
  // released only after the new one exists.
  // A failed allocation leaves the array as it was.
  void allocate__(const int* bases, const int* lengths, bool map) {
    Shape<N> fresh;
    fresh.setContiguous(bases, lengths);
    const Shape<N> previous = shape;
    shape = fresh;
    try {
      setupMemory(map);
    } catch (...) {
      shape = previous;
      throw;
    }
  }

  // Gives the array, whose shape is a fresh column-major layout, a new block for
  // its elements, mapped to a temporary file when `map` is set, and points
  // `data` at the block's start plus the zero offset. A block held before is
  // released once the new one exists. The name does not influence the map
  // file's name.
  void setupMemory(bool map, const char* name = nullptr) {
    (void)name;
    MemoryBlock<T>* block = newBlock__(static_cast<std::size_t>(shape.numElements), map);
    ++block->references;
    release__();
    memBlock = block;
    data = detail::shiftPointer(block->data, shape.zeroOffset);
  }

  void allocateFromRanges__(std::initializer_list<const Range*> ranges, bool map) {
    int bases[N];
    int lengths[N];
    int d = 0;
    for (const Range* r : ranges) {
      // A marker end names an index of a dimension that does not exist yet.
      if (r->first == rangeAll || r->last == rangeAll)
        throw RangeException("Range without a first and last index cannot size an array");
      bases[d] = r->first;
      lengths[d] = r->length;
      ++d;
    }
    allocate__(bases, lengths, map);
  }

  static MemoryBlock<T>* newBlock__(std::size_t n, bool map) {
    if (map) {
      if constexpr (std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>) {
        return new MemoryMapBlock<T>(static_cast<int>(n));
      } else {
        throw RangeException("Cannot map an array of this element type");
      }
    }
    return new MemoryBlock<T>(n);
  }

  void release__() {
    if (memBlock != nullptr) memBlock->removeReference();
  }

  template <typename A>
  static constexpr int isRange__() {
    return std::is_same_v<A, Range> ? 1 : 0;
  }
  template <typename A>
  static constexpr int isIndex__() {
    return std::is_integral_v<A> ? 1 : 0;
  }
  template <typename A, int K, int M>
  static constexpr bool placed__() {
    return (K > M) == std::is_same_v<A, NoArgument>;
  }

  template <int M>
  void sliceArgument__(int& dim, const Range& r, const MArray<T, M>& src, int srcDim) {
    slice(dim, r, src, srcDim);
  }
  template <int M, typename I>
  requires std::is_integral_v<I>
  void sliceArgument__(int&, I index, const MArray<T, M>& src, int srcDim) {
    data = detail::shiftPointer(data, static_cast<std::int64_t>(index) * src.shape.stride[srcDim - 1]);
  }
  template <int M>
  void sliceArgument__(int&, NoArgument, const MArray<T, M>&, int) {}

  MemoryBlock<T>* memBlock = nullptr;
  Shape<N> shape;
  T* data = nullptr;
};

}  // namespace orv

#endif

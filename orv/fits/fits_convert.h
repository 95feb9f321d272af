// FITS element conversion: the big-endian codec of every BITPIX, the value conversions, the
// choice of the BSCALE/BZERO scaling, the element loops of reading and writing and the one
// dispatch from a BITPIX value to the loops compiled for it.
#ifndef ORV_FITS_FITS_CONVERT_H
#define ORV_FITS_FITS_CONVERT_H

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>
#include <utility>

#include "orv/fits/fits_exception.h"
#include "orv/lanes.h"

namespace orv {

// ---------------------------------------------------------------------------------------------
// BITPIX values.

// The BITPIX values an image may have: 8, 16, 32, -32 and -64.
constexpr bool isFitsBitpix(long bitpix) {
  return bitpix == 8 || bitpix == 16 || bitpix == 32 || bitpix == -32 || bitpix == -64;
}

// Bytes of one element of the given BITPIX: |BITPIX| / 8.
constexpr int fitsBytesPerElement(int bitpix) { return bitpix < 0 ? -bitpix / 8 : bitpix / 8; }

// Calls f(std::integral_constant<int, BITPIX>{}) with the compile-time value of a legal
// BITPIX, so that f can instantiate the loops of that BITPIX; any other value is refused with
// the "illegal BITPIX" FitsException.
template <class F>
decltype(auto) withFitsBitpix(int bitpix, F&& f) {
  switch (bitpix) {
    case 8:
      return f(std::integral_constant<int, 8>{});
    case 16:
      return f(std::integral_constant<int, 16>{});
    case 32:
      return f(std::integral_constant<int, 32>{});
    case -32:
      return f(std::integral_constant<int, -32>{});
    case -64:
      return f(std::integral_constant<int, -64>{});
    default:
      throw FitsException("illegal BITPIX");
  }
}

// ---------------------------------------------------------------------------------------------
// Raw elements: big-endian in the file, of the type that BITPIX names.

inline std::uint16_t fitsByteSwap(std::uint16_t v) { return __builtin_bswap16(v); }
inline std::uint32_t fitsByteSwap(std::uint32_t v) { return __builtin_bswap32(v); }
inline std::uint64_t fitsByteSwap(std::uint64_t v) { return __builtin_bswap64(v); }

template <int BITPIX>
struct FitsRawType;
template <>
struct FitsRawType<8> {
  using type = std::uint8_t;  // BITPIX 8 is unsigned
  using bits = std::uint8_t;
};
template <>
struct FitsRawType<16> {
  using type = std::int16_t;
  using bits = std::uint16_t;
};
template <>
struct FitsRawType<32> {
  using type = std::int32_t;
  using bits = std::uint32_t;
};
template <>
struct FitsRawType<-32> {
  using type = float;
  using bits = std::uint32_t;
};
template <>
struct FitsRawType<-64> {
  using type = double;
  using bits = std::uint64_t;
};

// Loads the element of type BITPIX that begins at src (any alignment).
template <int BITPIX>
inline typename FitsRawType<BITPIX>::type loadFitsRaw(const unsigned char* src) {
  using Bits = typename FitsRawType<BITPIX>::bits;
  Bits b;
  std::memcpy(&b, src, sizeof b);
  if constexpr (sizeof(Bits) > 1 && std::endian::native == std::endian::little) b = fitsByteSwap(b);
  return std::bit_cast<typename FitsRawType<BITPIX>::type>(b);
}

// Stores v big-endian at dst (any alignment).
template <int BITPIX>
inline void storeFitsRaw(unsigned char* dst, typename FitsRawType<BITPIX>::type v) {
  using Bits = typename FitsRawType<BITPIX>::bits;
  Bits b = std::bit_cast<Bits>(v);
  if constexpr (sizeof(Bits) > 1 && std::endian::native == std::endian::little) b = fitsByteSwap(b);
  std::memcpy(dst, &b, sizeof b);
}

// ---------------------------------------------------------------------------------------------
// Value conversions with defined results for every input: converting to an integer type
// truncates toward zero, maps NaN to 0 and saturates values outside the target's range.

template <class T, class V>
inline T fitsConvert(V v) {
  if constexpr (std::is_floating_point_v<T>) {
    return static_cast<T>(v);
  } else if constexpr (std::is_floating_point_v<V>) {
    if (std::isnan(v)) return T(0);
    // The bounds of T are exact doubles for every integer type up to 32 bits; for wider
    // types the upper test is against 2^63, which is exact as well.
    constexpr double lo = static_cast<double>(std::numeric_limits<T>::min());
    constexpr double hiExclusive = static_cast<double>(std::numeric_limits<T>::max() / 2 + 1) * 2.0;
    if (v <= lo) return std::numeric_limits<T>::min();
    if (v >= hiExclusive) return std::numeric_limits<T>::max();
    return static_cast<T>(v);
  } else if constexpr (std::is_same_v<T, bool> || std::is_same_v<V, bool>) {
    return static_cast<T>(v);
  } else {
    if (std::cmp_less(v, std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
    if (std::cmp_greater(v, std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
    return static_cast<T>(v);
  }
}

// Conversion of an array element to the element type of BITPIX for writing. Floating-point
// values going to an integer BITPIX are first truncated to a signed 32-bit integer (NaN 0,
// saturating), of which the low 8 or 16 bits are kept; integers keep their low bits.
template <int BITPIX, class E>
inline typename FitsRawType<BITPIX>::type toFitsRaw(E e) {
  using R = typename FitsRawType<BITPIX>::type;
  if constexpr (std::is_floating_point_v<R>) {
    return static_cast<R>(e);
  } else if constexpr (std::is_floating_point_v<E>) {
    return static_cast<R>(fitsConvert<std::int32_t>(static_cast<double>(e)));
  } else {
    return static_cast<R>(e);  // modular: the low bits are kept
  }
}

// ---------------------------------------------------------------------------------------------
// Scaling of raw values with BSCALE and BZERO, chosen once per read.

enum class FitsScalePath { plain, wholeNumber, real };

struct FitsScaling {
  FitsScalePath path;
  double bscale, bzero;
  std::int64_t intScale, intZero;  // valid on the whole-number path
};

// plain when bscale is 1 and bzero 0; whole-number when both are whole numbers that fit a
// 32-bit int; real otherwise (NaN never counts as a whole number).
FitsScaling chooseFitsScaling(double bscale, double bzero);

// The BLANK card of an integer image: the raw (unscaled) value that marks undefined pixels.
// Read into floating-point elements, those pixels become NaN; integer elements keep them.
struct FitsBlank {
  bool present = false;
  std::int64_t raw = 0;
};

// ---------------------------------------------------------------------------------------------
// Element loops: a run is `count` elements at `out` (or `in`), `step` elements apart; the raw
// elements are contiguous and big-endian at `src` (or `dst`). They are the hot path of every
// read and write, compiled where arrays are read or written.

namespace detail {

// How the values of one read are computed, the scaling path refined by BITPIX. On the
// whole-number path, 8- and 16-bit raw values are scaled in 32-bit integers when no result
// can leave their range, by an addition alone when BSCALE is 1, and in 64-bit integers
// otherwise: the same integers every way, but the 32-bit loops vectorize.
enum class FitsArithmetic { plain, offsetInt32, wholeInt32, wholeInt64, wholeDouble, real };

template <FitsArithmetic A, class T, class R>
inline T fitsScaledValue(R raw, const FitsScaling& s) {
  if constexpr (A == FitsArithmetic::plain) {
    return fitsConvert<T>(raw);
  } else if constexpr (A == FitsArithmetic::offsetInt32) {
    return fitsConvert<T>(static_cast<std::int32_t>(raw) + static_cast<std::int32_t>(s.intZero));
  } else if constexpr (A == FitsArithmetic::wholeInt32) {
    return fitsConvert<T>(static_cast<std::int32_t>(raw) * static_cast<std::int32_t>(s.intScale) +
                          static_cast<std::int32_t>(s.intZero));
  } else if constexpr (A == FitsArithmetic::wholeInt64) {
    return fitsConvert<T>(static_cast<std::int64_t>(raw) * s.intScale + s.intZero);
  } else if constexpr (A == FitsArithmetic::wholeDouble) {
    return fitsConvert<T>(static_cast<double>(raw) * static_cast<double>(s.intScale) +
                          static_cast<double>(s.intZero));
  } else {
    return fitsConvert<T>(static_cast<double>(raw) * s.bscale + s.bzero);
  }
}

// The loops go a block of kFitsBlock elements at a time: the block's raw elements are put in
// the machine's byte order by vectors of shifts and ors (which every x86-64 has; g++ leaves a
// loop of 32- and 64-bit byte swaps scalar, as the baseline has no byte shuffle), and converted
// in a local array that nothing else can alias, by a loop of a trip count the compiler knows
// and without a check for overlap, which g++'s -O2 cost model vectorizes. The elements after
// the last whole block go one by one.
constexpr long kFitsBlock = 16;

// 16-byte vectors of raw elements, and the swap of the bytes of each lane.
using FitsLanes16 = lanes::Vector<std::uint16_t, 8>;
using FitsLanes32 = lanes::Vector<std::uint32_t, 4>;
using FitsLanes64 = lanes::Vector<std::uint64_t, 2>;

inline FitsLanes16 fitsSwapLanes(FitsLanes16 v) { return (v << 8) | (v >> 8); }
inline FitsLanes32 fitsSwapLanes(FitsLanes32 v) {
  v = reinterpret_cast<FitsLanes32>(fitsSwapLanes(reinterpret_cast<FitsLanes16>(v)));
  return (v << 16) | (v >> 16);
}
inline FitsLanes64 fitsSwapLanes(FitsLanes64 v) {
  v = reinterpret_cast<FitsLanes64>(fitsSwapLanes(reinterpret_cast<FitsLanes32>(v)));
  return (v << 32) | (v >> 32);
}

// Copies a block of kFitsBlock raw elements of BITPIX from `from` to `to` (any alignment),
// reversing the bytes of each element on a little-endian machine: from the file's order to
// the machine's, or back.
template <int BITPIX>
inline void swapFitsBlock(unsigned char* to, const unsigned char* from) {
  using Bits = typename FitsRawType<BITPIX>::bits;
  constexpr long blockBytes = kFitsBlock * static_cast<long>(sizeof(Bits));
  if constexpr (sizeof(Bits) == 1 || std::endian::native != std::endian::little) {
    std::memcpy(to, from, blockBytes);
  } else {
    using Lanes = std::conditional_t<sizeof(Bits) == 2, FitsLanes16,
                                     std::conditional_t<sizeof(Bits) == 4, FitsLanes32, FitsLanes64>>;
    for (long k = 0; k < blockBytes; k += sizeof(Lanes)) {
      Lanes v;
      std::memcpy(&v, from + k, sizeof v);
      v = fitsSwapLanes(v);
      std::memcpy(to + k, &v, sizeof v);
    }
  }
}

// Stores block[0 ... kFitsBlock - 1] at out[0], out[step], ...
template <class T>
inline void putFitsBlock(T* out, long step, const T (&block)[kFitsBlock]) {
  if (step == 1) {
    std::memcpy(out, block, sizeof block);
  } else {
    for (long j = 0; j < kFitsBlock; ++j) out[j * step] = block[j];
  }
}

// The loops read the scaling from a local copy, which no store to out can alias, so that it
// stays in registers.
template <int BITPIX, FitsArithmetic A, class T>
inline void convertFitsRun(T* out, long step, const unsigned char* src, long count,
                           const FitsScaling& scaling) {
  using Raw = typename FitsRawType<BITPIX>::type;
  constexpr long bytes = fitsBytesPerElement(BITPIX);
  const FitsScaling s = scaling;
  const long blocked = count - count % kFitsBlock;
  for (long i = 0; i < blocked; i += kFitsBlock) {
    T block[kFitsBlock];
    if constexpr (bytes <= 2) {
      // 8- and 16-bit elements are swapped within the loop, which g++ vectorizes
      for (long j = 0; j < kFitsBlock; ++j)
        block[j] = fitsScaledValue<A, T>(loadFitsRaw<BITPIX>(src + (i + j) * bytes), s);
    } else {
      Raw raw[kFitsBlock];
      swapFitsBlock<BITPIX>(reinterpret_cast<unsigned char*>(raw), src + i * bytes);
      for (long j = 0; j < kFitsBlock; ++j) block[j] = fitsScaledValue<A, T>(raw[j], s);
    }
    putFitsBlock(out + i * step, step, block);
  }
  for (long i = blocked; i < count; ++i)
    out[i * step] = fitsScaledValue<A, T>(loadFitsRaw<BITPIX>(src + i * bytes), s);
}

// The same into floating-point elements of an integer BITPIX with a BLANK value `blank` of its
// raw type: elements whose raw value is blank become NaN. Every element is scaled and then
// replaced, so that the loop stays one of selects.
template <int BITPIX, FitsArithmetic A, class T>
inline void convertFitsRunWithBlank(T* out, long step, const unsigned char* src, long count,
                                    const FitsScaling& scaling, typename FitsRawType<BITPIX>::type blank) {
  static_assert(std::is_floating_point_v<T> && BITPIX > 0);
  constexpr long bytes = fitsBytesPerElement(BITPIX);
  constexpr T undefined = std::numeric_limits<T>::quiet_NaN();
  const FitsScaling s = scaling;
  for (long i = 0; i < count; ++i) {
    const auto raw = loadFitsRaw<BITPIX>(src + i * bytes);
    const T value = fitsScaledValue<A, T>(raw, s);
    out[i * step] = raw == blank ? undefined : value;
  }
}

// Whether the BLANK card of an image of the given BITPIX marks any pixel: only an integer
// BITPIX has one, and a value outside the raw type's range matches no raw element.
template <int BITPIX>
inline bool fitsBlankApplies(const FitsBlank& blank) {
  if constexpr (BITPIX > 0) {
    using Raw = typename FitsRawType<BITPIX>::type;
    return blank.present && std::in_range<Raw>(blank.raw);
  } else {
    (void)blank;
    return false;
  }
}

template <int BITPIX, class E>
inline void storeFitsRun(unsigned char* dst, const E* in, long step, long count) {
  using Raw = typename FitsRawType<BITPIX>::type;
  constexpr long bytes = fitsBytesPerElement(BITPIX);
  const long blocked = count - count % kFitsBlock;
  for (long i = 0; i < blocked; i += kFitsBlock) {
    Raw raw[kFitsBlock];
    if (step == 1) {
      for (long j = 0; j < kFitsBlock; ++j) raw[j] = toFitsRaw<BITPIX>(in[i + j]);
    } else {
      for (long j = 0; j < kFitsBlock; ++j) raw[j] = toFitsRaw<BITPIX>(in[(i + j) * step]);
    }
    swapFitsBlock<BITPIX>(dst + i * bytes, reinterpret_cast<const unsigned char*>(raw));
  }
  for (long i = blocked; i < count; ++i)
    storeFitsRaw<BITPIX>(dst + i * bytes, toFitsRaw<BITPIX>(in[i * step]));
}

// Calls f(std::integral_constant<FitsArithmetic, A>{}) with the arithmetic of a read of raw
// elements of the given BITPIX scaled by s.
template <int BITPIX, class F>
inline void withFitsArithmetic(const FitsScaling& s, F&& f) {
  using A = FitsArithmetic;
  switch (s.path) {
    case FitsScalePath::plain:
      return f(std::integral_constant<A, A::plain>{});
    case FitsScalePath::wholeNumber:
      if constexpr (BITPIX == 8 || BITPIX == 16) {
        // |raw| <= 255 or 32768; |intScale| and |intZero| fit a 32-bit int.
        constexpr std::int64_t largestRaw = BITPIX == 8 ? 255 : 32768;
        const std::int64_t largest = largestRaw * (s.intScale < 0 ? -s.intScale : s.intScale) +
                                     (s.intZero < 0 ? -s.intZero : s.intZero);
        if (largest > std::numeric_limits<std::int32_t>::max())
          return f(std::integral_constant<A, A::wholeInt64>{});
        if (s.intScale == 1) return f(std::integral_constant<A, A::offsetInt32>{});
        return f(std::integral_constant<A, A::wholeInt32>{});
      } else {
        return f(std::integral_constant<A, A::wholeDouble>{});
      }
    case FitsScalePath::real:
      return f(std::integral_constant<A, A::real>{});
  }
}

}  // namespace detail

}  // namespace orv

#endif

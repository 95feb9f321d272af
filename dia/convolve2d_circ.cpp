// Correlation of an image with an odd-sized kernel cut to its elliptic footprint.
//
// Every output pixel sums its taps in float, j ascending then i ascending, skipping zero
// taps; the rows run through the tap-row loop, bit-identical to the plain per-pixel loop.
#include <cstddef>
#include <vector>

#include "dia/dia.h"
#include "dia/tap_rows.h"

template <class T, class K>
orv::MArray<T, 2> convolve2d_circ(const orv::MArray<K, 2>& kernel, const orv::MArray<T, 2>& image) {
  static_assert(std::is_same_v<T, float>, "the correlation runs on float images");
  orv::MArray<T, 2> result(orv::Range(image.first(1), image.last(1)),
                           orv::Range(image.first(2), image.last(2)));
  result = 0.0f;

  const int lx = kernel.length(1), ly = kernel.length(2);
  if (lx % 2 == 0 || ly % 2 == 0)
    throw orv::RangeException("This convolution only works with odd kernel sizes.");
  const int hx = lx / 2, hy = ly / 2;

  const int x1 = image.first(1), x2 = image.last(1);
  const int y1 = image.first(2), y2 = image.last(2);
  if (x2 - x1 < 2 * hx || y2 - y1 < 2 * hy) return result;

  // The image with unit x stride: a view with another x stride is copied first.
  orv::MArray<T, 2> source(image);
  if (image.stride(1) != 1) {
    source.makeReference(orv::MArray<T, 2>(orv::Range(x1, x2), orv::Range(y1, y2)));
    for (int y = y1; y <= y2; ++y)
      for (int x = x1; x <= x2; ++x) source(x, y) = image(x, y);
  }
  const std::ptrdiff_t rowStride = source.stride(2);

  // Non-zero taps of the footprint-cut kernel in summation order, indexed from its centre.
  std::vector<dia_taps::Tap<float>> taps;
  const float ex = static_cast<float>(hx) + 0.5f, ey = static_cast<float>(hy) + 0.5f;
  for (int j = -hy; j <= hy; ++j)
    for (int i = -hx; i <= hx; ++i) {
      const float value = static_cast<float>(kernel(kernel.first(1) + hx + i, kernel.first(2) + hy + j));
      const float u = static_cast<float>(i) / ex, v = static_cast<float>(j) / ey;
      if (u * u + v * v >= 1.0f || value == 0.0f) continue;
      taps.push_back({static_cast<std::ptrdiff_t>(j) * rowStride + i, value});
    }

  const int count = x2 - x1 - 2 * hx + 1;
  const dia_taps::RowFunction<float> correlateRowOfPath = dia_taps::rowFunction<float, false>();
  for (int y = y1 + hy; y <= y2 - hy; ++y)
    correlateRowOfPath(taps.data(), taps.size(), &source(x1 + hx, y), &result(x1 + hx, y), count);
  return result;
}

template orv::MArray<float, 2> convolve2d_circ<float, float>(const orv::MArray<float, 2>&,
                                                             const orv::MArray<float, 2>&);
template orv::MArray<float, 2> convolve2d_circ<float, double>(const orv::MArray<double, 2>&,
                                                              const orv::MArray<float, 2>&);

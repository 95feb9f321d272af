// Sliding-window median over sorted columns.
#include "tarvole/running_median.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace {

// Order-preserving integer keys of floats: numbers in ascending order, every
// NaN after them as one key.
constexpr std::uint32_t nanKey = 0xFFFFFFFFu;

std::uint32_t key_of(float f) {
  if (f != f) return nanKey;
  std::uint32_t u;
  std::memcpy(&u, &f, sizeof u);
  return (u & 0x80000000u) ? ~u : (u | 0x80000000u);
}

float float_of(std::uint32_t k) {
  if (k == nanKey) return std::numeric_limits<float>::quiet_NaN();
  const std::uint32_t u = (k & 0x80000000u) ? (k & 0x7FFFFFFFu) : ~k;
  float f;
  std::memcpy(&f, &u, sizeof f);
  return f;
}

// In the sorted column col of w keys, replaces one key equal to old by key.
void replace_key(std::uint32_t* col, int w, std::uint32_t old, std::uint32_t key) {
  int i = static_cast<int>(std::lower_bound(col, col + w, old) - col);
  if (key >= old) {
    while (i + 1 < w && col[i + 1] < key) {
      col[i] = col[i + 1];
      ++i;
    }
  } else {
    while (i > 0 && col[i - 1] > key) {
      col[i] = col[i - 1];
      --i;
    }
  }
  col[i] = key;
}

}  // namespace

void running_median(const orv::MArray<float, 2>& image, int half, orv::MArray<float, 2>& med) {
  const int x0 = image.first(1), x1 = image.last(1);
  const int y0 = image.first(2), y1 = image.last(2);
  med = 0.0f;
  const int w = 2 * half + 1;
  const int nx = x1 - x0 + 1;
  if (half < 0 || nx < w || y1 - y0 + 1 < w) return;
  const int rank = w * w / 2;

  // cols[c*w .. c*w+w-1]: the sorted keys of column x0 + c over the window rows.
  std::vector<std::uint32_t> cols(static_cast<std::size_t>(nx) * w);
  for (int c = 0; c < nx; ++c) {
    std::uint32_t* col = &cols[static_cast<std::size_t>(c) * w];
    for (int j = 0; j < w; ++j) col[j] = key_of(image(x0 + c, y0 + j));
    std::sort(col, col + w);
  }
  // below[c]: keys of column c less than the current median key m.
  std::vector<int> below(nx);
  std::uint32_t m = 0;
  for (int yc = y0 + half; yc <= y1 - half; ++yc) {
    if (yc > y0 + half) {
      for (int c = 0; c < nx; ++c)
        replace_key(&cols[static_cast<std::size_t>(c) * w], w, key_of(image(x0 + c, yc - half - 1)),
                    key_of(image(x0 + c, yc + half)));
    }
    auto column = [&](int c) { return &cols[static_cast<std::size_t>(c) * w]; };
    auto countBelow = [&](int c) {
      const std::uint32_t* col = column(c);
      return static_cast<int>(std::lower_bound(col, col + w, m) - col);
    };
    // The first window of the row: counts against the last median.
    int less = 0;
    for (int c = 0; c < w; ++c) less += below[c] = countBelow(c);
    for (int c0 = 0; c0 + w <= nx; ++c0) {
      if (c0 > 0) {
        less -= below[c0 - 1];
        less += below[c0 + w - 1] = countBelow(c0 + w - 1);
      }
      // Walk from m to the key of the wanted rank: up over the smallest keys
      // not below m, or down over the largest keys below it. Keys and their columns packed into one integer,
      // so that the smallest (or largest) of the window's candidates is found without branches; an exhausted
      // column offers none.
      auto packed = [&](int c, int at) {
        return (static_cast<std::uint64_t>(column(c)[at]) << 32) | static_cast<std::uint64_t>(c - c0);
      };
      std::uint32_t found;
      if (less <= rank) {
        for (;;) {
          std::uint64_t best = ~std::uint64_t{0};
          for (int c = c0; c < c0 + w; ++c)
            best = std::min(best, below[c] < w ? packed(c, below[c]) : ~std::uint64_t{0});
          if (less == rank) {
            found = static_cast<std::uint32_t>(best >> 32);
            break;
          }
          ++below[c0 + static_cast<int>(best & 0xFFFFFFFFu)];
          ++less;
        }
      } else {
        for (;;) {
          std::uint64_t best = 0;
          for (int c = c0; c < c0 + w; ++c)
            best = std::max(best, below[c] > 0 ? packed(c, below[c] - 1) + 1 : std::uint64_t{0});
          --best;
          --below[c0 + static_cast<int>(best & 0xFFFFFFFFu)];
          --less;
          if (less == rank) {
            found = static_cast<std::uint32_t>(best >> 32);
            break;
          }
        }
      }
      // Recount against the new median: keys equal to it are not below it.
      m = found;
      less = 0;
      for (int c = c0; c < c0 + w; ++c) {
        const std::uint32_t* col = column(c);
        int b = below[c];
        while (b > 0 && col[b - 1] >= m) --b;
        while (b < w && col[b] < m) ++b;
        below[c] = b;
        less += b;
      }
      med(x0 + c0 + half, yc) = float_of(m);
    }
  }
}

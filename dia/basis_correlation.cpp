#include "dia/basis_correlation.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <new>

#include "dia/dia.h"
#include "dia/tap_rows.h"
#include "orv/memory_pages.h"

namespace dia_basis {

namespace {

// The passes sum in float, as convolve2d_circ does: twice the pixels per vector of double
// and half the memory, while no sum runs over more than one footprint width of taps.
using Real = float;
using Tap = dia_taps::Tap<Real>;

// The row functions of the chosen path, setting and adding.
struct RowFunctions {
  dia_taps::RowFunction<Real> set = dia_taps::rowFunction<Real, false>();
  dia_taps::RowFunction<Real> add = dia_taps::rowFunction<Real, true>();
};

// A split is accepted when it rebuilds the kernel over the footprint to this fraction of the
// kernel's largest magnitude.
constexpr double kSplitTolerance = 1e-12;
// Factor values at most this fraction of the factor's largest magnitude are left out: the
// narrow Gaussians vanish far inside the box, and their passes need only the taps that count.
// Even all of them together stay far below the float rounding of a pass.
constexpr double kFactorNeglect = 1e-10;
// Columns per block of a column pass: the 2·hy + 1 rows of a block that its taps reach stay
// in the processor's cache.
constexpr int kColumnBlock = 256;
// Output rows per strip of the footprint planes: the planes of a strip and its margins stay
// small.
constexpr int kPlaneStripRows = 128;
// Corner taps are left out, smallest first, while their magnitudes sum to at most this
// fraction of the kernel's summed magnitude over the footprint.
constexpr double kCornerNeglect = 1e-9;

// t^e·exp(−t²/(2σ²)) over −h … h, a power 0 giving 1.
std::vector<double> gaussianMonomial(int h, int e, double sigma) {
  std::vector<double> f(2 * h + 1);
  for (int t = -h; t <= h; ++t) {
    double m = 1.0;
    for (int k = 0; k < e; ++k) m *= t;
    f[t + h] = m * std::exp(-static_cast<double>(t * t) / (2.0 * sigma * sigma));
  }
  return f;
}

struct FreeBuffer {
  void operator()(Real* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<Real[], FreeBuffer>;

constexpr std::size_t kHugePage = std::size_t{2} << 20;

// Fresh storage of n values, asked for in huge pages where the system offers them: a fault
// per 4 KiB page costs more than the passes that fill the page. The storage is aligned to a
// huge page and rounded up to whole ones, so that all of it can be mapped so.
Buffer freshBuffer(std::size_t n) {
  const std::size_t bytes = std::max(kHugePage, (n * sizeof(Real) + kHugePage - 1) / kHugePage * kHugePage);
  Buffer b(static_cast<Real*>(std::aligned_alloc(kHugePage, bytes)));
  if (!b) throw std::bad_alloc();
  orv::adviseMemory(b.get(), static_cast<long>(bytes), MADV_HUGEPAGE);
  return b;
}

std::vector<double> product(const std::vector<double>& a, const std::vector<double>& b) {
  std::vector<double> c(a.size());
  for (std::size_t k = 0; k < a.size(); ++k) c[k] = a[k] * b[k];
  return c;
}

}  // namespace

orv::MArray<float, 2> zeroImage(const orv::Range& rx, const orv::Range& ry) {
  orv::MArray<float, 2> a(rx, ry);
  const long bytes = static_cast<long>(sizeof(float)) * a.numElements();
  if (bytes >= static_cast<long>(kHugePage)) orv::adviseMemory(a.firstElement(), bytes, MADV_HUGEPAGE);
  a = 0.0f;
  return a;
}

// Buffers given back, reused before new memory is asked for: fresh pages cost more than the
// passes that fill them. The image and the variance of one box share one pool.
struct BufferPool {
  std::size_t size = 0;  // values per buffer
  std::vector<Buffer> spare;
  // The footprint planes of one strip of rows, reused by every group of footprint terms.
  Buffer planeStrip;
};

// One image of the stamp box, with its row passes, the term results used by more than one
// product and the footprint terms made ahead of their products, each kept until its last use.
struct BasisCorrelator::Source {
  orv::MArray<float, 2> image;
  bool finite = true;
  int width = 0, height = 0;  // the stamp box
  int innerWidth = 0, innerHeight = 0;
  // width × height, rows of x `stride` values apart: the image's own storage where its x
  // runs along memory, else a copy
  const Real* data = nullptr;
  std::ptrdiff_t stride = 0;
  std::vector<Real> copy;
  struct Kept {
    Buffer values;
    int lastUse;
  };
  std::map<int, Kept> rowPasses;                       // by x factor: innerWidth × height
  std::map<std::pair<int, int>, Kept> terms;           // by x and y factor: innerWidth × innerHeight
  std::map<std::pair<int, int>, Kept> footprintTerms;  // the same
  std::map<int, int> rowPassLastUse;
  std::map<std::pair<int, int>, int> termUses, termLastUse;
  // The footprint terms by x factor: their y factors with the last product that uses each.
  std::map<int, std::map<int, int>> footprintGroups;

  std::shared_ptr<BufferPool> pool;

  // Every buffer has room for a row pass, the largest of them, so that any one serves; its
  // values are left for the pass to set.
  Buffer buffer() {
    if (pool->spare.empty()) return freshBuffer(pool->size);
    Buffer b = std::move(pool->spare.back());
    pool->spare.pop_back();
    return b;
  }

  // Gives back to pool the buffers whose last use lies before the product numbered done.
  template <class Map>
  static void forget(Map& kept, int done, std::vector<Buffer>& pool) {
    for (auto it = kept.begin(); it != kept.end();) {
      if (it->second.lastUse < done) {
        pool.push_back(std::move(it->second.values));
        it = kept.erase(it);
      } else {
        ++it;
      }
    }
  }
  void forget(int done) {
    forget(rowPasses, done, pool->spare);
    forget(terms, done, pool->spare);
    forget(footprintTerms, done, pool->spare);
  }
};

// A product of the plan: the terms of its kernel, one of them perhaps summed over the footprint
// and the others over the whole box, and the corner taps that take back what those weigh
// outside the footprint.
struct BasisCorrelator::Product {
  bool split = false;
  int order = 0;  // position in the plan
  std::vector<Term> terms;
  int footprintTerm = -1;  // the term summed over the footprint itself, -1 for none
  std::vector<int> cornerX, cornerY;
  std::vector<double> cornerWeight;
};

BasisCorrelator::BasisCorrelator(const diffima& engine, const orv::MArray<float, 2>& image,
                                 const orv::MArray<float, 2>& variance)
    : engine_(engine) {
  const orv::MArray<float, 2>* images[2] = {&image, &variance};
  for (int s = 0; s < 2; ++s) {
    if (images[s]->isEmpty()) continue;
    auto source = std::make_unique<Source>();
    const orv::MArray<float, 2>& a = *images[s];
    source->image.makeReference(a);
    source->width = a.length(1);
    source->height = a.length(2);
    source->innerWidth = std::max(0, source->width - 2 * engine.hx);
    source->innerHeight = std::max(0, source->height - 2 * engine.hy);
    if (s == 1 && sources_[0] && sources_[0]->width == source->width &&
        sources_[0]->height == source->height) {
      source->pool = sources_[0]->pool;
    } else {
      source->pool = std::make_shared<BufferPool>();
      source->pool->size = static_cast<std::size_t>(source->innerWidth) * source->height;
    }
    sources_[s] = std::move(source);
  }
  planFootprintRows__();
  planProducts__();
}

void BasisCorrelator::planFootprintRows__() {
  const diffima& e = engine_;
  rowWidth_.assign(2 * e.hy + 1, -1);
  rowRuns_ = true;
  for (int y = -e.hy; y <= e.hy; ++y) {
    int w = -1;
    for (int x = 0; x <= e.hx; ++x)
      if (e.quad(x, y)) w = x;
    for (int x = -e.hx; x <= e.hx; ++x) rowRuns_ = rowRuns_ && e.quad(x, y) == (std::abs(x) <= w);
    rowWidth_[y + e.hy] = w;
    if (w >= 0 && std::find(planeWidths_.begin(), planeWidths_.end(), w) == planeWidths_.end())
      planeWidths_.push_back(w);
  }
  std::sort(planeWidths_.begin(), planeWidths_.end());
  if (!rowRuns_) planeWidths_.clear();
}

BasisCorrelator::~BasisCorrelator() = default;

int BasisCorrelator::factorIndex__(const std::vector<double>& values) {
  std::vector<double> kept = values;
  double largest = 0.0;
  for (double v : kept) largest = std::max(largest, std::fabs(v));
  for (double& v : kept)
    if (std::fabs(v) <= kFactorNeglect * largest) v = 0.0;
  for (std::size_t k = 0; k < factors_.size(); ++k)
    if (exactFactors_[k] == values) return static_cast<int>(k);
  factors_.push_back(std::move(kept));
  exactFactors_.push_back(values);
  return static_cast<int>(factors_.size()) - 1;
}

void BasisCorrelator::planProducts__() {
  const diffima& e = engine_;
  const int hx = e.hx, hy = e.hy;
  // The first parameter of each basis function, with its Gaussian and exponents, in the
  // order calc_basis asks for them.
  struct Function {
    int p, n, i, j;
  };
  std::vector<Function> functions;
  int p = e.nbg + 1;
  for (int n = 1; n <= e.ngauss; ++n)
    for (int i = 0; i <= e.d(n); ++i)
      for (int j = 0; j <= e.d(n) - i; ++j) {
        functions.push_back({p, n, i, j});
        const int t = (p == e.nbg + e.flux_basis) ? 0 : e.kern_order;
        p += (t + 1) * (t + 2) / 2;
      }
  auto plainTerm = [&](const Function& f) {
    const int u = factorIndex__(gaussianMonomial(hx, f.i, e.sig(f.n)));
    const int v = factorIndex__(gaussianMonomial(hy, f.j, e.sig(f.n)));
    return Term{1.0 / e.NB(f.p), u, v};
  };
  const int f = e.nbg + e.flux_basis;
  const Function* flux = nullptr;
  for (const Function& fn : functions)
    if (fn.p == f) flux = &fn;

  int order = 0;
  for (const Function& fn : functions) {
    std::vector<Term> terms{plainTerm(fn)};
    if (flux != nullptr && fn.p != f && e.positiv(fn.p)) {
      Term t = plainTerm(*flux);
      t.coefficient = -t.coefficient;
      terms.push_back(t);
    }
    // The square: every pair of terms, the mixed ones twice.
    std::vector<Term> squares;
    for (std::size_t a = 0; a < terms.size(); ++a)
      for (std::size_t b = a; b < terms.size(); ++b)
        squares.push_back(
            {terms[a].coefficient * terms[b].coefficient * (a == b ? 1.0 : 2.0),
             factorIndex__(product(exactFactors_[terms[a].xFactor], exactFactors_[terms[b].xFactor])),
             factorIndex__(product(exactFactors_[terms[a].yFactor], exactFactors_[terms[b].yFactor]))});
    for (int s = 0; s < 2; ++s) {
      if (!sources_[s]) continue;
      const bool variance = s == 1;
      auto product = std::make_unique<Product>();
      product->order = order++;
      product->terms = variance ? squares : terms;
      const orv::MArray<double, 3>& kernels = variance ? e.quad_basis : e.basis;
      // The terms summed over the box: checked against the kernel over the footprint, and
      // beyond it the corner taps; the term that weighs most there is summed over the footprint.
      double largest = 0.0, misfit = 0.0, footprintSum = 0.0;
      std::vector<double> cornerMass(product->terms.size(), 0.0);
      // The split is checked with the factors in full; the passes and their corners use the
      // factors with their negligible values left out.
      auto termValue = [&](const Term& t, int x, int y) {
        return t.coefficient * factors_[t.xFactor][x + hx] * factors_[t.yFactor][y + hy];
      };
      for (int y = -hy; y <= hy; ++y)
        for (int x = -hx; x <= hx; ++x) {
          double k = 0.0;
          for (const Term& t : product->terms)
            k += t.coefficient * exactFactors_[t.xFactor][x + hx] * exactFactors_[t.yFactor][y + hy];
          if (e.quad(x, y)) {
            const double want = kernels(x, y, fn.p);
            largest = std::max(largest, std::fabs(want));
            misfit = std::max(misfit, std::fabs(k - want));
            footprintSum += std::fabs(want);
          } else {
            for (std::size_t t = 0; t < product->terms.size(); ++t)
              cornerMass[t] += std::fabs(termValue(product->terms[t], x, y));
          }
        }
      product->split = std::isfinite(misfit) && misfit <= kSplitTolerance * largest;
      const std::size_t heaviest = static_cast<std::size_t>(
          std::max_element(cornerMass.begin(), cornerMass.end()) - cornerMass.begin());
      if (rowRuns_ && cornerMass[heaviest] > kCornerNeglect * footprintSum)
        product->footprintTerm = static_cast<int>(heaviest);
      struct Corner {
        int x, y;
        double weight;
      };
      std::vector<Corner> corners;
      for (int y = -hy; y <= hy; ++y)
        for (int x = -hx; x <= hx; ++x) {
          if (e.quad(x, y)) continue;
          double k = 0.0;
          for (std::size_t t = 0; t < product->terms.size(); ++t)
            if (static_cast<int>(t) != product->footprintTerm) k += termValue(product->terms[t], x, y);
          if (k != 0.0) corners.push_back({x, y, k});
        }
      std::sort(corners.begin(), corners.end(),
                [](const Corner& a, const Corner& b) { return std::fabs(a.weight) < std::fabs(b.weight); });
      double dropped = 0.0;
      std::size_t first = 0;
      while (first < corners.size() &&
             dropped + std::fabs(corners[first].weight) <= kCornerNeglect * footprintSum)
        dropped += std::fabs(corners[first++].weight);
      // The kept corners in row order, for the memory's sake.
      std::sort(corners.begin() + static_cast<std::ptrdiff_t>(first), corners.end(),
                [](const Corner& a, const Corner& b) { return a.y != b.y ? a.y < b.y : a.x < b.x; });
      for (std::size_t k = first; k < corners.size(); ++k) {
        product->cornerX.push_back(corners[k].x);
        product->cornerY.push_back(corners[k].y);
        product->cornerWeight.push_back(-corners[k].weight);
      }
      products_[{fn.p, variance}] = std::move(product);
    }
  }
  planLastUses__();
}

void BasisCorrelator::planLastUses__() {
  std::vector<const Product*> inOrder(products_.size());
  std::vector<int> sourceOf(products_.size());
  for (const auto& [key, product] : products_) {
    inOrder[product->order] = product.get();
    sourceOf[product->order] = key.second ? 1 : 0;
  }
  for (int pass = 0; pass < 2; ++pass) {
    std::map<std::pair<int, int>, bool> made[2];
    for (std::size_t k = 0; k < inOrder.size(); ++k) {
      const Product& product = *inOrder[k];
      if (!product.split || !sources_[sourceOf[k]]) continue;
      Source& source = *sources_[sourceOf[k]];
      for (std::size_t t = 0; t < product.terms.size(); ++t) {
        const std::pair<int, int> key{product.terms[t].xFactor, product.terms[t].yFactor};
        if (static_cast<int>(t) == product.footprintTerm) {
          if (pass == 0) source.footprintGroups[key.first][key.second] = product.order;
        } else if (pass == 0) {
          ++source.termUses[key];
          source.termLastUse[key] = product.order;
        } else if (source.termUses[key] == 1 || !made[sourceOf[k]][key]) {
          // A kept term needs its row pass only where it is made.
          made[sourceOf[k]][key] = true;
          source.rowPassLastUse[key.first] = product.order;
        }
      }
    }
  }
}

bool BasisCorrelator::splits(int p, bool variance) const {
  const auto it = products_.find({p, variance});
  return it != products_.end() && it->second->split && sources_[variance ? 1 : 0] &&
         sources_[variance ? 1 : 0]->finite;
}

orv::MArray<float, 2> BasisCorrelator::image(int p) {
  orv::MArray<float, 2> result;
  correlate__(p, false, result);
  return result;
}

orv::MArray<float, 2> BasisCorrelator::variance(int p) {
  orv::MArray<float, 2> result;
  correlate__(p, true, result);
  return result;
}

void BasisCorrelator::image(int p, orv::MArray<float, 2>& into) { correlate__(p, false, into); }
void BasisCorrelator::variance(int p, orv::MArray<float, 2>& into) { correlate__(p, true, into); }

void BasisCorrelator::correlate__(int p, bool variance, orv::MArray<float, 2>& into) {
  const diffima& e = engine_;
  Source& source = *sources_[variance ? 1 : 0];
  const auto it = products_.find({p, variance});
  const orv::MArray<double, 3>& kernels = variance ? e.quad_basis : e.basis;
  // The result over the stamp box: a caller's array of that shape whose x runs along memory
  // (a view of a larger image too) is written in place; any other is replaced.
  const orv::MArray<float, 2>& box = source.image;
  const bool kept = !into.isEmpty() && into.first(1) == box.first(1) && into.last(1) == box.last(1) &&
                    into.first(2) == box.first(2) && into.last(2) == box.last(2) && into.stride(1) == 1 &&
                    into.stride(2) >= source.width;
  auto twoDimensional = [&] {
    const orv::MArray<float, 2> result = convolve2d_circ(
        orv::MArray<double, 2>(kernels, orv::Range::all(), orv::Range::all(), p), source.image);
    if (kept)
      into = result;
    else
      into.makeReference(result);
  };
  if (it == products_.end() || !it->second->split || source.innerWidth == 0 || source.innerHeight == 0)
    return twoDimensional();
  if (source.data == nullptr) {
    // Rows of x, taken in place where the image lies so and copied otherwise, at the first
    // use; an image with a value that is not finite goes through the two-dimensional routine,
    // where a corner value never enters.
    const orv::MArray<float, 2>& a = source.image;
    if (a.stride(1) == 1 && a.stride(2) >= source.width) {
      source.data = &a(a.first(1), a.first(2));
      source.stride = a.stride(2);
    } else {
      source.copy.resize(static_cast<std::size_t>(source.width) * source.height);
      std::size_t k = 0;
      for (int y = a.first(2); y <= a.last(2); ++y)
        for (int x = a.first(1); x <= a.last(1); ++x) source.copy[k++] = a(x, y);
      source.data = source.copy.data();
      source.stride = source.width;
    }
    for (int y = 0; y < source.height; ++y) {
      const Real* row = source.data + y * source.stride;
      for (int x = 0; x < source.width; ++x) source.finite = source.finite && std::isfinite(row[x]);
    }
  }
  if (!source.finite) return twoDimensional();

  const Product& product = *it->second;
  const int hx = e.hx, hy = e.hy, W = source.width, H = source.height;
  const int IW = source.innerWidth, IH = source.innerHeight;
  const std::ptrdiff_t S = source.stride;

  // The result over the stamp box, rows OS apart: 0 around the inner area, where the sums go
  // straight.
  if (!kept)
    into.makeReference(
        orv::MArray<float, 2>(orv::Range(box.first(1), box.last(1)), orv::Range(box.first(2), box.last(2))));
  const std::ptrdiff_t OS = into.stride(2);
  float* const out = into.firstElement();
  for (int y = 0; y < H; ++y) {
    float* row = out + y * OS;
    if (y < hy || y >= hy + IH) {
      std::fill(row, row + W, 0.0f);
    } else {
      std::fill(row, row + hx, 0.0f);
      std::fill(row + hx + IW, row + W, 0.0f);
    }
  }
  Real* const sum = out + hy * OS + hx;  // the inner area
  const RowFunctions rowFunctions;
  const dia_taps::RowFunction<Real> setRow = rowFunctions.set, addRow = rowFunctions.add;

  auto rowPass = [&](int xFactor) -> const Real* {
    auto found = source.rowPasses.find(xFactor);
    if (found != source.rowPasses.end()) return found->second.values.get();
    std::vector<Tap> taps;
    for (int i = -hx; i <= hx; ++i)
      if (factors_[xFactor][i + hx] != 0.0) taps.push_back({i, static_cast<Real>(factors_[xFactor][i + hx])});
    Buffer rows = source.buffer();
    for (int y = 0; y < H; ++y)
      setRow(taps.data(), taps.size(), &source.data[y * S + hx], &rows[static_cast<std::size_t>(y) * IW], IW);
    Source::Kept& kept = source.rowPasses[xFactor];
    kept.values = std::move(rows);
    kept.lastUse = source.rowPassLastUse[xFactor];
    return kept.values.get();
  };
  // target (rows targetStride apart) = (or, with add, target +=) the column pass of the row
  // pass with the y factor times the coefficient.
  auto columnPass = [&](Real* target, std::ptrdiff_t targetStride, const Real* rows, int yFactor,
                        double coefficient, bool add) {
    std::vector<Tap> taps;
    for (int j = -hy; j <= hy; ++j) {
      const double w = coefficient * factors_[yFactor][j + hy];
      if (w != 0.0) taps.push_back({static_cast<std::ptrdiff_t>(j) * IW, static_cast<Real>(w)});
    }
    const dia_taps::RowFunction<Real> row = add ? addRow : setRow;
    // A block of columns at a time, so that the rows the taps reach stay in cache.
    for (int x = 0; x < IW; x += kColumnBlock)
      for (int y = 0; y < IH; ++y)
        row(taps.data(), taps.size(), &rows[static_cast<std::size_t>(y + hy) * IW + x],
            &target[y * targetStride + x], std::min(kColumnBlock, IW - x));
  };

  // The first term sets the sum, the others add to it.
  bool started = false;
  auto addScaled = [&](const Real* values, double coefficient) {
    const Tap scaled{0, static_cast<Real>(coefficient)};
    const dia_taps::RowFunction<Real> row = started ? addRow : setRow;
    for (int y = 0; y < IH; ++y) row(&scaled, 1, &values[static_cast<std::size_t>(y) * IW], &sum[y * OS], IW);
  };
  for (std::size_t k = 0; k < product.terms.size(); ++k) {
    const Term& t = product.terms[k];
    const std::pair<int, int> key{t.xFactor, t.yFactor};
    if (static_cast<int>(k) == product.footprintTerm) {
      auto found = source.footprintTerms.find(key);
      if (found == source.footprintTerms.end() &&
          !makeFootprintTerms__(source, t.xFactor, product.order, t.yFactor, sum, OS, t.coefficient, started))
        found = source.footprintTerms.find(key);
      if (found != source.footprintTerms.end()) addScaled(found->second.values.get(), t.coefficient);
    } else if (source.termUses[key] > 1) {
      // A term of several products: its result is kept and added with the coefficient.
      auto found = source.terms.find(key);
      if (found == source.terms.end()) {
        Buffer values = source.buffer();
        columnPass(values.get(), IW, rowPass(t.xFactor), t.yFactor, 1.0, false);
        found = source.terms.emplace(key, Source::Kept{std::move(values), source.termLastUse[key]}).first;
      }
      addScaled(found->second.values.get(), t.coefficient);
    } else {
      columnPass(sum, OS, rowPass(t.xFactor), t.yFactor, t.coefficient, started);
    }
    started = true;
  }
  if (!product.cornerWeight.empty()) {
    std::vector<Tap> taps;
    for (std::size_t k = 0; k < product.cornerWeight.size(); ++k)
      taps.push_back(
          {product.cornerY[k] * S + product.cornerX[k], static_cast<Real>(product.cornerWeight[k])});
    for (int y = 0; y < IH; ++y)
      addRow(taps.data(), taps.size(), &source.data[(y + hy) * S + hx], &sum[y * OS], IW);
  }
  source.forget(product.order + 1);
}

}  // namespace dia_basis

namespace dia_basis {

bool BasisCorrelator::makeFootprintTerms__(Source& source, int xFactor, int order, int yFactor, float* sum,
                                           std::ptrdiff_t stride, double coefficient, bool add) {
  const diffima& e = engine_;
  const int hx = e.hx, hy = e.hy;
  const int IW = source.innerWidth, IH = source.innerHeight;
  const RowFunctions rowFunctions;
  const dia_taps::RowFunction<Real> setRow = rowFunctions.set, addRow = rowFunctions.add;
  // Every footprint term of the x factor that a product from this one on still needs; the
  // asking product's own, when no later one needs it, first and without storage of its own.
  std::vector<std::pair<int, Real*>> targets;
  const std::map<int, int>& group = source.footprintGroups[xFactor];
  const auto own = group.find(yFactor);
  const bool direct = own != group.end() && own->second == order;
  if (direct) targets.push_back({yFactor, nullptr});
  for (const auto& [y, lastUse] : group) {
    if (lastUse < order || (direct && y == yFactor) || source.footprintTerms.count({xFactor, y})) continue;
    Source::Kept& kept = source.footprintTerms[{xFactor, y}];
    kept.values = source.buffer();
    kept.lastUse = lastUse;
    targets.push_back({y, kept.values.get()});
  }
  // The direct term's rows pass through one block of values and are then scaled into the
  // result, as addScaled does with a kept term: the same bits in any order of asking.
  std::vector<Real> block(direct ? kColumnBlock : 0);
  const Tap scaled{0, static_cast<Real>(coefficient)};
  const dia_taps::RowFunction<Real> scaleRow = add ? addRow : setRow;
  // Plane k holds the row pass cut to the k-th narrowest width of the footprint's rows: the
  // plane before plus the taps between the two widths.
  const std::vector<double>& u = factors_[xFactor];
  const int strip = std::min(IH, kPlaneStripRows), stripHeight = strip + 2 * hy;
  const std::size_t plane = static_cast<std::size_t>(IW) * stripHeight, planes = planeWidths_.size();
  if (!source.pool->planeStrip) source.pool->planeStrip = freshBuffer(plane * planes);
  Real* const planeRows = source.pool->planeStrip.get();
  std::vector<std::vector<Tap>> rowTaps(planes);
  for (std::size_t k = 0; k < planes; ++k)
    for (int i = -planeWidths_[k]; i <= planeWidths_[k]; ++i)
      if ((k == 0 || std::abs(i) > planeWidths_[k - 1]) && u[i + hx] != 0.0)
        rowTaps[k].push_back({i, static_cast<Real>(u[i + hx])});
  // Each row j of the footprint takes its taps from the plane of its width.
  std::vector<std::vector<Tap>> columnTaps(targets.size());
  for (std::size_t n = 0; n < targets.size(); ++n)
    for (int j = -hy; j <= hy; ++j) {
      const int w = rowWidth_[j + hy];
      const double v = factors_[targets[n].first][j + hy];
      if (w < 0 || v == 0.0) continue;
      const std::size_t k = static_cast<std::size_t>(std::find(planeWidths_.begin(), planeWidths_.end(), w) -
                                                     planeWidths_.begin());
      columnTaps[n].push_back({static_cast<std::ptrdiff_t>(k * plane) + static_cast<std::ptrdiff_t>(j) * IW,
                               static_cast<Real>(v)});
    }
  const Tap previousPlane{0, 1.0f};  // adds the row of the plane before
  for (int first = 0; first < IH; first += strip) {
    const int rows = std::min(strip, IH - first);
    for (int r = 0; r < rows + 2 * hy; ++r)
      for (std::size_t k = 0; k < planes; ++k) {
        Real* to = &planeRows[k * plane + static_cast<std::size_t>(r) * IW];
        setRow(rowTaps[k].data(), rowTaps[k].size(), &source.data[(first + r) * source.stride + hx], to, IW);
        if (k > 0) addRow(&previousPlane, 1, to - plane, to, IW);
      }
    // A block of columns at a time for every term, so that the plane rows stay in cache.
    for (int x = 0; x < IW; x += kColumnBlock) {
      const int width = std::min(kColumnBlock, IW - x);
      for (std::size_t n = 0; n < targets.size(); ++n)
        for (int y = 0; y < rows; ++y) {
          const Real* from = &planeRows[static_cast<std::size_t>(y + hy) * IW + x];
          if (targets[n].second != nullptr) {
            setRow(columnTaps[n].data(), columnTaps[n].size(), from,
                   &targets[n].second[static_cast<std::size_t>(first + y) * IW + x], width);
          } else {
            setRow(columnTaps[n].data(), columnTaps[n].size(), from, block.data(), width);
            scaleRow(&scaled, 1, block.data(), &sum[(first + y) * stride + x], width);
          }
        }
    }
  }
  return direct;
}

}  // namespace dia_basis

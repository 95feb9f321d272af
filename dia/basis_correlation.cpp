#include "dia/basis_correlation.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <compare>
#include <cstddef>
#include <cstdlib>
#include <map>
#include <new>
#include <utility>

#include "dia/dia.h"
#include "dia/tap_rows.h"
#include "orv/memory_pages.h"

namespace dia_basis {

namespace {

// The passes sum in float, as convolve2d_circ does: twice the pixels per vector of double
// and half the memory, while no sum runs over more than one footprint width of taps.
using Real = float;
using Tap = dia_taps::Tap<Real>;
using Taps = std::vector<Tap>;

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

std::vector<double> product(const std::vector<double>& a, const std::vector<double>& b) {
  std::vector<double> c(a.size());
  for (std::size_t k = 0; k < a.size(); ++k) c[k] = a[k] * b[k];
  return c;
}

struct FreeBuffer {
  void operator()(Real* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<Real[], FreeBuffer>;

// Fresh storage of n values, asked for in huge pages where the system offers them: a fault
// per 4 KiB page costs more than the passes that fill the page. The storage is aligned to a
// huge page and rounded up to whole ones, so that all of it can be mapped so.
Buffer freshBuffer(std::size_t n) {
  const auto huge = static_cast<std::size_t>(orv::kHugePageBytes);
  const std::size_t bytes = std::max(huge, (n * sizeof(Real) + huge - 1) / huge * huge);
  Buffer b(static_cast<Real*>(std::aligned_alloc(huge, bytes)));
  if (!b) throw std::bad_alloc();
  orv::hintFreshStorage(b.get(), static_cast<long>(bytes), orv::PageHint::hugePages);
  return b;
}

// The row functions of the chosen processor path, setting and adding.
struct RowFunctions {
  dia_taps::RowFunction<Real> set = dia_taps::rowFunction<Real, false>();
  dia_taps::RowFunction<Real> add = dia_taps::rowFunction<Real, true>();
};

// The footprint by rows: row j (index j + hy) covers −rowWidth … rowWidth (−1: nothing);
// planeWidths are the distinct widths, narrowest first, one footprint plane each; false
// rowRuns when the footprint is not of that shape (and then no planes).
struct FootprintRows {
  std::vector<int> rowWidth, planeWidths;
  bool rowRuns = true;
};

FootprintRows footprintRows(const diffima& e) {
  FootprintRows rows;
  rows.rowWidth.assign(2 * e.hy + 1, -1);
  for (int y = -e.hy; y <= e.hy; ++y) {
    int w = -1;
    for (int x = 0; x <= e.hx; ++x)
      if (e.quad(x, y)) w = x;
    for (int x = -e.hx; x <= e.hx; ++x) rows.rowRuns = rows.rowRuns && e.quad(x, y) == (std::abs(x) <= w);
    rows.rowWidth[y + e.hy] = w;
    if (w >= 0 && std::find(rows.planeWidths.begin(), rows.planeWidths.end(), w) == rows.planeWidths.end())
      rows.planeWidths.push_back(w);
  }
  std::sort(rows.planeWidths.begin(), rows.planeWidths.end());
  if (!rows.rowRuns) rows.planeWidths.clear();
  return rows;
}

// A basis function by its first parameter, its Gaussian and its exponents of x and y, in the
// order calc_basis asks for them.
struct BasisFunction {
  int p, n, i, j;
};

std::vector<BasisFunction> basisFunctions(const diffima& e) {
  std::vector<BasisFunction> functions;
  int p = e.nbg + 1;
  for (int n = 1; n <= e.ngauss; ++n)
    for (int i = 0; i <= e.d(n); ++i)
      for (int j = 0; j <= e.d(n) - i; ++j) {
        functions.push_back({p, n, i, j});
        const int t = (p == e.nbg + e.flux_basis) ? 0 : e.kern_order;
        p += (t + 1) * (t + 2) / 2;
      }
  return functions;
}

// A corner tap: its offset from the output pixel and its weight.
struct Corner {
  int x, y;
  double weight;
};

// A result the passes keep from the product that makes it to the last product that uses it:
// the row pass of an x factor (y factor −1), the term of several products, or a footprint term
// made ahead of its product.
enum class Stored { rowPass, term, footprintTerm };

struct StoredKey {
  int source;  // 0 the image, 1 the variance
  Stored kind;
  int xFactor, yFactor;
  auto operator<=>(const StoredKey&) const = default;
};

}  // namespace

orv::MArray<float, 2> zeroImage(const orv::Range& rx, const orv::Range& ry) {
  orv::MArray<float, 2> a(rx, ry);
  orv::hintFreshArray(a, orv::PageHint::hugePages);
  a = 0.0f;
  return a;
}

// ---------------------------------------------------------------------------------------------
// The plan: the products in the order calc_basis asks for them, the taps of their passes, and
// one table of how long each result a pass keeps is needed.

// How a term of a product is summed: straight into the result, its coefficient in the column
// taps; kept for the several products that have it and added to each with the coefficient; or
// over the footprint itself.
enum class TermForm { direct, kept, footprint };

struct BasisCorrelator::PlannedTerm {
  Term term;
  TermForm form = TermForm::direct;
  Taps columnTaps;  // of the column pass: scaled by the coefficient when direct, else by 1
};

// A product of the plan: the terms of its kernel, one of them perhaps summed over the footprint
// and the others over the whole box, and the corner taps that take back what those weigh
// outside the footprint, as offsets in the rows of its source.
struct BasisCorrelator::Product {
  bool split = false;
  int order = 0;   // position in the plan
  int source = 0;  // 0 the image, 1 the variance
  std::vector<PlannedTerm> terms;
  int footprintTerm = -1;  // the term summed over the footprint itself, -1 for none
  std::vector<Corner> corners;
  Taps cornerTaps;
};

// Buffers given back, reused before new memory is asked for: fresh pages cost more than the
// passes that fill them. The image and the variance of one box share one pool.
struct BufferPool {
  std::size_t size = 0;  // values per buffer
  std::vector<Buffer> spare;
  // The footprint planes of one strip of rows, reused by every group of footprint terms.
  Buffer planeStrip;
};

// One image of the stamp box: its rows of x, and the results its passes keep until their last
// use.
struct BasisCorrelator::Source {
  orv::MArray<float, 2> image;
  int index = 0;  // 0 the image, 1 the variance
  bool finite = true;
  int width = 0, height = 0;  // the stamp box
  int innerWidth = 0, innerHeight = 0;
  // width × height, rows of x `stride` values apart: the image's own storage where its x
  // runs along memory, else a copy
  const Real* data = nullptr;
  std::ptrdiff_t stride = 0;
  std::vector<Real> copy;

  // Row passes are innerWidth × height, terms innerWidth × innerHeight.
  std::map<StoredKey, Buffer> stored;
  std::shared_ptr<BufferPool> pool;

  Source(const orv::MArray<float, 2>& a, int index, int hx, int hy);
  Buffer buffer();
  // Gives back to the pool the stored results whose last use lies before product `done`.
  void forget(const Plan& plan, int done);
};

struct BasisCorrelator::Plan {
  // The one-dimensional factors, as the passes use them and in full.
  std::vector<std::vector<double>> factors, exactFactors;
  FootprintRows rows;
  std::map<std::pair<int, bool>, Product> products;  // by parameter and variance
  std::vector<Taps> rowTaps;                         // the taps of the row pass, by x factor
  // The taps of the footprint planes by x factor, one list per plane: plane k adds the taps
  // between the widths of planes k − 1 and k to plane k − 1.
  std::map<int, std::vector<Taps>> planeTaps;
  // The column taps of footprint terms over the planes of a strip, by source and y factor.
  std::map<std::pair<int, int>, Taps> footprintColumnTaps;
  // The lifetime table: the last product, by order, that uses each stored result.
  std::map<StoredKey, int> lastUse;

  int lastUseOf(const StoredKey& key) const {
    const auto it = lastUse.find(key);
    return it == lastUse.end() ? -1 : it->second;
  }
  int factor(const std::vector<double>& values);
  std::vector<Term> termsOf(const diffima& e, const BasisFunction& f, const BasisFunction* flux);
  std::vector<Term> squaresOf(const std::vector<Term>& terms);
  void checkSplit(const diffima& e, int p, const orv::MArray<double, 3>& kernels,
                  const std::vector<Term>& terms, Product& product) const;
  void planLifetimes(const Source* const sources[2]);
  void planTaps(const diffima& e, const Source* const sources[2]);
};

int BasisCorrelator::Plan::factor(const std::vector<double>& values) {
  std::vector<double> kept = values;
  double largest = 0.0;
  for (double v : kept) largest = std::max(largest, std::fabs(v));
  for (double& v : kept)
    if (std::fabs(v) <= kFactorNeglect * largest) v = 0.0;
  for (std::size_t k = 0; k < factors.size(); ++k)
    if (exactFactors[k] == values) return static_cast<int>(k);
  factors.push_back(std::move(kept));
  exactFactors.push_back(values);
  return static_cast<int>(factors.size()) - 1;
}

// The separable terms of a basis function: its Gaussian times its monomial, less the flux
// basis where the zero-sum rule applies.
std::vector<Term> BasisCorrelator::Plan::termsOf(const diffima& e, const BasisFunction& f,
                                                 const BasisFunction* flux) {
  auto plainTerm = [&](const BasisFunction& g) {
    const int u = factor(gaussianMonomial(e.hx, g.i, e.sig(g.n)));
    const int v = factor(gaussianMonomial(e.hy, g.j, e.sig(g.n)));
    return Term{1.0 / e.NB(g.p), u, v};
  };
  std::vector<Term> terms{plainTerm(f)};
  if (flux != nullptr && f.p != flux->p && e.positiv(f.p)) {
    Term t = plainTerm(*flux);
    t.coefficient = -t.coefficient;
    terms.push_back(t);
  }
  return terms;
}

// The terms of the square of a basis function: every pair of its terms, the mixed ones twice.
std::vector<Term> BasisCorrelator::Plan::squaresOf(const std::vector<Term>& terms) {
  std::vector<Term> squares;
  for (std::size_t a = 0; a < terms.size(); ++a)
    for (std::size_t b = a; b < terms.size(); ++b)
      squares.push_back({terms[a].coefficient * terms[b].coefficient * (a == b ? 1.0 : 2.0),
                         factor(product(exactFactors[terms[a].xFactor], exactFactors[terms[b].xFactor])),
                         factor(product(exactFactors[terms[a].yFactor], exactFactors[terms[b].yFactor]))});
  return squares;
}

// Whether the terms rebuild the kernel of parameter p over the footprint; which of them, if
// any, is summed over the footprint itself (the one that weighs most beyond it); and the corner
// taps that take back what the others weigh there, in row order.
void BasisCorrelator::Plan::checkSplit(const diffima& e, int p, const orv::MArray<double, 3>& kernels,
                                       const std::vector<Term>& terms, Product& product) const {
  const int hx = e.hx, hy = e.hy;
  double largest = 0.0, misfit = 0.0, footprintSum = 0.0;
  std::vector<double> cornerMass(terms.size(), 0.0);
  // The split is checked with the factors in full; the passes and their corners use the
  // factors with their negligible values left out.
  auto termValue = [&](const Term& t, int x, int y) {
    return t.coefficient * factors[t.xFactor][x + hx] * factors[t.yFactor][y + hy];
  };
  for (int y = -hy; y <= hy; ++y)
    for (int x = -hx; x <= hx; ++x) {
      double k = 0.0;
      for (const Term& t : terms)
        k += t.coefficient * exactFactors[t.xFactor][x + hx] * exactFactors[t.yFactor][y + hy];
      if (e.quad(x, y)) {
        const double want = kernels(x, y, p);
        largest = std::max(largest, std::fabs(want));
        misfit = std::max(misfit, std::fabs(k - want));
        footprintSum += std::fabs(want);
      } else {
        for (std::size_t t = 0; t < terms.size(); ++t) cornerMass[t] += std::fabs(termValue(terms[t], x, y));
      }
    }
  product.split = std::isfinite(misfit) && misfit <= kSplitTolerance * largest;
  const std::size_t heaviest =
      static_cast<std::size_t>(std::max_element(cornerMass.begin(), cornerMass.end()) - cornerMass.begin());
  if (rows.rowRuns && cornerMass[heaviest] > kCornerNeglect * footprintSum)
    product.footprintTerm = static_cast<int>(heaviest);
  std::vector<Corner> corners;
  for (int y = -hy; y <= hy; ++y)
    for (int x = -hx; x <= hx; ++x) {
      if (e.quad(x, y)) continue;
      double k = 0.0;
      for (std::size_t t = 0; t < terms.size(); ++t)
        if (static_cast<int>(t) != product.footprintTerm) k += termValue(terms[t], x, y);
      if (k != 0.0) corners.push_back({x, y, k});
    }
  std::sort(corners.begin(), corners.end(),
            [](const Corner& a, const Corner& b) { return std::fabs(a.weight) < std::fabs(b.weight); });
  double dropped = 0.0;
  std::size_t first = 0;
  while (first < corners.size() &&
         dropped + std::fabs(corners[first].weight) <= kCornerNeglect * footprintSum)
    dropped += std::fabs(corners[first++].weight);
  // The kept corners in row order, for the memory's sake; their offsets are set with the
  // source's rows.
  std::sort(corners.begin() + static_cast<std::ptrdiff_t>(first), corners.end(),
            [](const Corner& a, const Corner& b) { return a.y != b.y ? a.y < b.y : a.x < b.x; });
  for (std::size_t k = first; k < corners.size(); ++k)
    product.corners.push_back({corners[k].x, corners[k].y, -corners[k].weight});
}

// Every term's form and every stored result's last use, walking the products in plan order: a
// term of several products of its source is kept, and its row pass is needed only where it is
// made; a footprint term lives to the last product that has it.
void BasisCorrelator::Plan::planLifetimes(const Source* const sources[2]) {
  std::vector<Product*> inOrder(products.size());
  for (auto& [key, product] : products) inOrder[product.order] = &product;
  std::map<StoredKey, int> uses;
  for (const Product* product : inOrder) {
    if (!product->split) continue;
    for (std::size_t t = 0; t < product->terms.size(); ++t) {
      const Term& term = product->terms[t].term;
      if (static_cast<int>(t) != product->footprintTerm)
        ++uses[{product->source, Stored::term, term.xFactor, term.yFactor}];
    }
  }
  auto use = [&](const StoredKey& key, int order) { lastUse[key] = order; };
  std::map<StoredKey, bool> made;
  for (Product* product : inOrder) {
    if (!product->split || !sources[product->source]) continue;
    for (std::size_t t = 0; t < product->terms.size(); ++t) {
      PlannedTerm& planned = product->terms[t];
      const StoredKey key{product->source, Stored::term, planned.term.xFactor, planned.term.yFactor};
      if (static_cast<int>(t) == product->footprintTerm) {
        planned.form = TermForm::footprint;
        use({product->source, Stored::footprintTerm, key.xFactor, key.yFactor}, product->order);
        continue;
      }
      planned.form = uses[key] > 1 ? TermForm::kept : TermForm::direct;
      if (planned.form == TermForm::kept) use(key, product->order);
      if (planned.form == TermForm::direct || !made[key])
        use({product->source, Stored::rowPass, key.xFactor, -1}, product->order);
      made[key] = true;
    }
  }
}

// The taps of every pass: row passes by x factor, column passes by term, the corners in the
// rows of their source, and the planes and their column taps for the footprint terms.
void BasisCorrelator::Plan::planTaps(const diffima& e, const Source* const sources[2]) {
  const int hx = e.hx, hy = e.hy;
  rowTaps.resize(factors.size());
  for (std::size_t f = 0; f < factors.size(); ++f)
    for (int i = -hx; i <= hx; ++i)
      if (factors[f][i + hx] != 0.0) rowTaps[f].push_back({i, static_cast<Real>(factors[f][i + hx])});
  const std::vector<int>& widths = rows.planeWidths;
  for (auto& [key, product] : products) {
    if (!product.split) continue;
    const Source& source = *sources[product.source];
    for (PlannedTerm& planned : product.terms) {
      const Term& t = planned.term;
      if (planned.form == TermForm::footprint) {
        const std::vector<double>& u = factors[t.xFactor];
        std::vector<Taps>& planes = planeTaps[t.xFactor];
        planes.assign(widths.size(), Taps());
        for (std::size_t k = 0; k < widths.size(); ++k)
          for (int i = -widths[k]; i <= widths[k]; ++i)
            if ((k == 0 || std::abs(i) > widths[k - 1]) && u[i + hx] != 0.0)
              planes[k].push_back({i, static_cast<Real>(u[i + hx])});
        // Each row j of the footprint takes its taps from the plane of its width.
        const int strip = std::min(source.innerHeight, kPlaneStripRows);
        const std::size_t plane = static_cast<std::size_t>(source.innerWidth) * (strip + 2 * hy);
        Taps& columns = footprintColumnTaps[{product.source, t.yFactor}];
        columns.clear();
        for (int j = -hy; j <= hy; ++j) {
          const int w = rows.rowWidth[j + hy];
          const double v = factors[t.yFactor][j + hy];
          if (w < 0 || v == 0.0) continue;
          const auto k =
              static_cast<std::size_t>(std::find(widths.begin(), widths.end(), w) - widths.begin());
          columns.push_back(
              {static_cast<std::ptrdiff_t>(k * plane) + static_cast<std::ptrdiff_t>(j) * source.innerWidth,
               static_cast<Real>(v)});
        }
        continue;
      }
      const double coefficient = planned.form == TermForm::direct ? t.coefficient : 1.0;
      for (int j = -hy; j <= hy; ++j) {
        const double w = coefficient * factors[t.yFactor][j + hy];
        if (w != 0.0)
          planned.columnTaps.push_back(
              {static_cast<std::ptrdiff_t>(j) * source.innerWidth, static_cast<Real>(w)});
      }
    }
    for (const Corner& c : product.corners)
      product.cornerTaps.push_back({c.y * source.stride + c.x, static_cast<Real>(c.weight)});
  }
}

BasisCorrelator::Source::Source(const orv::MArray<float, 2>& a, int index, int hx, int hy) : index(index) {
  image.makeReference(a);
  width = a.length(1);
  height = a.length(2);
  innerWidth = std::max(0, width - 2 * hx);
  innerHeight = std::max(0, height - 2 * hy);
  // Rows of x, taken in place where the image lies so and copied otherwise; an image with a
  // value that is not finite goes through the two-dimensional routine, where a corner value
  // never enters.
  if (a.stride(1) == 1 && a.stride(2) >= width) {
    data = &a(a.first(1), a.first(2));
    stride = a.stride(2);
  } else {
    copy.resize(static_cast<std::size_t>(width) * height);
    std::size_t k = 0;
    for (int y = a.first(2); y <= a.last(2); ++y)
      for (int x = a.first(1); x <= a.last(1); ++x) copy[k++] = a(x, y);
    data = copy.data();
    stride = width;
  }
  for (int y = 0; y < height; ++y) {
    const Real* row = data + y * stride;
    for (int x = 0; x < width; ++x) finite = finite && std::isfinite(row[x]);
  }
}

// Every buffer has room for a row pass, the largest of them, so that any one serves; its
// values are left for the pass to set.
Buffer BasisCorrelator::Source::buffer() {
  if (pool->spare.empty()) return freshBuffer(pool->size);
  Buffer b = std::move(pool->spare.back());
  pool->spare.pop_back();
  return b;
}

void BasisCorrelator::Source::forget(const Plan& plan, int done) {
  for (auto it = stored.begin(); it != stored.end();) {
    if (plan.lastUseOf(it->first) < done) {
      pool->spare.push_back(std::move(it->second));
      it = stored.erase(it);
    } else {
      ++it;
    }
  }
}

BasisCorrelator::BasisCorrelator(const diffima& engine, const orv::MArray<float, 2>& image,
                                 const orv::MArray<float, 2>& variance)
    : engine_(engine), plan_(std::make_unique<Plan>()) {
  const orv::MArray<float, 2>* images[2] = {&image, &variance};
  for (int s = 0; s < 2; ++s) {
    if (images[s]->isEmpty()) continue;
    auto source = std::make_unique<Source>(*images[s], s, engine.hx, engine.hy);
    if (s == 1 && sources_[0] && sources_[0]->width == source->width &&
        sources_[0]->height == source->height) {
      source->pool = sources_[0]->pool;
    } else {
      source->pool = std::make_shared<BufferPool>();
      source->pool->size = static_cast<std::size_t>(source->innerWidth) * source->height;
    }
    sources_[s] = std::move(source);
  }
  Plan& plan = *plan_;
  plan.rows = footprintRows(engine);
  const std::vector<BasisFunction> functions = basisFunctions(engine);
  const int f = engine.nbg + engine.flux_basis;
  const BasisFunction* flux = nullptr;
  for (const BasisFunction& fn : functions)
    if (fn.p == f) flux = &fn;
  int order = 0;
  for (const BasisFunction& fn : functions) {
    const std::vector<Term> terms = plan.termsOf(engine, fn, flux);
    const std::vector<Term> squares = plan.squaresOf(terms);
    for (int s = 0; s < 2; ++s) {
      if (!sources_[s]) continue;
      const bool variance = s == 1;
      Product& product = plan.products[{fn.p, variance}];
      product.order = order++;
      product.source = s;
      for (const Term& t : variance ? squares : terms) product.terms.push_back({t, TermForm::direct, {}});
      plan.checkSplit(engine, fn.p, variance ? engine.quad_basis : engine.basis, variance ? squares : terms,
                      product);
    }
  }
  const Source* const sources[2] = {sources_[0].get(), sources_[1].get()};
  plan.planLifetimes(sources);
  plan.planTaps(engine, sources);
}

BasisCorrelator::~BasisCorrelator() = default;

bool BasisCorrelator::splits(int p, bool variance) const {
  const auto it = plan_->products.find({p, variance});
  const Source* source = sources_[variance ? 1 : 0].get();
  return it != plan_->products.end() && it->second.split && source && source->finite;
}

// ---------------------------------------------------------------------------------------------
// The passes: each product summed from the stored results of the products before it, or from
// passes made now, into the inner area of its result.

// The inner area of a result, rows `stride` values apart.
struct BasisCorrelator::Area {
  Real* first;
  std::ptrdiff_t stride;
};

namespace {

// target (rows targetStride apart) = (or, with add, target +=) the column pass over `rows` (a
// row pass, width × (height + 2·hy)) with `taps`; a block of columns at a time, so that the
// rows the taps reach stay in cache.
void columnPass(const RowFunctions& functions, const Real* rows, const Taps& taps, Real* target,
                std::ptrdiff_t targetStride, int width, int height, int hy, bool add) {
  const dia_taps::RowFunction<Real> row = add ? functions.add : functions.set;
  for (int x = 0; x < width; x += kColumnBlock)
    for (int y = 0; y < height; ++y)
      row(taps.data(), taps.size(), &rows[static_cast<std::size_t>(y + hy) * width + x],
          &target[y * targetStride + x], std::min(kColumnBlock, width - x));
}

// target (rows targetStride apart) = (or, with add, target +=) values (width × height) times
// the coefficient.
void addScaled(const RowFunctions& functions, const Real* values, double coefficient, Real* target,
               std::ptrdiff_t targetStride, int width, int height, bool add) {
  const Tap scaled{0, static_cast<Real>(coefficient)};
  const dia_taps::RowFunction<Real> row = add ? functions.add : functions.set;
  for (int y = 0; y < height; ++y)
    row(&scaled, 1, &values[static_cast<std::size_t>(y) * width], &target[y * targetStride], width);
}

// Whether `into` has the indices of the stamp box and x along memory, so that a result is
// written into its storage (a view of a larger image too) instead of replacing it.
bool writableInPlace(const orv::MArray<float, 2>& into, const orv::MArray<float, 2>& box) {
  return !into.isEmpty() && into.first(1) == box.first(1) && into.last(1) == box.last(1) &&
         into.first(2) == box.first(2) && into.last(2) == box.last(2) && into.stride(1) == 1 &&
         into.stride(2) >= box.length(1);
}

}  // namespace

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
  const orv::MArray<float, 2>& box = source.image;
  const bool inPlace = writableInPlace(into, box);
  const auto it = plan_->products.find({p, variance});
  if (it == plan_->products.end() || !it->second.split || source.innerWidth == 0 || source.innerHeight == 0 ||
      !source.finite) {
    const orv::MArray<double, 3>& kernels = variance ? e.quad_basis : e.basis;
    const orv::MArray<float, 2> result =
        convolve2d_circ(orv::MArray<double, 2>(kernels, orv::Range::all(), orv::Range::all(), p), box);
    if (inPlace)
      into = result;
    else
      into.makeReference(result);
    return;
  }
  if (!inPlace)
    into.makeReference(
        orv::MArray<float, 2>(orv::Range(box.first(1), box.last(1)), orv::Range(box.first(2), box.last(2))));
  // 0 around the inner area, where the sums go straight.
  const std::ptrdiff_t stride = into.stride(2);
  float* const out = into.firstElement();
  for (int y = 0; y < source.height; ++y) {
    float* row = out + y * stride;
    if (y < e.hy || y >= e.hy + source.innerHeight) {
      std::fill(row, row + source.width, 0.0f);
    } else {
      std::fill(row, row + e.hx, 0.0f);
      std::fill(row + e.hx + source.innerWidth, row + source.width, 0.0f);
    }
  }
  sumTerms__(source, it->second, Area{out + e.hy * stride + e.hx, stride});
  source.forget(*plan_, it->second.order + 1);
}

void BasisCorrelator::sumTerms__(Source& source, const Product& product, const Area& result) {
  const RowFunctions rows;
  const int hx = engine_.hx, hy = engine_.hy, IW = source.innerWidth, IH = source.innerHeight;
  // The first term sets the sum, the others add to it.
  bool started = false;
  for (const PlannedTerm& planned : product.terms) {
    const Term& t = planned.term;
    if (planned.form == TermForm::direct) {
      columnPass(rows, rowPass__(source, t.xFactor), planned.columnTaps, result.first, result.stride, IW, IH,
                 hy, started);
    } else if (planned.form == TermForm::kept) {
      addScaled(rows, keptTerm__(source, planned), t.coefficient, result.first, result.stride, IW, IH,
                started);
    } else {
      const StoredKey key{source.index, Stored::footprintTerm, t.xFactor, t.yFactor};
      auto found = source.stored.find(key);
      if (found == source.stored.end() &&
          !makeFootprintTerms__(source, planned, product.order, result, started))
        found = source.stored.find(key);
      if (found != source.stored.end())
        addScaled(rows, found->second.get(), t.coefficient, result.first, result.stride, IW, IH, started);
    }
    started = true;
  }
  if (!product.cornerTaps.empty())
    for (int y = 0; y < IH; ++y)
      rows.add(product.cornerTaps.data(), product.cornerTaps.size(),
               &source.data[(y + hy) * source.stride + hx], &result.first[y * result.stride], IW);
}

// The row pass of an x factor over every row of the box, kept until its last use.
const float* BasisCorrelator::rowPass__(Source& source, int xFactor) {
  const StoredKey key{source.index, Stored::rowPass, xFactor, -1};
  const auto found = source.stored.find(key);
  if (found != source.stored.end()) return found->second.get();
  const RowFunctions rows;
  const Taps& taps = plan_->rowTaps[xFactor];
  const int hx = engine_.hx, IW = source.innerWidth;
  Buffer values = source.buffer();
  for (int y = 0; y < source.height; ++y)
    rows.set(taps.data(), taps.size(), &source.data[y * source.stride + hx],
             &values[static_cast<std::size_t>(y) * IW], IW);
  return source.stored.emplace(key, std::move(values)).first->second.get();
}

// A term of several products, made once and kept until its last use; the products add it with
// their coefficients.
const float* BasisCorrelator::keptTerm__(Source& source, const PlannedTerm& planned) {
  const StoredKey key{source.index, Stored::term, planned.term.xFactor, planned.term.yFactor};
  const auto found = source.stored.find(key);
  if (found != source.stored.end()) return found->second.get();
  Buffer values = source.buffer();
  columnPass(RowFunctions(), rowPass__(source, planned.term.xFactor), planned.columnTaps, values.get(),
             source.innerWidth, source.innerWidth, source.innerHeight, engine_.hy, false);
  return source.stored.emplace(key, std::move(values)).first->second.get();
}

namespace {

// A footprint term being made: its column taps over the planes of a strip, and where its rows
// go: its own values (width × height), or, with none, the result straight.
struct FootprintTarget {
  const Taps* columnTaps;
  Real* values;
};

// The strips of footprint planes of one x factor and the column passes of every target over
// them. Plane k holds the row pass cut to the k-th narrowest width of the footprint's rows: the
// plane before plus the taps between the two widths. The direct target's rows pass through one
// block of values and are then scaled into the result, as addScaled does with a kept term: the
// same bits in any order of asking.
struct FootprintStrips {
  const RowFunctions& rows;
  const Real* data;  // the source's rows, `stride` apart, from the first inner column
  std::ptrdiff_t stride;
  int width, height, hy;  // of the inner area
  const std::vector<Taps>& planeTaps;
  Real* planeRows;  // room for every plane of a strip
  std::size_t plane;

  void run(const std::vector<FootprintTarget>& targets, Real* result, std::ptrdiff_t resultStride,
           double coefficient, bool add) const {
    const int strip = std::min(height, kPlaneStripRows);
    std::vector<Real> block(kColumnBlock);
    const Tap scaled{0, static_cast<Real>(coefficient)};
    const dia_taps::RowFunction<Real> scaleRow = add ? rows.add : rows.set;
    for (int first = 0; first < height; first += strip) {
      const int count = std::min(strip, height - first);
      fillPlanes(first, count);
      // A block of columns at a time for every term, so that the plane rows stay in cache.
      for (int x = 0; x < width; x += kColumnBlock) {
        const int columns = std::min(kColumnBlock, width - x);
        for (const FootprintTarget& target : targets)
          for (int y = 0; y < count; ++y) {
            const Real* from = &planeRows[static_cast<std::size_t>(y + hy) * width + x];
            const Taps& taps = *target.columnTaps;
            if (target.values != nullptr) {
              rows.set(taps.data(), taps.size(), from,
                       &target.values[static_cast<std::size_t>(first + y) * width + x], columns);
            } else {
              rows.set(taps.data(), taps.size(), from, block.data(), columns);
              scaleRow(&scaled, 1, block.data(), &result[(first + y) * resultStride + x], columns);
            }
          }
      }
    }
  }

  // The planes of the strip of `count` output rows from row `first`, with their margins.
  void fillPlanes(int first, int count) const {
    const Tap previousPlane{0, 1.0f};  // adds the row of the plane before
    for (int r = 0; r < count + 2 * hy; ++r)
      for (std::size_t k = 0; k < planeTaps.size(); ++k) {
        Real* to = &planeRows[k * plane + static_cast<std::size_t>(r) * width];
        rows.set(planeTaps[k].data(), planeTaps[k].size(), &data[(first + r) * stride], to, width);
        if (k > 0) rows.add(&previousPlane, 1, to - plane, to, width);
      }
  }
};

}  // namespace

bool BasisCorrelator::makeFootprintTerms__(Source& source, const PlannedTerm& asked, int order,
                                           const Area& result, bool add) {
  const Plan& plan = *plan_;
  const int hy = engine_.hy, xFactor = asked.term.xFactor, yFactor = asked.term.yFactor;
  // Every footprint term of the x factor that a product from this one on still needs; the
  // asking product's own, when no later one needs it, first and without storage of its own.
  std::vector<FootprintTarget> targets;
  const bool direct = plan.lastUseOf({source.index, Stored::footprintTerm, xFactor, yFactor}) == order;
  if (direct) targets.push_back({&plan.footprintColumnTaps.at({source.index, yFactor}), nullptr});
  for (auto it = plan.lastUse.lower_bound({source.index, Stored::footprintTerm, xFactor, INT_MIN});
       it != plan.lastUse.end() && it->first.source == source.index &&
       it->first.kind == Stored::footprintTerm && it->first.xFactor == xFactor;
       ++it) {
    const StoredKey& key = it->first;
    if (it->second < order || (direct && key.yFactor == yFactor) || source.stored.count(key)) continue;
    Real* values = source.stored.emplace(key, source.buffer()).first->second.get();
    targets.push_back({&plan.footprintColumnTaps.at({source.index, key.yFactor}), values});
  }
  const int strip = std::min(source.innerHeight, kPlaneStripRows);
  const std::size_t plane = static_cast<std::size_t>(source.innerWidth) * (strip + 2 * hy);
  const std::vector<Taps>& planeTaps = plan.planeTaps.at(xFactor);
  if (!source.pool->planeStrip) source.pool->planeStrip = freshBuffer(plane * planeTaps.size());
  const RowFunctions rows;
  const FootprintStrips strips{
      rows,      source.data + engine_.hx,      source.stride, source.innerWidth, source.innerHeight, hy,
      planeTaps, source.pool->planeStrip.get(), plane};
  strips.run(targets, result.first, result.stride, asked.term.coefficient, add);
  return direct;
}

}  // namespace dia_basis

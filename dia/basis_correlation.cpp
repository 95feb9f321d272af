#include "dia/basis_correlation.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <map>
#include <new>
#include <utility>

#include "dia/basis_plan.h"
#include "dia/dia.h"
#include "dia/tap_rows.h"
#include "orv/memory_pages.h"

namespace dia_basis {

namespace {

// Columns per block of a column pass: the 2·hy + 1 rows of a block that its taps reach stay
// in the processor's cache.
constexpr int kColumnBlock = 256;

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

}  // namespace

orv::MArray<float, 2> zeroImage(const orv::Range& rx, const orv::Range& ry) {
  orv::MArray<float, 2> a(rx, ry);
  orv::hintFreshArray(a, orv::PageHint::hugePages);
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

// One image of the stamp box: its rows of x, and the results its passes keep until their last
// use (row passes innerWidth × height, terms innerWidth × innerHeight).
struct BasisCorrelator::Source {
  orv::MArray<float, 2> image;
  int index = 0;  // 0 the image, 1 the variance
  bool finite = true;
  // Rows of x, width × height, `shape.stride` values apart: the image's own storage where its x
  // runs along memory, else a copy.
  SourceShape shape;
  const Real* data = nullptr;
  std::vector<Real> copy;
  std::map<StoredKey, Buffer> stored;
  std::shared_ptr<BufferPool> pool;

  Source(const orv::MArray<float, 2>& a, int index, int hx, int hy);
  Buffer buffer();
  // Gives back to the pool the stored results whose last use lies before product `done`.
  void forget(const BasisPlan& plan, int done);
};

BasisCorrelator::Source::Source(const orv::MArray<float, 2>& a, int index, int hx, int hy) : index(index) {
  image.makeReference(a);
  shape.width = a.length(1);
  shape.height = a.length(2);
  shape.innerWidth = std::max(0, shape.width - 2 * hx);
  shape.innerHeight = std::max(0, shape.height - 2 * hy);
  // Rows of x, taken in place where the image lies so and copied otherwise; an image with a
  // value that is not finite goes through the two-dimensional routine, where a corner value
  // never enters.
  if (a.stride(1) == 1 && a.stride(2) >= shape.width) {
    data = &a(a.first(1), a.first(2));
    shape.stride = a.stride(2);
  } else {
    copy.resize(static_cast<std::size_t>(shape.width) * shape.height);
    std::size_t k = 0;
    for (int y = a.first(2); y <= a.last(2); ++y)
      for (int x = a.first(1); x <= a.last(1); ++x) copy[k++] = a(x, y);
    data = copy.data();
    shape.stride = shape.width;
  }
  for (int y = 0; y < shape.height; ++y) {
    const Real* row = data + y * shape.stride;
    for (int x = 0; x < shape.width; ++x) finite = finite && std::isfinite(row[x]);
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

void BasisCorrelator::Source::forget(const BasisPlan& plan, int done) {
  for (auto it = stored.begin(); it != stored.end();) {
    if (plan.lastUse(it->first) < done) {
      pool->spare.push_back(std::move(it->second));
      it = stored.erase(it);
    } else {
      ++it;
    }
  }
}

BasisCorrelator::BasisCorrelator(const diffima& engine, const orv::MArray<float, 2>& image,
                                 const orv::MArray<float, 2>& variance)
    : engine_(engine) {
  const orv::MArray<float, 2>* images[2] = {&image, &variance};
  const SourceShape* shapes[2] = {nullptr, nullptr};
  for (int s = 0; s < 2; ++s) {
    if (images[s]->isEmpty()) continue;
    auto source = std::make_unique<Source>(*images[s], s, engine.hx, engine.hy);
    const SourceShape& shape = source->shape;
    if (s == 1 && sources_[0] && sources_[0]->shape.width == shape.width &&
        sources_[0]->shape.height == shape.height) {
      source->pool = sources_[0]->pool;
    } else {
      source->pool = std::make_shared<BufferPool>();
      source->pool->size = static_cast<std::size_t>(shape.innerWidth) * shape.height;
    }
    shapes[s] = &shape;
    sources_[s] = std::move(source);
  }
  plan_ = std::make_unique<BasisPlan>(engine, shapes);
}

BasisCorrelator::~BasisCorrelator() = default;

bool BasisCorrelator::splits(int p, bool variance) const {
  const Product* product = plan_->product(p, variance);
  const Source* source = sources_[variance ? 1 : 0].get();
  return product != nullptr && product->split && source && source->finite;
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
  const SourceShape& shape = source.shape;
  const orv::MArray<float, 2>& box = source.image;
  const bool inPlace = writableInPlace(into, box);
  const Product* product = plan_->product(p, variance);
  if (product == nullptr || !product->split || shape.innerWidth == 0 || shape.innerHeight == 0 ||
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
  for (int y = 0; y < shape.height; ++y) {
    float* row = out + y * stride;
    if (y < e.hy || y >= e.hy + shape.innerHeight) {
      std::fill(row, row + shape.width, 0.0f);
    } else {
      std::fill(row, row + e.hx, 0.0f);
      std::fill(row + e.hx + shape.innerWidth, row + shape.width, 0.0f);
    }
  }
  sumTerms__(source, *product, Area{out + e.hy * stride + e.hx, stride});
  source.forget(*plan_, product->order + 1);
}

void BasisCorrelator::sumTerms__(Source& source, const Product& product, const Area& result) {
  const RowFunctions rows;
  const int hx = engine_.hx, hy = engine_.hy, IW = source.shape.innerWidth, IH = source.shape.innerHeight;
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
               &source.data[(y + hy) * source.shape.stride + hx], &result.first[y * result.stride], IW);
}

// The row pass of an x factor over every row of the box, kept until its last use.
const float* BasisCorrelator::rowPass__(Source& source, int xFactor) {
  const StoredKey key{source.index, Stored::rowPass, xFactor, -1};
  const auto found = source.stored.find(key);
  if (found != source.stored.end()) return found->second.get();
  const RowFunctions rows;
  const Taps& taps = plan_->rowTaps(xFactor);
  const int hx = engine_.hx, IW = source.shape.innerWidth;
  Buffer values = source.buffer();
  for (int y = 0; y < source.shape.height; ++y)
    rows.set(taps.data(), taps.size(), &source.data[y * source.shape.stride + hx],
             &values[static_cast<std::size_t>(y) * IW], IW);
  return source.stored.emplace(key, std::move(values)).first->second.get();
}

// A term of several products, made once and kept until its last use; the products add it with
// their coefficients.
const float* BasisCorrelator::keptTerm__(Source& source, const PlannedTerm& planned) {
  const StoredKey key{source.index, Stored::term, planned.term.xFactor, planned.term.yFactor};
  const auto found = source.stored.find(key);
  if (found != source.stored.end()) return found->second.get();
  const SourceShape& shape = source.shape;
  Buffer values = source.buffer();
  columnPass(RowFunctions(), rowPass__(source, planned.term.xFactor), planned.columnTaps, values.get(),
             shape.innerWidth, shape.innerWidth, shape.innerHeight, engine_.hy, false);
  return source.stored.emplace(key, std::move(values)).first->second.get();
}

namespace {

// A footprint term being made: its column taps over the planes of a strip, and where its rows
// go: its own values (inner width × inner height), or, with none, the result straight.
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
  const SourceShape& shape;
  const Real* data;  // the source's rows from the first inner column
  int hy;
  const std::vector<Taps>& planeTaps;
  Real* planeRows;  // room for every plane of a strip
  std::size_t plane;

  void run(const std::vector<FootprintTarget>& targets, Real* result, std::ptrdiff_t resultStride,
           double coefficient, bool add) const {
    const int width = shape.innerWidth, height = shape.innerHeight, strip = planeStripRows(shape);
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
    const int width = shape.innerWidth;
    for (int r = 0; r < count + 2 * hy; ++r)
      for (std::size_t k = 0; k < planeTaps.size(); ++k) {
        Real* to = &planeRows[k * plane + static_cast<std::size_t>(r) * width];
        rows.set(planeTaps[k].data(), planeTaps[k].size(), &data[(first + r) * shape.stride], to, width);
        if (k > 0) rows.add(&previousPlane, 1, to - plane, to, width);
      }
  }
};

}  // namespace

bool BasisCorrelator::makeFootprintTerms__(Source& source, const PlannedTerm& asked, int order,
                                           const Area& result, bool add) {
  const BasisPlan& plan = *plan_;
  const int hy = engine_.hy, xFactor = asked.term.xFactor, yFactor = asked.term.yFactor;
  // Every footprint term of the x factor that a product from this one on still needs; the
  // asking product's own, when no later one needs it, first and without storage of its own.
  std::vector<FootprintTarget> targets;
  const bool direct = plan.lastUse({source.index, Stored::footprintTerm, xFactor, yFactor}) == order;
  if (direct) targets.push_back({&plan.footprintColumnTaps(source.index, yFactor), nullptr});
  for (const auto& [y, lastUse] : plan.footprintGroup(source.index, xFactor)) {
    const StoredKey key{source.index, Stored::footprintTerm, xFactor, y};
    if (lastUse < order || (direct && y == yFactor) || source.stored.count(key)) continue;
    Real* values = source.stored.emplace(key, source.buffer()).first->second.get();
    targets.push_back({&plan.footprintColumnTaps(source.index, y), values});
  }
  const std::size_t plane = planeValues(source.shape, hy);
  const std::vector<Taps>& planeTaps = plan.planeTaps(xFactor);
  if (!source.pool->planeStrip) source.pool->planeStrip = freshBuffer(plane * planeTaps.size());
  const RowFunctions rows;
  const FootprintStrips strips{
      rows, source.shape, source.data + engine_.hx, hy, planeTaps, source.pool->planeStrip.get(), plane};
  strips.run(targets, result.first, result.stride, asked.term.coefficient, add);
  return direct;
}

}  // namespace dia_basis

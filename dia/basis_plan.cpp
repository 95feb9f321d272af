#include "dia/basis_plan.h"

#include <climits>
#include <cmath>
#include <cstdlib>

#include "dia/dia.h"

namespace dia_basis {

namespace {

// A split is accepted when it rebuilds the kernel over the footprint to this fraction of the
// kernel's largest magnitude.
constexpr double kSplitTolerance = 1e-12;
// Factor values at most this fraction of the factor's largest magnitude are left out: the
// narrow Gaussians vanish far inside the box, and their passes need only the taps that count.
// Even all of them together stay far below the float rounding of a pass.
constexpr double kFactorNeglect = 1e-10;
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

std::vector<double> elementProduct(const std::vector<double>& a, const std::vector<double>& b) {
  std::vector<double> c(a.size());
  for (std::size_t k = 0; k < a.size(); ++k) c[k] = a[k] * b[k];
  return c;
}

// The footprint's rows and their widths.
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

}  // namespace

// A basis function by its first parameter, its Gaussian and its exponents of x and y.
struct BasisFunction {
  int p, n, i, j;
};

namespace {

// The basis functions in the order calc_basis asks for them.
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

}  // namespace

int BasisPlan::factor__(const std::vector<double>& values) {
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

// The separable terms of a basis function: its Gaussian times its monomial, less the flux
// basis where the zero-sum rule applies.
std::vector<Term> BasisPlan::termsOf__(const diffima& e, const BasisFunction& f, const BasisFunction* flux) {
  auto plainTerm = [&](const BasisFunction& g) {
    const int u = factor__(gaussianMonomial(e.hx, g.i, e.sig(g.n)));
    const int v = factor__(gaussianMonomial(e.hy, g.j, e.sig(g.n)));
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
std::vector<Term> BasisPlan::squaresOf__(const std::vector<Term>& terms) {
  std::vector<Term> squares;
  for (std::size_t a = 0; a < terms.size(); ++a)
    for (std::size_t b = a; b < terms.size(); ++b)
      squares.push_back(
          {terms[a].coefficient * terms[b].coefficient * (a == b ? 1.0 : 2.0),
           factor__(elementProduct(exactFactors_[terms[a].xFactor], exactFactors_[terms[b].xFactor])),
           factor__(elementProduct(exactFactors_[terms[a].yFactor], exactFactors_[terms[b].yFactor]))});
  return squares;
}

// Whether the terms rebuild the kernel of parameter p over the footprint; which of them, if
// any, is summed over the footprint itself (the one that weighs most beyond it); and the corner
// taps that take back what the others weigh there, in row order.
void BasisPlan::checkSplit__(const diffima& e, int p, const orv::MArray<double, 3>& kernels,
                             const std::vector<Term>& terms, Product& product) const {
  const int hx = e.hx, hy = e.hy;
  double largest = 0.0, misfit = 0.0, footprintSum = 0.0;
  std::vector<double> cornerMass(terms.size(), 0.0);
  // The split is checked with the factors in full; the passes and their corners use the
  // factors with their negligible values left out.
  auto termValue = [&](const Term& t, int x, int y) {
    return t.coefficient * factors_[t.xFactor][x + hx] * factors_[t.yFactor][y + hy];
  };
  for (int y = -hy; y <= hy; ++y)
    for (int x = -hx; x <= hx; ++x) {
      double k = 0.0;
      for (const Term& t : terms)
        k += t.coefficient * exactFactors_[t.xFactor][x + hx] * exactFactors_[t.yFactor][y + hy];
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
  if (rows_.rowRuns && cornerMass[heaviest] > kCornerNeglect * footprintSum)
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
void BasisPlan::planLifetimes__() {
  std::vector<Product*> inOrder(products_.size());
  for (auto& [key, product] : products_) inOrder[product.order] = &product;
  std::map<StoredKey, int> uses;
  for (const Product* product : inOrder) {
    if (!product->split) continue;
    for (std::size_t t = 0; t < product->terms.size(); ++t) {
      const Term& term = product->terms[t].term;
      if (static_cast<int>(t) != product->footprintTerm)
        ++uses[{product->source, Stored::term, term.xFactor, term.yFactor}];
    }
  }
  auto use = [&](const StoredKey& key, int order) { lastUse_[key] = order; };
  std::map<StoredKey, bool> made;
  for (Product* product : inOrder) {
    if (!product->split) continue;
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
void BasisPlan::planTaps__(const diffima& e, const SourceShape* const shapes[2]) {
  const int hx = e.hx, hy = e.hy;
  for (auto& [key, product] : products_) {
    if (!product.split) continue;
    const SourceShape& shape = *shapes[product.source];
    for (PlannedTerm& planned : product.terms) {
      const Term& t = planned.term;
      if (planned.form == TermForm::footprint) {
        planFootprintTaps__(e, shape, product.source, t);
        continue;
      }
      if (!rowTaps_.count(t.xFactor)) {
        Taps& taps = rowTaps_[t.xFactor];
        for (int i = -hx; i <= hx; ++i)
          if (factors_[t.xFactor][i + hx] != 0.0)
            taps.push_back({i, static_cast<Real>(factors_[t.xFactor][i + hx])});
      }
      const double coefficient = planned.form == TermForm::direct ? t.coefficient : 1.0;
      for (int j = -hy; j <= hy; ++j) {
        const double w = coefficient * factors_[t.yFactor][j + hy];
        if (w != 0.0)
          planned.columnTaps.push_back(
              {static_cast<std::ptrdiff_t>(j) * shape.innerWidth, static_cast<Real>(w)});
      }
    }
    for (const Corner& c : product.corners)
      product.cornerTaps.push_back({c.y * shape.stride + c.x, static_cast<Real>(c.weight)});
  }
}

// The plane taps of a footprint term's x factor, and the column taps of its y factor over the
// planes of a strip: each row j of the footprint takes its taps from the plane of its width.
void BasisPlan::planFootprintTaps__(const diffima& e, const SourceShape& shape, int source, const Term& t) {
  const int hx = e.hx, hy = e.hy;
  const std::vector<int>& widths = rows_.planeWidths;
  const std::vector<double>& u = factors_[t.xFactor];
  std::vector<Taps>& planes = planeTaps_[t.xFactor];
  planes.assign(widths.size(), Taps());
  for (std::size_t k = 0; k < widths.size(); ++k)
    for (int i = -widths[k]; i <= widths[k]; ++i)
      if ((k == 0 || std::abs(i) > widths[k - 1]) && u[i + hx] != 0.0)
        planes[k].push_back({i, static_cast<Real>(u[i + hx])});
  const std::size_t plane = planeValues(shape, hy);
  Taps& columns = footprintColumnTaps_[{source, t.yFactor}];
  columns.clear();
  for (int j = -hy; j <= hy; ++j) {
    const int w = rows_.rowWidth[j + hy];
    const double v = factors_[t.yFactor][j + hy];
    if (w < 0 || v == 0.0) continue;
    const auto k = static_cast<std::size_t>(std::find(widths.begin(), widths.end(), w) - widths.begin());
    columns.push_back(
        {static_cast<std::ptrdiff_t>(k * plane) + static_cast<std::ptrdiff_t>(j) * shape.innerWidth,
         static_cast<Real>(v)});
  }
}

BasisPlan::BasisPlan(const diffima& engine, const SourceShape* const shapes[2])
    : rows_(footprintRows(engine)) {
  const std::vector<BasisFunction> functions = basisFunctions(engine);
  const int f = engine.nbg + engine.flux_basis;
  const BasisFunction* flux = nullptr;
  for (const BasisFunction& fn : functions)
    if (fn.p == f) flux = &fn;
  int order = 0;
  for (const BasisFunction& fn : functions) {
    const std::vector<Term> terms = termsOf__(engine, fn, flux);
    const std::vector<Term> squares = squaresOf__(terms);
    for (int s = 0; s < 2; ++s) {
      if (shapes[s] == nullptr) continue;
      const bool variance = s == 1;
      Product& product = products_[{fn.p, variance}];
      product.order = order++;
      product.source = s;
      for (const Term& t : variance ? squares : terms) product.terms.push_back({t, TermForm::direct, {}});
      checkSplit__(engine, fn.p, variance ? engine.quad_basis : engine.basis, variance ? squares : terms,
                   product);
    }
  }
  planLifetimes__();
  planTaps__(engine, shapes);
}

const Product* BasisPlan::product(int p, bool variance) const {
  const auto it = products_.find({p, variance});
  return it == products_.end() ? nullptr : &it->second;
}

int BasisPlan::lastUse(const StoredKey& key) const {
  const auto it = lastUse_.find(key);
  return it == lastUse_.end() ? -1 : it->second;
}

std::vector<std::pair<int, int>> BasisPlan::footprintGroup(int source, int xFactor) const {
  std::vector<std::pair<int, int>> group;
  for (auto it = lastUse_.lower_bound({source, Stored::footprintTerm, xFactor, INT_MIN});
       it != lastUse_.end() && it->first.source == source && it->first.kind == Stored::footprintTerm &&
       it->first.xFactor == xFactor;
       ++it)
    group.push_back({it->first.yFactor, it->second});
  return group;
}

}  // namespace dia_basis

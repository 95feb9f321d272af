// Tests the engine's construction: parameter numbering, footprint, basis images against an
// independent numpy evaluation, the zero-sum rule and the fatal argument checks.
#include <gtest/gtest.h>

#include <memory>

#include "tests/dia/dia_fixtures.h"

namespace {

using dia_test::Model;

// numpy evaluation of every basis image of a model, printed parameter by parameter (y outer,
// x inner), after the normalisation and the zero-sum rule.
std::vector<double> numpyBasis(const Model& m) {
  std::ostringstream s;
  s << "d=[";
  for (int v : m.d) s << v << ",";
  s << "]\nsig=[";
  for (double v : m.sig) s << v << ",";
  s << "]\n" << dia_test::pythonBasis() << "nbg=0 if " << m.bg_order << "<0 else (" << m.bg_order << "+1)*("
    << m.bg_order << "+2)//2\n"
    << "for b in basis(d,sig," << m.half[0] << "," << m.half[1] << "," << m.kern_order << "," << m.flux_basis
    << ",nbg): print(' '.join(repr(v) for v in b.ravel()))\n";
  return test_support::numbersIn(test_support::runPython(s.str()).out);
}

struct Case {
  const char* name;
  Model model;
  int nbg, mat, footprint;
  std::vector<int> positive;  // parameters whose basis function is positiv
};

Model model(std::vector<int> d, std::vector<double> sig, int hx, int hy, int ko, int bg, int fb) {
  Model m;
  m.d = d;
  m.sig = sig;
  m.half[0] = hx;
  m.half[1] = hy;
  m.kern_order = ko;
  m.bg_order = bg;
  m.flux_basis = fb;
  return m;
}

const Case cases[] = {
    {"sky model", Model{}, 1, 51, 973,
     {2, 4, 6, 8, 15, 17, 19, 24, 26, 29, 30, 32, 34, 39, 41, 44, 45, 47, 50, 51}},
    {"one gaussian, 21 pixels", model({0}, {2.0}, 2, 2, 0, -1, 1), 0, 1, 21, {1}},
    {"full 3x3 box", model({0}, {2.0}, 1, 1, 0, -1, 1), 0, 1, 9, {1}},
    {"background order 2", model({0}, {2.0}, 2, 2, 0, 2, 1), 6, 7, 21, {7}},
    {"degree 1", model({1}, {1.5}, 3, 3, 0, 0, 1), 1, 4, 37, {2}},
    {"degree 2", model({2}, {1.5}, 3, 3, 0, 0, 1), 1, 7, 37, {2, 4, 7}},
    {"kern_order 1", model({2}, {1.5}, 3, 3, 1, 0, 1), 1, 17, 37, {2, 6, 7, 8, 15, 16, 17}},
    {"flux_basis 0", model({2}, {1.5}, 3, 3, 0, 0, 0), 1, 7, 37, {2, 4, 7}},
    {"half 5 x 3", model({2, 0}, {1.5, 3.0}, 5, 3, 0, -1, 1), 0, 7, 61, {1, 3, 6, 7}},
};

TEST(DiaEngine, BasisNumberingFootprintAndNumpyValues) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<diffima> e(dia_test::makeEngine(c.model, ""));
    EXPECT_EQ(e->nbg, c.nbg);
    EXPECT_EQ(e->mat, c.mat);
    int footprint = 0;
    for (int y = -e->hy; y <= e->hy; ++y)
      for (int x = -e->hx; x <= e->hx; ++x) footprint += e->quad(x, y);
    EXPECT_EQ(footprint, c.footprint);
    std::vector<int> positive;
    for (int p = e->nbg + 1; p <= e->mat; ++p)
      if (e->positiv(p)) positive.push_back(p);
    EXPECT_EQ(positive, c.positive);
    EXPECT_EQ(e->basis.first(3), e->nbg + 1);
    EXPECT_EQ(e->basis.last(3), e->mat);
    EXPECT_EQ(e->basis.first(1), -e->hx);
    EXPECT_EQ(e->basis.first(2), -e->hy);

    const std::vector<double> expected = numpyBasis(c.model);
    const int nx = 2 * e->hx + 1, ny = 2 * e->hy + 1;
    ASSERT_EQ(expected.size(), static_cast<size_t>((e->mat - e->nbg) * nx * ny));
    size_t k = 0;
    for (int p = e->nbg + 1; p <= e->mat; ++p) {
      double largest = 0, worst = 0, sum = 0;
      for (int y = -e->hy; y <= e->hy; ++y)
        for (int x = -e->hx; x <= e->hx; ++x, ++k) {
          largest = std::max(largest, std::fabs(expected[k]));
          worst = std::max(worst, std::fabs(e->basis(x, y, p) - expected[k]));
          sum += e->basis(x, y, p);
          EXPECT_EQ(e->quad_basis(x, y, p), e->basis(x, y, p) * e->basis(x, y, p));
        }
      EXPECT_LE(worst, 1e-12 * largest) << "parameter " << p;
      EXPECT_GT(e->NB(p), 0.0);
      const bool isFlux = p == e->nbg + e->flux_basis;
      if (isFlux)
        EXPECT_NEAR(sum, 1.0, 1e-12);
      else if (e->flux_basis >= 1 || !e->positiv(p))
        EXPECT_LT(std::fabs(sum), 1e-12) << "parameter " << p;
      else
        EXPECT_NEAR(sum, 1.0, 1e-12) << "parameter " << p;
    }
  }
}

TEST(DiaEngine, ConstructionState) {
  std::unique_ptr<diffima> e(dia_test::makeEngine(Model{}, "/some/path/"));
  EXPECT_FALSE(e->conv_flag);
  EXPECT_TRUE(e->norm_kern);
  EXPECT_EQ(e->verbose, 0);
  EXPECT_EQ(e->lef, 0);
  EXPECT_EQ(e->lefx, 0);
  EXPECT_EQ(e->lefy, 0);
  EXPECT_EQ(e->numberofstamps, 1);
  EXPECT_EQ(e->stampxy.numElements(), 1);
  EXPECT_EQ(e->cc.numElements(), 1);
  EXPECT_TRUE(e->kern.isEmpty());
  EXPECT_EQ(e->refpath, "/some/path/");
  e->set_mx_bx(5, 6, 7, 8);
  EXPECT_EQ(e->mx0 + e->mx1 + e->bx0 + e->bx1, 26);
  EXPECT_EQ(e->my0, 0);
}

TEST(DiaEngine, KernOrderOneRepeatsImages) {
  std::unique_ptr<diffima> e(dia_test::makeEngine(model({2}, {1.5}, 3, 3, 1, 0, 1), ""));
  // Parameter 2 is the flux basis alone; then each basis function has three identical images.
  for (int first = 3; first <= e->mat; first += 3)
    for (int y = -3; y <= 3; ++y)
      for (int x = -3; x <= 3; ++x) {
        EXPECT_EQ(e->basis(x, y, first), e->basis(x, y, first + 1));
        EXPECT_EQ(e->basis(x, y, first), e->basis(x, y, first + 2));
      }
}

struct FatalCase {
  const char* name;
  Model model;
  const char* message;
};

TEST(DiaEngineDeathTest, BadArgumentsEndTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const FatalCase fatal[] = {
      {"sig longer than d", model({6, 4, 2}, {1, 3, 9, 0.1}, 17, 17, 0, 0, 1), "wrong d() or sig() in diffima"},
      {"negative degree", model({-1}, {1}, 3, 3, 0, 0, 1), "wrong d() or sig() in diffima"},
      {"zero sigma", model({0}, {0.0}, 3, 3, 0, 0, 1), "wrong d() or sig() in diffima"},
      {"nan sigma", model({0}, {NAN}, 3, 3, 0, 0, 1), "wrong d() or sig() in diffima"},
      {"monomial zero on footprint", model({0, 1}, {1, 1}, 0, 2, 0, 0, 1), "wrong d() or sig() in diffima"},
      {"negative half", model({0}, {1}, -1, 3, 0, 0, 1), "wrong half in diffima"},
      {"negative kern_order", model({0}, {1}, 3, 3, -1, 0, 1), "wrong kern_order in diffima"},
      {"flux basis beyond mat", model({0}, {1}, 3, 3, 0, 0, 2), "wrong flux_basis in diffima"},
      {"flux basis not positive", model({1}, {1}, 3, 3, 0, 0, 2), "wrong flux_basis in diffima"},
      {"flux basis inside a triple", model({2}, {1}, 3, 3, 1, 0, 3), "wrong flux_basis in diffima"},
  };
  for (const FatalCase& c : fatal) {
    SCOPED_TRACE(c.name);
    EXPECT_EXIT(delete dia_test::makeEngine(c.model, ""), testing::ExitedWithCode(255),
                dia_test::wholeMessage(c.message));
  }
}

TEST(DiaEngineDeathTest, IndexBaseOtherThanOne) {
  orv::MArray<int, 1> d(orv::Range(0, 0));
  d = 0;
  const int half[2] = {2, 2};
  EXPECT_EXIT(diffima(d, dia_test::doubleArray({1.0}), half, 0, 0, 1, 0.0, "", false),
              testing::ExitedWithCode(255), dia_test::wholeMessage("wrong d() or sig() in diffima"));
}

}  // namespace

// The element loops of one trial of the binned box search (a hot source, see
// lightcurve/CMakeLists.txt). Each loop is one body with an entry point per
// processor path of orv/lanes.h; the compiler vectorises the body for the
// path's vector width. The arithmetic is IEEE operations without contraction
// on every path, so the values are the plain loop's bits; the integer parts
// are those of std::trunc, which the AVX builds do in one rounding
// instruction.

#include "lightcurve/trial_bins.h"

#include <cmath>

#include "lightcurve/lightcurve_detail.h"
#include "orv/lanes.h"

namespace lightcurve_detail {

namespace {

[[gnu::always_inline]] inline void phasesAndBinsBody(const double* jd, int n, double t0, double period,
                                                     int nbins, double width, double* __restrict phase,
                                                     int* __restrict bin) {
  for (int i = 0; i < n; ++i) {
    const double offset = (jd[i] - t0) / period;
    const double p = phaseOfOffset(offset, std::trunc(offset));
    phase[i] = p;
    bin[i] = phaseBin(p, nbins, width);
  }
}

void phasesAndBinsBaseline(const double* jd, int n, double t0, double period, int nbins, double width,
                           double* __restrict phase, int* __restrict bin) {
  phasesAndBinsBody(jd, n, t0, period, nbins, width, phase, bin);
}

ORV_LANES_AVX2 void phasesAndBinsAvx2(const double* jd, int n, double t0, double period, int nbins,
                                      double width, double* __restrict phase, int* __restrict bin) {
  phasesAndBinsBody(jd, n, t0, period, nbins, width, phase, bin);
}

ORV_LANES_AVX512 void phasesAndBinsAvx512(const double* jd, int n, double t0, double period, int nbins,
                                          double width, double* __restrict phase, int* __restrict bin) {
  phasesAndBinsBody(jd, n, t0, period, nbins, width, phase, bin);
}

[[gnu::always_inline]] inline void binMeansBody(const double* sumPhase, const double* sumFlux,
                                                const double* sumWeight, int n, double* __restrict meanPhase,
                                                double* __restrict meanFlux, double* __restrict weight) {
  for (int b = 0; b < n; ++b) {
    const double W = sumWeight[b];
    const double err = 1.0 / std::sqrt(W);
    weight[b] = 1.0 / (err * err);
    meanPhase[b] = sumPhase[b] / W;
    meanFlux[b] = sumFlux[b] / W;
  }
}

void binMeansBaseline(const double* sumPhase, const double* sumFlux, const double* sumWeight, int n,
                      double* __restrict meanPhase, double* __restrict meanFlux, double* __restrict weight) {
  binMeansBody(sumPhase, sumFlux, sumWeight, n, meanPhase, meanFlux, weight);
}

ORV_LANES_AVX2 void binMeansAvx2(const double* sumPhase, const double* sumFlux, const double* sumWeight,
                                 int n, double* __restrict meanPhase, double* __restrict meanFlux,
                                 double* __restrict weight) {
  binMeansBody(sumPhase, sumFlux, sumWeight, n, meanPhase, meanFlux, weight);
}

ORV_LANES_AVX512 void binMeansAvx512(const double* sumPhase, const double* sumFlux, const double* sumWeight,
                                     int n, double* __restrict meanPhase, double* __restrict meanFlux,
                                     double* __restrict weight) {
  binMeansBody(sumPhase, sumFlux, sumWeight, n, meanPhase, meanFlux, weight);
}

}  // namespace

void phasesAndBins(const double* jd, int n, double t0, double period, int nbins, double width, double* phase,
                   int* bin) {
  orv::lanes::pick(phasesAndBinsBaseline, phasesAndBinsAvx2, phasesAndBinsAvx512)(jd, n, t0, period, nbins,
                                                                                  width, phase, bin);
}

void binMeans(const double* sumPhase, const double* sumFlux, const double* sumWeight, int n,
              double* meanPhase, double* meanFlux, double* weight) {
  orv::lanes::pick(binMeansBaseline, binMeansAvx2, binMeansAvx512)(sumPhase, sumFlux, sumWeight, n, meanPhase,
                                                                   meanFlux, weight);
}

}  // namespace lightcurve_detail

#ifndef LIGHTCURVE_TRIAL_BINS_H
#define LIGHTCURVE_TRIAL_BINS_H

// The element loops of one trial of the binned box search: the phase and bin
// of every date, and the means of every bin from its sums. Each runs on the
// processor path orv/lanes.h chooses; every path gives the bits of the plain
// loop over lightcurve_detail::phaseOfOffset and phaseBin (for the phases and
// bins) or of the expressions written below (for the means).

namespace lightcurve_detail {

// The phase of each of the n dates jd[i] folded on (period, t0), with the
// integer part of the offset as std::trunc gives it, and its bin 1..nbins of
// the given width (phaseBin).
void phasesAndBins(const double* jd, int n, double t0, double period, int nbins, double width, double* phase,
                   int* bin);

// The mean phase sumPhase / W, mean flux sumFlux / W and weight 1 / err^2,
// where err = 1 / sqrt(W), of each of n bins from its sums (W = sumWeight);
// an empty bin gets values that are not used.
void binMeans(const double* sumPhase, const double* sumFlux, const double* sumWeight, int n,
              double* meanPhase, double* meanFlux, double* weight);

}  // namespace lightcurve_detail

#endif

// Star finding: local minima of the smoothed whole-image chi map whose match
// is good enough and whose flux is significant. The maps are computed and
// reduced band by band of rows (psf/find_bands.h).

#include <algorithm>
#include <string>
#include <vector>

#include "psf/find_bands.h"
#include "psf/korven_lib.h"
#include "psf/map_cells.h"

void psf::find(orv::MArray<float, 2> image, orv::MArray<float, 2> error, orv::MArray<double, 1>& x,
               orv::MArray<double, 1>& y, orv::MArray<double, 1>& flux, double snr, double nchi_max,
               double radius, std::string name, int verbose) const {
  const int P = std::max(_subpixel, 1);
  psf_maps::FindBands bands(P * image.length(1), P * image.length(2), snr, nchi_max, name, verbose);
  // Whether a cell is a star depends on nchi within three cells of it, and
  // only a cell with snr eflux <= flux can be one: without the map files, nchi
  // is computed only about those (elsewhere NaN, which then decides nothing).
  map_bands__(image, error, radius, verbose, psf_maps::FindBands::kMargin, nullptr, bands,
              verbose > 0 ? nullptr : &snr);
  const std::vector<psf_maps::FoundStar> stars = bands.finish();

  const int count = static_cast<int>(stars.size());
  x.makeReference(orv::MArray<double, 1>(count));
  y.makeReference(orv::MArray<double, 1>(count));
  flux.makeReference(orv::MArray<double, 1>(count));
  for (int k = 1; k <= count; ++k) {
    const auto [i, j, f] = stars[k - 1];
    x(k) = (i + P / 2) / P;
    y(k) = (j + P / 2) / P;
    flux(k) = f;
  }
}

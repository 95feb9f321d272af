// The psf object: construction, sizes and the whole fine-grid operations.

#include <cmath>
#include <iostream>

#include "psf/korven_lib.h"

psf::psf() : _boxlen(0), _analyt(0), _subgrid(0), _subpixel(0), _interpolation(0), _slen(0) {}

psf::psf(int boxlen, int analyt, int subgrid, int interpolation)
    : _boxlen(boxlen),
      _analyt(analyt),
      _subgrid(subgrid),
      _subpixel(0),
      _interpolation(interpolation),
      _slen(analyt * subgrid + subgrid / 2),
      _psf(orv::Range(-_slen, _slen), orv::Range(-_slen, _slen)),
      _epsf(orv::Range(-_slen, _slen), orv::Range(-_slen, _slen)),
      _binned_psf(orv::Range(-analyt, analyt), orv::Range(-analyt, analyt)),
      _ebinned_psf(orv::Range(-analyt, analyt), orv::Range(-analyt, analyt)) {
  _psf = 0.0;
  _epsf = 0.0;
  _binned_psf = 0.0;
  _ebinned_psf = 0.0;
}

void psf::set_analyt(int analyt) {
  _analyt = analyt;
  _slen = _analyt * _subgrid + _subgrid / 2;
}

void psf::set_subgrid(int subgrid) {
  _subgrid = subgrid;
  _slen = _analyt * _subgrid + _subgrid / 2;
}

// A sum of 0 (or one that is not finite) cannot normalise: the grid is kept.
void psf::normalize_psf() {
  if (_psf.isEmpty()) return;
  const double s = orv::sum(_psf);
  if (s == 0.0 || !std::isfinite(s)) {
    std::cout << "error: psf sum is " << s << ", psf not normalized" << std::endl;
    return;
  }
  _psf /= s;
  _epsf /= s;
}

void psf::factor(double f) {
  if (_psf.isEmpty()) return;
  _psf *= f;
  _epsf *= f;
}

void psf::print_norm_psf() const {
  const double s = _psf.isEmpty() ? 0.0 : orv::sum(_psf);
  std::cout << " psf-norm = " << s << std::endl;
}

#ifndef PSF_KORVEN_LIB_H
#define PSF_KORVEN_LIB_H

// The PSF library: a point-spread function on a fine grid of sub-pixel cells,
// its integration onto the pixel grid for every tabulated sub-pixel shift, PSF
// files, star injection and aperture photometry.
//
// Geometry: arrays are indexed (x, y), x along the image's first axis. Fine
// cell (a, b) is centred a/S, b/S pixels from the PSF centre; pixel (i, j) of
// the pixel grid collects the fine cells S·i - S/2 .. S·i + S/2 on each axis
// (S + 1 cells for even S, shared with the neighbours). Shift index sx stands
// for a star centre displaced by sx/P pixel from the centre of its pixel.

#include <string>

#include "orv/marray.h"

class psf {
 public:
  psf();
  psf(int boxlen, int analyt, int subgrid, int interpolation);
  ~psf() = default;

  // Sizes. set_analyt and set_subgrid recompute _slen; no setter reallocates.
  void set_boxlen(int boxlen) { _boxlen = boxlen; }
  void set_analyt(int analyt);
  void set_subgrid(int subgrid);
  void set_subpixel(int subpixel) { _subpixel = subpixel; }
  void set_interpolation(int interpolation) { _interpolation = interpolation; }
  int get_boxlen() const { return _boxlen; }
  int get_analyt() const { return _analyt; }
  int get_subgrid() const { return _subgrid; }
  int get_subpixel() const { return _subpixel; }
  int get_interpolation() const { return _interpolation; }
  int get_slen() const { return _slen; }

  // Arrays, sharing the object's storage: a change through them is seen here.
  orv::MArray<double, 2> get_psf() const { return _psf; }
  orv::MArray<double, 2> get_epsf() const { return _epsf; }
  orv::MArray<double, 2> get_binned_psf() const { return _binned_psf; }
  orv::MArray<double, 2> get_ebinned_psf() const { return _ebinned_psf; }
  orv::MArray<double, 4> get_all_binned_psf() const { return _all_binned_psf; }
  orv::MArray<double, 4> get_all_ebinned_psf() const { return _all_ebinned_psf; }
  orv::MArray<double, 4> get_all_e2binned_psf() const { return _all_e2binned_psf; }
  // The table becomes a reference to t (no copy).
  void write_all_binned_psf(orv::MArray<double, 4>& t) { _all_binned_psf.makeReference(t); }
  void write_all_ebinned_psf(orv::MArray<double, 4>& t) { _all_ebinned_psf.makeReference(t); }
  void write_all_e2binned_psf(orv::MArray<double, 4>& t) { _all_e2binned_psf.makeReference(t); }

  // Whole fine-grid operations.
  void normalize_psf();
  void factor(double f);
  void print_norm_psf() const;

  // Pixel-grid integration at one shift (dx, dy) in pixels, and the tables of
  // all P x P tabulated shifts.
  void binning(double dx, double dy);
  void calc_base(int subpixel, int unused);

  // PSF files (FITS, single precision, error image under an "e." name).
  void write_psf(std::string name) const;
  void read_psf(std::string name);
  void writefits_psf(std::string name) const;
  void readfits_psf(std::string name);
  void write_binned_psf(std::string name) const;
  void write_binned(std::string name) const;

  // Star injection and removal through the tables (and, for the exact form,
  // the integration at the star's own shift).
  void add_psf(orv::MArray<float, 2>& image, orv::MArray<float, 2>& error, double x, double y, double flux,
               double blank_image, double blank_error, int verbose) const;
  void subtract_psf(orv::MArray<float, 2>& image, orv::MArray<float, 2>& error, double x, double y,
                    double flux, double blank_image, double blank_error, int verbose) const;
  void add_psf_noise(orv::MArray<float, 2>& image, orv::MArray<float, 2>& error, double x, double y,
                     double flux, double gain, long& seed, double blank_image, double blank_error,
                     int verbose) const;
  void add_psf_exact(orv::MArray<float, 2>& image, double x, double y, double flux, int verbose);

 private:
  // True when the three shift tables exist with the index ranges -P/2..P/2,
  // -P/2..P/2, -R..R, -R..R of the current P and R.
  bool tables_ready__() const;
  // Tabulated shift index of a sub-pixel offset f in [-0.5, 0.5], kept inside
  // -P/2..P/2.
  int shift_index__(double f) const;
  // A position split into its nearest pixel (ix, iy), the offset from that
  // pixel's centre (fx, fy) and the tabulated shift (sx, sy) of the offset.
  struct star_spot__ {
    int ix, iy;
    double fx, fy;
    int sx, sy;
  };
  star_spot__ locate__(double x, double y) const;
  // Adds (sign +1) or subtracts (sign -1) one star through the tables inside a
  // circle of squared radius limit2 about the star.
  void inject__(orv::MArray<float, 2>& image, orv::MArray<float, 2>& error, double x, double y, double flux,
                double sign, double limit2, double blank_image, double blank_error) const;

  int _boxlen;
  int _analyt;
  int _subgrid;
  int _subpixel;
  int _interpolation;
  int _slen;
  orv::MArray<double, 2> _psf;
  orv::MArray<double, 2> _epsf;
  orv::MArray<double, 2> _binned_psf;
  orv::MArray<double, 2> _ebinned_psf;
  orv::MArray<double, 4> _all_binned_psf;
  orv::MArray<double, 4> _all_ebinned_psf;
  orv::MArray<double, 4> _all_e2binned_psf;
};

// Circular-aperture photometry about (x, y): the sum of the usable pixels
// (value != blank, error > 0) whose centres lie inside radius r, minus the sky
// per pixel times their number. A star too near the edge, an unusable or
// outside pixel in the aperture, or an empty aperture gives flux 0 and
// eflux -1.0.
void aperture(orv::MArray<float, 2> image, orv::MArray<float, 2> error, double x, double y, double& flux,
              double& eflux, double r, double sky, double blank, int verbose);
// The same with the sky taken as the exact median of the usable pixels of the
// annulus rin <= d < rout (pixels outside the image are left out); an annulus
// without usable pixel fails the measurement.
void aperture_sky(orv::MArray<float, 2> image, orv::MArray<float, 2> error, double x, double y, double& flux,
                  double& eflux, double r, double rin, double rout, double blank, int verbose);

#endif

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

#include <ostream>
#include <string>

#include "numerics/marquardt.h"
#include "orv/marray.h"

// Elliptical Gaussian a1 + a2·exp(-(a3·u² + a4·v²)) about (a5, a6) at angle a7,
// the exponent clamped to [-22, 22]; u, v are the rotated offsets.
class Class_gauss_fit : public marquardt {
 public:
  using marquardt::marquardt;
  int funcs(double x, double y, const orv::MArray<double, 1>& a, double& yfit,
            orv::MArray<double, 1>& dyda) override;
};

// Elliptical Moffat a2·(1 + (a3·u)² + (a4·v)²)^-a8 about (a5, a6) at angle a7
// on the sky plane a1 + a9·x + a10·y. Where the profile underflows the plane
// alone is returned; where it would overflow the fit fails (-1).
class Class_moffat_fit : public marquardt {
 public:
  using marquardt::marquardt;
  int funcs(double x, double y, const orv::MArray<double, 1>& a, double& yfit,
            orv::MArray<double, 1>& dyda) override;
};

// Whole-image map work (psf/map_cells.h): the plan of a block of cells, the
// progress dots it owes and a band of map rows.
namespace psf_maps {
struct Plan;
struct Progress;
struct Band;
struct RowBuffers;
struct Selection;
}  // namespace psf_maps

class psf {
 public:
  psf();
  psf(int boxlen, int analyt, int subgrid, int interpolation);
  ~psf() = default;

  // Sizes. set_analyt and set_subgrid recompute _slen; no setter reallocates.
  void set_analyt(int analyt);
  void set_subgrid(int subgrid);
  void set_boxlen(int boxlen) { _boxlen = boxlen; }
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

  // Profile fits to a stamp (no state of the object is used). In/out plane
  // values of exactly 12345.0 are fitted, others held. Returns 0, or -2 (at
  // most 9 usable pixels), -3 (FWHM out of bounds), -4 (beta out of bounds),
  // -5 (centre outside the stamp), -6 (amplitude not significant).
  template <typename T>
  int fmoffat(const orv::MArray<T, 2>& image, const orv::MArray<T, 2>& error, double& sky, double& slope_x,
              double& slope_y, double beta_min, double beta_max, double fwhm_min, double fwhm_max, double& x,
              double& y, double& amplitude, double& a3, double& a4, double& angle, double& beta, double& chi,
              int verbose) const;
  // Elliptical Gaussian without sky; returns 0, or -1 for at most 9 usable pixels.
  template <typename T>
  int fgauss(const orv::MArray<T, 2>& image, const orv::MArray<T, 2>& error, double& x, double& y,
             double& amplitude, double unused, int verbose) const;

  // Analytic PSFs on the fine grid, the central pixel's cells summing to 1.
  void generate_gauss(double fwhm_x, double fwhm_y, double angle, int verbose);
  void generate_moffat(double fwhm_x, double fwhm_y, double angle, double beta, int verbose);

  // The inverse of the local-surface system of order k (m = 2k + 1, M m² x m²).
  int erzeuge_M(orv::MArray<double, 2>& M, int k);
  // Spreads a star stamp onto the fine grid under the affine mapping a[1..6].
  template <typename T>
  void divvy(const orv::MArray<T, 2>& img, const orv::MArray<T, 2>& err, orv::MArray<double, 2>& out,
             orv::MArray<double, 2>& eout, const double* a, int verbose);

  // The fine-grid PSF built from standard stars.
  void create_psf(orv::MArray<float, 2> img, orv::MArray<float, 2> err, orv::MArray<double, 1> x,
                  orv::MArray<double, 1> y, orv::MArray<double, 1> sky, orv::MArray<double, 1> slope_x,
                  orv::MArray<double, 1> slope_y, orv::MArray<double, 1> weight, double beta_min,
                  double beta_max, double fwhm_min, double fwhm_max, bool fit, int verbose);
  void create_psf(orv::MArray<float, 2> img, orv::MArray<float, 2> err, orv::MArray<double, 1> x,
                  orv::MArray<double, 1> y, orv::MArray<double, 1> sky, orv::MArray<double, 1> slope_x,
                  orv::MArray<double, 1> slope_y, double beta_min, double beta_max, double fwhm_min,
                  double fwhm_max, bool fit, int verbose);
  void create_psf(orv::MArray<float, 2> img, orv::MArray<float, 2> err, orv::MArray<double, 1> x,
                  orv::MArray<double, 1> y, double sky, double slope_x, double slope_y, double beta_min,
                  double beta_max, double fwhm_min, double fwhm_max, bool fit, int verbose);

  // The PSF at the tabulated shift nearest (x, y), fitted to the image with
  // the flux as the only parameter (weights 1/error²) inside radius; returns
  // the normalised chi, or 1e100 (flux 0, eflux 1e100) where nothing can be fitted.
  double nchi_calc(const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error, double x, double y,
                   double& flux, double& eflux, double radius, int verbose) const;
  double nchi_calc(const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error, double x, double y,
                   double& flux, double radius, int verbose) const;
  double nchi_calc(const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error, double x, double y,
                   double radius, int verbose) const;
  // The same without the flux error; 0 (flux unchanged) where nothing can be fitted.
  double nchi_calc_fast(const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error, double x,
                        double y, double& flux, double radius) const;
  // Flux, its error and nchi with the PSF integrated at the exact shift of (x, y).
  void measure_flux(orv::MArray<float, 2> image, orv::MArray<float, 2> error, double x, double y,
                    double radius, double& flux, double& eflux, double& nchi, int index, int verbose);

  // Chi maps over trial positions 1/P pixel apart: local maps about (x, y)
  // (cells sx0 - nx .. sx0 + nx), and whole-image maps (P cells per pixel and
  // axis, indices from 1) over the image or about listed stars.
  void mapping(const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error, double x, double y,
               orv::MArray<double, 2>& nchi, orv::MArray<double, 2>& flux, orv::MArray<double, 2>& eflux,
               int nx, int ny, double radius, int verbose) const;
  void mapping(const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error, double x, double y,
               orv::MArray<double, 2>& nchi, orv::MArray<double, 2>& flux, int nx, int ny, double radius,
               int verbose) const;
  void mapping_fast(const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error, double x,
                    double y, orv::MArray<double, 2>& nchi, orv::MArray<double, 2>& flux, int nx, int ny,
                    double radius) const;
  void mapping_full(const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error,
                    orv::MArray<double, 2>& nchi, orv::MArray<double, 2>& flux, orv::MArray<double, 2>& eflux,
                    double radius, int verbose) const;
  void mapping_some(const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error,
                    orv::MArray<double, 2>& nchi, orv::MArray<double, 2>& flux, orv::MArray<double, 2>& eflux,
                    const orv::MArray<int, 1>& x, const orv::MArray<int, 1>& y, double radius,
                    int verbose) const;

  // Stars of the image: local minima of the smoothed whole-image nchi map with
  // nchi <= nchi_max and flux >= snr eflux, as pixel numbers and fluxes.
  void find(orv::MArray<float, 2> image, orv::MArray<float, 2> error, orv::MArray<double, 1>& x,
            orv::MArray<double, 1>& y, orv::MArray<double, 1>& flux, double snr, double nchi_max,
            double radius, std::string name, int verbose) const;

  // Best sub-pixel cell of every pixel about listed stars or over the whole
  // image; selected stars give a table row and their PSF in the source image.
  void mapping_some_best_source(const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error,
                                orv::MArray<double, 2>& nchi, orv::MArray<double, 2>& flux,
                                orv::MArray<double, 2>& eflux, orv::MArray<double, 2>& source,
                                const orv::MArray<int, 1>& x, const orv::MArray<int, 1>& y, double snr,
                                double nchi_max, double radius, double tag, std::ostream& table,
                                int verbose) const;
  void mapping_full_best_source(const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error,
                                orv::MArray<double, 2>& nchi, orv::MArray<double, 2>& flux,
                                orv::MArray<double, 2>& eflux, orv::MArray<double, 2>& source, double snr,
                                double nchi_max, double radius, double tag, std::ostream& table,
                                int verbose) const;

  // Refines (x, y) to the centre of the dip of the local nchi map (box cells
  // about the start) by a Gaussian fit; returns 0, or 1 (nothing changed).
  int measure_pos(const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error, double& x,
                  double& y, double& flux, double& eflux, double radius, int box, int index,
                  int verbose) const;
  int measure_pos(const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error, double& x,
                  double& y, double radius, int box, int index, int verbose) const;
  int measure_pos(const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error,
                  orv::MArray<double, 1>& x, orv::MArray<double, 1>& y, orv::MArray<double, 1>& flux,
                  orv::MArray<double, 1>& eflux, double radius, int box, int verbose) const;
  int measure_pos(const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error,
                  orv::MArray<double, 1>& x, orv::MArray<double, 1>& y, double radius, int box,
                  int verbose) const;

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
  // Half-size of the chi box of a radius: (int)(|radius| + 0.5), at most R
  // (also for a radius too large for an int, or NaN).
  int box_half__(double radius) const;
  // Allocates the three whole-image maps (P cells per pixel and axis),
  // between the two allocation lines; all 0 when zero is set.
  void whole_image_maps__(const orv::MArray<float, 2>& image, orv::MArray<double, 2>& nchi,
                          orv::MArray<double, 2>& flux, orv::MArray<double, 2>& eflux, bool zero) const;
  // The plan of the whole-image cells i0..i1 x j0..j1 (clipped to the maps).
  psf_maps::Plan plan_cells__(const orv::MArray<float, 2>& image, int i0, int i1, int j0, int j1,
                              double radius) const;
  // Computes the planned cells of map rows j0..j1 into maps holding those rows;
  // with a selection only their flux and eflux, then the wanted nchi of its
  // rows.
  void map_rows__(const psf_maps::Plan& plan, const orv::MArray<float, 2>& image,
                  const orv::MArray<float, 2>& error, const psf_maps::Band& maps, int j0, int j1,
                  psf_maps::RowBuffers& buffers, psf_maps::Progress& progress,
                  const psf_maps::Selection* select = nullptr) const;
  // The progress of cells i0..i1 x j0..j1 walked cell by cell (first axis
  // outer), as mapping_full and mapping_some count it.
  psf_maps::Progress walk_cells__(const orv::MArray<float, 2>& image, int i0, int i1, int j0, int j1,
                                  int verbose, long& count) const;
  // mapping_full in bands of map rows: its lines, the maps computed band by
  // band, each band handed to reduce with `margin` rows of the maps on each
  // side. With `whole` (nchi, flux, eflux) the maps are allocated whole and
  // kept there; else only a window of rows is held. With snr (and a window)
  // nchi is computed only within margin of the cells that can be stars, those
  // with snr eflux <= flux; elsewhere a usable cell's nchi is NaN.
  template <class Reduce>
  void map_bands__(const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error, double radius,
                   int verbose, int margin, orv::MArray<double, 2>* const* whole, Reduce&& reduce,
                   const double* snr = nullptr) const;
  // Writes a selected star's table row (verbose > 0) and adds its PSF times
  // flux to the source image.
  void add_best_source__(const orv::MArray<float, 2>& image, int p, int q, double nchi, double flux,
                         double eflux, double dx, double dy, double tag, orv::MArray<double, 2>& source,
                         int& counter, std::ostream& table, int verbose) const;
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

// The Moffat fit in single precision: the sample circle is tested in float
// and the results are stored as float.
int fmoffat(const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error, float& sky,
            float& slope_x, float& slope_y, float beta_min, float beta_max, float fwhm_min, double fwhm_max,
            float& x, float& y, float& amplitude, float& a3, float& a4, float& angle, float& beta, float& chi,
            int verbose);

#endif

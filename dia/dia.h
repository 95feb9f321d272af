// The difference-imaging engine diffima, its footprint correlation convolve2d_circ and the
// module's Gauss-Jordan entry dia_gaussj.
#ifndef DIA_DIA_H
#define DIA_DIA_H

#include <algorithm>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "dia/product_origin.h"
#include "orv/fits/fits.h"
#include "orv/marray.h"
#include "util/region.h"

class Stopwatch;
namespace dia_products {
class ProductBoxes;
}

// A model of the convolution kernel that turns a reference image into a current image, the
// products prepared from the reference, and the results of a kernel and background fit over
// cells of the field.
//
// Fitted parameters are numbered from 1: the background terms x^i·y^j (i + j ≤ bg_order, i
// outer) first, then the kernel parameters, one per basis function and spatial term. Basis
// function images are indexed −hx … hx by −hy … hy; images are indexed in image coordinates
// (x in dimension 1, y in dimension 2). Bad arguments to the constructor end the process with
// status 255 after a message on standard error.
class diffima {
 public:
  bool conv_flag;  // read by convolve only
  bool norm_kern;  // calc_kern divides each cell's kernel by its flux factor
  int verbose;     // messages and diagnostic files appear above per-operation thresholds
  double factor;   // results of the last calc_kern
  double factor_err;
  double constant;
  double constant_err;
  bool keep_zero_var;  // reference pixels with data and zero error are kept
  int ngauss;
  int kern_order;                   // order of the spatial variation of the kernel
  int bg_order;                     // order of the background polynomial, < 0: none
  int flux_basis;                   // the flux basis is parameter nbg + flux_basis
  float scale;                      // reference scale, used when > 0 (then the flux is held at 1)
  int cut_radius;                   // radius cut around bad reference pixels
  int nbg;                          // number of background parameters
  int mat;                          // index of the last parameter
  int mx0, mx1, my0, my1;           // fit area (m-area), inclusive
  int bx0, bx1, by0, by1;           // basis area: the fit area widened by hx, hy, clipped to the image
  int lef;                          // cell edge of the last calc_kern
  int lefx, lefy;                   // steps of the cell grid
  int hx, hy;                       // kernel half sizes
  orv::Range range_x, range_y;      // −hx … hx, −hy … hy
  orv::MArray<bool, 1> positiv;     // nbg+1 … mat: basis function has no negative value
  orv::MArray<bool, 2> quad;        // the elliptic footprint over range_x × range_y
  orv::MArray<bool, 2> imask;       // usable image pixels over the fit area
  orv::MArray<int, 1> d;            // polynomial degree per Gaussian
  orv::MArray<int, 1> good;         // usable pixels per cell
  orv::MArray<int, 1> hits;         // stamps reaching each cell
  orv::MArray<float, 2> image_i;    // the image over the fit area
  orv::MArray<float, 2> e2image_i;  // its error values over the fit area
  orv::MArray<double, 1> sig;       // σ per Gaussian
  orv::MArray<double, 3> kern;      // range_x × range_y × cells
  orv::MArray<double, 3> basis;     // range_x × range_y × (nbg+1 … mat)
  orv::MArray<double, 3> quad_basis;
  orv::MArray<double, 2> coef;  // (1 … mat) × cells
  orv::MArray<double, 2> coef_var;
  orv::MArray<double, 1> NB;  // normalisers, nbg+1 … mat
  orv::MArray<double, 1> cell_factor;
  orv::MArray<double, 1> cell_factor_err;
  orv::MArray<double, 1> cell_constant;
  orv::MArray<double, 1> cell_constant_err;
  orv::MArray<double, 2> mm;   // normal matrix of the current cell
  orv::MArray<double, 1> vv;   // its right-hand side
  orv::MArray<float, 4> cc;    // x, y, parameter, stamp: basis-convolved references in memory
  orv::MArray<float, 4> e2cc;  // their variances
  orv::MArray<float, 2> kern_mosaic;
  orv::MArray<float, 2> coef_map;
  orv::MArray<float, 2> conv_a;
  orv::MArray<float, 2> conv_b;
  std::string refpath;   // put unchanged before every reference product name
  bool use_calc_mask;    // calc_basis limits by rmask_calc instead of rmask_conv
  bool basis_in_memory;  // keep the basis-convolved references in cc, e2cc
  int numberofstamps;
  orv::MArray<int, 3> stampxy;  // (1 … 2) × (0 … 1) × (1 … numberofstamps): x/y, first/last
  bool no_ref_error;
  bool no_image_error;
  // When set, calc_kern reads the reference products through these open files; a caller that
  // fits many small boxes shares one among its engines. Otherwise each call opens its own.
  std::shared_ptr<dia_products::ProductBoxes> products;
  // The name of the reference step that this engine runs, recorded in the cards of its products.
  std::string product_step;

  // half points to hx then hy. d and sig share the caller's storage.
  diffima(orv::MArray<int, 1> d, orv::MArray<double, 1> sig, const int* half, int kern_order, int bg_order,
          int flux_basis, double scale, std::string refpath, bool keep_zero_var);
  ~diffima();
  diffima(const diffima&) = delete;
  diffima& operator=(const diffima&) = delete;

  void set_mx_bx(int mx0, int mx1, int bx0, int bx1);

  // Reference step: modified reference, masks and basis-convolved references under refpath,
  // each file with the cards of its origin (product_origin, and one new identifier for all).
  // Returns 0, or −1 (after a message) when the area is empty or smaller than the kernel
  // footprint, when eref or the mask file do not match the reference, or when a product it
  // reads back was replaced by another run of the step.
  int calc_reference(const orv::MArray<float, 2>& ref, const orv::MArray<float, 2>& eref, util::Region& area,
                     int cut_radius, std::string varmask);
  int calc_reference_stamps(orv::MArray<float, 2>& ref, orv::MArray<float, 2>& eref, util::Region& area,
                            const orv::MArray<int, 3>& stamps, int cut_radius, std::string varmask);
  // The origin that the reference step of this engine records in every product it makes from
  // ref, but for the identifier of the run, which each run draws anew.
  dia_files::ProductOrigin product_origin(const orv::MArray<float, 2>& ref) const;

  // Kernel and background fit over cells; results in factor, factor_err, constant,
  // constant_err. Returns 0, or −1 for an empty area or a malformed stampxy.
  int calc_kern(const orv::MArray<float, 2>& img, const orv::MArray<float, 2>& eimg, util::Region& area,
                int lef, bool circ, int nx, int ny);

  // Full-frame convolution from the stored products: mode 1 image, else error (0 marks −1).
  int convolve(const orv::MArray<float, 2>& img, orv::MArray<float, 2>& rk, orv::MArray<float, 2>& dif,
               int mode);
  // Direct correlation of the reference (or its variance) with the fitted kernels.
  int convolve_kern(orv::Range rx, orv::Range ry, orv::MArray<float, 2>& out);
  int convolve_kern_e(orv::Range rx, orv::Range ry, orv::MArray<float, 2>& out);

  // One fixed-width row per cell of the last calc_kern.
  void write_table(std::ofstream& os, std::string name);
  // Writes image through out with its index bounds and a unit world-coordinate frame.
  static void write_ima(orv::FitsOut& out, orv::MArray<float, 2>& image);

 private:
  // Fit area from the region (a bound of 0 keeps the member), clipped with the kernel margin
  // to the image [X0 … X1] × [Y0 … Y1], and the basis area around it. True when not empty.
  bool fixArea__(const util::Region& region, int X0, int X1, int Y0, int Y1);
  // Refuses (message, false) an error image or mask file that does not match the reference.
  bool checkReferenceInputs__(const orv::MArray<float, 2>& ref, const orv::MArray<float, 2>& eref,
                              const std::string& varmask) const;
  // Reads back the modified reference over the basis area and the masks over the fit area;
  // false, after a message, when one of them is not this run's own.
  bool readReferenceProducts__(orv::MArray<float, 2>& image_r, orv::MArray<float, 2>& e2image_r,
                               orv::MArray<short, 2>& rmask_calc, orv::MArray<short, 2>& rmask_conv);
  // The origin of the products of the running reference step, set when it starts.
  dia_files::ProductOrigin productOrigin__;
  // Writes a product of the reference step, with the cards of its origin.
  template <class T>
  void writeProduct__(const std::string& file, const orv::MArray<T, 2>& a) const;
  // Reads back a product that this run of the step wrote, whole or over the box [x0 … x1] ×
  // [y0 … y1] (indexed in image coordinates); false, after a message, when the file is another
  // run's: the products made from it would not be this run's.
  template <class T>
  bool readOwnProduct__(const std::string& file, orv::MArray<T, 2>& a) const;
  template <class T>
  bool readOwnProduct__(const std::string& file, int x0, int x1, int y0, int y1, orv::MArray<T, 2>& a) const;

  // Gaussian, x and y exponents of the basis function and spatial exponents of one kernel
  // parameter; kernelTerms__()[p − nbg − 1] describes parameter p.
  struct KernelTerm {
    int gauss, dnx, dny, delx, dely;
  };
  std::vector<KernelTerm> kernelTerms__() const;
  // Cells of the grid that the fit area and cell steps describe (0 before a fit).
  int cellCount__(int& ncx, int& ncy) const;
  // True when the cell grid is the one of the last completed calc_kern.
  bool fitCompleted__() const;
  // The reference product reads of one calc_kern, timed by its stopwatch.
  class ProductReads;
  // The fit proper, from the cell grid on (steps that may throw).
  void fitCells__(const orv::MArray<float, 2>& img, const orv::MArray<float, 2>& eimg, bool circ,
                  ProductReads& reads);
  // The stages of the fit, in their order.
  // Every per-cell result array for an ncx × ncy grid, cleared.
  void allocateCellResults__(int ncx, int ncy);
  // image_i and e2image_i over the fit area; data within cut_radius of an error of −1 cleared.
  void loadImageSide__(const orv::MArray<float, 2>& img, const orv::MArray<float, 2>& eimg);
  // imask from the reference's calculation mask and the image side; returns the reference
  // variance over the basis area (empty with no_ref_error).
  orv::MArray<float, 2> loadReferenceSide__(ProductReads& reads);
  // mm and vv of cell c, [x0 … x1] × [y0 … y1], summed over the stamps reaching it; P gets the
  // background monomials of the last rectangle. True when a stamp added its sums.
  bool sumCell__(int c, int x0, int x1, int y0, int y1, bool circ, const orv::MArray<float, 2>& Vr,
                 std::vector<float>& P, ProductReads& reads);
  // Adds to sums the weighted products over the usable pixels where stamp s meets the cell;
  // false when it adds nothing (outside, too few pixels, beyond the stamp's cc).
  bool addStampSums__(int c, int s, int x0, int x1, int y0, int y1, bool circ,
                      const orv::MArray<float, 2>& Vr, std::vector<float>& P, std::vector<double>& sums,
                      ProductReads& reads);
  // Solves cell c's system into coef, coef_var, coef_map and the cell's background constant;
  // a singular or non-finite solution leaves the cell as cleared.
  void solveCell__(int c, int column, int row, int ncx, const std::vector<float>& P, long t0);
  // The kernel of cell c from its coefficients, its flux factor and error, and its mosaic tile.
  void cellKernel__(int c, int column, int row, const std::vector<KernelTerm>& terms);

  // Calls cell(n, x0, x1, y0, y1) for every cell of the grid of the last fit, in cell order.
  template <class Cell>
  void forEachCell__(Cell cell) const {
    int n = 0;
    for (int x0 = mx0; x0 <= mx1; x0 += lefx)
      for (int y0 = my0; y0 <= my1; y0 += lefy)
        cell(++n, x0, std::min(x0 + lefx - 1, mx1), y0, std::min(y0 + lefy - 1, my1));
  }
  // False, after "wrong area in diffima", unless a fit is complete and rx × ry holds its area.
  bool convolutionAreaOk__(const orv::Range& rx, const orv::Range& ry) const;
  // The direct correlation of convolve_kern (variance false) and convolve_kern_e (true).
  int convolveKernel__(bool variance, const orv::Range& rx, const orv::Range& ry, orv::MArray<float, 2>& out);
  // Kernel of cell n rebuilt for the pixel (x, y) from the coefficients and the spatial terms.
  void rebuildKernel__(int n, int x, int y, const std::vector<KernelTerm>& terms);

  // Both return false after "wrong area in diffima", having written nothing: getpicsR also for a
  // fit area smaller than the kernel footprint. getpicsRmasks returns false as well when the
  // modified reference it reads back is not this run's.
  bool getpicsR(const orv::MArray<float, 2>& ref, const orv::MArray<float, 2>& eref, util::Region& region,
                int k);
  bool getpicsRmasks(util::Region& region, std::string varmask);
  // Stamp s must hold the kernel footprint: its inner area is not empty.
  int calc_basis(const orv::MArray<float, 2>& image_r, const orv::MArray<float, 2>& e2image_r,
                 const orv::MArray<short, 2>& rmask_calc, const orv::MArray<short, 2>& rmask_conv,
                 const orv::Range& rx, const orv::Range& ry, int s);
};

// Correlation of image with kernel cut to the elliptic footprint inscribed in the kernel's
// box: result(x, y) = Σ k(i, j)·image(x + i, y + j), summed in float, j then i ascending,
// zero taps skipped. The result has the image's index ranges and is 0 where the kernel does
// not fit. Throws orv::RangeException for a kernel of even size.
template <class T, class K>
orv::MArray<T, 2> convolve2d_circ(const orv::MArray<K, 2>& kernel, const orv::MArray<T, 2>& image);

// Gauss-Jordan elimination with full pivoting on the n × n matrix a and right-hand side b:
// 0 with the solution in b and the inverse in a, −1 for a zero pivot.
int dia_gaussj(orv::MArray<double, 2>& a, int n, orv::MArray<double, 1>& b);

// Ends the process through endProcess after flushing standard output: the message and a line
// end on standard error, then exit with the status.
[[noreturn]] void dia_fatal(const std::string& message, int status);

#endif

// The run parameters of the sky program (Pliste) and the blank value that marks pixels without data.
#ifndef TARVOLE_PLISTE_H
#define TARVOLE_PLISTE_H

#include <string>

#include "util/region.h"

// Pixels equal to this value hold no data: the masked images carry it, the absorption and sky
// images start filled with it, and every binning and fit skips it. Compared as a float.
inline constexpr float blank_value = 1.0e20f;

// Every setting of a run, handed by reference to each fitting method and to the correction.
// Fields follow the option table where an option sets them; the others are set by main or by
// the methods. A plain record: the initialisers only keep fields that nothing sets defined.
struct Pliste {
  util::Region region{2};  // sampling area x1:x2 (dimension 1), y1:y2 (dimension 2)
  bool binspline = false;
  bool fitnew = false;
  bool skynew = false;
  bool binsplinedez = false;
  bool abs_bicu = false;  // no option sets it; adds a word to the HISTORY line
  bool verynew = false;
  bool diffima = false;
  bool fielddiffima = false;
  bool fielddiffimaY = false;
  bool error = false;  // read error images and write the output error image
  bool const_sky = false;
  bool const_abs = false;
  bool ref = false;
  bool rOund = false;
  int intervall = 20;  // step between sampling points in pixels
  int radius = 100;    // radius of the sampling boxes (short option -a only)
  int verbose = 0;
  int cx = 0;  // centre, from galcenter once the reference is read
  int cy = 0;
  int abs_poly = 0;  // no option sets it; adds a word to the HISTORY line when > 0
  int runs = 0;
  int ordabs = -1;
  int ordsky = -1;
  int galcenter[2] = {1070, 1077};
  float blank = blank_value;
  double abserr = 0.0;  // scatter of the absorption over the stars, 0 unless a method sets it
  double skyerr = 0.0;
  std::string prefix;
  std::string inputtab;
  std::string outname;  // output image of the current image
  std::string errname;  // output error image of the current image
  std::string fitvariable;
  std::string varmask;
  std::string refdir;  // directory of the reference name, up to and including its last '/'
  std::string read_config_file;
  std::string write_config_file;
  int binradius = 30;  // box radius of the spline binning (option --radius)

  // Not an option: a fitting method sets it, with its cause, when its fit failed (a singular
  // system, too few usable points, a spline that could not be built). main resets both before
  // each method; a failed image is reported on the error stream, gets no output, and makes the
  // run end with status 1 after the other images.
  bool fit_failed = false;
  std::string fail_cause;
  // Not an option: set by a method whose sky error is undefined by its nature (the scatter of
  // the sky values of a single star), not by a failed fit; main resets it before each method.
  bool sky_error_undefined = false;
};

#endif

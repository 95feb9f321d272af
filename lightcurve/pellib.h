#ifndef LIGHTCURVE_PELLIB_H
#define LIGHTCURVE_PELLIB_H

// The light-curve record `Lightcurve`: the photometric points of one star over
// time and everything the analysis operations derive from them. Its
// operations live in the source files of this folder, one topic each.

#include <string>
#include <vector>

#include "orv/marray.h"

class Stopwatch;

// Magnitude of a flux with the zero point of all writers: -2.5 log10(x / 3060).
double flux2mag(double x);

// One light curve. Every array is one-dimensional with index base 1; point i
// is element i of each per-point array, i = 1 .. length. Arrays handed to a
// constructor or out by a getter share their storage with the record.
// Operations check their precondition, print a one-line message on standard
// output and return without change when it fails.
class Lightcurve {
 public:
  Lightcurve();
  Lightcurve(orv::MArray<double, 1> JD, orv::MArray<double, 1> flux, orv::MArray<double, 1> error);
  Lightcurve(orv::MArray<double, 1> JD, orv::MArray<double, 1> flux, orv::MArray<double, 1> error,
             orv::MArray<double, 1> nchi, orv::MArray<std::string, 1> filename);
  Lightcurve(orv::MArray<double, 1> JD, orv::MArray<double, 1> flux, orv::MArray<double, 1> error,
             orv::MArray<std::string, 1> filename);
  Lightcurve(orv::MArray<double, 1> JD, orv::MArray<double, 1> flux, orv::MArray<double, 1> error,
             orv::MArray<double, 1> nchi);
  ~Lightcurve();

  // Array members assign element by element into storage of the same size,
  // so a record is not copied or assigned as a whole.
  Lightcurve(const Lightcurve&) = delete;
  Lightcurve& operator=(const Lightcurve&) = delete;

  // --- Getters (record) ---
  orv::MArray<double, 1> getJD() { return JD; }
  orv::MArray<double, 1> getFlux() { return flux; }
  orv::MArray<double, 1> getError() { return error; }
  orv::MArray<double, 1> getNchi() { return nchi; }
  orv::MArray<double, 1> getBoxval() { return boxval; }
  orv::MArray<std::string, 1> getFilename() { return filename; }
  orv::MArray<double, 1> getPhase() { return phase; }
  orv::MArray<double, 1> getPhased_Flux() { return phased_flux; }
  orv::MArray<double, 1> getPhased_Error() { return phased_error; }
  orv::MArray<double, 1> getPhased_Nchi() { return phased_nchi; }
  orv::MArray<double, 1> getPhased_Boxval() { return phased_boxval; }
  orv::MArray<std::string, 1> getPhased_Filename() { return phased_filename; }
  orv::MArray<double, 1> getSDE() { return SDE; }
  orv::MArray<double, 1> getPeriod_box() { return period_box; }
  orv::MArray<int, 1> getPoints_per_transit() { return points_per_transit; }

  int getLength() const { return length; }
  double getPeriod() const { return period; }
  double getTau() const { return tau; }
  double getT0() const { return t0; }
  double getSNR() const { return SNR; }
  double getDrop() const { return drop; }
  int getNumber_transit_points() const { return number_transit_points; }
  bool isFolded() const { return folded; }
  bool isWeighted() const { return weighted; }
  bool isBoxfitted() const { return boxfitted; }
  double getSDE(int i) const { return SDE(i); }
  double getPeriod_box(int i) const { return period_box(i); }
  int getPoints_per_transit(int i) const { return points_per_transit(i); }

  // Checked getters: peak i of the transit search (1..10), -1.0 when there is none.
  double getDrop_box(int i) const;
  double getT0_box(int i) const;
  double getTau_box(int i) const;
  // Points inside simulated transits; -1 after a message when unknown.
  int getNumber_transit_box() const;
  // Number of simulated transits; 0 after a message when unknown.
  int getNumber_box() const;
  int getNumber_transits() const;

  // --- Folding, sorting, phase binning and weights ---
  // Phase in [0, 1) with the epoch t0 at 0.5; t0 = 0.0 stands for the first
  // date plus period/2. Points whose date or flux is not finite are left out,
  // and the first date is that of the first point kept.
  void fold(double period, double t0);
  void fold(double period);
  void fold();
  // The same, carrying only flux, error, weights and box values.
  void fold_quick(double period, double t0);
  void fold_quick(double period);
  void fold_quick();
  // Orders the points by date (equal dates keep their order).
  void sort();
  // Replaces the folded curve by the filled ones of n phase bins; entries
  // whose phase, flux or weight 1 / error^2 is not finite are left out.
  void binning_phased(int n);
  void calc_weights();
  void calc_phased_weights();

  // --- Normalisation, conversion and editing ---
  void normalize();
  void normalize_flux();
  void convert2mag(double offset);
  void convert2flux();
  // Sigma clipping of the flux (both sides) and of the errors (large ones);
  // both return the number of points removed.
  int clipping(double factor);
  int error_clipping(double factor);
  void remove_point(int i);
  void manipulate(int i, double delta);
  void blend(double b);
  void scale(double factor);
  void nchi_scale();
  void renorm();
  void upscale();

  // --- Transit and noise simulation ---
  void simulate(double period, double t0, double tau, double drop, orv::MArray<double, 1> dates,
                orv::MArray<double, 1> errors, long& seed);
  void simulate(double period, double t0, double tau, double drop, orv::MArray<double, 1> dates,
                double noise_percent, long& seed);
  void simulate(double period, double t0, double tau, double drop, double noise_percent, int ncycles,
                int npoints, long& seed);
  void simulate_noise(orv::MArray<double, 1> dates, orv::MArray<double, 1> errors, long& seed);
  void simulate_noise(orv::MArray<double, 1> dates, double sigma, long& seed);
  void add_whitenoise(double sigma, long& seed);
  void add_rednoise(orv::MArray<double, 1> amplitudes, orv::MArray<double, 1> frequencies,
                    orv::MArray<double, 1> phases, long& seed);

  // --- Analytic transit light curves ---
  // Subtracts the limb-darkened transit of a planet on a circular orbit
  // (period and t0 in date units, inclination in degrees, M_star in solar
  // masses, R_star and R_planet in solar and Jupiter radii) from the flux,
  // keeping the former flux in `removed`; then folds on the transit and
  // records its duration, depth, counts and signal-to-noise ratio. The seed
  // is not used. small_planet selects the small-planet approximation.
  void add_analytical(double period, double t0, double inclination, double M_star, double R_star,
                      double R_planet, double gamma1, double gamma2, bool small_planet, long& seed);
  // A new curve of relative flux 1 with Gaussian noise of the given errors at
  // the dates, with the transit subtracted (the same record as above).
  void simulate_analytical(double period, double t0, double inclination, double M_star, double R_star,
                           double R_planet, double gamma1, double gamma2, orv::MArray<double, 1> dates,
                           orv::MArray<double, 1> errors, bool small_planet, long& seed);
  void simulate_analytical(double period, double t0, double inclination, double M_star, double R_star,
                           double R_planet, double gamma1, double gamma2, orv::MArray<double, 1> dates,
                           double sigma, bool small_planet, long& seed);

  // --- Box-fitting transit search ---
  // Signal residue of box-shaped dips over nper trial periods from pmax down
  // to pmin (uniform in frequency), box widths qmin..qmax in phase, with
  // nbins phase bins (0: the points themselves); keeps the ten best peaks.
  // Points whose date, flux or weight 1 / error^2 is not finite take no part:
  // the result is that of the curve without them.
  void boxfitting(int nper, double pmin, double pmax, double qmin, double qmax, int nbins);
  // Read-backs of peak i: signal-to-noise ratio, transits holding at least
  // minpts points, box-model chi-square per point, points in transit.
  double getSNR_box(int i);
  int getNumber_box(int i, int minpts);
  double getNchi_box(int i);
  int getNumber_transit_box(int i);
  // Removes the points inside the transit window of the ephemeris.
  void maskTransit(double period, double t0, double tau);

  // --- Text, raw and FITS-table files ---
  // Reads an ASCII table (date, flux, error, and the columns given by number;
  // 0 for none); the file reader's exceptions pass, the record unchanged.
  void read(std::string file, bool magnitudes, int nchicol, int boxvalcol, int filenamecol);
  // Raw records of three doubles, or three floats, per point. A file that cannot be opened,
  // is no regular file or holds more records than a curve can index gives an empty curve after
  // a message naming it.
  void read_binary(std::string file, bool magnitudes);
  void read_binary_float(std::string file, bool magnitudes);
  void write(std::string file, bool nchi, bool boxval, bool filename, bool header);
  void write_nonoise(std::string file, bool magnitudes, bool unused);
  void write_removed(std::string file, bool magnitudes, bool unused);
  void write_SR(std::string file, bool unused);
  void write_folded(std::string file, bool nchi, bool boxval, bool filename, bool unused);
  // The curve folded on peak i (binned when nbins is not 0) with its box model.
  void write_boxed(std::string file, int i, bool magnitudes, bool nchi, bool filename, bool boxval, int nbins,
                   bool header);
  // FITS binary tables; a table that cannot be written ends the process.
  void write_binary(std::string file, bool nchi, bool boxval, bool unused1, bool unused2);
  void write_folded_binary(std::string file, bool nchi, bool boxval, bool unused1, bool unused2);
  void write_SR_binary(std::string file, bool unused);
  void write_boxed_binary(std::string file, int i, bool magnitudes, bool nchi, bool unused1, bool boxval,
                          int nbins, bool unused2);
  void write_nonoise_binary(std::string file, bool unused1, bool unused2);
  void write_removed_binary(std::string file, bool unused1, bool unused2);

  // --- Red-noise analysis (dates in ascending order) ---
  // Scatter of the transit-removed curve about 1.
  double getRms_removed();
  // Groups of consecutive points spanning at most dt over the removed curve;
  // prints the table and writes "corrspec.tbl".
  void analyse_rednoise(double dt);
  // A window of length w slid over the flux: rows (n, red noise, white noise, count).
  orv::MArray<double, 2> analyze_rednoise2(double w);
  // Pairs grouped by time lag into nbins bins up to T: rows (mean red noise, group sizes).
  orv::MArray<double, 2> analyze_rednoise(double T, int nbins, int minpairs);

  // --- Data (public, in this order) ---
  orv::MArray<std::string, 1> filename;
  orv::MArray<std::string, 1> phased_filename;
  orv::MArray<double, 1> JD;
  orv::MArray<double, 1> flux;
  orv::MArray<double, 1> error;
  orv::MArray<double, 1> weights;
  orv::MArray<double, 1> nchi;
  orv::MArray<double, 1> boxval;

  orv::MArray<double, 1> phase;
  orv::MArray<double, 1> phased_flux;
  orv::MArray<double, 1> phased_error;
  orv::MArray<double, 1> phased_weights;
  orv::MArray<double, 1> phased_nchi;
  orv::MArray<double, 1> phased_boxval;

  orv::MArray<double, 1> removed;
  orv::MArray<double, 1> nonoise;

  orv::MArray<double, 1> SR;
  orv::MArray<double, 1> frequency;
  orv::MArray<double, 1> SDE;
  orv::MArray<double, 1> period_box;
  orv::MArray<double, 1> H_box;
  orv::MArray<double, 1> L_box;
  orv::MArray<double, 1> tau_box;
  orv::MArray<double, 1> t0_box;

  orv::MArray<int, 1> points_per_transit;

  bool has_data;
  bool weighted;
  bool folded;
  bool boxfitted;
  bool removed_ok;
  bool nonoise_ok;
  bool magnitudes;
  bool analytical;

  int length;
  int phased_length;
  int number_transit_points;
  int number_transits;

  double rednoise;
  double noise;
  double renorm_offset;
  double period;
  double tau;
  double t0;
  double drop;
  double SNR;
  double inclination;
  double M_star;
  double R_star;
  double R_planet;
  double gamma1;
  double gamma2;

  std::string source_file;

 private:
  // Resets every member to the state of an empty record.
  void clear__();
  // Shares the five arrays; the others of a fresh record from them.
  void init__(orv::MArray<double, 1> JD, orv::MArray<double, 1> flux, orv::MArray<double, 1> error,
              orv::MArray<double, 1> nchi, orv::MArray<std::string, 1> filename);
  // True when the record holds at least one point; prints the no-data message otherwise.
  bool requirePoints__() const;
  // The numbers (from 1, ascending) of the points that take part in folding
  // (lightcurve_detail::foldable), or with withWeight in the box search
  // (lightcurve_detail::usablePoint), into points; true when there is one, else
  // prints the no-data message, as for a curve without them.
  bool requireUsablePoints__(std::vector<int>& points, bool withWeight) const;
  // calc_weights over the given points alone (the others get weight 0), and
  // renorm with the weighted mean of their flux, which every point loses.
  void weighPoints__(const std::vector<int>& points);
  void renormPoints__(const std::vector<int>& points);
  // True when the box search has run and i names a peak; prints the message otherwise.
  bool requirePeak__(int i) const;
  // As requirePeak__, and the peak was found (an empty peak holds period 0).
  bool requireFoundPeak__(int i) const;
  // Folds on peak i, bins (nbins not 0) and sets the box model when asked
  // (in magnitudes with the phased curve), with laps on the stopwatch.
  void boxedCurve__(int i, bool magnitudes, bool boxval, int nbins, Stopwatch& watch);
  // Folds the given points (at least one) as fold does, or with quick as
  // fold_quick does; t0 = 0.0 stands for the first of them plus half a period.
  void foldPoints__(const std::vector<int>& points, double period, double t0, bool quick);
  // Box transit at the given dates with the given errors (lengths checked by the callers).
  void simulateBox__(double period, double t0, double tau, double drop, const orv::MArray<double, 1>& dates,
                     const orv::MArray<double, 1>& errors, long& seed);
  // Separation of the planet's and the star's centres at a date, in stellar
  // radii, for an orbit of speed v_orbit and offset c_orbit across it
  // (astronomical units and date units).
  double separation__(double date, double v_orbit, double c_orbit) const;
  // Stores the eight transit parameters.
  void setTransit__(double period, double t0, double inclination, double M_star, double R_star,
                    double R_planet, double gamma1, double gamma2);
  // Applies the transit to flux (and nonoise when with_nonoise) in stored order.
  void applyTransit__(bool small_planet, bool with_nonoise);
  // Duration and depth of the stored transit, then its counts and signal-to-noise ratio.
  void transitDurationAndDepth__();
  void transitBookkeeping__();
  // Fresh per-point arrays of n points: zero weights, nchi and box values, unknown file names.
  void newPoints__(int n);
};

#endif

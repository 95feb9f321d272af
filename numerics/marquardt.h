#ifndef NUMERICS_MARQUARDT_H
#define NUMERICS_MARQUARDT_H

#include "numerics/random.h"
#include "orv/marray.h"

// Levenberg-Marquardt fit of a model z = f(x, y; a) of two coordinates to
// weighted data points (x, y, z, sigma), with a flag per parameter that fits
// it (non-zero) or holds it at its start value (0). A subclass supplies the
// model and its derivatives in funcs; calc runs the whole fit and leaves the
// parameters, their errors and the goodness of fit in the public members.
// Nothing here throws; problems show in the results, and with verbose > 0 in
// a message on standard error.
//
// All parameter vectors and matrices are indexed from 1. Points with
// sigma <= 0 take no part in the fit.
class marquardt {
 public:
  // x, y, z and sig are copied with their own index ranges; the data points
  // are z's indices (x, y and sig should cover them: an index that one of
  // them lacks is treated as a point without data). a gives the start values
  // of parameters 1 .. ma, ma being a's last index; ia the flags (missing
  // entries count as held). The caller's arrays are neither kept nor changed.
  marquardt(const orv::MArray<double, 1>& x, const orv::MArray<double, 1>& y, const orv::MArray<double, 1>& z,
            const orv::MArray<double, 1>& sig, orv::MArray<double, 1>& a, const orv::MArray<int, 1>& ia);
  virtual ~marquardt();

  marquardt(const marquardt&) = delete;
  marquardt& operator=(const marquardt&) = delete;

  // The model at (x, y) for parameters a: value into yfit, the derivative by
  // parameter l into dyda(l) for l = 1 .. ma. Returns 0, or -1 when the model
  // cannot be evaluated (any other value counts as success in the fit).
  virtual int funcs(double x, double y, const orv::MArray<double, 1>& a, double& yfit,
                    orv::MArray<double, 1>& dyda) = 0;

  // Runs the fit from the parameters in a. Returns 0 when lambda left the
  // interval (1e-15, 1e15), 1 when more than maxiter steps were needed (the
  // results are set all the same), -1 when the model failed at the start
  // parameters or the final curvature matrix was singular; a and sa are then
  // all 0.
  int calc();

  // One Levenberg-Marquardt step; a negative alamda starts a new fit and
  // alamda = 0 computes the covariance. Returns 0, -1 (model failure at the
  // start of a fit), -2 (singular system) or -3 (model failure at the trial
  // parameters).
  int mrqmin();

  // chi-square into chisq, curvature matrix into A and gradient into b (their
  // leading blocks of the fitted parameters) at parameters p. Returns 0, or
  // -1 at once when the model fails.
  int mrqcof(orv::MArray<double, 1>& p, orv::MArray<double, 2>& A, orv::MArray<double, 1>& b);

  // Spreads the mfit × mfit block of M in place over the ma × ma layout of
  // all parameters, with zero rows and columns for held ones.
  void cov_srt(orv::MArray<double, 2>& M);

  // One simulated measurement: the model at (x, y) for parameters a plus a
  // Gaussian deviate times s, or 0 when funcs does not return 0.
  double mcs(double x, double y, double s, const orv::MArray<double, 1>& a);

  // One row each of the parameter table on standard output: headings,
  // parameters, flags and errors, in columns of 15.
  void print_title();
  void print_a();
  void print_ia();
  void print_sa();

  // Parameters with their errors, one per line, on standard output; leaves
  // the stream's precision at 13.
  void print_result();

  // Parameters with their errors into the named text file (replaced); does
  // nothing when the file cannot be opened.
  void write_result(const char* name);

  int first;  // first index of the data points
  int last;   // last index of the data points
  int n;      // last - first + 1
  int ndata;  // points with sigma > 0
  int ma;     // number of parameters
  orv::MArray<double, 1> x;
  orv::MArray<double, 1> y;
  orv::MArray<double, 1> z;
  orv::MArray<double, 1> sig;
  int mfit;                      // fitted parameters, counted when a fit starts
  double ochisq;                 // chi-square of the accepted parameters
  orv::MArray<double, 2> alpha;  // curvature matrix
  orv::MArray<double, 2> covar;  // working matrix; the covariance after calc
  orv::MArray<double, 1> atry;   // trial parameters
  orv::MArray<double, 1> beta;   // gradient
  orv::MArray<double, 1> da;     // right-hand side and parameter step
  int nfree;                     // degrees of freedom, set by calc
  int maxiter;                   // iteration limit
  int verbose;                   // > 0: calc reports failures on standard error
  int iter;                      // steps of the last calc
  double factor;                 // lambda is divided or multiplied by it
  double chisq;                  // chi-square of the last evaluation
  double alamda;                 // lambda; negative starts a new fit
  double rms;                    // sqrt(chisq / ndata) after calc
  double reduced;                // sqrt(chisq / nfree) after calc
  orv::MArray<double, 1> a;      // parameters
  orv::MArray<int, 1> ia;        // flags: non-zero fitted, 0 held
  orv::MArray<double, 1> sa;     // parameter errors
  C_rangau noise;                // Gaussian deviates for mcs

 private:
  // Sets a and sa to 0 and reports status when verbose; calc's failure path.
  void fail__(int status);

  // The indices of the data points that all four data arrays hold.
  int firstUsable__;
  int lastUsable__;
};

#endif

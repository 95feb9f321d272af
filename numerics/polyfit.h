#ifndef NUMERICS_POLYFIT_H
#define NUMERICS_POLYFIT_H

// Weighted linear least-squares fits to points with standard deviations σ
// (weights 1/σ²), solved through the normal equations with gaussj. Point
// arrays are read at indices 1..N, N the last index of the first array
// (except in poly, which takes N). The surface fits order their terms with the
// power of x running fastest. Nothing here prints or throws.

#include "orv/marray.h"

// Weighted mean c of y over the points with σ > 0, its error √(1/Σ 1/σ²) and
// the scatter √(Σ ((y − c)/σ)² / (m − 1)) (0 for one point). Returns 0, or −1
// with all three outputs 0 when no point has σ > 0.
int fitconst(orv::MArray<double, 1>& y, orv::MArray<double, 1>& sigma, double& c, double& error,
             double& scatter);

// Polynomial of the given order through the first n points; coef (indices
// 0..order, already sized) receives the coefficients highest power first:
// coef(0) multiplies x^order, coef(order) is the constant. Returns χ²/n, or
// −1 when the normal equations are singular (coef then holds zeros).
double poly(orv::MArray<double, 1> x, orv::MArray<double, 1> y, orv::MArray<double, 1> sigma,
            orv::MArray<double, 1>& coef, int order, int n);

// Surface with every product x^jx·y^jy, jx, jy = 0..order; coef becomes a
// fresh array of (order+1)² entries from index 1, entry jy·(order+1) + jx + 1
// the coefficient of x^jx·y^jy. Returns the gaussj status (0, or −1 for a
// singular system, coef then unusable). Without σ every point has σ = 1. The
// float forms take the powers and their products in single precision.
int poly2d(const orv::MArray<double, 1>& x, const orv::MArray<double, 1>& y, const orv::MArray<double, 1>& z,
           const orv::MArray<double, 1>& sigma, int order, orv::MArray<double, 1>& coef);
int poly2d(const orv::MArray<double, 1>& x, const orv::MArray<double, 1>& y, const orv::MArray<double, 1>& z,
           int order, orv::MArray<double, 1>& coef);
int poly2d(const orv::MArray<float, 1>& x, const orv::MArray<float, 1>& y, const orv::MArray<float, 1>& z,
           const orv::MArray<float, 1>& sigma, int order, orv::MArray<double, 1>& coef);
int poly2d(const orv::MArray<float, 1>& x, const orv::MArray<float, 1>& y, const orv::MArray<float, 1>& z,
           int order, orv::MArray<double, 1>& coef);

// Surface up to total degree order: terms x^jx·y^jy for jy = 0..order and
// jx = 0..order − jy, so (order+1)(order+2)/2 coefficients from index 1 (for
// order 2: 1, x, x², y, x·y, y²). Returns the gaussj status.
int poly2d_nomix(const orv::MArray<double, 1>& x, const orv::MArray<double, 1>& y,
                 const orv::MArray<double, 1>& z, const orv::MArray<double, 1>& sigma, int order,
                 orv::MArray<double, 1>& coef);

#endif

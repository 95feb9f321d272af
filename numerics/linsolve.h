#ifndef NUMERICS_LINSOLVE_H
#define NUMERICS_LINSOLVE_H

// Dense linear systems A·x = b in arrays indexed from 1 in every dimension.
// Matrices are orv::MArray<double,2>, element (i, j) row i, column j; except
// in gaussj, which takes n, n is the last index of the matrix's first
// dimension and the matrix is taken as n × n. Shapes are not tested. Nothing
// here throws.

#include "orv/marray.h"

// Gauss-Jordan elimination with full pivoting. Returns 0 with the solution in
// b and the inverse of A in a; −1 when a pivot is exactly zero (or no pivot
// can be chosen because the remaining elements are NaN), with a and b partly
// reduced and not to be used.
int gaussj(orv::MArray<double, 2>& a, int n, orv::MArray<double, 1>& b);

// LU decomposition with scaled partial pivoting, in place: a receives the
// multipliers of L below the diagonal and U on and above it, p a fresh pivot
// record (entry k the row exchanged with row k at step k), d the determinant.
// Returns 0, or −1 for a singular matrix (no usable pivot at some step, or a
// zero or non-finite last pivot) after printing "matrix singular" on
// standard error.
int ludecomp(orv::MArray<double, 2>& a, orv::MArray<int, 1>& p, double& d);

// Replaces b by the solution of A·x = b from the LU form and pivot record of ludecomp.
void lubacksub(orv::MArray<double, 2>& a, orv::MArray<int, 1>& p, orv::MArray<double, 1>& b);

// r becomes a fresh array of n entries holding A·x − b, each row summed in
// extended precision from its smallest term upwards. a is the unfactored matrix.
void residuum(orv::MArray<double, 2>& a, orv::MArray<double, 1>& x, orv::MArray<double, 1>& b,
              orv::MArray<double, 1>& r);

// One step of iterative improvement of x: lu and p from ludecomp, a the
// unfactored matrix, b the right-hand side.
void mprove(orv::MArray<double, 2>& lu, orv::MArray<double, 1>& x, orv::MArray<int, 1>& p,
            orv::MArray<double, 2>& a, orv::MArray<double, 1>& b);

// Solves A·x = b by LU decomposition and m improvement steps, printing
// diagnostics on standard output by verbosity v. Returns 0 with the solution
// in b and the inverse of A in a, or −1 for a singular matrix, leaving a and
// b unchanged.
int lu_iter(orv::MArray<double, 2>& a, orv::MArray<double, 1>& b, int m, int v);

// c(i, j) = Σ a(i, k)·b(k, j), k = 1..n, n from c's first dimension; c must
// not be one of the factors.
void matmult(orv::MArray<double, 2>& c, orv::MArray<double, 2>& a, orv::MArray<double, 2>& b);

// Print a vector, or a square matrix row by row, on standard output, each
// value in a field of 15 at precision 8 followed by two blanks. Both leave the
// stream's precision at 8.
void vecprint(orv::MArray<double, 1>& v);
void matprint(orv::MArray<double, 2>& a);

#endif

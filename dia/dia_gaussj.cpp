// The module's Gauss-Jordan entry: the toolkit's elimination with full pivoting.
#include "dia/dia.h"
#include "numerics/linsolve.h"

int dia_gaussj(orv::MArray<double, 2>& a, int n, orv::MArray<double, 1>& b) { return gaussj(a, n, b); }

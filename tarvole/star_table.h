// The star table of difference imaging over stars: star positions from an ASCII column table.
#ifndef TARVOLE_STAR_TABLE_H
#define TARVOLE_STAR_TABLE_H

#include <string>

#include "orv/marray.h"

// Reads the positions of the stars from the table `name`: x from column 2 and y from column 3,
// columns separated by white space, "#" starting a comment. Throws orv::IOException when the
// table cannot be read.
void read_star_table(const std::string& name, orv::MArray<double, 1>& x, orv::MArray<double, 1>& y);

#endif

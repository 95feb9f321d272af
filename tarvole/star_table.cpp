#include "tarvole/star_table.h"

#include "orv/fits/ascio.h"

void read_star_table(const std::string& name, orv::MArray<double, 1>& x, orv::MArray<double, 1>& y) {
  orv::AscFile table(name, '\0', "#");
  x.makeReference(table.readDoubleColumn(2));
  y.makeReference(table.readDoubleColumn(3));
}

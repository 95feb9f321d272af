// File names derived from an image name and the occupied box of an image.
#include "tarvole/names.h"

std::string newname(std::string name, std::string prefix) {
  const std::size_t slash = name.rfind('/');
  const std::size_t at = slash == std::string::npos ? 0 : slash + 1;
  name.insert(at, prefix);
  return name;
}

namespace {

template <class T>
bool column_has_data(const orv::MArray<T, 2>& a, int x, T blank) {
  for (int y = a.first(2); y <= a.last(2); ++y)
    if (!(a(x, y) == blank)) return true;
  return false;
}

template <class T>
bool row_has_data(const orv::MArray<T, 2>& a, int y, T blank) {
  for (int x = a.first(1); x <= a.last(1); ++x)
    if (!(a(x, y) == blank)) return true;
  return false;
}

}  // namespace

template <class T>
void nonan(const orv::MArray<T, 2>& a, int& x1, int& x2, int& y1, int& y2, T blank) {
  const int X0 = a.first(1), X1 = a.last(1), Y0 = a.first(2), Y1 = a.last(2);
  // Bounds move in 64 bits: an all-blank array ends one past each end.
  long long lx = X0, hx = X1, ly = Y0, hy = Y1;
  while (lx <= X1 && !column_has_data(a, static_cast<int>(lx), blank)) ++lx;
  while (hx >= X0 && !column_has_data(a, static_cast<int>(hx), blank)) --hx;
  while (ly <= Y1 && !row_has_data(a, static_cast<int>(ly), blank)) ++ly;
  while (hy >= Y0 && !row_has_data(a, static_cast<int>(hy), blank)) --hy;
  x1 = static_cast<int>(lx);
  x2 = static_cast<int>(hx);
  y1 = static_cast<int>(ly);
  y2 = static_cast<int>(hy);
}

template void nonan<float>(const orv::MArray<float, 2>&, int&, int&, int&, int&, float);
template void nonan<double>(const orv::MArray<double, 2>&, int&, int&, int&, int&, double);

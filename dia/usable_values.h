// The values of a row kept where its pixels are usable and set to +0.0 elsewhere, by a flag
// byte per pixel: the masking of the reference step's basis images.
#ifndef DIA_USABLE_VALUES_H
#define DIA_USABLE_VALUES_H

#include <cstdint>

namespace dia_usable {

// to[k] = from[k] where keep[k] is 0xff, +0.0 where it is 0, for k < n: the plain loop.
inline void keepUsablePlain(const float* from, const std::uint8_t* keep, float* to, int n) {
  for (int k = 0; k < n; ++k) to[k] = keep[k] ? from[k] : 0.0f;
}

// The same as a bitwise and of each value with its flag spread over its four bytes, sixteen
// values at a time on the path kernels run on (orv::lanes::chosen): the very bits of the plain
// loop whatever the values are, not-a-numbers and negative zeros too. from and to may be the
// same.
void keepUsable(const float* from, const std::uint8_t* keep, float* to, int n);

}  // namespace dia_usable

#endif

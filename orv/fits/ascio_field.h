// Numbers read from the fields of ASCII column tables.
#ifndef ORV_FITS_ASCIO_FIELD_H
#define ORV_FITS_ASCIO_FIELD_H

#include <string_view>

namespace orv::detail {

// Reads the number at the start of a field exactly as formatted extraction (>>)
// from a string stream in the classic locale reads it: leading whitespace is
// skipped, the longest prefix that the stream takes for a number (sign, digits,
// one decimal point and an exponent for floating point; sign and decimal digits
// for int) is converted, and whatever follows it is ignored. Returns false, and
// leaves value unspecified, when no number starts the field, when the prefix is
// not a whole number ("1e", "-", ".") or when its value lies beyond the type's
// range (an overflow; a floating-point underflow reads as the rounded value).
//
// The reader converts millions of fields; a stream per field would cost far more
// than the number itself, and this allocates nothing.
bool readFieldValue(std::string_view field, int& value);
bool readFieldValue(std::string_view field, float& value);
bool readFieldValue(std::string_view field, double& value);

}  // namespace orv::detail

#endif

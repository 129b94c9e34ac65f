#pragma once

namespace lumiclip {

// number * numerator / denominator with a 64-bit intermediate product, rounded to the nearest integer
// (halves away from zero). -1 when denominator is 0 or the result does not fit in an int, the way the
// picture-size arithmetic has always behaved.
int MulDiv(int number, int numerator, int denominator);

// Picture sizes are kept in HIMETRIC units: hundredths of a millimetre, 2540 per inch.
inline constexpr int kHimetricPerInch = 2540;

}  // namespace lumiclip

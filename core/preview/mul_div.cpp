#include "core/preview/mul_div.h"

#include <climits>
#include <cstdint>

namespace lumiclip {

int MulDiv(int number, int numerator, int denominator) {
    if (denominator == 0) {
        return -1;
    }
    std::int64_t product = static_cast<std::int64_t>(number) * numerator;
    std::int64_t divisor = denominator;
    if (divisor < 0) {
        product = -product;  // |product| < 2^62, so this cannot overflow
        divisor = -divisor;
    }
    // Division truncates toward zero; adding half the divisor in the product's direction rounds halves
    // away from zero.
    const std::int64_t half = divisor / 2;
    const std::int64_t result = (product >= 0 ? product + half : product - half) / divisor;
    if (result > INT_MAX || result < -INT_MAX) {
        return -1;
    }
    return static_cast<int>(result);
}

}  // namespace lumiclip

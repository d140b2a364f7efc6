#include "ZorDX_memlist.h"

std::string NumberName(int32_t value, int32_t width) {
    std::string digits = std::to_string(value);
    if (static_cast<int64_t>(digits.size()) < width)
        digits.insert(0, static_cast<size_t>(width) - digits.size(), ' ');
    return digits;
}

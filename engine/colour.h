// Colour measures: an integer grey level and an integer CIELAB triple of a packed colour.
#pragma once

#include <cstdint>

namespace mendora {

// Grey level 0..255: (9765 R + 19267 G + 3735 B) / 32767, truncated.
int32_t greyLevel(uint32_t colour);

// CIELAB of an sRGB colour (D65 white), each component truncated toward zero. L is 0..100.
void rgbToLab(uint32_t colour, int32_t& L, int32_t& a, int32_t& b);

} // namespace mendora

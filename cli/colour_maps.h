// Perceptual colour maps for pictures: low values dark, high values bright.
#pragma once

#include <cstdint>
#include <string_view>

namespace hx::cli {

// 256 entries, 0xRRGGBB, darkest first; null for an unknown name.
const uint32_t* colourMap(std::string_view name);

}  // namespace hx::cli

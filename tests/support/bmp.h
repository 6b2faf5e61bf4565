// BMP files made for tests (pictures a program loads from disk).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace test_support {

// A 24-bit bottom-up BMP file of `width` x `height` pixels, pixel (x, y)
// coloured `rgb(x, y)` as 0xRRGGBB.
std::vector<unsigned char> Bmp24(int width, int height, const std::function<uint32_t(int x, int y)>& rgb);

}  // namespace test_support

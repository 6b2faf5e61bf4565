#include "tests/support/bmp.h"

namespace test_support {

std::vector<unsigned char> Bmp24(int width, int height, const std::function<uint32_t(int x, int y)>& rgb) {
  const int stride = (width * 3 + 3) & ~3;
  const uint32_t pixels = static_cast<uint32_t>(stride * height);
  std::vector<unsigned char> b(54 + pixels, 0);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
  };
  b[0] = 'B';
  b[1] = 'M';
  put32(2, static_cast<uint32_t>(b.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, static_cast<uint32_t>(width));
  put32(22, static_cast<uint32_t>(height));
  b[26] = 1;
  b[28] = 24;
  put32(34, pixels);
  for (int y = 0; y < height; ++y) {
    const size_t row = 54 + static_cast<size_t>(stride) * static_cast<size_t>(height - 1 - y);
    for (int x = 0; x < width; ++x) {
      const uint32_t c = rgb(x, y);
      b[row + x * 3 + 0] = static_cast<unsigned char>(c & 0xFF);
      b[row + x * 3 + 1] = static_cast<unsigned char>((c >> 8) & 0xFF);
      b[row + x * 3 + 2] = static_cast<unsigned char>((c >> 16) & 0xFF);
    }
  }
  return b;
}

}  // namespace test_support

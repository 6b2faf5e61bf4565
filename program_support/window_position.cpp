#include "program_support/window_position.h"

#include <cstring>

namespace {

constexpr DWORD kValueBytes = 20;

int32_t SumOf(int32_t x, int32_t y, int32_t cx, int32_t cy) {
  uint32_t sum = static_cast<uint32_t>(x) + static_cast<uint32_t>(y) + static_cast<uint32_t>(cx) +
                 static_cast<uint32_t>(cy);
  return static_cast<int32_t>(sum);
}

void Put(uint8_t* p, int32_t v) {
  uint32_t u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(u >> (8 * i));
}
int32_t Get(const uint8_t* p) {
  return static_cast<int32_t>(p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

WindowPosition::WindowPosition(HKEY root, LPCWSTR path) : path_(path) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) == ERROR_SUCCESS) {
    key_ = key;
  }
}

WindowPosition::~WindowPosition() {
  if (key_) RegCloseKey(key_);
}

void WindowPosition::SetRect(const WINDOWPOS& position) {
  x_ = position.x;
  y_ = position.y;
  cx_ = position.cx;
  cy_ = position.cy;
  sum_ = SumOf(x_, y_, cx_, cy_);
}

bool WindowPosition::Save() {
  if (!key_) return false;
  uint8_t bytes[kValueBytes];
  Put(bytes, x_);
  Put(bytes + 4, y_);
  Put(bytes + 8, cx_);
  Put(bytes + 12, cy_);
  Put(bytes + 16, sum_);
  return RegSetValueExW(key_, kWindowPositionValue, 0, REG_BINARY, bytes, kValueBytes) == ERROR_SUCCESS;
}

bool WindowPosition::IsValid() const { return SumOf(x_, y_, cx_, cy_) == sum_; }

bool WindowPosition::Load(int32_t* x, int32_t* y, int32_t* cx, int32_t* cy) {
  if (!key_) return false;
  uint8_t bytes[kValueBytes + 8] = {};
  DWORD type = 0, size = sizeof(bytes);
  if (RegQueryValueExW(key_, kWindowPositionValue, nullptr, &type, bytes, &size) != ERROR_SUCCESS ||
      size != kValueBytes) {
    return false;
  }
  x_ = Get(bytes);
  y_ = Get(bytes + 4);
  cx_ = Get(bytes + 8);
  cy_ = Get(bytes + 12);
  sum_ = Get(bytes + 16);
  if (!IsValid()) return false;
  *x = x_;
  *y = y_;
  *cx = cx_;
  *cy = cy_;
  return true;
}

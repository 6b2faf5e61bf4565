#include "program_support/window_position.h"

#include <cstring>

#include "platform/core/little_endian.h"

namespace {

constexpr DWORD kValueBytes = 20;

int32_t SumOf(int32_t x, int32_t y, int32_t cx, int32_t cy) {
  uint32_t sum = static_cast<uint32_t>(x) + static_cast<uint32_t>(y) + static_cast<uint32_t>(cx) +
                 static_cast<uint32_t>(cy);
  return static_cast<int32_t>(sum);
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
  platform::WriteLe32(bytes, static_cast<uint32_t>(x_));
  platform::WriteLe32(bytes + 4, static_cast<uint32_t>(y_));
  platform::WriteLe32(bytes + 8, static_cast<uint32_t>(cx_));
  platform::WriteLe32(bytes + 12, static_cast<uint32_t>(cy_));
  platform::WriteLe32(bytes + 16, static_cast<uint32_t>(sum_));
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
  x_ = static_cast<int32_t>(platform::ReadLe32(bytes));
  y_ = static_cast<int32_t>(platform::ReadLe32(bytes + 4));
  cx_ = static_cast<int32_t>(platform::ReadLe32(bytes + 8));
  cy_ = static_cast<int32_t>(platform::ReadLe32(bytes + 12));
  sum_ = static_cast<int32_t>(platform::ReadLe32(bytes + 16));
  if (!IsValid()) return false;
  *x = x_;
  *y = y_;
  *cx = cx_;
  *cy = cy_;
  return true;
}

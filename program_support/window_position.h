// A window's position and size kept in the registry as one 20-byte binary
// value "MainWindowPositions" (x, y, cx, cy and their sum, little-endian
// signed 32-bit) under a key of the owner's choice. Shared by Pellimor's
// destination page and Fennick's pages.
#pragma once

#include <cstdint>

#include "platform/core/cstring.h"
#include "platform/registry/registry.h"
#include "platform/ui/winuser.h"

class WindowPosition {
 public:
  // Creates or opens root\path with full access; without it, Save and Load fail.
  WindowPosition(HKEY root, LPCWSTR path);
  virtual ~WindowPosition();
  WindowPosition(const WindowPosition&) = delete;
  WindowPosition& operator=(const WindowPosition&) = delete;

  // Takes x, y, cx and cy of the record and their sum (modulo 2^32).
  void SetRect(const WINDOWPOS& position);
  // Writes the 20 bytes; false without a key or when the write fails.
  bool Save();
  bool IsValid() const;
  // Reads the value back; true (and the four values) only for exactly 20
  // bytes whose sum holds. The outputs are left alone otherwise.
  bool Load(int32_t* x, int32_t* y, int32_t* cx, int32_t* cy);

 private:
  int32_t x_ = 0, y_ = 0, cx_ = 0, cy_ = 0, sum_ = 0;
  HKEY key_ = nullptr;
  CString path_;
};

inline constexpr const char16_t* kWindowPositionValue = u"MainWindowPositions";

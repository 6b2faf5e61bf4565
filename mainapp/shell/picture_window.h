// CPictureWindow: wraps a window and paints a picture file (any format the
// picture loader reads: BMP, PNG, JPEG, GIF ...) stretched over its client
// area. The file is read through the platform's file API, so paths name files
// of the simulated PC.
#pragma once

#include <string>

#include "platform/ui/cwnd.h"
#include "platform/ui/gdi.h"

class CPictureWindow : public CWnd {
 public:
  CPictureWindow();
  ~CPictureWindow() override;

  // Replaces the picture with the one stored in `path` (may be null). The
  // old picture is released first; the window is repainted in every case.
  // True only when the new picture was read and decoded.
  virtual bool LoadPictureFile(const char16_t* path);
  // True when `message` is the one the picture is drawn on (WM_PAINT unless
  // changed with set_draw_message).
  virtual bool IsDrawMessage(UINT message) const { return message == draw_message_; }

  void set_draw_message(UINT message) { draw_message_ = message; }
  bool has_picture() const { return picture_ != nullptr; }
  // The loaded picture's pixel size, 0 x 0 without one.
  SIZE picture_size() const;

  LRESULT WindowProc(UINT message, WPARAM w, LPARAM l) override;

  // Files larger than this are refused rather than read into memory.
  static constexpr DWORD kMaxPictureBytes = 64u << 20;

 private:
  void DrawPicture(HDC dc, const RECT& target) const;
  void ReleasePicture();
  bool EraseWithPicture();

  UINT draw_message_;
  HBITMAP picture_ = nullptr;
};

#include "mainapp/shell/picture_window.h"

#include <vector>

#include "platform/fs/file_api.h"
#include "platform/storage/ioctl.h"

CPictureWindow::CPictureWindow() : draw_message_(WM_PAINT) {}

CPictureWindow::~CPictureWindow() { ReleasePicture(); }

void CPictureWindow::ReleasePicture() {
  if (picture_) ::DeleteObject(picture_);
  picture_ = nullptr;
}

SIZE CPictureWindow::picture_size() const {
  BITMAP bitmap{};
  const int got = picture_ ? ::GetObjectW(picture_, sizeof bitmap, &bitmap) : 0;
  if (got != static_cast<int>(sizeof bitmap)) return SIZE{0, 0};
  return SIZE{bitmap.bmWidth, bitmap.bmHeight};
}

bool CPictureWindow::LoadPictureFile(const char16_t* path) {
  ReleasePicture();
  bool loaded = false;
  if (path) {
    HANDLE file = ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      DWORD size = ::GetFileSize(file, nullptr);
      // An empty, unknown or oversized file is not read into memory.
      if (size != INVALID_FILE_SIZE && size > 0 && size <= kMaxPictureBytes) {
        std::vector<unsigned char> data(size);
        DWORD got = 0;
        if (::ReadFile(file, data.data(), size, &got, nullptr) && got == size) {
          picture_ = platform::ui::DecodePicture(data.data(), data.size());
          loaded = picture_ != nullptr;
        }
      }
      ::CloseHandle(file);
    }
  }
  if (m_hWnd) Invalidate(TRUE);
  return loaded;
}

void CPictureWindow::DrawPicture(HDC dc, const RECT& target) const {
  SIZE size = picture_size();
  if (!dc || size.cx <= 0 || size.cy <= 0) return;
  HDC memory = ::CreateCompatibleDC(dc);
  if (!memory) return;
  HGDIOBJ previous = ::SelectObject(memory, picture_);
  // The whole picture stretched upright over the target.
  ::StretchBlt(dc, target.left, target.top, target.right - target.left, target.bottom - target.top,
               memory, 0, 0, size.cx, size.cy, SRCCOPY);
  ::SelectObject(memory, previous);
  ::DeleteDC(memory);
}

bool CPictureWindow::EraseWithPicture() {
  HDC dc = ::GetDC(m_hWnd);
  if (!dc) return false;
  // Children keep their own pixels: their rectangles are left out.
  int children = 0;
  for (HWND child = ::GetWindow(m_hWnd, GW_CHILD); child && children < 4096;
       child = ::GetWindow(child, GW_HWNDNEXT), ++children) {
    if (!::IsWindowVisible(child)) continue;
    RECT r{};
    ::GetWindowRect(child, &r);
    ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<LPPOINT>(&r), 2);
    ::ExcludeClipRect(dc, r.left, r.top, r.right, r.bottom);
  }
  RECT client{};
  ::GetClientRect(m_hWnd, &client);
  DrawPicture(dc, client);
  ::ReleaseDC(m_hWnd, dc);
  return true;
}

LRESULT CPictureWindow::WindowProc(UINT message, WPARAM w, LPARAM l) {
  if (message == WM_ERASEBKGND && IsDrawMessage(message) && picture_) {
    if (EraseWithPicture()) return TRUE;
  }
  if (message == WM_PAINT && IsDrawMessage(message) && picture_) {
    // Through the paint handshake, so a pending erase runs before the picture
    // is drawn rather than over it; default processing follows.
    PAINTSTRUCT ps{};
    HDC dc = ::BeginPaint(m_hWnd, &ps);
    if (dc) {
      RECT client{};
      ::GetClientRect(m_hWnd, &client);
      DrawPicture(dc, client);
    }
    ::EndPaint(m_hWnd, &ps);
  }
  return CWnd::WindowProc(message, w, l);
}

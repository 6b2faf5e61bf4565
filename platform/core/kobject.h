// Kernel objects and the one handle table behind every HANDLE.
//
// Files, disk and volume devices, processes, threads, pipes, mutexes and events
// are all KernelObjects. Each part of the platform subclasses KernelObject and
// overrides what its kind supports; the defaults fail the way the platform
// fails an operation that does not apply to a handle (ERROR_INVALID_FUNCTION,
// or ERROR_INVALID_HANDLE for waits on non-waitable objects).
//
// ReadFile, WriteFile, SetFilePointer(Ex), GetFileSize(Ex), SetEndOfFile,
// FlushFileBuffers, DeviceIoControl, WaitForSingleObject and CloseHandle look
// the handle up and dispatch here. A bad handle is ERROR_INVALID_HANDLE, never
// a crash.
#pragma once

#include <memory>

#include "platform/core/error.h"
#include "platform/core/types.h"

namespace platform {

class KernelObject : public std::enable_shared_from_this<KernelObject> {
 public:
  virtual ~KernelObject() = default;

  // A short name for logs and diagnostics ("file", "disk", "pipe", ...).
  virtual const char* kind() const = 0;

  // Sequential I/O at the object's current position. On success *done holds
  // the byte count moved (0 at end of file). Return FALSE with the last error set.
  virtual BOOL read(void* buffer, DWORD size, DWORD* done);
  virtual BOOL write(const void* buffer, DWORD size, DWORD* done);
  // method: FILE_BEGIN, FILE_CURRENT, FILE_END.
  virtual BOOL seek(LONGLONG distance, DWORD method, LONGLONG* new_position);
  virtual BOOL get_size(LONGLONG* size);
  virtual BOOL set_end_of_file();
  virtual BOOL flush();
  virtual BOOL io_control(DWORD code, const void* in, DWORD in_size, void* out, DWORD out_size,
                          DWORD* returned);

  // Waitable objects return WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_ABANDONED;
  // timeout_ms is measured on platform::Clock.
  virtual DWORD wait(DWORD timeout_ms);

  // Called when the handle that refers to this object is closed (each handle
  // calls it once; the object itself lives while anyone holds a reference).
  // Returns ERROR_SUCCESS, or why the object's cached writes could not be
  // handed to the device (the handle is gone either way; CloseHandle reports
  // the loss).
  virtual DWORD on_handle_closed() { return ERROR_SUCCESS; }
};

// Registers an object and returns a fresh handle for it (never NULL or
// INVALID_HANDLE_VALUE).
HANDLE OpenHandle(std::shared_ptr<KernelObject> object);

// The object behind a handle, or null with ERROR_INVALID_HANDLE set.
std::shared_ptr<KernelObject> ResolveHandle(HANDLE handle);

// The object behind a handle if it is of type T, else null with
// ERROR_INVALID_HANDLE set.
template <class T>
std::shared_ptr<T> ResolveHandleAs(HANDLE handle) {
  auto object = std::dynamic_pointer_cast<T>(ResolveHandle(handle));
  if (!object) SetLastError(ERROR_INVALID_HANDLE);
  return object;
}

// Number of open handles, for tests that check nothing leaks.
size_t OpenHandleCount();

}  // namespace platform

constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD FILE_CURRENT = 1;
constexpr DWORD FILE_END = 2;
constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFF;
constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFF;

BOOL CloseHandle(HANDLE handle);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD to_read, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD to_write, LPDWORD written, LPOVERLAPPED overlapped);
DWORD SetFilePointer(HANDLE file, LONG distance_low, PLONG distance_high, DWORD method);
BOOL SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER new_position, DWORD method);
BOOL GetFileSizeEx(HANDLE file, PLARGE_INTEGER size);
DWORD GetFileSize(HANDLE file, LPDWORD size_high);
BOOL SetEndOfFile(HANDLE file);
BOOL FlushFileBuffers(HANDLE file);
BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD in_size, LPVOID out, DWORD out_size,
                     LPDWORD returned, LPOVERLAPPED overlapped);
DWORD WaitForSingleObject(HANDLE handle, DWORD timeout_ms);

#include "platform/core/kobject.h"

#include <mutex>
#include <unordered_map>

namespace platform {

BOOL KernelObject::read(void*, DWORD, DWORD* done) {
  if (done) *done = 0;
  return fail(ERROR_INVALID_FUNCTION);
}
BOOL KernelObject::write(const void*, DWORD, DWORD* done) {
  if (done) *done = 0;
  return fail(ERROR_INVALID_FUNCTION);
}
BOOL KernelObject::seek(LONGLONG, DWORD, LONGLONG*) { return fail(ERROR_INVALID_FUNCTION); }
BOOL KernelObject::get_size(LONGLONG*) { return fail(ERROR_INVALID_FUNCTION); }
BOOL KernelObject::set_end_of_file() { return fail(ERROR_INVALID_FUNCTION); }
BOOL KernelObject::flush() { return fail(ERROR_INVALID_FUNCTION); }
BOOL KernelObject::io_control(DWORD, const void*, DWORD, void*, DWORD, DWORD* returned) {
  if (returned) *returned = 0;
  return fail(ERROR_INVALID_FUNCTION);
}
DWORD KernelObject::wait(DWORD) {
  SetLastError(ERROR_INVALID_HANDLE);
  return WAIT_FAILED;
}

namespace {

struct HandleTable {
  std::mutex lock;
  std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> objects;
  uintptr_t next = 0x100;
};

HandleTable& table() {
  static HandleTable* t = new HandleTable;  // never destroyed: handles may be closed during exit
  return *t;
}

}  // namespace

HANDLE OpenHandle(std::shared_ptr<KernelObject> object) {
  auto& t = table();
  std::lock_guard guard(t.lock);
  uintptr_t value = t.next;
  t.next += 4;
  t.objects.emplace(value, std::move(object));
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> ResolveHandle(HANDLE handle) {
  auto& t = table();
  std::lock_guard guard(t.lock);
  auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
  if (it == t.objects.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return it->second;
}

size_t OpenHandleCount() {
  auto& t = table();
  std::lock_guard guard(t.lock);
  return t.objects.size();
}

}  // namespace platform

using platform::fail;
using platform::ResolveHandle;

BOOL CloseHandle(HANDLE handle) {
  std::shared_ptr<platform::KernelObject> object;
  {
    auto& t = platform::table();
    std::lock_guard guard(t.lock);
    auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
    if (it == t.objects.end()) return fail(ERROR_INVALID_HANDLE);
    object = std::move(it->second);
    t.objects.erase(it);
  }
  // The handle is closed even when the write-back fails; the caller learns
  // that bytes it wrote did not reach the disk.
  // A close that succeeds leaves the caller's last error as it was (callers
  // close a handle between a failure and reading its code).
  const DWORD caller_error = GetLastError();
  if (DWORD e = object->on_handle_closed(); e != ERROR_SUCCESS) return fail(e);
  SetLastError(caller_error);
  return TRUE;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD to_read, LPDWORD read, LPOVERLAPPED) {
  if (read) *read = 0;
  auto object = ResolveHandle(file);
  if (!object) return FALSE;
  if (!buffer && to_read) return fail(ERROR_INVALID_PARAMETER);
  DWORD done = 0;
  BOOL ok = object->read(buffer, to_read, &done);
  if (read) *read = done;
  return ok;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD to_write, LPDWORD written, LPOVERLAPPED) {
  if (written) *written = 0;
  auto object = ResolveHandle(file);
  if (!object) return FALSE;
  if (!buffer && to_write) return fail(ERROR_INVALID_PARAMETER);
  DWORD done = 0;
  BOOL ok = object->write(buffer, to_write, &done);
  if (written) *written = done;
  return ok;
}

DWORD SetFilePointer(HANDLE file, LONG distance_low, PLONG distance_high, DWORD method) {
  auto object = ResolveHandle(file);
  if (!object) return INVALID_SET_FILE_POINTER;
  LONGLONG distance = distance_high
                          ? static_cast<LONGLONG>((static_cast<uint64_t>(static_cast<uint32_t>(*distance_high)) << 32) |
                                                  static_cast<uint32_t>(distance_low))
                          : static_cast<LONGLONG>(distance_low);
  LONGLONG position = 0;
  if (!object->seek(distance, method, &position)) return INVALID_SET_FILE_POINTER;
  if (distance_high) *distance_high = static_cast<LONG>(static_cast<uint64_t>(position) >> 32);
  SetLastError(ERROR_SUCCESS);  // callers tell a real 0xFFFFFFFF position from failure by this
  return static_cast<DWORD>(position);
}

BOOL SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER new_position, DWORD method) {
  auto object = ResolveHandle(file);
  if (!object) return FALSE;
  LONGLONG position = 0;
  if (!object->seek(distance.QuadPart, method, &position)) return FALSE;
  if (new_position) new_position->QuadPart = position;
  return TRUE;
}

BOOL GetFileSizeEx(HANDLE file, PLARGE_INTEGER size) {
  auto object = ResolveHandle(file);
  if (!object) return FALSE;
  if (!size) return fail(ERROR_INVALID_PARAMETER);
  LONGLONG value = 0;
  if (!object->get_size(&value)) return FALSE;
  size->QuadPart = value;
  return TRUE;
}

DWORD GetFileSize(HANDLE file, LPDWORD size_high) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size)) return INVALID_FILE_SIZE;
  if (size_high) *size_high = static_cast<DWORD>(size.HighPart);
  SetLastError(ERROR_SUCCESS);
  return size.LowPart;
}

BOOL SetEndOfFile(HANDLE file) {
  auto object = ResolveHandle(file);
  return object ? object->set_end_of_file() : FALSE;
}

BOOL FlushFileBuffers(HANDLE file) {
  auto object = ResolveHandle(file);
  return object ? object->flush() : FALSE;
}

BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD in_size, LPVOID out, DWORD out_size,
                     LPDWORD returned, LPOVERLAPPED) {
  if (returned) *returned = 0;
  auto object = ResolveHandle(device);
  if (!object) return FALSE;
  if ((!in && in_size) || (!out && out_size)) return fail(ERROR_INVALID_PARAMETER);
  DWORD done = 0;
  BOOL ok = object->io_control(code, in, in_size, out, out_size, &done);
  if (returned) *returned = done;
  return ok;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD timeout_ms) {
  auto object = ResolveHandle(handle);
  if (!object) return WAIT_FAILED;
  return object->wait(timeout_ms);
}

#include "program_support/registry_readers.h"

#include <cstdlib>
#include <cstring>

#include "platform/core/process_exit.h"
#include "platform/registry/registry.h"
#include "platform/ui/message_box.h"
#include "program_support/language_table.h"
#include "program_support/shell_state.h"

uint64_t AllocatedByteTotal = 0;
CString RegistryErrorText;

namespace {

constexpr DWORD kValueBufferSize = 512;

// Opens (creating when missing) the key for query access; a key that can be
// neither opened nor created ends the program after the registry message.
HKEY OpenKeyOrExit(HKEY root, LPCWSTR keyPath) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(root, keyPath, 0, nullptr, 0, KEY_QUERY_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    MessageBoxW(nullptr, RegistryErrorText.IsEmpty() ? LookupString(u"IDS_regerror") : RegistryErrorText,
                ShellState.messageCaption, MB_OK);
    ExitProcess(0);
  }
  return key;
}

}  // namespace

int32_t ReadRegistryByte(HKEY root, LPCWSTR keyPath, LPCWSTR valueName) {
  HKEY key = OpenKeyOrExit(root, keyPath);
  BYTE data[kValueBufferSize] = {};
  DWORD size = sizeof data;
  const LSTATUS status = RegQueryValueExW(key, valueName, nullptr, nullptr, data, &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return 0;
  return data[0] & 0x7F;
}

CString ReadRegistryString(HKEY root, LPCWSTR keyPath, LPCWSTR valueName) {
  HKEY key = OpenKeyOrExit(root, keyPath);
  WCHAR data[kValueBufferSize / sizeof(WCHAR)] = {};
  DWORD size = sizeof data;
  const LSTATUS status = RegQueryValueExW(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return CString();
  // The data may lack its terminator; never read past what was stored.
  int length = 0;
  const int stored = static_cast<int>(size / sizeof(WCHAR));
  while (length < stored && data[length]) ++length;
  return CString(data, length);
}

void ShowDebugMessage(int32_t flag, const CString& text) {
  (void)flag;
  (void)text;
}

void* AllocZeroed(size_t count, size_t size) {
  if (size != 0 && count > SIZE_MAX / size) return nullptr;
  void* block = std::calloc(count ? count : 1, size ? size : 1);
  if (block) AllocatedByteTotal += static_cast<uint64_t>(count) * size;
  return block;
}

void FreeBlock(void* block) { std::free(block); }

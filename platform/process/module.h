// Modules: LoadLibraryW and friends over in-process stand-ins registered by
// name. A module is found by its file name (a path is reduced to its file
// name; ".dll" is appended to a name without an extension); anything not
// registered fails with ERROR_MOD_NOT_FOUND. Exports are looked up by name.
// Each load counts a reference; FreeLibrary drops one.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "platform/core/error.h"
#include "platform/core/types.h"

constexpr DWORD LOAD_LIBRARY_AS_DATAFILE = 0x00000002;
constexpr DWORD LOAD_WITH_ALTERED_SEARCH_PATH = 0x00000008;
constexpr DWORD LOAD_LIBRARY_AS_IMAGE_RESOURCE = 0x00000020;
constexpr DWORD LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x00000800;

HMODULE LoadLibraryW(LPCWSTR file_name);
HMODULE LoadLibraryExW(LPCWSTR file_name, HANDLE reserved, DWORD flags);
FARPROC GetProcAddress(HMODULE module, LPCSTR proc_name);
BOOL FreeLibrary(HMODULE module);
// Null name: the calling program's own image.
HMODULE GetModuleHandleW(LPCWSTR module_name);
// Null module: the calling program's image path on the simulated PC. Returns
// the length copied; a short buffer gets a truncated, terminated text, the
// result `size` and ERROR_INSUFFICIENT_BUFFER.
DWORD GetModuleFileNameW(HMODULE module, LPWSTR file_name, DWORD size);

namespace platform::process {

struct ModuleDefinition {
  std::map<std::string, FARPROC> exports;
  // Whatever the resource loader needs for this module (string tables of a
  // language library); opaque here.
  std::shared_ptr<void> resources;
};

// Registers (or replaces) a module by file name, e.g. u"fmifs.dll".
void RegisterModule(const std::u16string& file_name, ModuleDefinition definition);
void UnregisterModule(const std::u16string& file_name);
bool IsModuleRegistered(const std::u16string& file_name);

// The resources a loaded module carries, or null.
std::shared_ptr<void> ModuleResources(HMODULE module);

// Casts an export to its real type: auto f = ExportAs<FormatExFn>(GetProcAddress(m, "FormatEx")).
template <class F>
F ExportAs(FARPROC proc) {
  return reinterpret_cast<F>(proc);
}
template <class F>
FARPROC AsExport(F function) {
  return reinterpret_cast<FARPROC>(function);
}

}  // namespace platform::process

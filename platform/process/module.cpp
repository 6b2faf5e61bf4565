#include "platform/process/module.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "platform/process/command_line.h"
#include "platform/process/machine_link.h"
#include "platform/process/process_context.h"
#include "platform/process/standins.h"

namespace platform::process {

namespace {

struct LoadedModule {
  std::u16string name;  // as registered
  ModuleDefinition definition;
  int references = 0;
};

struct Modules {
  std::mutex lock;
  std::map<std::u16string, ModuleDefinition> registered;          // upper-case file name
  std::map<std::u16string, std::unique_ptr<LoadedModule>> loaded;  // upper-case file name
};

Modules& modules() {
  static auto* m = new Modules;
  return *m;
}

// A stable, non-null handle value for the program image of each process.
HMODULE ProgramImageHandle() { return reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x400000)); }

std::u16string ModuleKey(std::u16string name) {
  while (!name.empty() && (name.back() == u' ')) name.pop_back();
  name = FileNamePart(name);
  if (name.find(u'.') == std::u16string::npos) name += u".dll";
  if (!name.empty() && name.back() == u'.') name.pop_back();  // "name." means no extension
  return UpperCase(name);
}

LoadedModule* FindLoaded(HMODULE module) {
  auto& m = modules();
  for (auto& [key, loaded] : m.loaded)
    if (reinterpret_cast<HMODULE>(loaded.get()) == module) return loaded.get();
  return nullptr;
}

}  // namespace

void RegisterModule(const std::u16string& file_name, ModuleDefinition definition) {
  auto& m = modules();
  std::lock_guard guard(m.lock);
  m.registered[ModuleKey(file_name)] = std::move(definition);
}

void UnregisterModule(const std::u16string& file_name) {
  auto& m = modules();
  std::lock_guard guard(m.lock);
  m.registered.erase(ModuleKey(file_name));
}

bool IsModuleRegistered(const std::u16string& file_name) {
  auto& m = modules();
  std::lock_guard guard(m.lock);
  return m.registered.count(ModuleKey(file_name)) > 0;
}

std::shared_ptr<void> ModuleResources(HMODULE module) {
  auto& m = modules();
  std::lock_guard guard(m.lock);
  LoadedModule* loaded = FindLoaded(module);
  return loaded ? loaded->definition.resources : nullptr;
}

}  // namespace platform::process

using platform::fail;
using namespace platform::process;

HMODULE LoadLibraryExW(LPCWSTR file_name, HANDLE, DWORD) {
  EnsureStandardPrograms();
  if (!file_name || !*file_name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::u16string key = ModuleKey(file_name);
  auto& m = modules();
  std::lock_guard guard(m.lock);
  auto it = m.loaded.find(key);
  if (it == m.loaded.end()) {
    auto reg = m.registered.find(key);
    if (reg == m.registered.end()) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return nullptr;
    }
    auto loaded = std::make_unique<LoadedModule>();
    loaded->name = FileNamePart(file_name);
    loaded->definition = reg->second;
    it = m.loaded.emplace(key, std::move(loaded)).first;
  }
  ++it->second->references;
  SetLastError(ERROR_SUCCESS);
  return reinterpret_cast<HMODULE>(it->second.get());
}

HMODULE LoadLibraryW(LPCWSTR file_name) { return LoadLibraryExW(file_name, nullptr, 0); }

FARPROC GetProcAddress(HMODULE module, LPCSTR proc_name) {
  if (!proc_name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto& m = modules();
  std::lock_guard guard(m.lock);
  LoadedModule* loaded = FindLoaded(module);
  if (!loaded) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  // Ordinals (values below 0x10000 in place of a name) are not exported by the stand-ins.
  if (reinterpret_cast<uintptr_t>(proc_name) < 0x10000) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  auto it = loaded->definition.exports.find(proc_name);
  if (it == loaded->definition.exports.end()) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return it->second;
}

BOOL FreeLibrary(HMODULE module) {
  auto& m = modules();
  std::lock_guard guard(m.lock);
  for (auto it = m.loaded.begin(); it != m.loaded.end(); ++it) {
    if (reinterpret_cast<HMODULE>(it->second.get()) != module) continue;
    if (--it->second->references == 0) m.loaded.erase(it);
    return TRUE;
  }
  if (module == ProgramImageHandle()) return TRUE;
  return fail(ERROR_INVALID_HANDLE);
}

HMODULE GetModuleHandleW(LPCWSTR module_name) {
  if (!module_name) return ProgramImageHandle();
  std::u16string key = ModuleKey(module_name);
  auto& m = modules();
  std::lock_guard guard(m.lock);
  auto it = m.loaded.find(key);
  if (it != m.loaded.end()) return reinterpret_cast<HMODULE>(it->second.get());
  if (key == ModuleKey(FileNamePart(CurrentProcessContext()->image_path))) return ProgramImageHandle();
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

DWORD GetModuleFileNameW(HMODULE module, LPWSTR file_name, DWORD size) {
  std::u16string path;
  if (!module || module == ProgramImageHandle()) {
    path = CurrentProcessContext()->image_path;
  } else {
    auto& m = modules();
    std::lock_guard guard(m.lock);
    LoadedModule* loaded = FindLoaded(module);
    if (!loaded) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return 0;
    }
    path = JoinPath(Machine().system_folder(), loaded->name);
  }
  if (!file_name || size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (path.size() >= size) {
    std::memcpy(file_name, path.data(), (size - 1) * sizeof(WCHAR));
    file_name[size - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::memcpy(file_name, path.data(), path.size() * sizeof(WCHAR));
  file_name[path.size()] = 0;
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(path.size());
}

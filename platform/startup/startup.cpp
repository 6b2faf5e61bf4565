#include "platform/startup/startup.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <vector>

#include "platform/core/clock.h"
#include "platform/core/error.h"
#include "platform/core/host_temp_file.h"
#include "platform/core/kobject.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "platform/fs/shell_namespace.h"
#include "platform/machine/machine.h"
#include "platform/process/privilege.h"
#include "platform/process/process_context.h"
#include "platform/process/thread.h"
#include "platform/process/version_block.h"
#include "platform/registry/hive_privilege.h"
#include "platform/registry/hive_store.h"
#include "platform/registry/live_registry.h"
#include "platform/storage/ioctl.h"
#include "platform/ui/message_box.h"
#include "platform/ui/message_queue.h"
#include "platform/ui/resources.h"

namespace platform::startup {

namespace {

// Hive files live inside the simulated volumes, but hivex works on host
// files: a hive is copied out to a host temporary file while it is loaded and
// copied back when it is unloaded with changes.
LONG CopyHiveOut(std::u16string_view hive_path, std::string& host_path) {
  std::u16string path(hive_path);
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return static_cast<LONG>(GetLastError());
  std::string name;
  // A hive store commits through "<name>.commit" beside the file, so the
  // copy needs a real name: it goes to the machine's own scratch folder,
  // where the next start sweeps it when this process is killed (the host's
  // temporary folder only ever holds unnamed scratch files).
  std::string folder;
  if (auto machine = platform::machine::CurrentIfOpen()) {
    folder = machine->folder() + "/tmp";
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
  }
  int fd = CreateNamedHostTempFile("drum-hive", &name, folder);
  if (fd < 0) {
    CloseHandle(file);
    return ERROR_CANTOPEN;
  }
  std::vector<char> buffer(1 << 20);
  LONG status = ERROR_SUCCESS;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
      status = static_cast<LONG>(GetLastError());
      break;
    }
    if (got == 0) break;
    if (write(fd, buffer.data(), got) != static_cast<ssize_t>(got)) {
      status = ERROR_CANTWRITE;
      break;
    }
  }
  CloseHandle(file);
  close(fd);
  if (status != ERROR_SUCCESS) {
    ReleaseHostTempFile(name);
    return status;
  }
  host_path = name;
  return ERROR_SUCCESS;
}

LONG CopyHiveBack(std::u16string_view hive_path, const std::string& host_path, bool changed) {
  LONG status = ERROR_SUCCESS;
  if (changed) {
    std::ifstream in(host_path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::u16string path(hive_path);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      status = static_cast<LONG>(GetLastError());
    } else {
      DWORD written = 0;
      if (!in.good() && !in.eof()) {
        status = ERROR_CANTREAD;
      } else if (!WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
                 written != bytes.size()) {
        status = ERROR_CANTWRITE;
      }
      CloseHandle(file);
    }
  }
  ReleaseHostTempFile(host_path);
  return status;
}

}  // namespace

void ConnectLayers() {
  static std::once_flag once;
  std::call_once(once, [] {
    // Message queues are keyed by the process layer's thread ids.
    platform::ui::set_thread_id_source(&GetCurrentThreadId);

    // File and folder choosers see the simulated PC's files.
    platform::ui::set_shell_seam({
        [](const std::u16string& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; },
        [](const std::u16string& path) { return platform::fs::ItemListFromPath(path); },
        [](PCIDLIST_ABSOLUTE list) { return platform::fs::PathFromItemList(list); },
        [](ITEMIDLIST* list) { ILFree(list); },
    });

    // Offline hives: paths on the simulated PC, loaded only with the backup
    // and restore privileges enabled, as the platform demands.
    platform::registry::SetHiveFileAccess({CopyHiveOut, CopyHiveBack});
    platform::registry::SetHivePrivilegeCheck([] {
      return platform::process::IsPrivilegeEnabled(SE_BACKUP_NAME) &&
             platform::process::IsPrivilegeEnabled(SE_RESTORE_NAME);
    });
  });
}

bool Start(const StartOptions& options, std::string* error) {
  ConnectLayers();
  platform::Clock::instance().set_mode(options.real_time ? platform::Clock::Mode::Real
                                                         : platform::Clock::Mode::Virtual);
  std::string dir = options.machine_dir;
  if (dir.empty()) {
    if (const char* env = std::getenv("DRUM_MACHINE_DIR")) dir = env;
  }
  if (dir.empty()) {
    std::string why;
    if (!platform::machine::OpenDefaultMachine(&why)) {
      if (error) *error = "the demo PC could not be opened: " + why;
      return false;
    }
  } else if (!platform::machine::OpenMachine(dir, error)) {
    return false;
  }
  // A registry file that cannot be read would leave the program on an
  // in-memory registry whose every write is lost when it ends: refuse to start.
  // Named scratch files of runs that were killed (the unnamed ones went with
  // their process): the host's temporary folder and the machine's own.
  platform::SweepHostTempFiles();
  if (auto machine = platform::machine::CurrentIfOpen()) platform::SweepHostTempFiles(machine->folder() + "/tmp");
  if (auto machine = platform::machine::CurrentIfOpen()) {
    std::string message;
    if (platform::registry::OpenLiveRegistry(machine->registry_path(), &message) != ERROR_SUCCESS) {
      if (error) *error = "the simulated PC's registry cannot be used, nothing was changed: " + message;
      return false;
    }
  }
  if (!options.program_image.empty()) {
    platform::process::SetProgramImage(options.program_image, options.command_line);
    // The program's own version resource, compiled into it, is what its file
    // carries on the simulated PC.
    if (const auto* version = platform::ui::FindBinaryResource(platform::ui::kVersionResource, 1))
      platform::process::RegisterVersionBlock(options.program_image,
                                              std::vector<uint8_t>(version->data, version->data + version->size));
  }
  return true;
}

}  // namespace platform::startup

// The boot store as the stand-in BCD editors (bcdedit.exe, Vastrel.exe) see
// it: a registry hive file, read and written with hivex.
//
//   <root>\Objects\{id}\Description   value "Type" (REG_DWORD): 0x10100002 boot
//                                     manager, 0x10200003 boot loader
//   <root>\Objects\{id}\Elements\XXXXXXXX   value "Element", by element type:
//       11000001 device, 21000001 osdevice   (this stand-in writes REG_SZ
//                "partition=X:"; binary device records are listed as "unknown")
//       12000002 path, 12000004 description  (REG_SZ)
//       23000003 default                      (REG_SZ "{id}")
//       24000001 displayorder                 (REG_MULTI_SZ of "{id}")
//       25000004 timeout                      (REG_BINARY 8-byte number)
// The boot manager's id is {9dea862c-5cdd-4e70-acc1-f32b344d4795}; "{bootmgr}"
// and "{default}" (the manager's default entry) name objects on the command line.
//
// Command lines: [/store FILE] [/enum [all]] | [/store FILE] /set ID NAME VALUE.
// A /store with no command lists the store. Listing layout, one block per
// entry, preceded by a blank line:
//   Windows Boot Manager
//   --------------------
//   identifier              {bootmgr}
//   device                  partition=C:
// Exit code 0 on success, 1 with a message on standard output otherwise.
#pragma once

#include <string>
#include <vector>

#include "platform/core/types.h"

namespace platform::process {

struct BcdLoaderSpec {
  std::string id;           // "{c0a9f1e2-...}"
  std::string description;  // "Windows 7"
  std::string device;       // "partition=C:"
  std::string path = "\\Windows\\system32\\winload.exe";
};

// Writes a boot store with a boot manager on `manager_device` whose default
// is the first loader. Returns false when the file cannot be written.
bool CreateBcdStoreFile(const std::string& host_path, const std::string& manager_device,
                        const std::vector<BcdLoaderSpec>& loaders);

constexpr const char* kBootManagerId = "{9dea862c-5cdd-4e70-acc1-f32b344d4795}";

}  // namespace platform::process

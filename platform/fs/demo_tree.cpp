#include "platform/fs/demo_tree.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/core/error.h"
#include "platform/core/host_temp_file.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "platform/fs/path_name.h"
#include "platform/fs/shell_folders.h"
#include "platform/storage/device.h"
#include "platform/storage/volume_table.h"
#include "platform/machine/machine.h"
#include <hivex.h>

#include "platform/registry/empty_hive.h"

namespace platform::fs {

namespace {

constexpr uint64_t kPagefileBytes = 16ull << 20;

DWORD make_folders(const std::u16string& path) {
  for (size_t i = 3; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != u'\\') continue;
    std::u16string part = path.substr(0, i);
    if (GetFileAttributesW(part.c_str()) == INVALID_FILE_ATTRIBUTES && !CreateDirectoryW(part.c_str(), nullptr))
      return GetLastError();
  }
  return ERROR_SUCCESS;
}

DWORD write_file(const std::u16string& path, const std::vector<uint8_t>& bytes, DWORD attributes = 0) {
  size_t cut = path.rfind(u'\\');
  if (DWORD e = make_folders(path.substr(0, cut))) return e;
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr);
  if (h == INVALID_HANDLE_VALUE) return GetLastError();
  DWORD done = 0;
  BOOL ok = bytes.empty() || WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
  DWORD e = ok ? ERROR_SUCCESS : GetLastError();
  CloseHandle(h);
  return e;
}

std::vector<uint8_t> text_bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

// A tiny executable-shaped file: the DOS header signature, the offset of the
// PE header and the PE signature, then padding.
std::vector<uint8_t> executable_bytes(size_t size) {
  std::vector<uint8_t> b(size, 0);
  b[0] = 'M';
  b[1] = 'Z';
  b[0x3C] = 0x80;
  std::memcpy(b.data() + 0x80, "PE\0\0", 4);
  return b;
}

std::string utf16_bytes(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out + std::string(2, '\0');
}

struct Value {
  std::string name;
  hive_type type;
  std::string data;
};

Value dword(const std::string& name, uint32_t v) {
  std::string d(4, '\0');
  for (int i = 0; i < 4; ++i) d[i] = static_cast<char>(v >> (8 * i));
  return {name, hive_t_REG_DWORD, d};
}
Value sz(const std::string& name, const std::u16string& text) { return {name, hive_t_REG_SZ, utf16_bytes(text)}; }

struct Key {
  std::vector<std::string> path;
  std::vector<Value> values;
};

// Builds a hive on a host scratch file with hivex and returns its bytes.
DWORD build_hive(const std::string& root_name, const std::vector<Key>& keys, std::vector<uint8_t>* out,
                 std::string* error) {
  std::string path;
  int fd = CreateHostTempFile("drum-hive", &path);
  if (fd < 0) return ERROR_CANTWRITE;
  struct Release {
    const std::string& path;
    int fd;
    ~Release() { ReleaseHostTempFile(path, fd); }
  } release{path, fd};
  registry::EmptyHiveOptions options;
  options.root_name = root_name;
  DWORD e = static_cast<DWORD>(registry::CreateEmptyHive(path.c_str(), options));
  hive_h* h = e ? nullptr : hivex_open(path.c_str(), HIVEX_OPEN_WRITE);
  if (!h) {
    *error = "cannot make the " + root_name + " hive";
    return e ? e : ERROR_CANTWRITE;
  }
  for (auto& key : keys) {
    hive_node_h node = hivex_root(h);
    for (auto& part : key.path) {
      hive_node_h child = hivex_node_get_child(h, node, part.c_str());
      node = child ? child : hivex_node_add_child(h, node, part.c_str());
      if (!node) break;
    }
    if (!node) continue;
    std::vector<hive_set_value> values;
    for (auto& v : key.values)
      values.push_back({const_cast<char*>(v.name.c_str()), v.type, v.data.size(), const_cast<char*>(v.data.data())});
    if (!values.empty()) hivex_node_set_values(h, node, values.size(), values.data(), 0);
  }
  bool ok = hivex_commit(h, nullptr, 0) == 0;
  hivex_close(h);
  if (ok) {
    int in = open(path.c_str(), O_RDONLY);
    std::vector<uint8_t> bytes;
    uint8_t buf[65536];
    ssize_t n;
    while (in >= 0 && (n = read(in, buf, sizeof buf)) > 0) bytes.insert(bytes.end(), buf, buf + n);
    if (in >= 0) close(in);
    *out = std::move(bytes);
  }
  if (!ok) *error = "cannot write the " + root_name + " hive";
  return ok ? ERROR_SUCCESS : ERROR_CANTWRITE;
}

// MountedDevices data for a volume: the disk signature, then the byte offset (12 bytes, MBR disks).
std::string mounted_device_id(const storage::MountedVolume& v) {
  uint8_t sector[512] = {};
  if (auto disk = storage::LookupDisk(v.disk_number)) disk->device()->read_at(0, sector, sizeof sector);
  std::string id(reinterpret_cast<char*>(sector) + 0x1B8, 4);
  for (int i = 0; i < 8; ++i) id += static_cast<char>(v.offset >> (8 * i));
  return id;
}

}  // namespace

DWORD PopulateDemoSystemVolume(WCHAR letter, std::string* error) {
  std::u16string root = std::u16string(1, FoldCase(letter)) + u":";
  auto fail = [&](DWORD e, const std::u16string& what) {
    *error = "cannot make " + to_utf8(what) + " (error " + std::to_string(e) + ")";
    return e;
  };
  std::u16string windows = root + u"\\Windows", system32 = windows + u"\\System32";
  struct File {
    std::u16string path;
    std::vector<uint8_t> bytes;
    DWORD attributes;
  } files[] = {
      {system32 + u"\\Kernel32.dll", executable_bytes(64 * 1024), 0},
      {system32 + u"\\winload.exe", executable_bytes(16 * 1024), 0},
      {root + u"\\bootmgr", executable_bytes(32 * 1024),
       FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY},
  };
  for (auto& f : files)
    if (DWORD e = write_file(f.path, f.bytes, f.attributes)) return fail(e, f.path);
  if (DWORD e = make_folders(windows + u"\\Temp")) return fail(e, windows + u"\\Temp");

  // The page file: a hidden system file of its full size.
  std::u16string pagefile = root + u"\\pagefile.sys";
  HANDLE h = CreateFileW(pagefile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, nullptr);
  if (h == INVALID_HANDLE_VALUE) return fail(GetLastError(), pagefile);
  LARGE_INTEGER size;
  size.QuadPart = static_cast<LONGLONG>(kPagefileBytes);
  BOOL ok = SetFilePointerEx(h, size, nullptr, FILE_BEGIN) && SetEndOfFile(h);
  DWORD e = ok ? ERROR_SUCCESS : GetLastError();
  CloseHandle(h);
  if (e) return fail(e, pagefile);

  // The user's folders with a few files.
  std::u16string desktop = SpecialFolder(CSIDL_DESKTOPDIRECTORY), documents = SpecialFolder(CSIDL_PERSONAL);
  if (!desktop.empty() && FoldCase(desktop[0]) == FoldCase(letter)) {
    struct File user_files[] = {
        {desktop + u"\\Notes.txt", text_bytes("Shopping: milk, bread\r\n"), 0},
        {documents + u"\\Report.doc", text_bytes("Quarterly report draft\r\n"), 0},
        {documents + u"\\Budget 2024.xls", text_bytes("Month;Amount\r\nJanuary;1200\r\n"), 0},
        {documents + u"\\Photos\\Holiday.jpg", std::vector<uint8_t>{0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10, 'J', 'F', 'I', 'F'},
         0},
    };
    for (auto& f : user_files)
      if (DWORD e2 = write_file(f.path, f.bytes, f.attributes)) return fail(e2, f.path);
  }

  // SYSTEM: which control set is current, and the letters of the volumes.
  std::vector<Key> system = {
      {{"Select"}, {dword("Current", 1), dword("Default", 1), dword("Failed", 0), dword("LastKnownGood", 1)}},
      {{"ControlSet001", "Control"}, {sz("SystemBootDevice", u"multi(0)disk(0)rdisk(0)partition(1)")}},
      {{"ControlSet001", "Services"}, {}},
      {{"ControlSet001", "Enum"}, {}},
      {{"MountedDevices"}, {}},
  };
  for (auto& v : storage::MountedVolumes()) {
    if (v.disk_number < 0) continue;
    std::string id = mounted_device_id(v);
    std::u16string guid = v.guid_path;  // "\\?\Volume{...}\" -> "\??\Volume{...}"
    if (guid.size() > 5) guid = u"\\??\\" + guid.substr(4, guid.size() - 5);
    system.back().values.push_back({to_utf8(guid), hive_t_REG_BINARY, id});
    if (v.letter)
      system.back().values.push_back({"\\DosDevices\\" + std::string(1, static_cast<char>(v.letter)) + ":",
                                      hive_t_REG_BINARY, id});
  }
  std::vector<uint8_t> hive;
  if (DWORD e2 = build_hive("SYSTEM", system, &hive, error)) return e2;
  if (DWORD e2 = write_file(system32 + u"\\config\\SYSTEM", hive)) return fail(e2, system32 + u"\\config\\SYSTEM");

  // The boot store: the boot manager pointing at one Windows loader.
  const std::string bootmgr = "{9dea862c-5cdd-4e70-acc1-f32b344d4795}";
  const std::string loader = "{3b2c6f1e-7d4a-4c55-9e0f-1a2b3c4d5e6f}";
  std::vector<Key> bcd = {
      {{"Description"}, {sz("KeyName", u"BCD00000000"), dword("System", 1), dword("TreatAsSystem", 1)}},
      {{"Objects", bootmgr, "Description"}, {dword("Type", 0x10100002)}},
      {{"Objects", bootmgr, "Elements", "12000004"}, {sz("Element", u"Windows Boot Manager")}},
      {{"Objects", bootmgr, "Elements", "23000003"}, {sz("Element", to_utf16(loader))}},
      {{"Objects", bootmgr, "Elements", "24000001"},
       {{"Element", hive_t_REG_MULTI_SZ, utf16_bytes(to_utf16(loader)) + std::string(2, '\0')}}},
      {{"Objects", loader, "Description"}, {dword("Type", 0x10200003)}},
      {{"Objects", loader, "Elements", "12000004"}, {sz("Element", u"Windows")}},
      {{"Objects", loader, "Elements", "12000002"}, {sz("Element", u"\\Windows\\system32\\winload.exe")}},
      {{"Objects", loader, "Elements", "22000002"}, {sz("Element", u"\\Windows")}},
  };
  if (DWORD e2 = build_hive("NewStoreRoot", bcd, &hive, error)) return e2;
  if (DWORD e2 = write_file(root + u"\\Boot\\BCD", hive, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))
    return fail(e2, root + u"\\Boot\\BCD");
  return ERROR_SUCCESS;
}

}  // namespace platform::fs

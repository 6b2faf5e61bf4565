#include "platform/process/bcd_store.h"

#include <hivex.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>

#include "platform/core/ascii_case.h"
#include "platform/core/host_temp_file.h"
#include "platform/core/little_endian.h"
#include "platform/core/text.h"
#include "platform/process/command_line.h"
#include "platform/process/machine_link.h"
#include "platform/process/simulated_files.h"
#include "platform/process/standin_programs.h"
#include "platform/registry/empty_hive.h"
#include "platform/storage/partition_table.h"
#include "platform/storage/volume_table.h"
#include "platform/machine/machine.h"

namespace platform::process {

namespace {

constexpr int kTypeString = 1;       // REG_SZ
constexpr int kTypeBinary = 3;       // REG_BINARY
constexpr int kTypeDword = 4;        // REG_DWORD
constexpr int kTypeMultiString = 7;  // REG_MULTI_SZ
constexpr int32_t kBootManagerType = 0x10100002;
constexpr int32_t kLoaderType = 0x10200003;
constexpr size_t kMaxObjects = 4096;  // walks over the store are capped
constexpr size_t kMaxStoreBytes = 16u << 20;

std::vector<uint8_t> Utf16z(const std::string& text) {
  std::u16string wide = platform::to_utf16(text);
  std::vector<uint8_t> out;
  for (char16_t c : wide) {
    out.push_back(static_cast<uint8_t>(c & 0xFF));
    out.push_back(static_cast<uint8_t>(c >> 8));
  }
  out.push_back(0);
  out.push_back(0);
  return out;
}

// A hive opened from a host file; closes on destruction.
class Hive {
 public:
  Hive(const std::string& path, bool write) : h_(hivex_open(path.c_str(), write ? HIVEX_OPEN_WRITE : 0)) {}
  ~Hive() {
    if (h_) hivex_close(h_);
  }
  hive_h* get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }

 private:
  hive_h* h_;
};

bool SetValue(hive_h* h, hive_node_h node, const char* name, int type, std::vector<uint8_t> data) {
  hive_set_value v;
  v.key = const_cast<char*>(name);
  v.t = static_cast<hive_type>(type);
  v.len = data.size();
  v.value = reinterpret_cast<char*>(data.data());
  return hivex_node_set_value(h, node, &v, 0) == 0;
}

hive_node_h ChildOrAdd(hive_h* h, hive_node_h parent, const char* name) {
  hive_node_h child = hivex_node_get_child(h, parent, name);
  return child ? child : hivex_node_add_child(h, parent, name);
}

std::string StringValue(hive_h* h, hive_node_h node, const char* name) {
  hive_value_h v = hivex_node_get_value(h, node, name);
  if (!v) return {};
  char* text = hivex_value_string(h, v);
  if (!text) return {};
  std::string out = text;
  free(text);
  return out;
}

// One boot-store object, as much as the editors need.
struct Object {
  std::string id;
  int32_t type = 0;
  hive_node_h node = 0;
  hive_node_h elements = 0;
};

std::vector<Object> ReadObjects(hive_h* h) {
  std::vector<Object> out;
  hive_node_h objects = hivex_node_get_child(h, hivex_root(h), "Objects");
  if (!objects) return out;
  hive_node_h* children = hivex_node_children(h, objects);
  if (!children) return out;
  for (size_t i = 0; children[i] && out.size() < kMaxObjects; ++i) {
    Object o;
    o.node = children[i];
    char* name = hivex_node_name(h, o.node);
    if (!name) continue;
    o.id = AsciiLower(name);
    free(name);
    hive_node_h description = hivex_node_get_child(h, o.node, "Description");
    if (description) {
      hive_value_h type = hivex_node_get_value(h, description, "Type");
      if (type) o.type = hivex_value_dword(h, type);
    }
    o.elements = hivex_node_get_child(h, o.node, "Elements");
    out.push_back(o);
  }
  free(children);
  return out;
}

const Object* FindObject(const std::vector<Object>& objects, const std::string& id) {
  for (const auto& o : objects)
    if (o.id == id) return &o;
  return nullptr;
}

std::string ElementString(hive_h* h, const Object& o, const char* element) {
  if (!o.elements) return {};
  hive_node_h e = hivex_node_get_child(h, o.elements, element);
  return e ? StringValue(h, e, "Element") : std::string();
}

// "{bootmgr}", "{default}" or a braced id -> the object's id; empty when unknown.
std::string ResolveId(hive_h* h, const std::vector<Object>& objects, const std::string& given) {
  std::string id = AsciiLower(given);
  if (id == "{bootmgr}") id = kBootManagerId;
  if (id == "{default}") {
    const Object* manager = FindObject(objects, kBootManagerId);
    id = manager ? AsciiLower(ElementString(h, *manager, "23000003")) : std::string();
  }
  return FindObject(objects, id) ? id : std::string();
}

// The disk layouts of the machine's disks, read once per listing or edit.
class DiskLayouts {
 public:
  const storage::DiskLayout* of(int disk_number) {
    auto it = layouts_.find(disk_number);
    if (it != layouts_.end()) return it->second.style == storage::PartitionStyle::Raw ? nullptr : &it->second;
    storage::DiskLayout& layout = layouts_[disk_number];
    auto machine = machine::CurrentIfOpen();
    auto disk = machine ? machine->disk(disk_number) : nullptr;
    if (!disk || !disk->device() || !storage::ReadDiskLayout(*disk->device(), &layout).ok())
      layout = storage::DiskLayout{};
    return layout.style == storage::PartitionStyle::Raw ? nullptr : &layout;
  }

 private:
  std::map<int, storage::DiskLayout> layouts_;
};

// The device record of a mounted volume's partition; empty when the volume
// lies on no partitioned disk.
std::vector<uint8_t> DeviceOfVolume(const storage::MountedVolume& v, DiskLayouts& layouts) {
  if (v.disk_number < 0) return {};
  const storage::DiskLayout* layout = layouts.of(v.disk_number);
  if (!layout) return {};
  if (layout->style == storage::PartitionStyle::Mbr) return BcdMbrPartitionDevice(layout->mbr_signature, v.offset);
  for (const storage::LayoutEntry& e : layout->partitions())
    if (e.start == v.offset) return BcdGptPartitionDevice(layout->disk_guid, e.id_guid);
  return {};
}

// The volume a "partition=" value names: "X:", "\Device\HarddiskVolumeN"
// or a volume GUID path.
const storage::MountedVolume* FindNamedVolume(const std::vector<storage::MountedVolume>& volumes,
                                              const std::u16string& name) {
  std::u16string wanted = UpperCase(name);
  while (!wanted.empty() && wanted.back() == u'\\') wanted.pop_back();
  for (const auto& v : volumes) {
    if (wanted.size() == 2 && wanted[1] == u':' && v.letter && UpperCase(std::u16string(1, v.letter)) == wanted.substr(0, 1))
      return &v;
    std::u16string guid = UpperCase(v.guid_path);
    while (!guid.empty() && guid.back() == u'\\') guid.pop_back();
    if (UpperCase(v.device_name) == wanted || guid == wanted) return &v;
  }
  return nullptr;
}

// How the listing shows a device record: "boot", "partition=X:" (or the
// volume's device name when it has no letter), "unknown" when no volume of
// the machine is the partition it names.
std::string ShowDevice(const std::vector<uint8_t>& data, DiskLayouts& layouts) {
  const BcdDevice device = DecodeBcdDevice(data.data(), data.size());
  if (device.kind == BcdDevice::Kind::Boot) return "boot";
  if (device.kind == BcdDevice::Kind::Invalid) return "unknown";
  for (const auto& v : storage::MountedVolumes()) {
    if (DeviceOfVolume(v, layouts) != data) continue;
    if (v.letter) return "partition=" + to_utf8(std::u16string(1, v.letter)) + ":";
    return "partition=" + to_utf8(v.device_name);
  }
  return "unknown";
}

std::string DeviceText(hive_h* h, const Object& o, const char* element, DiskLayouts& layouts) {
  hive_node_h e = o.elements ? hivex_node_get_child(h, o.elements, element) : 0;
  if (!e) return {};
  hive_value_h v = hivex_node_get_value(h, e, "Element");
  if (!v) return {};
  hive_type t;
  size_t len;
  if (hivex_value_type(h, v, &t, &len) != 0) return {};
  if (t == kTypeString) return StringValue(h, e, "Element");  // written by hand, as text
  if (t != kTypeBinary || len > 4096) return "unknown";
  char* bytes = hivex_value_value(h, v, &t, &len);
  if (!bytes) return "unknown";
  std::vector<uint8_t> data(bytes, bytes + len);
  free(bytes);
  return ShowDevice(data, layouts);
}

std::string Line(const std::string& name, const std::string& value) {
  std::string out = name;
  out.resize(std::max<size_t>(24, name.size() + 1), ' ');
  return out + value + "\r\n";
}

std::string Listing(hive_h* h, const std::vector<Object>& objects) {
  std::string out;
  DiskLayouts layouts;
  const Object* manager = FindObject(objects, kBootManagerId);
  std::string default_id = manager ? AsciiLower(ElementString(h, *manager, "23000003")) : std::string();
  auto block = [&](const std::string& label, const Object& o, const std::string& shown_id) {
    out += "\r\n" + label + "\r\n" + std::string(label.size(), '-') + "\r\n";
    out += Line("identifier", shown_id);
    std::string device = DeviceText(h, o, "11000001", layouts);
    if (!device.empty()) out += Line("device", device);
    std::string path = ElementString(h, o, "12000002");
    if (!path.empty()) out += Line("path", path);
    std::string description = ElementString(h, o, "12000004");
    if (!description.empty()) out += Line("description", description);
    std::string os_device = DeviceText(h, o, "21000001", layouts);
    if (!os_device.empty()) out += Line("osdevice", os_device);
    if (&o == manager && !default_id.empty()) out += Line("default", "{default}");
  };
  if (manager) block("Windows Boot Manager", *manager, "{bootmgr}");
  for (const auto& o : objects) {
    if (o.type != kLoaderType) continue;
    block("Windows Boot Loader", o, o.id == default_id ? "{default}" : o.id);
  }
  return out;
}

// The device record a "/set ... device" value names: "partition=BOOT" or
// "boot", or "partition=" and a volume of the machine. Empty when it names
// nothing the machine has.
std::vector<uint8_t> DeviceFromValue(const std::string& value) {
  std::string text = value;
  const std::string prefix = "partition=";
  const bool partition = AsciiLower(text.substr(0, prefix.size())) == prefix;
  if (partition) text = text.substr(prefix.size());
  if (AsciiLower(text) == "boot") return BcdBootDevice();
  if (!partition) return {};
  const auto volumes = storage::MountedVolumes();
  const storage::MountedVolume* v = FindNamedVolume(volumes, to_utf16(text));
  DiskLayouts layouts;
  return v ? DeviceOfVolume(*v, layouts) : std::vector<uint8_t>{};
}

bool SetDevice(hive_h* h, const Object& o, const char* element, std::vector<uint8_t> device) {
  hive_node_h elements = ChildOrAdd(h, o.node, "Elements");
  if (!elements) return false;
  hive_node_h e = ChildOrAdd(h, elements, element);
  return e && SetValue(h, e, "Element", kTypeBinary, std::move(device));
}

// The common head of a device record: 16 zero bytes, the type, flags 0 and
// the size from +16 to the end.
std::vector<uint8_t> DeviceHead(uint32_t type, size_t total) {
  std::vector<uint8_t> b(total, 0);
  WriteLe32(b.data() + 16, type);
  WriteLe32(b.data() + 24, static_cast<uint32_t>(total - 16));
  return b;
}

struct Options {
  std::u16string store;
  bool enumerate = false;
  std::vector<std::string> set;  // id, name, value
  std::string error;
};

Options ParseOptions(const std::vector<std::u16string>& argv) {
  Options o;
  for (size_t i = 0; i < argv.size(); ++i) {
    std::u16string a = UpperCase(argv[i]);
    if (a == u"/STORE") {
      if (i + 1 >= argv.size()) {
        o.error = "The /store option needs a file name.";
        return o;
      }
      o.store = argv[++i];
    } else if (a == u"/ENUM") {
      o.enumerate = true;
      if (i + 1 < argv.size() && argv[i + 1][0] != u'/') ++i;  // "all", "active", a type
    } else if (a == u"/SET") {
      if (i + 3 >= argv.size()) {
        o.error = "The /set command needs an identifier, an element and a value.";
        return o;
      }
      for (int k = 1; k <= 3; ++k) o.set.push_back(platform::to_utf8(argv[i + k]));
      i += 3;
    } else if (a == u"/V") {
      // verbose listing: ids are shown as they are anyway
    } else {
      o.error = "The parameter is incorrect: " + platform::to_utf8(argv[i]);
      return o;
    }
  }
  return o;
}

// A host scratch file in the machine folder for hivex to work on.
std::string ScratchPath() {
  std::filesystem::path dir = Machine().folder() / "tmp";
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  std::string path;
  int fd = CreateNamedHostTempFile("drum-bcd", &path, dir.string());
  if (fd < 0) return {};
  close(fd);
  return path;
}

bool CopyToHost(const std::vector<uint8_t>& bytes, const std::string& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::vector<uint8_t> ReadHost(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

std::vector<uint8_t> BcdBootDevice() { return DeviceHead(kBcdDeviceBoot, kBcdBootDeviceBytes); }

std::vector<uint8_t> BcdMbrPartitionDevice(uint32_t disk_signature, uint64_t offset) {
  std::vector<uint8_t> b = DeviceHead(kBcdDevicePartition, kBcdPartitionDeviceBytes);
  WriteLe64(b.data() + 32, offset);
  WriteLe32(b.data() + 52, 1);
  WriteLe32(b.data() + 56, disk_signature);
  return b;
}

std::vector<uint8_t> BcdGptPartitionDevice(const GUID& disk_guid, const GUID& partition_guid) {
  static_assert(sizeof(GUID) == 16);
  std::vector<uint8_t> b = DeviceHead(kBcdDevicePartition, kBcdPartitionDeviceBytes);
  std::memcpy(b.data() + 32, &partition_guid, 16);  // first three fields little-endian, as stored on disk
  WriteLe32(b.data() + 52, 0);
  std::memcpy(b.data() + 56, &disk_guid, 16);
  return b;
}

BcdDevice DecodeBcdDevice(const uint8_t* data, size_t size) {
  BcdDevice d;
  if (!data || size < 28 || ReadLe32(data + 24) != size - 16 || ReadLe32(data + 20) != 0) return d;
  const uint32_t type = ReadLe32(data + 16);
  if (type == kBcdDeviceBoot && size == kBcdBootDeviceBytes) {
    d.kind = BcdDevice::Kind::Boot;
    return d;
  }
  if (type != kBcdDevicePartition || size != kBcdPartitionDeviceBytes) return d;
  const uint32_t style = ReadLe32(data + 52);
  if (style == 1) {
    d.kind = BcdDevice::Kind::MbrPartition;
    d.offset = ReadLe64(data + 32);
    d.disk_signature = ReadLe32(data + 56);
  } else if (style == 0) {
    d.kind = BcdDevice::Kind::GptPartition;
    std::memcpy(&d.partition_guid, data + 32, 16);
    std::memcpy(&d.disk_guid, data + 56, 16);
  }
  return d;
}

bool CreateBcdStoreFile(const std::string& host_path, const std::vector<uint8_t>& manager_device,
                        const std::vector<BcdLoaderSpec>& loaders) {
  platform::registry::EmptyHiveOptions options;
  options.root_name = "NewStoreRoot";
  if (platform::registry::CreateEmptyHive(host_path, options) != 0) return false;
  Hive hive(host_path, true);
  if (!hive) return false;
  hive_h* h = hive.get();
  hive_node_h objects = hivex_node_add_child(h, hivex_root(h), "Objects");
  auto add_object = [&](const std::string& id, int32_t type) -> hive_node_h {
    hive_node_h o = hivex_node_add_child(h, objects, id.c_str());
    hive_node_h d = hivex_node_add_child(h, o, "Description");
    std::vector<uint8_t> dword(4);
    std::memcpy(dword.data(), &type, 4);
    SetValue(h, d, "Type", kTypeDword, dword);
    return hivex_node_add_child(h, o, "Elements");
  };
  auto add_element = [&](hive_node_h elements, const char* name, int type, std::vector<uint8_t> data) {
    hive_node_h e = hivex_node_add_child(h, elements, name);
    SetValue(h, e, "Element", type, std::move(data));
  };
  hive_node_h manager = add_object(kBootManagerId, kBootManagerType);
  if (!manager_device.empty()) add_element(manager, "11000001", kTypeBinary, manager_device);
  add_element(manager, "12000002", kTypeString, Utf16z("\\bootmgr"));
  add_element(manager, "12000004", kTypeString, Utf16z("Windows Boot Manager"));
  if (!loaders.empty()) {
    add_element(manager, "23000003", kTypeString, Utf16z(loaders.front().id));
    std::vector<uint8_t> order;
    for (const auto& l : loaders) {
      auto one = Utf16z(l.id);
      order.insert(order.end(), one.begin(), one.end());
    }
    order.push_back(0);
    order.push_back(0);
    add_element(manager, "24000001", kTypeMultiString, order);
  }
  std::vector<uint8_t> timeout(8, 0);
  timeout[0] = 30;
  add_element(manager, "25000004", kTypeBinary, timeout);
  for (const auto& l : loaders) {
    hive_node_h e = add_object(l.id, kLoaderType);
    if (!l.device.empty()) add_element(e, "11000001", kTypeBinary, l.device);
    add_element(e, "12000002", kTypeString, Utf16z(l.path));
    add_element(e, "12000004", kTypeString, Utf16z(l.description));
    if (!l.device.empty()) add_element(e, "21000001", kTypeBinary, l.device);
  }
  return hivex_commit(h, nullptr, 0) == 0;
}

DWORD RunBcdEditor(const ProgramStart& start) {
  Options options = ParseOptions(start.argv);
  if (!options.error.empty()) {
    WriteOutput(start, options.error + "\r\n");
    return 1;
  }
  if (options.store.empty()) options.store = u"C:\\Boot\\BCD";
  std::u16string store = NormalizePath(IsAbsolutePath(options.store) ? options.store
                                                                     : JoinPath(start.current_folder, options.store));
  std::vector<uint8_t> bytes;
  if (!ReadSimulatedFile(store, &bytes, kMaxStoreBytes)) {
    WriteOutput(start, "The boot configuration data store could not be opened.\r\n"
                       "The system cannot find the file specified.\r\n");
    return 1;
  }
  std::string scratch = ScratchPath();
  if (scratch.empty() || !CopyToHost(bytes, scratch)) {
    WriteOutput(start, "The boot configuration data store could not be opened.\r\n");
    return 1;
  }
  struct Cleanup {
    std::string path;
    ~Cleanup() { ReleaseHostTempFile(path); }
  } cleanup{scratch};

  const bool editing = !options.set.empty();
  Hive hive(scratch, editing);
  if (!hive) {
    WriteOutput(start, "The boot configuration data store could not be opened.\r\n"
                       "The store is damaged or is not a boot store.\r\n");
    return 1;
  }
  hive_h* h = hive.get();
  std::vector<Object> objects = ReadObjects(h);
  if (!editing) {
    WriteOutput(start, Listing(h, objects));
    return 0;
  }
  std::string id = ResolveId(h, objects, options.set[0]);
  if (id.empty()) {
    WriteOutput(start, "The specified entry identifier is invalid: " + options.set[0] + "\r\n");
    return 1;
  }
  const Object& object = *FindObject(objects, id);
  std::string name = AsciiLower(options.set[1]);
  const char* element = name == "device" ? "11000001" : name == "osdevice" ? "21000001" : nullptr;
  bool ok = false;
  if (element) {
    std::vector<uint8_t> device = DeviceFromValue(options.set[2]);
    if (device.empty()) {
      WriteOutput(start, "The device specified is not valid: " + options.set[2] + "\r\n");
      return 1;
    }
    ok = SetDevice(h, object, element, std::move(device));
  } else if (name == "description" || name == "path") {
    hive_node_h elements = ChildOrAdd(h, object.node, "Elements");
    hive_node_h e = elements ? ChildOrAdd(h, elements, name == "path" ? "12000002" : "12000004") : 0;
    ok = e && SetValue(h, e, "Element", kTypeString, Utf16z(options.set[2]));
  } else {
    WriteOutput(start, "The element data type specified is not recognized: " + options.set[1] + "\r\n");
    return 1;
  }
  if (!ok || hivex_commit(h, nullptr, 0) != 0) {
    WriteOutput(start, "The boot configuration data store could not be written.\r\n");
    return 1;
  }
  if (!WriteSimulatedFile(store, ReadHost(scratch))) {
    WriteOutput(start, "The boot configuration data store could not be written.\r\n");
    return 1;
  }
  MachineLog("bcd set store=\"" + platform::to_utf8(store) + "\" id=" + id + " " + name + "=" + options.set[2]);
  WriteOutput(start, "The operation completed successfully.\r\n");
  return 0;
}

}  // namespace platform::process

#include "platform/storage/mount_manager.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "platform/core/ascii_case.h"
#include "platform/core/error.h"
#include "platform/core/little_endian.h"
#include "platform/core/text.h"
#include "platform/machine/machine.h"
#include "platform/storage/device.h"
#include "platform/storage/partition_table.h"

namespace platform::storage {

namespace {

// GPT partition types the manager looks at.
constexpr GUID kBasicDataType = {0xEBD0A0A2, 0xB9E5, 0x4433, {0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7}};
constexpr GUID kReservedType = {0xE3C9E316, 0x0B5C, 0x4DB8, {0x81, 0x7D, 0xF9, 0x2D, 0xF0, 0x02, 0x15, 0xAE}};
// Volumes taken from one disk: more than the platform's own tables ever hold
// (128 GPT entries, a few dozen logical drives); a hostile table past this is cut.
constexpr size_t kMaxVolumesPerDisk = 256;
// GPT attribute: the platform assigns no drive letter.
constexpr uint64_t kGptNoDriveLetter = 0x8000000000000000ull;

// MBR types the platform mounts with a letter: FAT12, FAT16 (<32M), FAT16,
// IFS (NTFS/exFAT), FAT32 (CHS), FAT32 (LBA), FAT16 (LBA).
bool is_letter_mbr_type(uint8_t type) {
  switch (type) {
    case 0x01: case 0x04: case 0x06: case 0x07: case 0x0B: case 0x0C: case 0x0E: return true;
    default: return false;
  }
}

uint64_t fnv1a(const std::vector<uint8_t>& bytes, uint64_t seed) {
  uint64_t h = 0xcbf29ce484222325ull ^ seed;
  for (uint8_t b : bytes) {
    h ^= b;
    h *= 0x100000001b3ull;
  }
  // Final mix so nearby offsets spread over every byte.
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdull;
  h ^= h >> 33;
  return h;
}

std::u16string u16(const std::string& s) { return platform::to_utf16(s); }

std::string blanks_to_underscores(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  while (!s.empty() && s.front() == ' ') s.erase(s.begin());
  for (char& c : s)
    if (c == ' ') c = '_';
  return s;
}

std::u16string dos_letter_name(WCHAR letter) { return std::u16string(u"\\DosDevices\\") + letter + u":"; }

// A volume the manager has seen on a disk since the machine was opened.
struct Known {
  std::vector<uint8_t> id;     // MountedDevices data
  std::u16string guid_path;
  int volume_number = 0;       // \Device\HarddiskVolumeN
  int disk = -1;
  int partition_number = 0;
  uint64_t offset = 0;
  uint64_t length = 0;
  std::string file_system;
  bool removable = false;
  bool letter_allowed = true;
  bool present = false;        // found by the disk's last scan
  bool visible = false;        // published
  int pending = 0;             // passes left before it shows
  WCHAR letter = 0;
  uint64_t generation = 0;
  std::shared_ptr<BlockDevice> device;
};

struct Candidate {
  std::vector<uint8_t> id;
  int partition_number = 0;
  uint64_t offset = 0, length = 0;
  std::string file_system;
  bool letter_allowed = true;
};

class RegMountRegistry;

struct State {
  std::recursive_mutex lock;
  std::shared_ptr<machine::Machine> machine;
  std::vector<Known> volumes;  // in order of first appearance
  int next_volume_number = 1;
  uint64_t next_generation = 1;
  std::map<std::u16string, std::vector<std::u16string>> dos_definitions;  // upper-cased name -> newest first
  std::map<std::u16string, std::u16string> folder_mounts;                // "C:\X\" -> guid path
  std::shared_ptr<MountRegistry> registry;
  std::map<int, DeviceChangeListener> listeners;
  int next_listener = 1;
  std::vector<DeviceChange> outbox;  // raised under the lock, delivered after it
};

State& state() {
  static State* s = new State;
  return *s;
}

void deliver(State& s) {
  std::vector<DeviceChange> events;
  std::vector<DeviceChangeListener> listeners;
  {
    std::lock_guard guard(s.lock);
    events.swap(s.outbox);
    for (auto& [id, l] : s.listeners) listeners.push_back(l);
  }
  for (auto& e : events)
    for (auto& l : listeners) l(e);
}

DWORD host_letter_mask(const State& s) {
  DWORD mask = 0;
  if (!s.machine) return mask;
  for (auto& m : s.machine->mounts())
    if (m.is_whole_drive()) mask |= 1u << (m.path[0] - 'A');
  return mask;
}

DWORD taken_letters(const State& s) {
  DWORD mask = host_letter_mask(s);
  for (auto& v : s.volumes)
    if (v.visible && v.letter) mask |= 1u << (v.letter - u'A');
  for (auto& [name, defs] : s.dos_definitions)
    if (name.size() == 2 && name[1] == u':' && name[0] >= u'A' && name[0] <= u'Z' && !defs.empty())
      mask |= 1u << (name[0] - u'A');
  return mask;
}

void publish(State& s) {
  std::vector<MountedVolume> table;
  for (auto& v : s.volumes) {
    if (!v.visible) continue;
    MountedVolume m;
    m.guid_path = v.guid_path;
    m.device_name = u"\\Device\\HarddiskVolume" + u16(std::to_string(v.volume_number));
    m.letter = v.letter;
    m.disk_number = v.disk;
    m.partition_number = v.partition_number;
    m.offset = v.offset;
    m.length = v.length;
    m.file_system = v.file_system;
    m.removable = v.removable;
    m.generation = v.generation;
    m.device = v.device;
    table.push_back(std::move(m));
  }
  if (s.machine) {
    for (auto& h : s.machine->mounts()) {
      if (!h.is_whole_drive()) continue;
      MountedVolume m;
      std::vector<uint8_t> id = {'H', 'O', 'S', 'T', ':'};
      for (char c : h.name) id.push_back(static_cast<uint8_t>(c));
      m.guid_path = VolumeGuidPath(VolumeGuidFromId(id));
      m.device_name = u"\\Device\\HostDrive" + std::u16string(1, static_cast<WCHAR>(h.path[0]));
      m.letter = static_cast<WCHAR>(h.path[0]);
      m.file_system = "NTFS";
      m.removable = h.drive_type == "removable";
      table.push_back(std::move(m));
    }
  }
  SetMountedVolumes(std::move(table));
}

// Gives a volume that just became visible its letter.
void assign_letter(State& s, Known& v) {
  auto& reg = *s.registry;
  auto recorded = reg.mounted_devices();
  DWORD taken = taken_letters(s);
  WCHAR letter = 0;
  for (auto& [name, data] : recorded) {
    std::u16string n = AsciiUpper(name);
    if (n.size() == 14 && n.rfind(u"\\DOSDEVICES\\", 0) == 0 && n[13] == u':' && n[12] >= u'A' && n[12] <= u'Z' &&
        data == v.id && !(taken & (1u << (n[12] - u'A')))) {
      letter = n[12];
      break;
    }
  }
  if (!letter && v.letter_allowed && !reg.no_auto_mount()) {
    // Letters recorded for other volumes stay theirs while those are away.
    for (auto& [name, data] : recorded) {
      std::u16string n = AsciiUpper(name);
      if (n.size() == 14 && n.rfind(u"\\DOSDEVICES\\", 0) == 0 && n[12] >= u'A' && n[12] <= u'Z' && data != v.id)
        taken |= 1u << (n[12] - u'A');
    }
    for (WCHAR c = u'C'; c <= u'Z'; ++c)
      if (!(taken & (1u << (c - u'A')))) {
        letter = c;
        break;
      }
  }
  v.letter = letter;
  std::u16string volume_name = u"\\??\\Volume" + v.guid_path.substr(10, 38);
  reg.set_mounted_device(volume_name, v.id);
  if (letter) reg.set_mounted_device(dos_letter_name(letter), v.id);
}

void raise_volume(State& s, DWORD event, int disk, WCHAR letter) {
  if (!letter) return;
  s.outbox.push_back({event, DBT_DEVTYP_VOLUME, disk, 1u << (letter - u'A')});
}

void hide(State& s, Known& v) {
  if (v.visible) raise_volume(s, DBT_DEVICEREMOVECOMPLETE, v.disk, v.letter);
  v.visible = false;
  v.letter = 0;
  v.present = false;
  v.device.reset();
}

// One mount pass: hidden volumes count down and show when they reach zero.
void pass(State& s) {
  for (auto& v : s.volumes)
    if (v.present && !v.visible && v.pending > 0) --v.pending;
}

void reveal(State& s) {
  std::vector<Known*> ready;
  for (auto& v : s.volumes)
    if (v.present && !v.visible && v.pending == 0) ready.push_back(&v);
  std::sort(ready.begin(), ready.end(),
            [](Known* a, Known* b) { return a->disk != b->disk ? a->disk < b->disk : a->offset < b->offset; });
  for (Known* v : ready) {
    v->visible = true;
    assign_letter(s, *v);
    raise_volume(s, DBT_DEVICEARRIVAL, v->disk, v->letter);
  }
}

std::vector<Candidate> scan_disk(machine::Disk& disk) {
  std::vector<Candidate> out;
  auto dev = disk.device();
  DiskLayout layout;
  TableResult r = ReadDiskLayout(*dev, &layout);
  if (!r.ok()) return out;
  for (auto& e : layout.partitions()) {
    if (out.size() >= kMaxVolumesPerDisk) {
      machine::Log("mount", "disk " + std::to_string(disk.number()) + ": more than " +
                                std::to_string(kMaxVolumesPerDisk) + " partitions, the rest get no volume");
      break;
    }
    if (e.length == 0 || e.start >= dev->size() || e.length > dev->size() - e.start) continue;
    Candidate c;
    c.partition_number = static_cast<int>(e.number);
    c.offset = e.start;
    c.length = e.length;
    if (layout.style == PartitionStyle::Gpt) {
      if (e.type_guid == kReservedType) continue;  // never a volume
      c.id = MountedDeviceIdForGpt(e.id_guid);
      c.letter_allowed = e.type_guid == kBasicDataType && !(e.attributes & kGptNoDriveLetter);
    } else if (e.start == 0) {
      // No table: sector 0 is the volume's own boot sector (a "superfloppy"),
      // which the platform names by the disk, not by a signature it lacks.
      c.id = MountedDeviceIdForWholeDisk(DiskEnumId(disk));
      c.letter_allowed = is_letter_mbr_type(e.mbr_type);
    } else {
      c.id = MountedDeviceIdForMbr(layout.mbr_signature, e.start);
      c.letter_allowed = is_letter_mbr_type(e.mbr_type);
    }
    WindowBlockDevice window(dev, e.start, e.length);
    c.file_system = DetectFileSystem(window);
    out.push_back(std::move(c));
  }
  return out;
}

void rescan_locked(State& s, int number) {
  if (!s.machine) return;
  auto disk = s.machine->disk(number);
  std::vector<Candidate> found;
  if (disk) found = scan_disk(*disk);
  int rescans = s.machine->rescans_before_new_volume();
  std::vector<bool> matched(s.volumes.size(), false);
  for (auto& c : found) {
    // A volume keeps the name it had on this disk. Two disks that carry the
    // same signature (a fresh clone) must still give two names: the second
    // one salts its name with its disk number.
    auto used_elsewhere = [&](const std::u16string& path) {
      for (auto& v : s.volumes)
        if (v.present && v.disk != number && v.guid_path == path) return true;
      return false;
    };
    Known* known = nullptr;
    for (size_t i = 0; i < s.volumes.size() && !known; ++i)
      if (s.volumes[i].disk == number && s.volumes[i].id == c.id && !matched[i] &&
          !used_elsewhere(s.volumes[i].guid_path)) {
        known = &s.volumes[i];
        matched[i] = true;
      }
    std::u16string guid_path = VolumeGuidPath(VolumeGuidFromId(c.id));
    if (used_elsewhere(guid_path)) guid_path = VolumeGuidPath(VolumeGuidFromId(c.id, static_cast<uint32_t>(number) + 1));
    if (!known) {
      s.volumes.emplace_back();
      matched.push_back(true);
      known = &s.volumes.back();
      known->guid_path = guid_path;
      known->volume_number = s.next_volume_number++;
      known->disk = number;
      known->generation = s.next_generation++;
    }
    Known& v = *known;
    if (!v.present) {
      v.present = true;
      v.visible = false;
      v.pending = rescans;
      v.generation = s.next_generation++;
    } else if (v.offset != c.offset || v.length != c.length || v.file_system != c.file_system) {
      v.generation = s.next_generation++;
    }
    v.id = c.id;
    v.partition_number = c.partition_number;
    v.offset = c.offset;
    v.length = c.length;
    v.file_system = c.file_system;
    v.letter_allowed = c.letter_allowed;
    v.removable = disk->is_removable();
    v.device = std::make_shared<WindowBlockDevice>(disk->device(), c.offset, c.length);
  }
  for (size_t i = 0; i < s.volumes.size(); ++i)
    if (!matched[i] && s.volumes[i].disk == number && s.volumes[i].present) hide(s, s.volumes[i]);
  reveal(s);
}

void write_disk_enum(State& s) {
  std::vector<std::u16string> ids;
  if (s.machine)
    for (auto& d : s.machine->disks()) ids.push_back(DiskEnumId(*d));
  s.registry->set_disk_enum(ids);
}

// Makes sure the manager follows the current machine. Returns with s.lock held by the caller.
// Makes `current` the machine the manager serves; returns true when it has
// just scanned every disk of it (false when it already served it).
bool follow(State& s, const std::shared_ptr<machine::Machine>& current) {
  if (!s.registry) s.registry = RegistryMountRegistry();
  if (current == s.machine) return false;
  s.volumes.clear();
  s.folder_mounts.clear();
  s.dos_definitions.clear();
  s.next_volume_number = 1;
  s.machine = current;
  if (!current) {
    publish(s);
    return true;
  }
  s.registry->use_machine_registry(current->registry_path());
  write_disk_enum(s);
  for (auto& d : current->disks()) {
    s.outbox.push_back({DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE, d->number(), 0});
    rescan_locked(s, d->number());
  }
  publish(s);
  return true;
}

// Follows the current machine, opening the demo PC when none is open.
bool follow_machine(State& s) { return follow(s, machine::Current()); }

}  // namespace

void InstallMountManager() {
  static const bool installed = [] {
    // Device handles ask for a rescan after layout changes and raw writes to sector 0.
    SetRescanHook([](int disk) { RescanDisk(disk); });
    // A machine that becomes current is scanned at once, so its volumes and
    // letters exist before the first program call looks at them.
    machine::AddMachineChangedListener([](const std::shared_ptr<machine::Machine>& m) {
      auto& s = state();
      {
        std::lock_guard guard(s.lock);
        follow(s, m);
      }
      deliver(s);
    });
    return true;
  }();
  (void)installed;
}

std::string DetectFileSystem(BlockDevice& volume) {
  uint8_t b[512];
  if (volume.size() < sizeof b || !volume.read_at(0, b, sizeof b)) return "RAW";
  if (std::memcmp(b + 3, "NTFS    ", 8) == 0) return "NTFS";
  if (std::memcmp(b + 3, "EXFAT   ", 8) == 0) return "exFAT";
  if (b[510] != 0x55 || b[511] != 0xAA) return "RAW";
  // FAT: the BIOS parameter block must be sane; the type follows from the cluster count.
  uint32_t bytes_per_sector = ReadLe16(b + 11);
  uint32_t per_cluster = b[13];
  uint32_t reserved = ReadLe16(b + 14);
  uint32_t fats = b[16];
  uint32_t root_entries = ReadLe16(b + 17);
  uint32_t total = ReadLe16(b + 19) ? ReadLe16(b + 19) : ReadLe32(b + 32);
  uint32_t fat_size = ReadLe16(b + 22) ? ReadLe16(b + 22) : ReadLe32(b + 36);
  bool pow2_bps = bytes_per_sector >= 512 && bytes_per_sector <= 4096 && (bytes_per_sector & (bytes_per_sector - 1)) == 0;
  bool pow2_spc = per_cluster != 0 && (per_cluster & (per_cluster - 1)) == 0;
  if (!pow2_bps || !pow2_spc || reserved == 0 || fats == 0 || fats > 4 || fat_size == 0 || total == 0)
    return "RAW";
  if (b[0] != 0xEB && b[0] != 0xE9) return "RAW";
  uint64_t root_sectors = (uint64_t(root_entries) * 32 + bytes_per_sector - 1) / bytes_per_sector;
  uint64_t meta = uint64_t(reserved) + uint64_t(fats) * fat_size + root_sectors;
  if (meta >= total) return "RAW";
  uint64_t clusters = (total - meta) / per_cluster;
  if (clusters < 4085) return "FAT12";
  if (clusters < 65525) return "FAT16";
  return "FAT32";
}

std::vector<uint8_t> MountedDeviceIdForMbr(uint32_t disk_signature, uint64_t offset) {
  std::vector<uint8_t> id(12);
  for (int i = 0; i < 4; ++i) id[i] = static_cast<uint8_t>(disk_signature >> (8 * i));
  for (int i = 0; i < 8; ++i) id[4 + i] = static_cast<uint8_t>(offset >> (8 * i));
  return id;
}

std::vector<uint8_t> MountedDeviceIdForGpt(const GUID& partition_id) {
  std::vector<uint8_t> id(8 + sizeof(GUID));
  std::memcpy(id.data(), "DMIO:ID:", 8);
  std::memcpy(id.data() + 8, &partition_id, sizeof(GUID));  // the GUID's bytes in stored order
  return id;
}

std::vector<uint8_t> MountedDeviceIdForWholeDisk(const std::u16string& enum_id) {
  std::u16string text = u"\\??\\";
  for (WCHAR c : enum_id) text += c == u'\\' ? u'#' : c;
  text += u"#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";  // the disk device interface class
  std::vector<uint8_t> id;
  for (WCHAR c : text) {
    id.push_back(static_cast<uint8_t>(c & 0xFF));
    id.push_back(static_cast<uint8_t>(c >> 8));
  }
  return id;
}

GUID VolumeGuidFromId(const std::vector<uint8_t>& id, uint32_t salt) {
  uint64_t a = fnv1a(id, 0x766f6c756d65ull + salt);
  uint64_t b = fnv1a(id, 0x6775696473ull + (uint64_t(salt) << 32));
  GUID g;
  g.Data1 = static_cast<DWORD>(a >> 32);
  g.Data2 = static_cast<WORD>(a >> 16);
  g.Data3 = static_cast<WORD>((a & 0x0FFF) | 0x4000);  // version 4 layout
  for (int i = 0; i < 8; ++i) g.Data4[i] = static_cast<BYTE>(b >> (8 * i));
  g.Data4[0] = static_cast<BYTE>((g.Data4[0] & 0x3F) | 0x80);  // RFC 4122 variant
  return g;
}

std::u16string VolumeGuidPath(const GUID& g) {
  char text[64];
  std::snprintf(text, sizeof text, "\\\\?\\Volume{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}\\", g.Data1, g.Data2,
                g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return u16(text);
}

std::u16string DiskEnumId(const machine::Disk& disk) {
  const auto& c = disk.config();
  std::vector<uint8_t> seed(c.serial.begin(), c.serial.end());
  seed.push_back(static_cast<uint8_t>(disk.number()));
  char hash[16];
  std::snprintf(hash, sizeof hash, "%x", static_cast<unsigned>(fnv1a(seed, 0) & 0xFFFFFFF));
  std::string vendor = blanks_to_underscores(c.vendor);
  std::string product = blanks_to_underscores(c.product);
  std::string revision = blanks_to_underscores(c.revision);
  std::string serial = blanks_to_underscores(c.serial);
  std::string id;
  switch (c.bus) {
    case machine::BusType::Usb:
      id = "USBSTOR\\Disk&Ven_" + vendor + "&Prod_" + product + "&Rev_" + revision + "\\" + serial + "&0";
      break;
    case machine::BusType::Ata:
    case machine::BusType::Atapi: {
      std::string model = product;
      model.resize(std::max<size_t>(model.size(), 40), '_');
      std::string rev = revision;
      rev.resize(std::max<size_t>(rev.size(), 8), '_');
      id = "IDE\\Disk" + model + rev + "\\5&" + hash + "&0&0." + std::to_string(disk.number()) + ".0";
      break;
    }
    default: {
      char lun[16];
      std::snprintf(lun, sizeof lun, "%06d", disk.number() * 100);
      id = "SCSI\\Disk&Ven_" + vendor + "&Prod_" + product + "\\4&" + hash + "&0&" + lun;
      break;
    }
  }
  return u16(id);
}

void SetMountRegistry(std::shared_ptr<MountRegistry> registry) {
  auto& s = state();
  std::lock_guard guard(s.lock);
  s.registry = registry ? std::move(registry) : RegistryMountRegistry();
}

void NoteFileSystem(const std::u16string& guid_path, const std::string& file_system) {
  auto& s = state();
  std::lock_guard guard(s.lock);
  for (auto& v : s.volumes) {
    if (v.guid_path != guid_path || v.file_system == file_system) continue;
    v.file_system = file_system;
    v.generation = s.next_generation++;
  }
}

void RescanDisk(int disk) {
  auto& s = state();
  {
    std::lock_guard guard(s.lock);
    if (!follow_machine(s)) {
      pass(s);
      rescan_locked(s, disk);
    }
    publish(s);
  }
  deliver(s);
}

void RescanAll() {
  auto& s = state();
  {
    std::lock_guard guard(s.lock);
    if (!follow_machine(s) && s.machine) {
      std::vector<int> numbers;
      for (auto& d : s.machine->disks()) numbers.push_back(d->number());
      for (auto& v : s.volumes)
        if (v.present && std::find(numbers.begin(), numbers.end(), v.disk) == numbers.end()) numbers.push_back(v.disk);
      pass(s);  // one pass for the whole sweep
      for (int n : numbers) rescan_locked(s, n);
    }
    publish(s);
  }
  deliver(s);
}

namespace {

void poll_disks(bool count_pass) {
  auto& s = state();
  {
    std::lock_guard guard(s.lock);
    if (!follow_machine(s) && s.machine) {
      auto changes = s.machine->poll();
      if (count_pass) pass(s);
      for (int n : changes.detached) {
        rescan_locked(s, n);  // the disk is gone: its volumes vanish
        s.outbox.push_back({DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_DEVICEINTERFACE, n, 0});
      }
      for (int n : changes.attached) {
        s.outbox.push_back({DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE, n, 0});
        rescan_locked(s, n);
      }
      if (!changes.empty()) write_disk_enum(s);
      reveal(s);
    }
    publish(s);
  }
  deliver(s);
}

}  // namespace

void PollDeviceChanges() { poll_disks(true); }
void PollAttachedDisks() { poll_disks(false); }

DEV_BROADCAST_VOLUME BroadcastVolumeFor(const DeviceChange& change) {
  DEV_BROADCAST_VOLUME record{};
  record.dbcv_size = sizeof record;
  record.dbcv_devicetype = DBT_DEVTYP_VOLUME;
  record.dbcv_unitmask = change.unit_mask;
  record.dbcv_flags = 0;
  return record;
}

void EnsureMounted() {
  auto& s = state();
  {
    std::lock_guard guard(s.lock);
    follow_machine(s);
  }
  deliver(s);
}

int AddDeviceChangeListener(DeviceChangeListener listener) {
  auto& s = state();
  std::lock_guard guard(s.lock);
  int id = s.next_listener++;
  s.listeners.emplace(id, std::move(listener));
  return id;
}

void RemoveDeviceChangeListener(int id) {
  auto& s = state();
  std::lock_guard guard(s.lock);
  s.listeners.erase(id);
}

std::vector<std::u16string> DosDeviceDefinitions(const std::u16string& name) {
  auto& s = state();
  std::lock_guard guard(s.lock);
  auto it = s.dos_definitions.find(AsciiUpper(name));
  return it == s.dos_definitions.end() ? std::vector<std::u16string>{} : it->second;
}

std::vector<std::u16string> DefinedDosDeviceNames() {
  auto& s = state();
  std::lock_guard guard(s.lock);
  std::vector<std::u16string> names;
  for (auto& [name, defs] : s.dos_definitions)
    if (!defs.empty()) names.push_back(name);
  return names;
}

bool DefineDosDeviceEntry(const std::u16string& name, const std::u16string& target, bool remove, bool exact) {
  auto& s = state();
  bool ok = true;
  {
    std::lock_guard guard(s.lock);
    follow_machine(s);
    std::u16string key = AsciiUpper(name);
    auto& defs = s.dos_definitions[key];
    bool letter = key.size() == 2 && key[1] == u':' && key[0] >= u'A' && key[0] <= u'Z';
    DWORD before = taken_letters(s);
    if (!remove) {
      defs.insert(defs.begin(), target);
    } else {
      auto it = defs.begin();
      if (exact) it = std::find(defs.begin(), defs.end(), target);
      if (it == defs.end()) {
        ok = false;
      } else {
        defs.erase(it);
      }
    }
    if (defs.empty()) s.dos_definitions.erase(key);
    if (letter) {
      DWORD bit = 1u << (key[0] - u'A');
      DWORD after = taken_letters(s);
      if (!(before & bit) && (after & bit)) s.outbox.push_back({DBT_DEVICEARRIVAL, DBT_DEVTYP_VOLUME, -1, bit});
      if ((before & bit) && !(after & bit)) s.outbox.push_back({DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_VOLUME, -1, bit});
    }
  }
  deliver(s);
  return ok;
}

DWORD LetterMask() {
  auto& s = state();
  std::lock_guard guard(s.lock);
  follow_machine(s);
  return taken_letters(s);
}

DWORD AssignLetter(WCHAR letter, const std::u16string& guid_path) {
  auto& s = state();
  DWORD result = ERROR_SUCCESS;
  {
    std::lock_guard guard(s.lock);
    follow_machine(s);
    letter = AsciiUpper(letter);
    if (letter < u'A' || letter > u'Z') return ERROR_INVALID_PARAMETER;
    Known* target = nullptr;
    for (auto& v : s.volumes)
      if (v.visible && AsciiUpper(v.guid_path) == AsciiUpper(guid_path)) target = &v;
    if (!target) {
      result = ERROR_FILE_NOT_FOUND;
    } else if (taken_letters(s) & (1u << (letter - u'A'))) {
      result = ERROR_DIR_NOT_EMPTY;
    } else if (target->letter) {
      result = ERROR_INVALID_PARAMETER;
    } else {
      target->letter = letter;
      s.registry->set_mounted_device(dos_letter_name(letter), target->id);
      raise_volume(s, DBT_DEVICEARRIVAL, target->disk, letter);
      publish(s);
    }
  }
  deliver(s);
  return result;
}

DWORD RemoveLetter(WCHAR letter) {
  auto& s = state();
  DWORD result = ERROR_FILE_NOT_FOUND;
  {
    std::lock_guard guard(s.lock);
    follow_machine(s);
    letter = AsciiUpper(letter);
    for (auto& v : s.volumes) {
      if (v.visible && v.letter == letter) {
        raise_volume(s, DBT_DEVICEREMOVECOMPLETE, v.disk, letter);
        v.letter = 0;
        s.registry->delete_mounted_device(dos_letter_name(letter));
        result = ERROR_SUCCESS;
        publish(s);
        break;
      }
    }
  }
  deliver(s);
  return result;
}

DWORD AddFolderMountPoint(const std::u16string& folder, const std::u16string& guid_path) {
  auto& s = state();
  std::lock_guard guard(s.lock);
  follow_machine(s);
  bool known = false;
  for (auto& v : s.volumes) known |= v.visible && AsciiUpper(v.guid_path) == AsciiUpper(guid_path);
  if (!known) return ERROR_FILE_NOT_FOUND;
  // The folder must lie on a volume that has a letter.
  WCHAR root = folder.empty() ? 0 : AsciiUpper(folder.substr(0, 1))[0];
  if (root < u'A' || root > u'Z' || !(taken_letters(s) & (1u << (root - u'A')))) return ERROR_PATH_NOT_FOUND;
  auto key = AsciiUpper(folder);
  if (s.folder_mounts.count(key)) return ERROR_DIR_NOT_EMPTY;
  s.folder_mounts[key] = guid_path;
  return ERROR_SUCCESS;
}

DWORD RemoveFolderMountPoint(const std::u16string& folder) {
  auto& s = state();
  std::lock_guard guard(s.lock);
  return s.folder_mounts.erase(AsciiUpper(folder)) ? ERROR_SUCCESS : ERROR_NOT_A_REPARSE_POINT;
}

std::map<std::u16string, std::u16string> FolderMountPoints() {
  auto& s = state();
  std::lock_guard guard(s.lock);
  return s.folder_mounts;
}

void ResetMountManager() {
  auto& s = state();
  std::lock_guard guard(s.lock);
  s.machine.reset();
  s.volumes.clear();
  s.folder_mounts.clear();
  s.dos_definitions.clear();
  s.outbox.clear();
  s.next_volume_number = 1;
  SetMountedVolumes({});
}

}  // namespace platform::storage

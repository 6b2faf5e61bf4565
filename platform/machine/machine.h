// The simulated PC: its disks, its OS facts, its host mounts and its log.
//
// A machine lives in a folder:
//   machine.ini    the description below (disks, OS facts, host mounts)
//   registry.reg   the live registry (owned by platform/registry)
//   machine.log    one line per thing the machine "did" (process starts,
//                  shut-down requests, disk attach/detach ...)
//   disk0.img ...  sparse disk images (any path may be given instead)
//
// machine.ini format
// ------------------
// Plain INI: "[section]" headers, "key = value" lines, blank lines and lines
// starting with ';' or '#' are ignored, as is the rest of a line from a ';'
// or '#' that follows a blank. Keys and section names are matched
// without regard to case; values keep their case and lose surrounding blanks.
// Numbers are decimal or 0x-hex. Sizes take a K/M/G/T suffix (powers of 1024).
// Booleans are yes/no, true/false, 1/0, on/off. Relative paths are relative to
// the machine folder. One key per line in the file; the sketch below puts
// several on a line only to stay short.
//
//   [machine]
//   rescans_before_new_volume = 0   ; mount passes a new volume stays hidden
//
//   [os]
//   major = 6           minor = 1       build = 7601      platform_id = 2
//   service_pack = Service Pack 1       ; the CSD text, may be empty
//   winpe = no          wow64 = no
//   computer_name = DEMO-PC             user_name = User
//   windows_folder = C:\Windows         system_folder = C:\Windows\System32
//   temp_folder = C:\Windows\Temp       program_files_folder = C:\Program Files
//
//   [disk N]            ; N = physical drive number, 0..99
//   image = disk0.img   ; sparse image file, or
//   device = /dev/sdX   ; a real block device (never touched unless listed here)
//   size = 8G           ; image size when the image is created (simpc add-disk)
//   sector_size = 512   ; native bytes per sector: 512 or 4096
//   cylinders = 0       ; 0 = computed from the size
//   tracks_per_cylinder = 255   ; 1..65535
//   sectors_per_track = 63      ; 1..65535
//   bus = sata          ; ata, atapi, sata, scsi, sas, usb, nvme, sd, mmc, raid, virtual
//   vendor = ...        product = ...    revision = ...    serial = ...
//                       ; (model = is read as product =)
//   removable = no
//   attached = yes      ; no = listed but unplugged (simpc attach/detach)
//   smart_identify = smart0-identify.hex      ; 512-byte pages as hex text
//   smart_attributes = smart0-attributes.hex  ; (whitespace between bytes is
//   smart_thresholds = smart0-thresholds.hex  ;  free, '#' starts a comment);
//                                             ; absent = no S.M.A.R.T.
//   unreadable = 100-199, 5000   ; native sector ranges that fail to read
//   failing_writes = 300-310     ; native sector ranges that fail to write
//   flaky_reads = 400-401        ; the first read touching each range fails,
//                                ; later ones succeed (a marginal sector)
//   open_fails = no              ; opening the disk fails
//   lock_refusals = 0            ; the first N volume locks are refused
//
//   [mount M]           ; M = any name; a host folder shown inside the PC
//   path = X:           ; a whole drive letter (WinPE's X:, a temp drive), or
//                       ; a folder inside a volume (C:\Program Files\Drummetworks)
//   host = /some/folder ; the host folder (relative to the machine folder allowed)
//   read_only = no
//   drive_type = fixed  ; whole letters: fixed, removable, cdrom, remote, ramdisk
//
//   [network]           ; where the PC's HTTP clients reach a host name
//   download.example.com = 127.0.0.1:8080   ; loopback addresses only
//                       ; (127.x.x.x, ::1 as [::1], localhost); a host with
//                       ; no line here cannot be reached, as when offline
//
// Attach and detach while a program runs: `simpc attach|detach DIR N` rewrites
// the disk's `attached` flag in machine.ini; the running machine notices the
// change on its next poll() and reports which disks came and went.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/block_device.h"
#include "platform/core/types.h"

namespace platform::machine {

// Storage bus codes, numbered as the platform's device descriptor reports them.
enum class BusType : uint32_t {
  Unknown = 0,
  Scsi = 1,
  Atapi = 2,
  Ata = 3,
  Ieee1394 = 4,
  Ssa = 5,
  Fibre = 6,
  Usb = 7,
  Raid = 8,
  IScsi = 9,
  Sas = 10,
  Sata = 11,
  Sd = 12,
  Mmc = 13,
  Virtual = 14,
  FileBackedVirtual = 15,
  Nvme = 17,
};
// "sata" -> BusType::Sata; nullopt for an unknown name.
std::optional<BusType> ParseBusType(std::string_view name);
// BusType::Sata -> "sata".
const char* BusTypeName(BusType bus);

// An inclusive run of native sectors [first, last].
struct SectorRange {
  uint64_t first = 0;
  uint64_t last = 0;
  bool contains(uint64_t sector) const { return sector >= first && sector <= last; }
  bool operator==(const SectorRange&) const = default;
};

struct DiskFaults {
  std::vector<SectorRange> unreadable;      // reads touching these fail with ERROR_CRC
  std::vector<SectorRange> failing_writes;  // writes touching these fail with ERROR_WRITE_FAULT
  std::vector<SectorRange> flaky_reads;     // the first read touching each fails with ERROR_CRC
  bool open_fails = false;                  // CreateFile on the disk fails (ERROR_NOT_READY)
  int lock_refusals = 0;                    // the first N locks are refused (ERROR_ACCESS_DENIED)
  bool operator==(const DiskFaults&) const = default;
};

struct DiskConfig {
  int number = -1;
  std::string image;            // image file path as written in machine.ini
  std::string device;           // real block device, or empty
  uint64_t size = 0;            // bytes; 0 = take the backing's size
  uint32_t sector_size = 512;   // 512 or 4096
  uint64_t cylinders = 0;       // 0 = from the size
  uint32_t tracks_per_cylinder = 255;
  uint32_t sectors_per_track = 63;
  BusType bus = BusType::Sata;
  std::string vendor;
  std::string product;
  std::string revision;
  std::string serial;
  bool removable = false;
  bool attached = true;
  std::string smart_identify;    // hex file paths, empty = none
  std::string smart_attributes;
  std::string smart_thresholds;
  DiskFaults faults;
  bool operator==(const DiskConfig&) const = default;
};

struct OsFacts {
  // A 32-bit Windows 7 SP1 unless machine.ini says otherwise: the system the
  // programs were made for.
  DWORD major = 6;
  DWORD minor = 1;
  DWORD build = 7601;
  DWORD platform_id = 2;  // 2 = NT family
  std::string service_pack = "Service Pack 1";
  bool winpe = false;
  bool wow64 = false;
  std::string computer_name = "DEMO-PC";
  std::string user_name = "User";
  std::string windows_folder = "C:\\Windows";
  std::string system_folder = "C:\\Windows\\System32";
  std::string temp_folder = "C:\\Windows\\Temp";
  std::string program_files_folder = "C:\\Program Files";
  bool operator==(const OsFacts&) const = default;
};

struct HostMount {
  std::string name;          // the section's name
  std::string path;          // "X:" (a whole letter) or "C:\Program Files\Drummetworks"
  std::string host;          // host folder as written in machine.ini
  bool read_only = false;
  std::string drive_type = "fixed";  // fixed, removable, cdrom, remote, ramdisk
  bool is_whole_drive() const { return path.size() == 2 && path[1] == ':'; }
  bool operator==(const HostMount&) const = default;
};

// One [network] line: a host name and the loopback address and port that
// stand for it.
struct NetworkRoute {
  std::string host;     // lower case
  std::string address;  // "127.0.0.1", "::1"
  uint16_t port = 0;
  bool operator==(const NetworkRoute&) const = default;
};

// "127.0.0.1:8080", "[::1]:8080" or "localhost:8080" split into a loopback
// address and a port; false for anything that could leave this machine.
bool ParseLoopbackEndpoint(std::string_view text, std::string* address, uint16_t* port);

struct MachineConfig {
  int rescans_before_new_volume = 0;
  OsFacts os;
  std::vector<DiskConfig> disks;  // sorted by number
  std::vector<HostMount> mounts;
  std::vector<NetworkRoute> network;
  bool operator==(const MachineConfig&) const = default;

  DiskConfig* find_disk(int number);
  const DiskConfig* find_disk(int number) const;
  // The route of a host name (any case); null when it has none.
  const NetworkRoute* find_route(std::string_view host) const;
};

// Parses machine.ini text. Returns nullopt and sets *error to a message naming
// the line, the key and the bad value.
std::optional<MachineConfig> ParseMachineIni(std::string_view text, std::string* error);
// machine.ini is a few dozen lines; a larger one is refused when read, and
// never written.
constexpr size_t kMaxMachineIniBytes = 1024 * 1024;
// Reads DIR/machine.ini through the one bounded reader (a regular file of at
// most kMaxMachineIniBytes); false with a message naming the file otherwise.
bool ReadMachineIniText(const std::string& folder, std::string* text, std::string* error);
// Writes machine.ini text that ParseMachineIni reads back to the same config.
std::string FormatMachineIni(const MachineConfig& config);
// `text` with `key = value` set in section [disk N]: the key's line replaced
// (its indentation and trailing comment kept), or the line added at the end of
// the section; every other line as it was. Unchanged when no such section.
std::string SetDiskIniValue(std::string_view text, int number, std::string_view key, std::string_view value);

// "8G" -> 8 GiB, "512" -> 512, "1.5G" is refused; nullopt on a bad or zero size.
std::optional<uint64_t> ParseSize(std::string_view text);

// What Linux tells about a real block device, from its sysfs folder
// (/sys/class/block/<name>): device/vendor, device/model, device/rev,
// device/serial (or the NVMe device/serial next to the namespace),
// removable, and the bus from the folder's resolved path (usb, nvme, ata).
// Missing files leave fields empty; nothing here fails.
struct HostDiskIdentity {
  std::string vendor;
  std::string product;
  std::string revision;
  std::string serial;
  bool removable = false;
  std::optional<BusType> bus;
};
HostDiskIdentity ReadHostDiskIdentity(const std::string& sysfs_block_folder);

// Cylinders/heads/sectors as the disk reports them.
struct DiskGeometry {
  uint64_t cylinders = 0;
  uint32_t tracks_per_cylinder = 0;
  uint32_t sectors_per_track = 0;
  uint32_t bytes_per_sector = 0;
};

// S.M.A.R.T. pages: 512 bytes each, or empty when the disk has none.
struct SmartPages {
  std::vector<uint8_t> identify;
  std::vector<uint8_t> attributes;
  std::vector<uint8_t> thresholds;
  bool present() const { return !identify.empty(); }
};

// One physical disk of the PC. The block device applies the disk's fault
// injection; everyone shares the same device object, so the mount manager, the
// device handles and the file-system drivers see one set of bytes.
class Disk {
 public:
  Disk(DiskConfig config, std::shared_ptr<BlockDevice> backing, SmartPages smart, bool real_device);

  int number() const { return config_.number; }
  const DiskConfig& config() const { return config_; }
  std::shared_ptr<BlockDevice> device() const { return device_; }
  uint64_t size() const { return device_->size(); }
  uint32_t sector_size() const { return device_->sector_size(); }
  DiskGeometry geometry() const;
  const SmartPages& smart() const { return smart_; }
  bool is_real_device() const { return real_device_; }
  bool is_removable() const { return config_.removable; }
  BusType bus() const { return config_.bus; }

  // Consumes one refusal when any are left: true = the lock may be granted.
  bool try_lock();

  // The disk was unplugged: from now on every transfer on its device fails
  // with ERROR_DEVICE_NOT_CONNECTED, for whoever still holds the device.
  void detach();

 private:
  DiskConfig config_;
  std::shared_ptr<BlockDevice> device_;
  SmartPages smart_;
  bool real_device_;
  std::mutex lock_;
  int refusals_left_;
};

// What a poll() found: disks that appeared and disks that went away.
struct DiskChanges {
  std::vector<int> attached;
  std::vector<int> detached;
  bool empty() const { return attached.empty() && detached.empty(); }
};

// A listed, attached disk that could not be opened (image gone or not whole
// sectors, device refused, bad S.M.A.R.T. page): programs see no such disk.
struct MissingDisk {
  int number = -1;
  std::string reason;
};

class Machine {
 public:
  // Loads DIR/machine.ini and opens every attached disk. Returns null with a
  // message in *error when the folder or machine.ini is missing or machine.ini
  // cannot be read. A disk that cannot be opened does not stop the rest: it is
  // missing (see missing_disks()) and its reason is logged.
  static std::shared_ptr<Machine> open(const std::string& folder, std::string* error);

  const std::string& folder() const { return folder_; }
  std::string ini_path() const { return folder_ + "/machine.ini"; }
  std::string registry_path() const { return folder_ + "/registry.reg"; }
  std::string log_path() const { return folder_ + "/machine.log"; }
  // A machine.ini path made absolute against the machine folder.
  std::string resolve(const std::string& path) const;

  MachineConfig config() const;
  const OsFacts& os() const { return config_.os; }
  int rescans_before_new_volume() const;
  std::vector<HostMount> mounts() const { return config_.mounts; }

  // Attached disks sorted by number, and one by number (null when absent).
  std::vector<std::shared_ptr<Disk>> disks() const;
  std::shared_ptr<Disk> disk(int number) const;
  // Attached disks that could not be opened, by number, with the reason.
  std::vector<MissingDisk> missing_disks() const;

  // Appends "<timestamp> <category>: <text>" (or "<timestamp> <category>" when
  // text is empty) to the log file.
  void log(std::string_view category, std::string_view text);

  // Re-reads machine.ini when it changed on disk and applies changes of the
  // disks' attached flags (and disks newly listed). Returns what changed.
  DiskChanges poll();

 private:
  Machine(std::string folder, MachineConfig config) : folder_(std::move(folder)), config_(std::move(config)) {}
  std::shared_ptr<Disk> open_disk(const DiskConfig& config, std::string* error) const;

  std::string folder_;
  MachineConfig config_;
  mutable std::mutex lock_;
  std::vector<std::shared_ptr<Disk>> disks_;
  std::vector<MissingDisk> missing_;
  std::string ini_text_;  // as last read, so poll() sees edits
};

// Opens DIR as the current machine (replacing any other). Returns false with
// *error set when it cannot be opened; the previous machine then stays.
bool OpenMachine(const std::string& folder, std::string* error);
// Makes `machine` current (tests; null clears it).
void SetCurrent(std::shared_ptr<Machine> machine);
// Opens the default machine folder ($DRUM_MACHINE, else $DRUM_MACHINE_DIR,
// else $DRUM_DEMO_DIR, else ~/.local/share/drumsuite/demo-pc), making the demo
// PC there first when the folder holds none. The programs' start-up calls it
// when no folder was named.
bool OpenDefaultMachine(std::string* error);
// The current machine. With none opened, the default machine folder when it
// already holds a machine (a child process started on its parent's folder);
// null when there is none: nothing is created here.
std::shared_ptr<Machine> Current();
// The current machine if one is open, without opening the demo PC.
std::shared_ptr<Machine> CurrentIfOpen();
// Appends a line to the current machine's log (nothing when none is open).
void Log(std::string_view category, std::string_view text);

// Listeners told when the current machine is replaced (the mount manager
// rescans, the registry reopens its file).
using MachineChangedListener = std::function<void(const std::shared_ptr<Machine>&)>;
int AddMachineChangedListener(MachineChangedListener listener);
void RemoveMachineChangedListener(int id);

}  // namespace platform::machine

#include "platform/machine/machine.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <linux/hdreg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/core/bounded_file.h"
#include "platform/core/error.h"
#include "platform/core/snapshot_table.h"
#include "platform/machine/demo.h"

namespace platform::machine {

namespace {

// The disk's bytes with its injected faults: a transfer that touches an
// unreadable (or failing-write) sector fails as a whole, as a drive reports a
// medium error for the command; a flaky range fails the first read that
// touches it and reads well afterwards, as a marginal sector that a retry
// recovers. Once the disk is unplugged every transfer fails, whoever still
// holds the device (a driver letting go of its cached state, a shadow copy):
// nothing reaches an image after its disk is gone.
class DiskBlockDevice : public BlockDevice {
 public:
  DiskBlockDevice(std::shared_ptr<BlockDevice> backing, DiskFaults faults)
      : backing_(std::move(backing)), faults_(std::move(faults)), flaky_failed_(faults_.flaky_reads.size(), false) {}
  uint64_t size() const override { return backing_->size(); }
  uint32_t sector_size() const override { return backing_->sector_size(); }
  bool read_at(uint64_t offset, void* buffer, size_t length) override {
    return readable(offset, length) && backing_->read_at(offset, buffer, length);
  }
  bool write_at(uint64_t offset, const void* buffer, size_t length) override {
    return writable(offset, length) && backing_->write_at(offset, buffer, length);
  }
  bool read_direct(uint64_t offset, void* buffer, size_t length) override {
    return readable(offset, length) && backing_->read_direct(offset, buffer, length);
  }
  bool write_direct(uint64_t offset, const void* buffer, size_t length) override {
    return writable(offset, length) && backing_->write_direct(offset, buffer, length);
  }
  bool direct_io() const override { return backing_->direct_io(); }
  bool backing_file(BackingFile* out) const override { return backing_->backing_file(out); }
  bool flush() override { return !gone() && backing_->flush(); }

  void detach() { detached_ = true; }

 private:
  bool gone() const {
    if (!detached_) return false;
    SetLastError(ERROR_DEVICE_NOT_CONNECTED);
    return true;
  }
  bool readable(uint64_t offset, size_t length) {
    if (gone()) return false;
    if (!touches(faults_.unreadable, offset, length) && !first_flaky_read(offset, length)) return true;
    SetLastError(ERROR_CRC);
    return false;
  }
  // True for the first read that touches a flaky range not yet read; that
  // read uses up every such range it touches.
  bool first_flaky_read(uint64_t offset, size_t length) {
    if (faults_.flaky_reads.empty()) return false;
    std::lock_guard<std::mutex> lock(flaky_mutex_);
    bool fails = false;
    for (size_t i = 0; i < faults_.flaky_reads.size(); ++i)
      if (!flaky_failed_[i] && touches(faults_.flaky_reads[i], offset, length)) {
        flaky_failed_[i] = true;
        fails = true;
      }
    return fails;
  }
  bool writable(uint64_t offset, size_t length) const {
    if (gone()) return false;
    if (!touches(faults_.failing_writes, offset, length)) return true;
    SetLastError(ERROR_WRITE_FAULT);
    return false;
  }
  bool touches(const std::vector<SectorRange>& ranges, uint64_t offset, size_t length) const {
    for (auto& r : ranges)
      if (touches(r, offset, length)) return true;
    return false;
  }
  bool touches(const SectorRange& r, uint64_t offset, size_t length) const {
    if (length == 0 || offset + length < offset) return false;
    uint64_t ss = sector_size();
    return r.first <= (offset + (length - 1)) / ss && r.last >= offset / ss;
  }
  std::shared_ptr<BlockDevice> backing_;
  DiskFaults faults_;
  std::mutex flaky_mutex_;
  std::vector<bool> flaky_failed_;  // by flaky range: its one failing read happened
  std::atomic<bool> detached_{false};
};

// A page of hex text is a few kilobytes; machine.ini a few dozen lines.
constexpr size_t kMaxHexPageFile = 64 * 1024;

// Reads a page of hex bytes ("4A 00 ff ..." with any whitespace, '#' comments).
bool read_hex_page(const std::string& path, std::vector<uint8_t>* out, std::string* error) {
  std::string text;
  std::string problem;
  if (!ReadBoundedFile(path, kMaxHexPageFile, &text, &problem)) {
    *error = "cannot read S.M.A.R.T. page " + path + ": " + problem;
    return false;
  }
  std::istringstream in(text);
  std::string line;
  int line_number = 0;
  out->clear();
  while (std::getline(in, line)) {
    ++line_number;
    if (auto hash = line.find('#'); hash != std::string::npos) line.resize(hash);
    int nibble = -1;
    for (char c : line) {
      int v;
      if (c >= '0' && c <= '9') v = c - '0';
      else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
      else if (std::isspace(static_cast<unsigned char>(c))) {
        if (nibble >= 0) {
          *error = path + " line " + std::to_string(line_number) + ": odd number of hex digits";
          return false;
        }
        continue;
      } else {
        *error = path + " line " + std::to_string(line_number) + ": '" + std::string(1, c) + "' is not a hex digit";
        return false;
      }
      if (nibble < 0) {
        nibble = v;
      } else {
        out->push_back(static_cast<uint8_t>(nibble << 4 | v));
        nibble = -1;
      }
    }
    if (nibble >= 0) {
      *error = path + " line " + std::to_string(line_number) + ": odd number of hex digits";
      return false;
    }
    if (out->size() > 512) break;
  }
  if (out->size() != 512) {
    *error = path + ": a S.M.A.R.T. page holds 512 bytes, found " + std::to_string(out->size());
    return false;
  }
  return true;
}

std::string read_file(const std::string& path, bool* ok) {
  std::string text, error;
  *ok = ReadBoundedFile(path, kMaxMachineIniBytes, &text, &error);
  return text;
}

struct CurrentState {
  std::mutex lock;
  std::shared_ptr<Machine> machine;
  std::map<int, MachineChangedListener> listeners;
  int next_id = 1;
};
CurrentState& current_state() {
  static CurrentState* s = new CurrentState;
  return *s;
}

void announce(const std::shared_ptr<Machine>& machine) {
  std::vector<MachineChangedListener> listeners;
  {
    auto& s = current_state();
    std::lock_guard guard(s.lock);
    for (auto& [id, l] : s.listeners) listeners.push_back(l);
  }
  for (auto& l : listeners) l(machine);
}

std::string first_line(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  if (in) std::getline(in, line);
  while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
  size_t start = 0;
  while (start < line.size() && std::isspace(static_cast<unsigned char>(line[start]))) ++start;
  return line.substr(start, 256);  // sysfs texts are short; a longer one is cut, not trusted
}

}  // namespace

bool ReadMachineIniText(const std::string& folder, std::string* text, std::string* error) {
  std::string path = folder + "/machine.ini";
  if (ReadBoundedFile(path, kMaxMachineIniBytes, text, error)) return true;
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) *error = "machine folder " + folder + " has no machine.ini";
  return false;
}

HostDiskIdentity ReadHostDiskIdentity(const std::string& folder) {
  HostDiskIdentity id;
  id.vendor = first_line(folder + "/device/vendor");
  id.product = first_line(folder + "/device/model");
  id.revision = first_line(folder + "/device/rev");
  if (id.revision.empty()) id.revision = first_line(folder + "/device/firmware_rev");
  id.serial = first_line(folder + "/device/serial");
  if (id.serial.empty()) id.serial = first_line(folder + "/device/device/serial");
  id.removable = first_line(folder + "/removable") == "1";
  std::string path = folder;
  if (char* real = realpath(folder.c_str(), nullptr)) {
    path = real;
    std::free(real);
  }
  if (path.find("/usb") != std::string::npos) id.bus = BusType::Usb;
  else if (path.find("/nvme") != std::string::npos) id.bus = BusType::Nvme;
  else if (path.find("/ata") != std::string::npos) id.bus = BusType::Sata;
  else if (path.find("/virtio") != std::string::npos) id.bus = BusType::Virtual;
  return id;
}

Disk::Disk(DiskConfig config, std::shared_ptr<BlockDevice> backing, SmartPages smart, bool real_device)
    : config_(std::move(config)), smart_(std::move(smart)), real_device_(real_device),
      refusals_left_(config_.faults.lock_refusals) {
  device_ = std::make_shared<DiskBlockDevice>(std::move(backing), config_.faults);
}

void Disk::detach() { static_cast<DiskBlockDevice&>(*device_).detach(); }

DiskGeometry Disk::geometry() const {
  DiskGeometry g;
  g.bytes_per_sector = sector_size();
  g.tracks_per_cylinder = config_.tracks_per_cylinder;
  g.sectors_per_track = config_.sectors_per_track;
  uint64_t per_cylinder = uint64_t(g.tracks_per_cylinder) * g.sectors_per_track * g.bytes_per_sector;
  g.cylinders = config_.cylinders ? config_.cylinders : size() / per_cylinder;
  return g;
}

bool Disk::try_lock() {
  std::lock_guard guard(lock_);
  if (refusals_left_ > 0) {
    --refusals_left_;
    return false;
  }
  return true;
}

std::string Machine::resolve(const std::string& path) const {
  if (path.empty() || path[0] == '/') return path;
  return folder_ + "/" + path;
}

MachineConfig Machine::config() const {
  std::lock_guard guard(lock_);
  return config_;
}

std::shared_ptr<Disk> Machine::open_disk(const DiskConfig& config, std::string* error) const {
  std::string where = "disk " + std::to_string(config.number);
  std::shared_ptr<BlockDevice> backing;
  bool real = !config.device.empty();
  uint32_t sector_size = config.sector_size;
  DiskConfig effective = config;
  if (real) {
    struct stat st {};
    if (stat(config.device.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) {
      *error = where + ": " + config.device + " is not a block device";
      return nullptr;
    }
    int fd = ::open(config.device.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
      int kernel_sector = 0;
      if (ioctl(fd, BLKSSZGET, &kernel_sector) == 0 && (kernel_sector == 512 || kernel_sector == 4096))
        sector_size = static_cast<uint32_t>(kernel_sector);
      hd_geometry geo {};
      if (ioctl(fd, HDIO_GETGEO, &geo) == 0 && geo.heads != 0 && geo.sectors != 0) {
        effective.tracks_per_cylinder = geo.heads;
        effective.sectors_per_track = geo.sectors;
      }
      ::close(fd);
    }
    // Identity the machine.ini leaves open comes from sysfs.
    std::string name = config.device.substr(config.device.rfind('/') + 1);
    if (char* real_path = realpath(config.device.c_str(), nullptr)) {
      std::string r = real_path;
      std::free(real_path);
      name = r.substr(r.rfind('/') + 1);
    }
    HostDiskIdentity id = ReadHostDiskIdentity("/sys/class/block/" + name);
    if (effective.vendor.empty()) effective.vendor = id.vendor;
    if (effective.product.empty()) effective.product = id.product;
    if (effective.revision.empty()) effective.revision = id.revision;
    if (effective.serial.empty()) effective.serial = id.serial;
    effective.removable = effective.removable || id.removable;
    auto dev = FileBlockDevice::open(config.device, sector_size);
    if (!dev) {
      *error = where + ": cannot open " + config.device + " (" + std::strerror(errno) + ")";
      return nullptr;
    }
    backing = std::move(dev);
  } else {
    std::string path = resolve(config.image);
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
      *error = where + ": image " + path + " does not exist";
      return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
      *error = where + ": image " + path + " is not a regular file";
      return nullptr;
    }
    if (st.st_size == 0 || st.st_size % sector_size != 0) {
      *error = where + ": image " + path + " is " + std::to_string(st.st_size) + " bytes, not a whole number of " +
               std::to_string(sector_size) + "-byte sectors";
      return nullptr;
    }
    auto dev = FileBlockDevice::open(path, sector_size);
    if (!dev) {
      *error = where + ": cannot open image " + path + " (" + std::strerror(errno) + ")";
      return nullptr;
    }
    backing = std::move(dev);
  }
  SmartPages smart;
  const std::pair<const std::string*, std::vector<uint8_t>*> pages[] = {
      {&config.smart_identify, &smart.identify},
      {&config.smart_attributes, &smart.attributes},
      {&config.smart_thresholds, &smart.thresholds}};
  for (auto& [file, page] : pages) {
    if (file->empty()) continue;
    std::string message;
    if (!read_hex_page(resolve(*file), page, &message)) {
      *error = where + ": " + message;
      return nullptr;
    }
  }
  effective.sector_size = sector_size;
  return std::make_shared<Disk>(std::move(effective), std::move(backing), std::move(smart), real);
}

std::shared_ptr<Machine> Machine::open(const std::string& folder, std::string* error) {
  std::string dummy;
  if (!error) error = &dummy;
  struct stat st {};
  if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    *error = "machine folder " + folder + " does not exist";
    return nullptr;
  }
  std::string absolute = folder;
  if (char* real = realpath(folder.c_str(), nullptr)) {
    absolute = real;
    std::free(real);
  }
  std::string text;
  if (!ReadBoundedFile(absolute + "/machine.ini", kMaxMachineIniBytes, &text, error)) {
    if (stat((absolute + "/machine.ini").c_str(), &st) != 0) *error = "machine folder " + folder + " has no machine.ini";
    return nullptr;
  }
  auto config = ParseMachineIni(text, error);
  if (!config) return nullptr;
  std::shared_ptr<Machine> machine(new Machine(absolute, std::move(*config)));
  machine->ini_text_ = text;
  // A disk that cannot be opened is missing, as an unplugged disk is absent:
  // the rest of the machine still works, and the reason is logged and kept
  // for `simpc show`.
  std::vector<std::string> problems;
  for (auto& d : machine->config_.disks) {
    if (!d.attached) continue;
    std::string problem;
    auto disk = machine->open_disk(d, &problem);
    if (!disk) {
      machine->missing_.push_back({d.number, problem});
      problems.push_back(std::move(problem));
      continue;
    }
    machine->disks_.push_back(std::move(disk));
  }
  for (auto& p : problems) machine->log("disk", p + "; the disk is missing");
  return machine;
}

int Machine::rescans_before_new_volume() const {
  std::lock_guard guard(lock_);  // poll() may change it
  return config_.rescans_before_new_volume;
}

std::vector<std::shared_ptr<Disk>> Machine::disks() const {
  std::lock_guard guard(lock_);
  return disks_;
}

std::vector<MissingDisk> Machine::missing_disks() const {
  std::lock_guard guard(lock_);
  return missing_;
}

std::shared_ptr<Disk> Machine::disk(int number) const {
  std::lock_guard guard(lock_);
  for (auto& d : disks_)
    if (d->number() == number) return d;
  return nullptr;
}

void Machine::log(std::string_view category, std::string_view text) {
  std::lock_guard guard(lock_);
  std::time_t now = std::time(nullptr);
  std::tm tm {};
  gmtime_r(&now, &tm);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
  std::string line = std::string(stamp) + " " + std::string(category) + (text.empty() ? "" : ": ");
  for (char c : text) line += (c == '\n' || c == '\r') ? ' ' : c;  // one event, one line
  line += '\n';
  // Never through a symlink: a link planted in the machine folder must not
  // make the machine append to a file elsewhere.
  int fd = ::open(log_path().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return;
  ssize_t ignored = ::write(fd, line.data(), line.size());  // O_APPEND keeps concurrent writers' lines whole
  (void)ignored;
  ::close(fd);
}

DiskChanges Machine::poll() {
  DiskChanges changes;
  bool ok = false;
  std::string text = read_file(ini_path(), &ok);
  std::unique_lock guard(lock_);
  if (!ok || text == ini_text_) return changes;
  ini_text_ = text;
  std::string error;
  auto fresh = ParseMachineIni(text, &error);
  if (!fresh) {
    guard.unlock();
    log("machine", "machine.ini changed but cannot be read: " + error);
    return changes;
  }
  std::vector<std::string> problems;
  // Disks that went away or were unplugged.
  for (auto it = disks_.begin(); it != disks_.end();) {
    const DiskConfig* now = fresh->find_disk((*it)->number());
    if (!now || !now->attached) {
      changes.detached.push_back((*it)->number());
      (*it)->detach();
      it = disks_.erase(it);
    } else {
      ++it;
    }
  }
  // Disks that were plugged in or newly listed; a disk that is still missing
  // is tried again.
  missing_.clear();
  for (auto& d : fresh->disks) {
    if (!d.attached) continue;
    bool present = false;
    for (auto& have : disks_) present |= have->number() == d.number;
    if (present) continue;
    auto disk = open_disk(d, &error);
    if (!disk) {
      missing_.push_back({d.number, error});
      problems.push_back(error + "; the disk is missing");
      continue;
    }
    changes.attached.push_back(d.number);
    disks_.push_back(std::move(disk));
  }
  std::sort(disks_.begin(), disks_.end(), [](auto& a, auto& b) { return a->number() < b->number(); });
  // Disk settings of disks that stay keep their open state; the rest follows the file.
  config_.disks = fresh->disks;
  config_.rescans_before_new_volume = fresh->rescans_before_new_volume;
  guard.unlock();
  for (int n : changes.attached) log("disk", "disk " + std::to_string(n) + " attached");
  for (int n : changes.detached) log("disk", "disk " + std::to_string(n) + " detached");
  for (auto& p : problems) log("disk", p);
  return changes;
}

bool OpenMachine(const std::string& folder, std::string* error) {
  auto machine = Machine::open(folder, error);
  if (!machine) return false;
  SetCurrent(machine);
  return true;
}

void SetCurrent(std::shared_ptr<Machine> machine) {
  // Snapshots of the machine's disks are recorded in its folder, so that
  // every process of the machine keeps them.
  UseSnapshotTable(machine ? machine->folder() : std::string());
  {
    auto& s = current_state();
    std::lock_guard guard(s.lock);
    s.machine = machine;
  }
  announce(machine);
}

std::shared_ptr<Machine> CurrentIfOpen() {
  auto& s = current_state();
  std::lock_guard guard(s.lock);
  return s.machine;
}

std::shared_ptr<Machine> Current() {
  if (auto m = CurrentIfOpen()) return m;
  // Only a machine that exists is opened here: making the demo PC is the
  // programs' own choice at start-up (OpenDefaultMachine), never a side effect
  // of the first disk or network call.
  std::string folder = DefaultMachineFolder();
  std::string error;
  struct stat st {};
  if (stat((folder + "/machine.ini").c_str(), &st) != 0) return nullptr;
  auto machine = Machine::open(folder, &error);
  if (!machine) return nullptr;
  {
    auto& s = current_state();
    std::lock_guard guard(s.lock);
    if (s.machine) return s.machine;  // another thread won the race
    s.machine = machine;
  }
  announce(machine);
  return machine;
}

bool OpenDefaultMachine(std::string* error) {
  const std::string folder = DefaultMachineFolder();
  struct stat st {};
  if (stat((folder + "/machine.ini").c_str(), &st) != 0 && !CreateDemoMachine(folder, error)) return false;
  return OpenMachine(folder, error);
}

void Log(std::string_view category, std::string_view text) {
  if (auto m = CurrentIfOpen()) m->log(category, text);
}

int AddMachineChangedListener(MachineChangedListener listener) {
  auto& s = current_state();
  std::lock_guard guard(s.lock);
  int id = s.next_id++;
  s.listeners.emplace(id, std::move(listener));
  return id;
}

void RemoveMachineChangedListener(int id) {
  auto& s = current_state();
  std::lock_guard guard(s.lock);
  s.listeners.erase(id);
}

}  // namespace platform::machine

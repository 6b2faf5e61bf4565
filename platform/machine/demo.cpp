#include "platform/machine/demo.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/core/ascii_case.h"
#include "platform/core/little_endian.h"

extern char** environ;

namespace platform::machine {

namespace {

namespace fs = std::filesystem;

// Holds the machine folder's edit lock: every read-modify-write of
// machine.ini (simpc, a program mounting its folder) takes it, so two editors
// never lose each other's change. A POSIX record lock on machine.ini.lock,
// let go when the holder ends, however it ends.
class IniEditLock {
 public:
  IniEditLock(const std::string& folder, std::string* error) {
    // A folder without a machine is refused before anything is made in it.
    struct stat ini {};
    if (::stat((folder + "/machine.ini").c_str(), &ini) != 0) {
      *error = "machine folder " + folder + " has no machine.ini";
      return;
    }
    if (!S_ISREG(ini.st_mode)) {
      *error = folder + "/machine.ini is not a regular file";
      return;
    }
    std::string path = folder + "/machine.ini.lock";
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd_ < 0) {
      *error = errno == ENOENT ? "machine folder " + folder + " has no machine.ini"
                               : "cannot lock " + folder + "/machine.ini: " + path + ": " + std::strerror(errno);
      return;
    }
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    int r;
    while ((r = fcntl(fd_, F_SETLKW, &fl)) != 0 && errno == EINTR) {
    }
    if (r != 0) {
      *error = "cannot lock " + folder + "/machine.ini: " + std::strerror(errno);
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~IniEditLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  IniEditLock(const IniEditLock&) = delete;
  IniEditLock& operator=(const IniEditLock&) = delete;
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// Replaces machine.ini through a temporary file of its own and a rename, so a
// running machine polling the file never reads half of it, and two writers
// never share a temporary.
bool write_ini_text(const std::string& folder, const std::string& text, std::string* error) {
  std::string path = folder + "/machine.ini";
  // What would be refused when read is never written.
  if (text.size() > kMaxMachineIniBytes) {
    *error = "cannot write " + path + ": " + std::to_string(text.size()) + " bytes, more than the " +
             std::to_string(kMaxMachineIniBytes) + " machine.ini may hold";
    return false;
  }
  std::string temp = path + ".XXXXXX";
  int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    *error = "cannot write a new " + path + ": " + std::strerror(errno);
    return false;
  }
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  bool ok = done == text.size() && fchmod(fd, 0644) == 0;
  ok = ::close(fd) == 0 && ok;
  if (!ok) {
    *error = "cannot write " + temp;
    ::unlink(temp.c_str());
    return false;
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    *error = "cannot replace " + path + ": " + std::strerror(errno);
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

bool write_ini(const std::string& folder, const MachineConfig& config, std::string* error) {
  return write_ini_text(folder, FormatMachineIni(config), error);
}

bool load_ini(const std::string& folder, MachineConfig* config, std::string* error) {
  std::string text;
  if (!ReadMachineIniText(folder, &text, error)) return false;
  auto parsed = ParseMachineIni(text, error);
  if (!parsed) return false;
  *config = std::move(*parsed);
  return true;
}

std::string resolve(const std::string& folder, const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  return folder + "/" + path;
}

// CHS triple for an MBR entry: the LBA as 255 heads x 63 sectors, or the
// "beyond 1024 cylinders" marker.
void put_chs(uint8_t* p, uint64_t lba) {
  uint64_t cyl = lba / (255 * 63);
  if (cyl > 1023) {
    p[0] = 0xFE;
    p[1] = 0xFF;
    p[2] = 0xFF;
    return;
  }
  uint32_t head = static_cast<uint32_t>((lba / 63) % 255);
  uint32_t sector = static_cast<uint32_t>(lba % 63) + 1;
  p[0] = static_cast<uint8_t>(head);
  p[1] = static_cast<uint8_t>(sector | ((cyl >> 2) & 0xC0));
  p[2] = static_cast<uint8_t>(cyl & 0xFF);
}

// Copies the data extents of a sparse file into `image` at `offset`, leaving holes as holes.
bool copy_sparse_into(const std::string& source, const std::string& image, uint64_t offset, std::string* error) {
  int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    *error = "cannot read " + source + ": " + std::strerror(errno);
    return false;
  }
  int out = ::open(image.c_str(), O_WRONLY | O_CLOEXEC);
  if (out < 0) {
    *error = "cannot write " + image + ": " + std::strerror(errno);
    ::close(in);
    return false;
  }
  std::vector<char> buffer(1 << 20);
  off_t end = lseek(in, 0, SEEK_END);
  off_t pos = 0;
  bool ok = true;
  while (ok && pos < end) {
    off_t data = lseek(in, pos, SEEK_DATA);
    if (data < 0) break;  // only a hole remains
    off_t hole = lseek(in, data, SEEK_HOLE);
    if (hole < 0) hole = end;
    for (off_t at = data; ok && at < hole;) {
      size_t n = static_cast<size_t>(std::min<off_t>(hole - at, static_cast<off_t>(buffer.size())));
      ssize_t got = pread(in, buffer.data(), n, at);
      if (got <= 0 || pwrite(out, buffer.data(), static_cast<size_t>(got), static_cast<off_t>(offset) + at) != got) {
        *error = "copying " + source + " into " + image + " failed";
        ok = false;
        break;
      }
      at += got;
    }
    pos = hole;
  }
  ::close(in);
  if (::close(out) != 0 && ok) {
    *error = "cannot finish writing " + image;
    ok = false;
  }
  return ok;
}

}  // namespace

std::string DefaultMachineFolder() {
  if (const char* m = std::getenv("DRUM_MACHINE"); m && *m) return m;
  if (const char* m = std::getenv("DRUM_MACHINE_DIR"); m && *m) return m;
  if (const char* d = std::getenv("DRUM_DEMO_DIR"); d && *d) return d;
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/.local/share/drumsuite/demo-pc";
}

bool RunHostTool(const std::vector<std::string>& argv, std::string* output, std::string* error) {
  if (argv.empty()) {
    *error = "no program given";
    return false;
  }
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) {
    *error = "cannot make a pipe for " + argv[0];
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 2);
  std::vector<char*> args;
  for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, argv[0].c_str(), &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipe_fds[1]);
  if (rc != 0) {
    ::close(pipe_fds[0]);
    *error = "cannot start " + argv[0] + ": " + std::strerror(rc);
    return false;
  }
  std::string text;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(pipe_fds[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
    if (n > 0) text.append(buf, static_cast<size_t>(n));
  ::close(pipe_fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (output) *output = text;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    *error = argv[0] + " failed (status " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + "): " + text;
    return false;
  }
  return true;
}

bool CreateMachineFolder(const std::string& folder, std::string* error) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) {
    *error = "cannot create " + folder + ": " + ec.message();
    return false;
  }
  if (fs::exists(folder + "/machine.ini")) {
    *error = folder + " already holds a machine";
    return false;
  }
  MachineConfig config;
  return write_ini(folder, config, error);
}

bool AddDiskToMachine(const std::string& folder, DiskConfig disk, std::string* error) {
  // Stored as machine.ini reads them back: without surrounding blanks.
  for (std::string* field : {&disk.vendor, &disk.product, &disk.revision, &disk.serial, &disk.image, &disk.device}) {
    while (!field->empty() && std::isspace(static_cast<unsigned char>(field->back()))) field->pop_back();
    while (!field->empty() && std::isspace(static_cast<unsigned char>(field->front()))) field->erase(field->begin());
  }
  IniEditLock lock(folder, error);
  if (!lock.held()) return false;
  MachineConfig config;
  if (!load_ini(folder, &config, error)) return false;
  if (disk.number < 0 || disk.number > 99) {
    *error = "disk number " + std::to_string(disk.number) + " is not 0..99";
    return false;
  }
  if (config.find_disk(disk.number)) {
    *error = "disk " + std::to_string(disk.number) + " already exists";
    return false;
  }
  if (disk.sector_size != 512 && disk.sector_size != 4096) {
    *error = "sector size " + std::to_string(disk.sector_size) + " is not 512 or 4096";
    return false;
  }
  std::string create_image;  // made once everything else is known to be right
  if (!disk.device.empty()) {
    struct stat st {};
    if (stat(disk.device.c_str(), &st) != 0) {
      *error = "device " + disk.device + " does not exist";
      return false;
    }
    if (!S_ISBLK(st.st_mode)) {
      *error = disk.device + " is not a block device";
      return false;
    }
    int fd = ::open(disk.device.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
      *error = "cannot open " + disk.device + ": " + std::strerror(errno);
      return false;
    }
    ::close(fd);
    disk.image.clear();
  } else {
    if (disk.image.empty()) disk.image = "disk" + std::to_string(disk.number) + ".img";
    std::string path = resolve(folder, disk.image);
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) {
      if (!S_ISREG(st.st_mode)) {
        *error = "image " + path + " is not a regular file";
        return false;
      }
      if (st.st_size == 0 || st.st_size % disk.sector_size != 0) {
        *error = "image " + path + " is not a whole number of " + std::to_string(disk.sector_size) + "-byte sectors";
        return false;
      }
      disk.size = static_cast<uint64_t>(st.st_size);
    } else {
      if (disk.size == 0) {
        *error = "image " + path + " does not exist and no --size was given";
        return false;
      }
      if (disk.size % disk.sector_size != 0) {
        *error = "size " + std::to_string(disk.size) + " is not a whole number of " +
                 std::to_string(disk.sector_size) + "-byte sectors";
        return false;
      }
      create_image = path;
    }
  }
  if (disk.serial.empty()) {
    char serial[32];
    std::snprintf(serial, sizeof serial, "DRUMSIM%04d%05u", disk.number, static_cast<unsigned>(disk.size >> 20) % 100000);
    disk.serial = serial;
  }
  if (disk.vendor.empty()) disk.vendor = disk.bus == BusType::Usb ? "Generic" : "ATA";
  if (disk.product.empty()) disk.product = disk.bus == BusType::Usb ? "Flash Disk" : "Drumsim Disk";
  if (disk.revision.empty()) disk.revision = "1.00";
  config.disks.push_back(disk);
  std::sort(config.disks.begin(), config.disks.end(), [](auto& a, auto& b) { return a.number < b.number; });
  // Never write a file the machine could not read back.
  std::string problem;
  auto back = ParseMachineIni(FormatMachineIni(config), &problem);
  if (!back) {
    *error = "disk " + std::to_string(disk.number) + " cannot be listed: " + problem;
    return false;
  }
  if (!(*back == config)) {
    *error = "disk " + std::to_string(disk.number) +
             " cannot be listed: a value would not read back as given (a line break, or ';' or '#' after a blank)";
    return false;
  }
  if (!create_image.empty()) {
    int fd = ::open(create_image.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(disk.size)) != 0) {
      *error = "cannot create image " + create_image + ": " + std::strerror(errno);
      if (fd >= 0) {
        ::close(fd);
        ::unlink(create_image.c_str());
      }
      return false;
    }
    ::close(fd);
  }
  if (!write_ini(folder, config, error)) {
    if (!create_image.empty()) ::unlink(create_image.c_str());
    return false;
  }
  return true;
}

bool SetDiskAttached(const std::string& folder, int number, bool attached, std::string* error) {
  IniEditLock lock(folder, error);
  if (!lock.held()) return false;
  std::string text;
  if (!ReadMachineIniText(folder, &text, error)) return false;
  auto config = ParseMachineIni(text, error);
  if (!config) return false;
  DiskConfig* disk = config->find_disk(number);
  if (!disk) {
    *error = "disk " + std::to_string(number) + " is not listed in " + folder + "/machine.ini";
    return false;
  }
  disk->attached = attached;
  // The one line changes; the user's comments and layout stay.
  std::string edited = SetDiskIniValue(text, number, "attached", attached ? "yes" : "no");
  std::string problem;
  auto back = ParseMachineIni(edited, &problem);
  if (!back || !(*back == *config)) {
    *error = "cannot set disk " + std::to_string(number) + "'s attached flag in " + folder + "/machine.ini";
    return false;
  }
  return write_ini_text(folder, edited, error);
}

bool WriteSinglePartitionMbr(const std::string& image, uint32_t sector_size, uint32_t signature, uint8_t type,
                             bool active, uint64_t start, uint64_t length, std::string* error) {
  std::vector<uint8_t> sector(sector_size, 0);
  WriteLe32(&sector[440], signature);
  uint8_t* e = &sector[446];
  uint64_t first = start / sector_size;
  uint64_t count = length / sector_size;
  if (first > 0xFFFFFFFFu || count > 0xFFFFFFFFu) {
    *error = "partition does not fit an MBR entry";
    return false;
  }
  e[0] = active ? 0x80 : 0x00;
  put_chs(e + 1, first);
  e[4] = type;
  put_chs(e + 5, first + count - 1);
  WriteLe32(e + 8, static_cast<uint32_t>(first));
  WriteLe32(e + 12, static_cast<uint32_t>(count));
  sector[510] = 0x55;
  sector[511] = 0xAA;
  int fd = ::open(image.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0 || pwrite(fd, sector.data(), sector.size(), 0) != static_cast<ssize_t>(sector.size())) {
    *error = "cannot write sector 0 of " + image;
    if (fd >= 0) ::close(fd);
    return false;
  }
  ::close(fd);
  return true;
}

namespace {

// An empty sparse file of `length` bytes for a formatter to fill.
bool make_scratch_file(const std::string& path, uint64_t length, std::string* error) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || ftruncate(fd, static_cast<off_t>(length)) != 0) {
    *error = "cannot create " + path;
    if (fd >= 0) ::close(fd);
    return false;
  }
  ::close(fd);
  return true;
}

// Formats [start, start + length) of `image` as NTFS labelled "System",
// through a scratch file in the machine folder.
bool format_system_ntfs(const std::string& folder, const std::string& image, uint64_t start, uint64_t length,
                        std::string* error) {
  std::string temp = folder + "/.mkntfs.tmp";
  bool ok = make_scratch_file(temp, length, error) &&
            RunHostTool({"mkntfs", "-F", "-f", "-q", "-L", "System", "-s", "512", "-p", std::to_string(start / 512),
                         "-H", "255", "-S", "63", temp},
                        nullptr, error) &&
            copy_sparse_into(temp, image, start, error);
  ::unlink(temp.c_str());
  return ok;
}

// The GPT system disk as Windows sets one up: an EFI system partition of
// 100 MiB (FAT32), a Microsoft reserved partition of 16 MiB and the NTFS
// system partition to the end, written by sgdisk and the formatters.
bool write_gpt_system_disk(const std::string& folder, const std::string& image, std::string* error) {
  constexpr uint64_t kMiB = 1ull << 20;
  if (!RunHostTool({"sgdisk", "-U", "5EED0001-0000-4000-8000-00000000D150",
                    "-n", "1:1M:+100M", "-t", "1:C12A7328-F81F-11D2-BA4B-00A0C93EC93B", "-c", "1:EFI system partition",
                    "-u", "1:5EED0001-0000-4000-8000-000000000001",
                    "-n", "2:0:+16M", "-t", "2:E3C9E316-0B5C-4DB8-817D-F92DF00215AE", "-c", "2:Microsoft reserved partition",
                    "-u", "2:5EED0001-0000-4000-8000-000000000002",
                    "-n", "3:0:0", "-t", "3:EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", "-c", "3:Basic data partition",
                    "-u", "3:5EED0001-0000-4000-8000-000000000003", image},
                   nullptr, error))
    return false;
  // sgdisk aligns to 1 MiB: the ESP at 1 MiB, the reserved one at 101 MiB,
  // the system partition from 117 MiB to the last usable sector.
  std::string table;
  if (!RunHostTool({"sfdisk", "-d", image}, &table, error)) return false;
  const std::string marker = image + "3 : start=";
  size_t at = table.find(marker);
  if (at == std::string::npos) {
    *error = "sgdisk did not make partition 3 of " + image;
    return false;
  }
  uint64_t first = std::stoull(table.substr(at + marker.size()));
  size_t size_at = table.find("size=", at);
  uint64_t count = std::stoull(table.substr(size_at + 5));
  const uint64_t esp_start = 1 * kMiB, esp_length = 100 * kMiB;
  // One sector per cluster: enough clusters for FAT32 on 100 MiB.
  return RunHostTool({"mkfs.fat", "-F", "32", "-s", "1", "-n", "SYSTEM", "-i", "5EED00E5", "-h", std::to_string(esp_start / 512),
                      "--offset=" + std::to_string(esp_start / 512), image, std::to_string(esp_length / 1024)},
                     nullptr, error) &&
         format_system_ntfs(folder, image, first * 512, count * 512, error);
}

}  // namespace

bool CreateDemoMachine(const std::string& folder, std::string* error, DemoSystemDisk style) {
  if (!CreateMachineFolder(folder, error)) return false;
  constexpr uint64_t kMiB = 1ull << 20, kGiB = 1ull << 30;

  DiskConfig system;
  system.number = 0;
  system.size = 40 * kGiB;
  system.bus = BusType::Sata;
  system.vendor = "ATA";
  system.product = "Drumsim SSD 40";
  system.serial = "DS40A0000001";
  if (!AddDiskToMachine(folder, system, error)) return false;

  DiskConfig data;
  data.number = 1;
  data.size = 120 * kGiB;
  data.bus = BusType::Sata;
  data.vendor = "ATA";
  data.product = "Drumsim HDD 120";
  data.serial = "DS120B0000002";
  if (!AddDiskToMachine(folder, data, error)) return false;

  DiskConfig stick;
  stick.number = 2;
  stick.size = 8 * kGiB;
  stick.bus = BusType::Usb;
  stick.vendor = "Generic";
  stick.product = "Flash Disk";
  stick.revision = "8.07";
  stick.serial = "0123456789AB";
  stick.removable = true;
  if (!AddDiskToMachine(folder, stick, error)) return false;

  // Disk 0: one active NTFS partition from 1 MiB to the end (MBR), or the
  // EFI system, reserved and NTFS system partitions (GPT).
  std::string image0 = folder + "/disk0.img";
  uint64_t start = 1 * kMiB, length = system.size - start;
  if (style == DemoSystemDisk::Gpt) {
    if (!write_gpt_system_disk(folder, image0, error)) return false;
  } else {
    if (!WriteSinglePartitionMbr(image0, 512, 0x5EED0001, 0x07, true, start, length, error)) return false;
    if (!format_system_ntfs(folder, image0, start, length, error)) return false;
  }

  // Disk 2: one FAT32 partition from 1 MiB to the end, written in place.
  std::string image2 = folder + "/disk2.img";
  uint64_t stick_length = stick.size - start;
  if (!WriteSinglePartitionMbr(image2, 512, 0x5EED0002, 0x0C, false, start, stick_length, error)) return false;
  if (!RunHostTool({"mkfs.fat", "-F", "32", "-n", "USBSTICK", "-i", "5EED0002", "-h", std::to_string(start / 512),
                    "--offset=" + std::to_string(start / 512), image2, std::to_string(stick_length / 1024)},
                   nullptr, error))
    return false;
  return true;
}

bool ReadMachineConfig(const std::string& folder, MachineConfig* config, std::string* error) {
  return load_ini(folder, config, error);
}

std::string ProgramFolderOn(const MachineConfig& config, const std::string& name) {
  if (config.os.winpe) return "X:\\" + name;
  std::string root = config.os.program_files_folder;
  while (!root.empty() && root.back() == '\\') root.pop_back();
  return root + "\\" + name;
}

bool MountProgramFolder(const std::string& folder, const std::string& name, const std::string& host,
                        std::string* program_folder, std::string* error) {
  if (name.empty() || name.find_first_of("\\/:;#[]\r\n") != std::string::npos) {
    *error = "\"" + name + "\" is not a program folder name";
    return false;
  }
  IniEditLock lock(folder, error);
  if (!lock.held()) return false;
  MachineConfig config;
  if (!load_ini(folder, &config, error)) return false;
  const std::string path = ProgramFolderOn(config, name);
  if (config.os.winpe && std::none_of(config.mounts.begin(), config.mounts.end(), [](const HostMount& m) {
        return m.is_whole_drive() && AsciiUpper(m.path[0]) == 'X';
      })) {
    *error = "the WinPE machine in " + folder + " has no X: drive (a [mount] section with path = X:)";
    return false;
  }
  std::string mount_name = name;
  mount_name = AsciiLower(mount_name);
  *program_folder = path;
  for (HostMount& m : config.mounts) {
    std::string existing = m.name;
    existing = AsciiLower(existing);
    if (existing != mount_name) continue;
    if (m.path == path) return true;
    m.path = path;
    return write_ini(folder, config, error);
  }
  // Appended, so the rest of the file keeps its comments and layout.
  std::string text;
  if (!ReadMachineIniText(folder, &text, error)) return false;
  if (!text.empty() && text.back() != '\n') text += '\n';
  text += "\n[mount " + mount_name + "]\npath = " + path + "\nhost = " + host + "\nread_only = no\n";
  return write_ini_text(folder, text, error);
}

bool CreateWinPEDemoMachine(const std::string& folder, std::string* error) {
  if (!CreateDemoMachine(folder, error, DemoSystemDisk::Mbr)) return false;
  // The X: drive: the medium's Windows folder with the system tools that
  // programs start from X:\Windows\System32. The platform runs its own
  // stand-in for each; the files are what a directory listing shows.
  const std::string drive = "winpe-x";
  const std::string root = folder + "/" + drive;
  std::error_code ec;
  for (const char* sub : {"/Windows/System32", "/Windows/Temp", "/Program Files"}) {
    fs::create_directories(root + sub, ec);
    if (ec) {
      *error = "cannot create " + root + sub + ": " + ec.message();
      return false;
    }
  }
  for (const char* tool : {"drvload.exe", "wpeutil.exe", "bcdedit.exe", "cmd.exe", "notepad.exe", "opera.exe"}) {
    const std::string path = root + "/Windows/System32/" + tool;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "MZ stand-in: the simulated PC runs its own " << tool << "\n";
    out.close();
    if (!out) {
      *error = "cannot write " + path;
      return false;
    }
  }
  // A RAID driver package for the programs' driver pages to load.
  {
    const std::string dir = root + "/Drivers/DemoRaid";
    fs::create_directories(dir, ec);
    std::ofstream inf(dir + "/demoraid.inf", std::ios::binary | std::ios::trunc);
    inf << "; Driver package of the demo PC's RAID controller\r\n[Version]\r\nSignature=\"$Windows NT$\"\r\n"
           "Class=SCSIAdapter\r\nProvider=%Drumsim%\r\n\r\n[Strings]\r\nDrumsim=\"Drumsim\"\r\n";
    inf.close();
    if (ec || !inf) {
      *error = "cannot write the driver package in " + dir;
      return false;
    }
  }
  IniEditLock lock(folder, error);
  if (!lock.held()) return false;
  MachineConfig config;
  if (!load_ini(folder, &config, error)) return false;
  config.os.winpe = true;
  config.os.computer_name = "MINWINPC";
  config.os.user_name = "SYSTEM";
  config.os.windows_folder = "X:\\Windows";
  config.os.system_folder = "X:\\Windows\\System32";
  config.os.temp_folder = "X:\\Windows\\Temp";
  config.os.program_files_folder = "X:\\Program Files";
  HostMount x;
  x.name = "winpe-x";
  x.path = "X:";
  x.host = drive;  // relative to the machine folder, which may move
  x.drive_type = "ramdisk";
  config.mounts.push_back(x);
  return write_ini(folder, config, error);
}

}  // namespace platform::machine

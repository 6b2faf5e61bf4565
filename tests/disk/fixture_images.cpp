#include "fixture_images.h"

#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/core/clock.h"
#include "platform/core/little_endian.h"
#include "platform/core/process_exit.h"
#include "platform/machine/demo.h"
#include "platform/registry/live_registry.h"
#include "platform/storage/mount_manager.h"
#include "tests/support/temp_folder.h"

namespace disk_fixture {

namespace fs = std::filesystem;

std::vector<std::vector<std::string>> FdiskRows(const std::string& image, uint32_t sector_size,
                                                const std::string& columns) {
  std::vector<std::vector<std::string>> rows;
  std::string text;
  EXPECT_EQ(Shell("fdisk -b " + std::to_string(sector_size) + " -l -o " + columns + " " + image, &text), 0);
  std::istringstream in(text);
  std::string line;
  bool table = false;
  while (std::getline(in, line)) {
    if (line.find("Start") != std::string::npos && line.find("Sectors") != std::string::npos) {
      table = true;
      continue;
    }
    if (!table || line.empty()) continue;
    std::istringstream fields(line);
    std::vector<std::string> row;
    for (std::string field; fields >> field;) row.push_back(field);
    // Notes after the table ("Partition table entries are not in disk order") are not rows.
    if (row.empty() || row[0].find_first_not_of("0123456789") != std::string::npos) continue;
    rows.push_back(std::move(row));
  }
  return rows;
}

uint32_t Crc32(const uint8_t* data, size_t length) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < length; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

namespace {

// "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7" in the on-disk mixed-endian order.
void PutGuid(std::vector<uint8_t>& b, size_t at, const std::string& text) {
  auto hex = [&](size_t pos, int digits) { return std::stoull(text.substr(pos, digits), nullptr, 16); };
  platform::WriteLe32(&b[at], static_cast<uint32_t>(hex(0, 8)));
  platform::WriteLe16(&b[at + 4], static_cast<uint16_t>(hex(9, 4)));
  platform::WriteLe16(&b[at + 6], static_cast<uint16_t>(hex(14, 4)));
  b[at + 8] = static_cast<uint8_t>(hex(19, 2));
  b[at + 9] = static_cast<uint8_t>(hex(21, 2));
  for (int i = 0; i < 6; ++i) b[at + 10 + i] = static_cast<uint8_t>(hex(24 + 2 * i, 2));
}

// One 16-byte MBR/EBR entry (the CHS fields are left as "beyond 8 GiB").
void PutMbrEntry(std::vector<uint8_t>& sector, int slot, uint8_t type, bool active, uint64_t first, uint64_t count) {
  size_t at = 446 + 16 * slot;
  sector[at] = active ? 0x80 : 0x00;
  sector[at + 1] = 0xFE;
  sector[at + 2] = 0xFF;
  sector[at + 3] = 0xFF;
  sector[at + 4] = type;
  sector[at + 5] = 0xFE;
  sector[at + 6] = 0xFF;
  sector[at + 7] = 0xFF;
  platform::WriteLe32(&sector[at + 8], static_cast<uint32_t>(first));
  platform::WriteLe32(&sector[at + 12], static_cast<uint32_t>(count));
}

void Sign(std::vector<uint8_t>& sector) {
  sector[510] = 0x55;
  sector[511] = 0xAA;
}

bool IsExtended(uint8_t type) { return type == 0x05 || type == 0x0F; }

}  // namespace

SimulatedPc::SimulatedPc() {
  folder_ = test_support::MakeTempFolder("disk-test");
  std::string error;
  EXPECT_TRUE(platform::machine::CreateMachineFolder(folder_ + "/pc", &error)) << error;
  folder_ += "/pc";
  platform::Clock::instance().set_mode(platform::Clock::Mode::Virtual);
  platform::storage::ResetMountManager();
}

SimulatedPc::~SimulatedPc() {
  platform::storage::ResetMountManager();
  platform::machine::SetCurrent(nullptr);
  platform::registry::CloseLiveRegistry();
  fs::remove_all(fs::path(folder_).parent_path());
}

std::string SimulatedPc::Image(int n) const { return folder_ + "/disk" + std::to_string(n) + ".img"; }

uint32_t SimulatedPc::SectorSize(int n) const {
  for (auto& d : disks_)
    if (d.number == n) return d.sectorSize;
  ADD_FAILURE() << "no disk " << n;
  return 512;
}

void SimulatedPc::AddDisk(const DiskSpec& spec) {
  platform::machine::DiskConfig d;
  d.number = spec.number;
  d.image = Image(spec.number);
  d.size = spec.sizeBytes;
  d.sector_size = spec.sectorSize;
  d.bus = spec.bus;
  d.vendor = spec.vendor;
  d.product = spec.product;
  d.serial = spec.serial;
  d.removable = spec.removable;
  d.cylinders = spec.cylinders;
  d.tracks_per_cylinder = spec.tracksPerCylinder;
  d.sectors_per_track = spec.sectorsPerTrack;
  std::string error;
  ASSERT_TRUE(platform::machine::AddDiskToMachine(folder_, d, &error)) << error;
  disks_.push_back(spec);
}

void SimulatedPc::WriteMbr(int n, const std::vector<Part>& parts, uint32_t signature) {
  uint32_t ss = SectorSize(n);
  std::vector<uint8_t> mbr(ss, 0);
  platform::WriteLe32(&mbr[440], signature);
  int slot = 0;
  const Part* container = nullptr;
  std::vector<const Part*> logicals;
  for (auto& p : parts) {
    if (p.logical) {
      logicals.push_back(&p);
      continue;
    }
    ASSERT_LT(slot, 4) << "more than four primary entries";
    PutMbrEntry(mbr, slot++, p.mbrType, p.active, p.start, p.count);
    if (IsExtended(p.mbrType) && !container) container = &p;
  }
  Sign(mbr);
  WriteBytes(n, 0, mbr);
  if (!logicals.empty()) {
    ASSERT_NE(container, nullptr) << "logical partitions need an extended container";
    uint64_t gap = logicals[0]->start - container->start;
    for (size_t i = 0; i < logicals.size(); ++i) {
      const Part& l = *logicals[i];
      uint64_t ebr = i == 0 ? container->start : l.start - gap;
      std::vector<uint8_t> sector(ss, 0);
      PutMbrEntry(sector, 0, l.mbrType, l.active, l.start - ebr, l.count);
      if (i + 1 < logicals.size()) {
        const Part& next = *logicals[i + 1];
        uint64_t next_ebr = next.start - gap;
        PutMbrEntry(sector, 1, 0x05, false, next_ebr - container->start, next.start + next.count - next_ebr);
      }
      Sign(sector);
      WriteBytes(n, ebr * ss, sector);
    }
  }
  for (auto& p : parts)
    if (!p.fs.empty()) MakeFileSystem(n, p.start, p.count, p.fs, p.label, p.files);
}

void SimulatedPc::WriteGpt(int n, const std::vector<Part>& parts) {
  uint32_t ss = SectorSize(n);
  uint64_t total = 0;
  for (auto& d : disks_)
    if (d.number == n) total = d.sizeBytes / ss;
  const uint64_t entry_sectors = 128 * 128 / ss;
  const uint64_t last = total - 1;

  std::vector<uint8_t> pmbr(ss, 0);
  PutMbrEntry(pmbr, 0, 0xEE, false, 1, std::min<uint64_t>(total - 1, 0xFFFFFFFFu));
  Sign(pmbr);
  WriteBytes(n, 0, pmbr);

  std::vector<uint8_t> entries(128 * 128, 0);
  for (size_t i = 0; i < parts.size(); ++i) {
    const Part& p = parts[i];
    size_t at = i * 128;
    PutGuid(entries, at, p.gptType);
    char unique[64];
    snprintf(unique, sizeof unique, "%08X-1111-2222-3333-%012zX", 0xA000 + n, i + 1);
    PutGuid(entries, at + 16, unique);
    platform::WriteLe64(&entries[at + 32], p.start);
    platform::WriteLe64(&entries[at + 40], p.start + p.count - 1);
    for (size_t c = 0; c < p.name.size() && c < 36; ++c) platform::WriteLe16(&entries[at + 56 + 2 * c], p.name[c]);
  }
  uint32_t entries_crc = Crc32(entries.data(), entries.size());

  auto header = [&](uint64_t current, uint64_t backup, uint64_t array_lba) {
    std::vector<uint8_t> h(ss, 0);
    memcpy(h.data(), "EFI PART", 8);
    platform::WriteLe32(&h[8], 0x00010000);
    platform::WriteLe32(&h[12], 92);
    platform::WriteLe64(&h[24], current);
    platform::WriteLe64(&h[32], backup);
    platform::WriteLe64(&h[40], 2 + entry_sectors);
    platform::WriteLe64(&h[48], last - 1 - entry_sectors);
    PutGuid(h, 56, "5EC00000-0000-4000-8000-00000000000" + std::to_string(n % 10));
    platform::WriteLe64(&h[72], array_lba);
    platform::WriteLe32(&h[80], 128);
    platform::WriteLe32(&h[84], 128);
    platform::WriteLe32(&h[88], entries_crc);
    platform::WriteLe32(&h[16], Crc32(h.data(), 92));
    return h;
  };
  WriteBytes(n, 2 * ss, entries);
  WriteBytes(n, (last - entry_sectors) * ss, entries);
  WriteBytes(n, ss, header(1, last, 2));
  WriteBytes(n, last * ss, header(last, 1, last - entry_sectors));
  for (auto& p : parts)
    if (!p.fs.empty()) MakeFileSystem(n, p.start, p.count, p.fs, p.label, p.files);
}

void SimulatedPc::WriteSuperfloppy(int n, const std::string& fs, const std::string& label,
                                   const std::vector<VolumeFile>& files) {
  uint64_t total = 0;
  for (auto& d : disks_)
    if (d.number == n) total = d.sizeBytes / d.sectorSize;
  MakeFileSystem(n, 0, total, fs, label, files);
}

void SimulatedPc::MakeFileSystem(int n, uint64_t start, uint64_t count, const std::string& fs_name,
                                 const std::string& label, const std::vector<VolumeFile>& files) {
  uint32_t ss = SectorSize(n);
  std::string scratch = folder_ + "/scratch.fs";
  fs::remove(scratch);
  ASSERT_EQ(Shell("truncate -s " + std::to_string(count * ss) + " " + scratch), 0);
  std::string ssz = std::to_string(ss);
  std::string command;
  if (fs_name == "fat32")
    command = "mkfs.fat -F 32 -s 1 -S " + ssz + " -h " + std::to_string(start) + " -i 1234ABCD -n " + label + " " + scratch;
  else if (fs_name == "fat12")
    command = "mkfs.fat -F 12 -S " + ssz + " -h " + std::to_string(start) + " -i 1234ABCD -n " + label + " " + scratch;
  else if (fs_name == "fat16")
    command = "mkfs.fat -F 16 -S " + ssz + " -h " + std::to_string(start) + " -i 1234ABCD -n " + label + " " + scratch;
  else if (fs_name == "ntfs")
    command = "mkntfs -F -Q -q -s " + ssz + " -p " + std::to_string(start) + " -H 255 -S 63 -L " + label + " " + scratch;
  else
    FAIL() << "unknown file system " << fs_name;
  ASSERT_EQ(Shell(command), 0) << command;
  if (fs_name != "ntfs") {
    std::fstream boot(scratch, std::ios::in | std::ios::out | std::ios::binary);
    boot.seekp(3);
    boot.write("MSDOS5.0", 8);
  }
  for (auto& f : files) {
    std::string local = folder_ + "/scratch.file";
    std::ofstream(local, std::ios::binary | std::ios::trunc) << f.content;
    if (fs_name == "ntfs") {
      ASSERT_EQ(Shell("ntfscp -f " + scratch + " " + local + " '" + f.path + "'"), 0) << f.path;
    } else {
      // Folders first, each one once; mmd fails harmlessly on an existing one.
      for (size_t slash = f.path.find('/', 1); slash != std::string::npos; slash = f.path.find('/', slash + 1))
        Shell("mmd -i " + scratch + " '::" + f.path.substr(0, slash) + "'");
      ASSERT_EQ(Shell("mcopy -o -i " + scratch + " " + local + " '::" + f.path + "'"), 0) << f.path;
    }
    fs::remove(local);
  }
  std::string dd = "dd if=" + scratch + " of=" + Image(n) + " bs=64K conv=notrunc,sparse oflag=seek_bytes seek=" +
                   std::to_string(start * ss);
  ASSERT_EQ(Shell(dd), 0) << dd;
  fs::remove(scratch);
}

void SimulatedPc::WriteBytes(int n, uint64_t byteOffset, const std::vector<uint8_t>& bytes) {
  std::fstream f(Image(n), std::ios::in | std::ios::out | std::ios::binary);
  ASSERT_TRUE(f.good()) << Image(n);
  f.seekp(static_cast<std::streamoff>(byteOffset));
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(f.good());
}

void SimulatedPc::WriteBytes(int n, uint64_t byteOffset, const std::string& bytes) {
  WriteBytes(n, byteOffset, std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

std::vector<uint8_t> SimulatedPc::ReadBytes(int n, uint64_t byteOffset, size_t length) {
  std::vector<uint8_t> out(length, 0);
  std::ifstream f(Image(n), std::ios::binary);
  f.seekg(static_cast<std::streamoff>(byteOffset));
  f.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(length));
  return out;
}

void SimulatedPc::SetIni(const std::string& section, const std::string& key, const std::string& value) {
  std::ifstream in(folder_ + "/machine.ini");
  std::string text((std::istreambuf_iterator<char>(in)), {});
  in.close();
  auto header = text.find("[" + section + "]");
  ASSERT_NE(header, std::string::npos) << section;
  auto at = text.find('\n', header) + 1;
  auto next_section = text.find("\n[", at);
  auto old = text.find("\n" + key + " = ", at - 1);
  if (old != std::string::npos && (next_section == std::string::npos || old < next_section)) {
    auto eol = text.find('\n', old + 1);
    text.erase(old + 1, eol - old);
  }
  text.insert(at, key + " = " + value + "\n");
  std::ofstream(folder_ + "/machine.ini", std::ios::trunc) << text;
}

void SimulatedPc::AppendIni(const std::string& text) {
  std::ofstream(folder_ + "/machine.ini", std::ios::app) << "\n" << text << "\n";
}

void SimulatedPc::Boot() {
  std::string error;
  ASSERT_TRUE(platform::machine::OpenMachine(folder_, &error)) << error;
  platform::storage::RescanAll();
}

std::string SimulatedPc::ExtractVolume(int n, uint64_t start, uint64_t count, const std::string& name) {
  uint32_t ss = SectorSize(n);
  std::string out = folder_ + "/" + name;
  std::string dd = "dd if=" + Image(n) + " of=" + out + " bs=" + std::to_string(ss) + " skip=" +
                   std::to_string(start) + " count=" + std::to_string(count) + " conv=sparse";
  EXPECT_EQ(Shell(dd), 0) << dd;
  return out;
}

}  // namespace disk_fixture

namespace disk_fixture {

bool MountProgramFolder(SimulatedPc& pc, const std::string& folder) {
  std::filesystem::create_directories(folder + "/Resources");
  const char* source = std::getenv("DRUM_SOURCE_DIR");
  if (!source) return false;
  const std::string lang = std::string(source) + "/resources/lang/";
  for (std::string c : {"001", "081"})
    if (Shell("cat " + lang + c + ".txt $(ls " + lang + "*." + c +
              ".txt | sort) | sed 's/\\r$//; s/$/\\r/' | iconv -f UTF-8 -t UTF-16LE > " + folder + "/Resources/" + c +
              ".dll") != 0)
      return false;
  pc.AppendIni("\n[mount P]\npath = P:\nhost = " + folder + "\ndrive_type = remote\n");
  return true;
}

}  // namespace disk_fixture

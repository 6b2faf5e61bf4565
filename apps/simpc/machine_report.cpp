#include "machine_report.h"

#include <cstdio>
#include <sstream>
#include <vector>

#include "platform/core/text.h"
#include "platform/storage/mount_manager.h"
#include "platform/storage/partition_table.h"
#include "platform/storage/volume_table.h"

namespace simpc {

namespace {

using platform::storage::DiskLayout;
using platform::storage::PartitionStyle;

// A table printed with columns as wide as their widest cell.
class Table {
 public:
  explicit Table(std::vector<std::string> header) { rows_.push_back(std::move(header)); }
  void add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
  std::string text() const {
    std::vector<size_t> width;
    for (auto& r : rows_)
      for (size_t i = 0; i < r.size(); ++i) {
        if (width.size() <= i) width.push_back(0);
        width[i] = std::max(width[i], r[i].size());
      }
    std::string out;
    for (auto& r : rows_) {
      std::string line = "  ";
      for (size_t i = 0; i < r.size(); ++i) {
        line += r[i];
        if (i + 1 < r.size()) line += std::string(width[i] - r[i].size() + 2, ' ');
      }
      while (!line.empty() && line.back() == ' ') line.pop_back();
      out += line + "\n";
    }
    return out;
  }
  size_t size() const { return rows_.size() - 1; }

 private:
  std::vector<std::vector<std::string>> rows_;
};

std::string yes_no(bool v) { return v ? "yes" : "no"; }

std::string hex(uint64_t v, int digits) {
  char b[32];
  std::snprintf(b, sizeof b, "0x%0*llX", digits, static_cast<unsigned long long>(v));
  return b;
}

std::string type_text(const platform::storage::LayoutEntry& e) {
  if (e.style == PartitionStyle::Gpt) {
    std::string guid = platform::storage::GuidToText(e.type_guid);
    if (guid == "C12A7328-F81F-11D2-BA4B-00A0C93EC93B") return "EFI system";
    if (guid == "E3C9E316-0B5C-4DB8-817D-F92DF00215AE") return "MS reserved";
    if (guid == "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7") return "basic data";
    if (guid == "DE94BBA4-06D1-4D40-A16A-BFD50179D6AC") return "recovery";
    return guid;
  }
  return hex(e.mbr_type, 2);
}

}  // namespace

std::string FormatBytes(uint64_t bytes) {
  static const char* units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  double v = static_cast<double>(bytes);
  int u = 0;
  while (v >= 1024 && u < 4) {
    v /= 1024;
    ++u;
  }
  char b[32];
  if (u == 0)
    std::snprintf(b, sizeof b, "%llu B", static_cast<unsigned long long>(bytes));
  else
    std::snprintf(b, sizeof b, "%.1f %s", v, units[u]);
  return b;
}

std::string DescribeMachine(const std::shared_ptr<platform::machine::Machine>& machine) {
  std::ostringstream out;
  platform::machine::SetCurrent(machine);
  platform::storage::RescanAll();
  auto volumes = platform::storage::MountedVolumes();
  const auto& os = machine->os();
  out << "Machine " << machine->folder() << "\n";
  out << "  Windows " << os.major << "." << os.minor << " build " << os.build << " (platform " << os.platform_id
      << (os.service_pack.empty() ? "" : ", " + os.service_pack) << "), WinPE " << yes_no(os.winpe) << ", WOW64 "
      << yes_no(os.wow64) << "\n";
  out << "  computer " << os.computer_name << ", user " << os.user_name << ", Windows folder " << os.windows_folder
      << "\n\n";

  auto config = machine->config();
  auto missing = machine->missing_disks();
  Table disks({"Disk", "Size", "Sector", "Bus", "Removable", "Vendor", "Product", "Serial", "Table", "Backing"});
  Table parts({"Disk", "Part", "Start", "Length", "Type", "Boot", "Letter", "File system", "Volume"});
  for (auto& dc : config.disks) {
    auto disk = machine->disk(dc.number);
    std::string style = "-", size = "-";
    std::string backing = dc.device.empty() ? dc.image : dc.device;
    if (!dc.attached) backing += " (detached)";
    for (auto& m : missing)
      if (m.number == dc.number) style = "missing";
    if (disk) {
      size = FormatBytes(disk->size());
      DiskLayout layout;
      auto r = platform::storage::ReadDiskLayout(*disk->device(), &layout);
      if (!r.ok()) {
        style = std::string("unreadable: ") + platform::storage::TableStatusName(r.status);
      } else {
        style = layout.style == PartitionStyle::Mbr ? "MBR" : layout.style == PartitionStyle::Gpt ? "GPT" : "RAW";
        for (auto& e : layout.partitions()) {
          std::string letter = "-", fs = "-", name = "-";
          for (auto& v : volumes)
            if (v.disk_number == dc.number && v.offset == e.start) {
              if (v.letter) letter = std::string(1, static_cast<char>(v.letter)) + ":";
              fs = v.file_system;
              name = platform::to_utf8(v.guid_path);
            }
          parts.add({std::to_string(dc.number), std::to_string(e.number), FormatBytes(e.start), FormatBytes(e.length),
                     type_text(e), e.boot ? "*" : "", letter, fs, name});
        }
      }
    }
    disks.add({std::to_string(dc.number), size, std::to_string(dc.sector_size), platform::machine::BusTypeName(dc.bus),
               yes_no(dc.removable), dc.vendor, dc.product, dc.serial, style, backing});
  }
  out << "Disks\n" << (disks.size() ? disks.text() : "  (none)\n");
  for (auto& m : missing) out << "  disk " << m.number << " is missing: " << m.reason << "\n";
  out << "\n";
  out << "Partitions\n" << (parts.size() ? parts.text() : "  (none)\n") << "\n";

  Table vols({"Letter", "File system", "Disk", "Part", "Size", "Device", "Volume"});
  for (auto& v : volumes) {
    vols.add({v.letter ? std::string(1, static_cast<char>(v.letter)) + ":" : "-", v.file_system,
              v.disk_number >= 0 ? std::to_string(v.disk_number) : "host",
              v.disk_number >= 0 ? std::to_string(v.partition_number) : "-", v.disk_number >= 0 ? FormatBytes(v.length) : "-",
              platform::to_utf8(v.device_name), platform::to_utf8(v.guid_path)});
  }
  out << "Volumes\n" << (vols.size() ? vols.text() : "  (none)\n");

  auto mounts = machine->mounts();
  if (!mounts.empty()) {
    Table hosts({"Path", "Host folder", "Type", "Read-only"});
    for (auto& m : mounts) hosts.add({m.path, machine->resolve(m.host), m.drive_type, yes_no(m.read_only)});
    out << "\nHost folders\n" << hosts.text();
  }
  return out.str();
}

}  // namespace simpc

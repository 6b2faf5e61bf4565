// Reading and writing machine.ini (format documented in machine.h).
#include <algorithm>
#include <cctype>
#include <charconv>
#include <map>
#include <sstream>

#include "platform/machine/machine.h"

namespace platform::machine {

namespace {

struct BusName {
  BusType bus;
  const char* name;
};
constexpr BusName kBusNames[] = {
    {BusType::Unknown, "unknown"}, {BusType::Scsi, "scsi"},   {BusType::Atapi, "atapi"},
    {BusType::Ata, "ata"},         {BusType::Ieee1394, "1394"}, {BusType::Ssa, "ssa"},
    {BusType::Fibre, "fibre"},     {BusType::Usb, "usb"},     {BusType::Raid, "raid"},
    {BusType::IScsi, "iscsi"},     {BusType::Sas, "sas"},     {BusType::Sata, "sata"},
    {BusType::Sd, "sd"},           {BusType::Mmc, "mmc"},     {BusType::Virtual, "virtual"},
    {BusType::FileBackedVirtual, "filebackedvirtual"},        {BusType::Nvme, "nvme"},
};

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

// Drops a trailing comment: ';' or '#' after a blank ("size = 8G  ; the stick").
std::string_view strip_comment(std::string_view line) {
  for (size_t i = 1; i < line.size(); ++i)
    if ((line[i] == ';' || line[i] == '#') && (line[i - 1] == ' ' || line[i - 1] == '\t')) return line.substr(0, i);
  return line;
}

std::optional<uint64_t> parse_number(std::string_view text) {
  text = trim(text);
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<bool> parse_bool(std::string_view text) {
  std::string v = lower(trim(text));
  if (v == "yes" || v == "true" || v == "1" || v == "on") return true;
  if (v == "no" || v == "false" || v == "0" || v == "off") return false;
  return std::nullopt;
}

// "100-199, 5000" -> {[100,199], [5000,5000]}
std::optional<std::vector<SectorRange>> parse_ranges(std::string_view text) {
  std::vector<SectorRange> out;
  text = trim(text);
  if (text.empty()) return out;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t comma = text.find(',', pos);
    if (comma == std::string_view::npos) comma = text.size();
    std::string_view item = trim(text.substr(pos, comma - pos));
    size_t dash = item.find('-');
    SectorRange r;
    if (dash == std::string_view::npos) {
      auto v = parse_number(item);
      if (!v) return std::nullopt;
      r.first = r.last = *v;
    } else {
      auto a = parse_number(item.substr(0, dash));
      auto b = parse_number(item.substr(dash + 1));
      if (!a || !b || *b < *a) return std::nullopt;
      r.first = *a;
      r.last = *b;
    }
    out.push_back(r);
    pos = comma + 1;
  }
  return out;
}

std::string format_ranges(const std::vector<SectorRange>& ranges) {
  std::string out;
  for (auto& r : ranges) {
    if (!out.empty()) out += ", ";
    out += std::to_string(r.first);
    if (r.last != r.first) out += "-" + std::to_string(r.last);
  }
  return out;
}

std::string format_size(uint64_t bytes) {
  static const char* suffix = "KMGT";
  int unit = -1;
  while (unit < 3 && bytes != 0 && bytes % 1024 == 0) {
    bytes /= 1024;
    ++unit;
  }
  return std::to_string(bytes) + (unit >= 0 ? std::string(1, suffix[unit]) : std::string());
}

const char* yes_no(bool v) { return v ? "yes" : "no"; }

}  // namespace

std::optional<BusType> ParseBusType(std::string_view name) {
  std::string n = lower(trim(name));
  if (n == "ieee1394") return BusType::Ieee1394;
  for (auto& b : kBusNames)
    if (n == b.name) return b.bus;
  return std::nullopt;
}

const char* BusTypeName(BusType bus) {
  for (auto& b : kBusNames)
    if (b.bus == bus) return b.name;
  return "unknown";
}

std::optional<uint64_t> ParseSize(std::string_view text) {
  text = trim(text);
  if (text.empty()) return std::nullopt;
  uint64_t scale = 1;
  char last = static_cast<char>(std::toupper(static_cast<unsigned char>(text.back())));
  if (last == 'B' && text.size() >= 2) {  // "8GB", "8GiB" read as "8G"
    std::string_view rest = text.substr(0, text.size() - 1);
    if (!rest.empty() && (rest.back() == 'i' || rest.back() == 'I')) rest.remove_suffix(1);
    if (!rest.empty() && std::isalpha(static_cast<unsigned char>(rest.back()))) {
      text = rest;
      last = static_cast<char>(std::toupper(static_cast<unsigned char>(text.back())));
    }
  }
  switch (last) {
    case 'K': scale = 1ull << 10; break;
    case 'M': scale = 1ull << 20; break;
    case 'G': scale = 1ull << 30; break;
    case 'T': scale = 1ull << 40; break;
    default: break;
  }
  if (scale != 1) text.remove_suffix(1);
  if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
  auto v = parse_number(text);
  if (!v || *v == 0 || *v > UINT64_MAX / scale) return std::nullopt;
  return *v * scale;
}

DiskConfig* MachineConfig::find_disk(int number) {
  for (auto& d : disks)
    if (d.number == number) return &d;
  return nullptr;
}
const DiskConfig* MachineConfig::find_disk(int number) const {
  for (auto& d : disks)
    if (d.number == number) return &d;
  return nullptr;
}

const NetworkRoute* MachineConfig::find_route(std::string_view host) const {
  std::string wanted = lower(host);
  for (auto& r : network)
    if (r.host == wanted) return &r;
  return nullptr;
}

bool ParseLoopbackEndpoint(std::string_view text, std::string* address, uint16_t* port) {
  size_t colon = text.rfind(':');
  if (colon == std::string_view::npos || colon == 0) return false;
  std::string_view host = text.substr(0, colon);
  std::string_view digits = text.substr(colon + 1);
  if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string_view::npos)
    return false;
  unsigned long number = std::stoul(std::string(digits));
  if (number == 0 || number > 65535) return false;
  std::string ip;
  if (host == "[::1]") {
    ip = "::1";
  } else if (lower(host) == "localhost") {
    ip = "127.0.0.1";
  } else {
    // Four decimal parts, the first 127: the loopback network.
    int parts = 0;
    size_t at = 0;
    while (at <= host.size()) {
      size_t dot = host.find('.', at);
      std::string_view part = host.substr(at, dot == std::string_view::npos ? std::string_view::npos : dot - at);
      if (part.empty() || part.size() > 3 || part.find_first_not_of("0123456789") != std::string_view::npos) return false;
      int value = std::stoi(std::string(part));
      if (value > 255 || (parts == 0 && value != 127)) return false;
      ++parts;
      if (dot == std::string_view::npos) break;
      at = dot + 1;
    }
    if (parts != 4) return false;
    ip = std::string(host);
  }
  *address = ip;
  *port = static_cast<uint16_t>(number);
  return true;
}

std::string SetDiskIniValue(std::string_view text, int number, std::string_view key, std::string_view value) {
  std::string out;
  std::string wanted = lower(key);
  std::string line_end = text.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";
  bool in_disk = false, done = false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t eol = text.find('\n', pos);
    size_t next = eol == std::string_view::npos ? text.size() : eol + 1;
    std::string_view raw = text.substr(pos, next - pos);
    std::string_view line = trim(raw);
    pos = next;
    if (!line.empty() && line.front() == '[') {
      if (in_disk && !done) {  // the section ends without the key: add it at its end
        out += std::string(key) + " = " + std::string(value) + line_end;
        done = true;
      }
      std::string_view name = trim(strip_comment(line));
      if (name.size() >= 2 && name.back() == ']') name = trim(name.substr(1, name.size() - 2));
      size_t blank = name.find(' ');
      auto n = blank == std::string_view::npos ? std::nullopt : parse_number(trim(name.substr(blank)));
      in_disk = lower(name.substr(0, blank)) == "disk" && n && *n == static_cast<uint64_t>(number);
    } else if (in_disk && !done && !line.empty() && line[0] != ';' && line[0] != '#') {
      size_t eq = line.find('=');
      if (eq != std::string_view::npos && lower(trim(line.substr(0, eq))) == wanted) {
        // Keep the line's own indentation and a trailing comment.
        std::string_view after = trim(line.substr(eq + 1));
        std::string_view comment = after.substr(strip_comment(after).size());
        out += std::string(raw.substr(0, raw.find_first_not_of(" \t"))) + std::string(key) + " = " +
               std::string(value) + (comment.empty() ? "" : " " + std::string(comment)) +
               (raw.back() == '\n' ? (raw.size() > 1 && raw[raw.size() - 2] == '\r' ? "\r\n" : "\n") : "");
        done = true;
        continue;
      }
    }
    out += raw;
  }
  if (in_disk && !done) {
    if (!out.empty() && out.back() != '\n') out += line_end;
    out += std::string(key) + " = " + std::string(value) + line_end;
  }
  return out;
}

std::optional<MachineConfig> ParseMachineIni(std::string_view text, std::string* error) {
  MachineConfig config;
  enum class Section { None, Machine, Os, Disk, Mount, Network, Unknown } section = Section::None;
  DiskConfig* disk = nullptr;
  HostMount* mount = nullptr;
  std::vector<DiskConfig> disks;
  std::vector<HostMount> mounts;
  std::vector<NetworkRoute> network;
  int line_number = 0;
  size_t pos = 0;
  // A byte-order mark that an editor put in front is not part of the first line.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") pos = 3;

  auto fail = [&](const std::string& message) -> std::optional<MachineConfig> {
    if (error)
      *error = (line_number ? "machine.ini line " + std::to_string(line_number) : std::string("machine.ini")) + ": " +
               message;
    return std::nullopt;
  };

  while (pos < text.size()) {
    size_t eol = text.find('\n', pos);
    if (eol == std::string_view::npos) eol = text.size();
    std::string_view line = trim(text.substr(pos, eol - pos));
    pos = eol + 1;
    ++line_number;
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;

    if (line.front() == '[') {
      line = trim(strip_comment(line));
      if (line.back() != ']') return fail("unclosed section header \"" + std::string(line) + "\"");
      std::string_view name = trim(line.substr(1, line.size() - 2));
      std::string head = lower(name.substr(0, name.find(' ')));
      std::string_view arg = name.find(' ') == std::string_view::npos ? std::string_view() : trim(name.substr(name.find(' ')));
      disk = nullptr;
      mount = nullptr;
      if (head == "machine" && arg.empty()) {
        section = Section::Machine;
      } else if (head == "os" && arg.empty()) {
        section = Section::Os;
      } else if (head == "disk") {
        auto n = parse_number(arg);
        if (!n || *n > 99 || arg.empty()) return fail("disk number \"" + std::string(arg) + "\" is not 0..99");
        for (auto& d : disks)
          if (d.number == static_cast<int>(*n)) return fail("disk " + std::to_string(*n) + " is listed twice");
        disks.emplace_back();
        disk = &disks.back();
        disk->number = static_cast<int>(*n);
        section = Section::Disk;
      } else if (head == "network" && arg.empty()) {
        section = Section::Network;
      } else if (head == "mount") {
        if (arg.empty()) return fail("a [mount] section needs a name");
        mounts.emplace_back();
        mount = &mounts.back();
        mount->name = std::string(arg);
        section = Section::Mount;
      } else {
        return fail("unknown section [" + std::string(name) + "]");
      }
      continue;
    }

    size_t eq = line.find('=');
    if (eq == std::string_view::npos) return fail("expected key = value, found \"" + std::string(line) + "\"");
    std::string key = lower(trim(line.substr(0, eq)));
    // A comment may follow the value; a value may itself start with ';' or '#'.
    std::string value(trim(strip_comment(trim(line.substr(eq + 1)))));
    auto bad = [&](const char* what) { return fail(key + " = \"" + value + "\" is not " + what); };
    auto number = [&](auto& field, uint64_t max) -> bool {
      auto v = parse_number(value);
      if (!v || *v > max) return false;
      field = static_cast<std::remove_reference_t<decltype(field)>>(*v);
      return true;
    };
    auto boolean = [&](bool& field) -> bool {
      auto v = parse_bool(value);
      if (!v) return false;
      field = *v;
      return true;
    };

    switch (section) {
      case Section::None:
      case Section::Unknown:
        return fail("key \"" + key + "\" outside a section");
      case Section::Machine:
        if (key == "rescans_before_new_volume") {
          if (!number(config.rescans_before_new_volume, 1000)) return bad("a count 0..1000");
        } else {
          return fail("unknown key \"" + key + "\" in [machine]");
        }
        break;
      case Section::Os: {
        auto& os = config.os;
        if (key == "major") { if (!number(os.major, 0xFFFFFFFF)) return bad("a number"); }
        else if (key == "minor") { if (!number(os.minor, 0xFFFFFFFF)) return bad("a number"); }
        else if (key == "build") { if (!number(os.build, 0xFFFFFFFF)) return bad("a number"); }
        else if (key == "platform_id") { if (!number(os.platform_id, 0xFFFFFFFF)) return bad("a number"); }
        else if (key == "service_pack") os.service_pack = value;
        else if (key == "winpe") { if (!boolean(os.winpe)) return bad("yes or no"); }
        else if (key == "wow64") { if (!boolean(os.wow64)) return bad("yes or no"); }
        else if (key == "computer_name") os.computer_name = value;
        else if (key == "user_name") os.user_name = value;
        else if (key == "windows_folder") os.windows_folder = value;
        else if (key == "system_folder") os.system_folder = value;
        else if (key == "temp_folder") os.temp_folder = value;
        else if (key == "program_files_folder") os.program_files_folder = value;
        else return fail("unknown key \"" + key + "\" in [os]");
        break;
      }
      case Section::Disk: {
        auto& d = *disk;
        if (key == "image") d.image = value;
        else if (key == "device") d.device = value;
        else if (key == "size") {
          auto v = ParseSize(value);
          if (!v) return bad("a size such as 8G");
          d.size = *v;
        } else if (key == "sector_size") {
          if (!number(d.sector_size, 0xFFFFFFFF) || (d.sector_size != 512 && d.sector_size != 4096))
            return bad("512 or 4096");
        } else if (key == "cylinders") { if (!number(d.cylinders, UINT64_MAX)) return bad("a number"); }
        else if (key == "tracks_per_cylinder") {
          // The reported geometry is free (disks beyond CHS report what they like),
          // but never zero: programs divide by it.
          if (!number(d.tracks_per_cylinder, 65535) || d.tracks_per_cylinder == 0) return bad("1..65535");
        } else if (key == "sectors_per_track") {
          if (!number(d.sectors_per_track, 65535) || d.sectors_per_track == 0) return bad("1..65535");
        } else if (key == "bus") {
          auto b = ParseBusType(value);
          if (!b) return bad("a bus (ata, sata, scsi, usb, nvme, ...)");
          d.bus = *b;
        } else if (key == "vendor") d.vendor = value;
        else if (key == "product" || key == "model") d.product = value;
        else if (key == "revision") d.revision = value;
        else if (key == "serial") d.serial = value;
        else if (key == "removable") { if (!boolean(d.removable)) return bad("yes or no"); }
        else if (key == "attached") { if (!boolean(d.attached)) return bad("yes or no"); }
        else if (key == "smart_identify") d.smart_identify = value;
        else if (key == "smart_attributes") d.smart_attributes = value;
        else if (key == "smart_thresholds") d.smart_thresholds = value;
        else if (key == "unreadable") {
          auto r = parse_ranges(value);
          if (!r) return bad("sector ranges such as 100-199, 5000");
          d.faults.unreadable = *r;
        } else if (key == "failing_writes") {
          auto r = parse_ranges(value);
          if (!r) return bad("sector ranges such as 100-199, 5000");
          d.faults.failing_writes = *r;
        } else if (key == "open_fails") { if (!boolean(d.faults.open_fails)) return bad("yes or no"); }
        else if (key == "lock_refusals") { if (!number(d.faults.lock_refusals, 1000000)) return bad("a count"); }
        else return fail("unknown key \"" + key + "\" in [disk " + std::to_string(d.number) + "]");
        break;
      }
      case Section::Network: {
        NetworkRoute route;
        route.host = key;
        if (route.host.empty() || route.host.find_first_of(" \t:/[]") != std::string::npos)
          return fail("\"" + key + "\" is not a host name");
        if (!ParseLoopbackEndpoint(value, &route.address, &route.port))
          return bad("a loopback address and port such as 127.0.0.1:8080");
        for (auto& r : network)
          if (r.host == route.host) return fail("host " + route.host + " is listed twice");
        network.push_back(std::move(route));
        break;
      }
      case Section::Mount: {
        auto& m = *mount;
        if (key == "path") m.path = value;
        else if (key == "host") m.host = value;
        else if (key == "read_only") { if (!boolean(m.read_only)) return bad("yes or no"); }
        else if (key == "drive_type") {
          std::string t = lower(value);
          if (t != "fixed" && t != "removable" && t != "cdrom" && t != "remote" && t != "ramdisk")
            return bad("fixed, removable, cdrom, remote or ramdisk");
          m.drive_type = t;
        }
        else return fail("unknown key \"" + key + "\" in [mount " + m.name + "]");
        break;
      }
    }
  }

  line_number = 0;
  for (auto& d : disks) {
    if (d.image.empty() == d.device.empty())
      return fail("disk " + std::to_string(d.number) + " needs exactly one of image = or device =");
  }
  for (auto& m : mounts) {
    if (m.path.size() < 2 || m.path[1] != ':' || !std::isalpha(static_cast<unsigned char>(m.path[0])) ||
        (m.path.size() > 2 && m.path[2] != '\\'))
      return fail("mount " + m.name + ": path \"" + m.path + "\" is not a drive letter or a folder such as C:\\Tools");
    if (m.host.empty()) return fail("mount " + m.name + " has no host folder");
    m.path[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(m.path[0])));
  }
  std::sort(disks.begin(), disks.end(), [](auto& a, auto& b) { return a.number < b.number; });
  config.disks = std::move(disks);
  config.mounts = std::move(mounts);
  config.network = std::move(network);
  return config;
}

std::string FormatMachineIni(const MachineConfig& config) {
  std::ostringstream out;
  out << "; Simulated PC: disks, OS facts and host mounts.\n\n";
  out << "[machine]\n";
  out << "rescans_before_new_volume = " << config.rescans_before_new_volume << "\n\n";
  const auto& os = config.os;
  out << "[os]\n";
  out << "major = " << os.major << "\nminor = " << os.minor << "\nbuild = " << os.build
      << "\nplatform_id = " << os.platform_id << "\n";
  out << "service_pack = " << os.service_pack << "\n";
  out << "winpe = " << yes_no(os.winpe) << "\nwow64 = " << yes_no(os.wow64) << "\n";
  out << "computer_name = " << os.computer_name << "\nuser_name = " << os.user_name << "\n";
  out << "windows_folder = " << os.windows_folder << "\nsystem_folder = " << os.system_folder << "\n";
  out << "temp_folder = " << os.temp_folder << "\nprogram_files_folder = " << os.program_files_folder << "\n";
  for (auto& d : config.disks) {
    out << "\n[disk " << d.number << "]\n";
    if (!d.image.empty()) out << "image = " << d.image << "\n";
    if (!d.device.empty()) out << "device = " << d.device << "\n";
    if (d.size) out << "size = " << format_size(d.size) << "\n";
    out << "sector_size = " << d.sector_size << "\n";
    out << "cylinders = " << d.cylinders << "\n";
    out << "tracks_per_cylinder = " << d.tracks_per_cylinder << "\n";
    out << "sectors_per_track = " << d.sectors_per_track << "\n";
    out << "bus = " << BusTypeName(d.bus) << "\n";
    out << "vendor = " << d.vendor << "\nproduct = " << d.product << "\nrevision = " << d.revision << "\n";
    out << "serial = " << d.serial << "\n";
    out << "removable = " << yes_no(d.removable) << "\nattached = " << yes_no(d.attached) << "\n";
    if (!d.smart_identify.empty()) out << "smart_identify = " << d.smart_identify << "\n";
    if (!d.smart_attributes.empty()) out << "smart_attributes = " << d.smart_attributes << "\n";
    if (!d.smart_thresholds.empty()) out << "smart_thresholds = " << d.smart_thresholds << "\n";
    if (!d.faults.unreadable.empty()) out << "unreadable = " << format_ranges(d.faults.unreadable) << "\n";
    if (!d.faults.failing_writes.empty()) out << "failing_writes = " << format_ranges(d.faults.failing_writes) << "\n";
    if (d.faults.open_fails) out << "open_fails = yes\n";
    if (d.faults.lock_refusals) out << "lock_refusals = " << d.faults.lock_refusals << "\n";
  }
  for (auto& m : config.mounts) {
    out << "\n[mount " << m.name << "]\n";
    out << "path = " << m.path << "\nhost = " << m.host << "\n";
    if (m.read_only) out << "read_only = yes\n";
    if (m.drive_type != "fixed") out << "drive_type = " << m.drive_type << "\n";
  }
  if (!config.network.empty()) {
    out << "\n[network]\n";
    for (auto& r : config.network) {
      bool v6 = r.address.find(':') != std::string::npos;
      out << r.host << " = " << (v6 ? "[" : "") << r.address << (v6 ? "]" : "") << ":" << r.port << "\n";
    }
  }
  return out.str();
}

}  // namespace platform::machine

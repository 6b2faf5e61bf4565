// Reading and writing machine.ini (format documented in machine.h).
#include <algorithm>
#include <cctype>
#include <charconv>
#include <map>
#include <sstream>

#include "platform/core/ascii_case.h"
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
  std::string v = AsciiLower(trim(text));
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
  std::string n = AsciiLower(trim(name));
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
  char last = AsciiUpper(text.back());
  if (last == 'B' && text.size() >= 2) {  // "8GB", "8GiB" read as "8G"
    std::string_view rest = text.substr(0, text.size() - 1);
    if (!rest.empty() && (rest.back() == 'i' || rest.back() == 'I')) rest.remove_suffix(1);
    if (!rest.empty() && std::isalpha(static_cast<unsigned char>(rest.back()))) {
      text = rest;
      last = AsciiUpper(text.back());
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
  std::string wanted = AsciiLower(host);
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
  } else if (AsciiLower(host) == "localhost") {
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
  std::string wanted = AsciiLower(key);
  std::string line_end = text.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";
  bool in_disk = false, done = false;
  size_t pos = 0;
  // A byte-order mark stays where it is and does not hide the first line.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") {
    out += text.substr(0, 3);
    pos = 3;
  }
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
      in_disk = AsciiLower(name.substr(0, blank)) == "disk" && n && *n == static_cast<uint64_t>(number);
    } else if (in_disk && !line.empty() && line[0] != ';' && line[0] != '#') {
      // Every line of the key is set: the reader takes the last one, so a
      // key written twice would otherwise keep its old value.
      size_t eq = line.find('=');
      if (eq != std::string_view::npos && AsciiLower(trim(line.substr(0, eq))) == wanted) {
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

namespace {

// Reads machine.ini one line at a time; each section kind has its own reader
// of `key = value` lines. Every reader returns an empty string when the line
// was taken, else the message for the line.
class MachineIniParser {
 public:
  std::optional<MachineConfig> parse(std::string_view text, std::string* error);

 private:
  enum class Section { None, Machine, Os, Disk, Mount, Network };

  std::string read_header(std::string_view line);
  std::string read_machine_key(const std::string& key, const std::string& value);
  std::string read_os_key(const std::string& key, const std::string& value);
  std::string read_disk_key(const std::string& key, const std::string& value);
  std::string read_mount_key(const std::string& key, const std::string& value);
  std::string read_network_key(const std::string& key, const std::string& value);
  std::string check_sections();

  static std::string not_a(const std::string& key, const std::string& value, const char* what) {
    return key + " = \"" + value + "\" is not " + what;
  }
  template <class Field>
  static bool read_number(const std::string& value, Field& field, uint64_t max) {
    auto v = parse_number(value);
    if (!v || *v > max) return false;
    field = static_cast<Field>(*v);
    return true;
  }
  static bool read_bool(const std::string& value, bool& field) {
    auto v = parse_bool(value);
    if (!v) return false;
    field = *v;
    return true;
  }

  MachineConfig config_;
  Section section_ = Section::None;
  std::vector<DiskConfig> disks_;
  std::vector<HostMount> mounts_;
  std::vector<NetworkRoute> network_;
};

std::optional<MachineConfig> MachineIniParser::parse(std::string_view text, std::string* error) {
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
    std::string problem;
    if (line.front() == '[') {
      problem = read_header(line);
    } else if (size_t eq = line.find('='); eq == std::string_view::npos) {
      problem = "expected key = value, found \"" + std::string(line) + "\"";
    } else {
      std::string key = AsciiLower(trim(line.substr(0, eq)));
      // A comment may follow the value; a value may itself start with ';' or '#'.
      std::string value(trim(strip_comment(trim(line.substr(eq + 1)))));
      switch (section_) {
        case Section::None: problem = "key \"" + key + "\" outside a section"; break;
        case Section::Machine: problem = read_machine_key(key, value); break;
        case Section::Os: problem = read_os_key(key, value); break;
        case Section::Disk: problem = read_disk_key(key, value); break;
        case Section::Mount: problem = read_mount_key(key, value); break;
        case Section::Network: problem = read_network_key(key, value); break;
      }
    }
    if (!problem.empty()) return fail(problem);
  }
  line_number = 0;
  if (std::string problem = check_sections(); !problem.empty()) return fail(problem);
  std::sort(disks_.begin(), disks_.end(), [](auto& a, auto& b) { return a.number < b.number; });
  config_.disks = std::move(disks_);
  config_.mounts = std::move(mounts_);
  config_.network = std::move(network_);
  return std::move(config_);
}

std::string MachineIniParser::read_header(std::string_view line) {
  line = trim(strip_comment(line));
  if (line.back() != ']') return "unclosed section header \"" + std::string(line) + "\"";
  std::string_view name = trim(line.substr(1, line.size() - 2));
  size_t blank = name.find(' ');
  std::string head = AsciiLower(name.substr(0, blank));
  std::string_view arg = blank == std::string_view::npos ? std::string_view() : trim(name.substr(blank));
  if (head == "machine" && arg.empty()) {
    section_ = Section::Machine;
  } else if (head == "os" && arg.empty()) {
    section_ = Section::Os;
  } else if (head == "disk") {
    auto n = parse_number(arg);
    if (!n || *n > 99 || arg.empty()) return "disk number \"" + std::string(arg) + "\" is not 0..99";
    for (auto& d : disks_)
      if (d.number == static_cast<int>(*n)) return "disk " + std::to_string(*n) + " is listed twice";
    disks_.emplace_back();
    disks_.back().number = static_cast<int>(*n);
    section_ = Section::Disk;
  } else if (head == "network" && arg.empty()) {
    section_ = Section::Network;
  } else if (head == "mount") {
    if (arg.empty()) return "a [mount] section needs a name";
    // Names are matched without regard to case, as every section name is.
    for (auto& m : mounts_)
      if (AsciiLower(m.name) == AsciiLower(arg)) return "mount " + std::string(arg) + " is listed twice";
    mounts_.emplace_back();
    mounts_.back().name = std::string(arg);
    section_ = Section::Mount;
  } else {
    return "unknown section [" + std::string(name) + "]";
  }
  return {};
}

std::string MachineIniParser::read_machine_key(const std::string& key, const std::string& value) {
  if (key != "rescans_before_new_volume") return "unknown key \"" + key + "\" in [machine]";
  if (!read_number(value, config_.rescans_before_new_volume, 1000)) return not_a(key, value, "a count 0..1000");
  return {};
}

std::string MachineIniParser::read_os_key(const std::string& key, const std::string& value) {
  auto& os = config_.os;
  struct NumberKey {
    const char* key;
    DWORD* field;
  };
  const NumberKey numbers[] = {
      {"major", &os.major}, {"minor", &os.minor}, {"build", &os.build}, {"platform_id", &os.platform_id}};
  for (auto& n : numbers)
    if (key == n.key) return read_number(value, *n.field, 0xFFFFFFFF) ? std::string() : not_a(key, value, "a number");
  struct TextKey {
    const char* key;
    std::string* field;
  };
  const TextKey texts[] = {{"service_pack", &os.service_pack},     {"computer_name", &os.computer_name},
                           {"user_name", &os.user_name},           {"windows_folder", &os.windows_folder},
                           {"system_folder", &os.system_folder},   {"temp_folder", &os.temp_folder},
                           {"program_files_folder", &os.program_files_folder}};
  for (auto& t : texts)
    if (key == t.key) {
      *t.field = value;
      return {};
    }
  if (key == "winpe") return read_bool(value, os.winpe) ? std::string() : not_a(key, value, "yes or no");
  if (key == "wow64") return read_bool(value, os.wow64) ? std::string() : not_a(key, value, "yes or no");
  return "unknown key \"" + key + "\" in [os]";
}

std::string MachineIniParser::read_disk_key(const std::string& key, const std::string& value) {
  auto& d = disks_.back();
  std::string* text = key == "image"                         ? &d.image
                      : key == "device"                      ? &d.device
                      : key == "vendor"                      ? &d.vendor
                      : key == "product" || key == "model"   ? &d.product
                      : key == "revision"                    ? &d.revision
                      : key == "serial"                      ? &d.serial
                      : key == "smart_identify"              ? &d.smart_identify
                      : key == "smart_attributes"            ? &d.smart_attributes
                      : key == "smart_thresholds"            ? &d.smart_thresholds
                                                             : nullptr;
  if (text) {
    *text = value;
    return {};
  }
  bool* flag = key == "removable" ? &d.removable : key == "attached" ? &d.attached
               : key == "open_fails" ? &d.faults.open_fails : nullptr;
  if (flag) return read_bool(value, *flag) ? std::string() : not_a(key, value, "yes or no");
  if (key == "size") {
    auto v = ParseSize(value);
    if (!v) return not_a(key, value, "a size such as 8G");
    d.size = *v;
  } else if (key == "sector_size") {
    if (!read_number(value, d.sector_size, 0xFFFFFFFF) || (d.sector_size != 512 && d.sector_size != 4096))
      return not_a(key, value, "512 or 4096");
  } else if (key == "cylinders") {
    if (!read_number(value, d.cylinders, UINT64_MAX)) return not_a(key, value, "a number");
  } else if (key == "tracks_per_cylinder" || key == "sectors_per_track") {
    // The reported geometry is free (disks beyond CHS report what they like),
    // but never zero: programs divide by it.
    uint32_t& field = key == "tracks_per_cylinder" ? d.tracks_per_cylinder : d.sectors_per_track;
    if (!read_number(value, field, 65535) || field == 0) return not_a(key, value, "1..65535");
  } else if (key == "bus") {
    auto b = ParseBusType(value);
    if (!b) return not_a(key, value, "a bus (ata, sata, scsi, usb, nvme, ...)");
    d.bus = *b;
  } else if (key == "unreadable" || key == "failing_writes" || key == "flaky_reads") {
    auto r = parse_ranges(value);
    if (!r) return not_a(key, value, "sector ranges such as 100-199, 5000");
    auto& field = key == "unreadable" ? d.faults.unreadable
                  : key == "failing_writes" ? d.faults.failing_writes
                                            : d.faults.flaky_reads;
    field = *r;
  } else if (key == "lock_refusals") {
    if (!read_number(value, d.faults.lock_refusals, 1000000)) return not_a(key, value, "a count");
  } else {
    return "unknown key \"" + key + "\" in [disk " + std::to_string(d.number) + "]";
  }
  return {};
}

std::string MachineIniParser::read_mount_key(const std::string& key, const std::string& value) {
  auto& m = mounts_.back();
  if (key == "path") {
    m.path = value;
  } else if (key == "host") {
    m.host = value;
  } else if (key == "read_only") {
    if (!read_bool(value, m.read_only)) return not_a(key, value, "yes or no");
  } else if (key == "drive_type") {
    std::string t = AsciiLower(value);
    if (t != "fixed" && t != "removable" && t != "cdrom" && t != "remote" && t != "ramdisk")
      return not_a(key, value, "fixed, removable, cdrom, remote or ramdisk");
    m.drive_type = t;
  } else {
    return "unknown key \"" + key + "\" in [mount " + m.name + "]";
  }
  return {};
}

// A [network] line: a host name and the loopback address and port it reaches.
std::string MachineIniParser::read_network_key(const std::string& key, const std::string& value) {
  NetworkRoute route;
  route.host = key;
  if (route.host.empty() || route.host.find_first_of(" \t:/[]") != std::string::npos)
    return "\"" + key + "\" is not a host name";
  if (!ParseLoopbackEndpoint(value, &route.address, &route.port))
    return not_a(key, value, "a loopback address and port such as 127.0.0.1:8080");
  for (auto& r : network_)
    if (r.host == route.host) return "host " + route.host + " is listed twice";
  network_.push_back(std::move(route));
  return {};
}

// What a section can only be judged on whole: a disk's backing, a mount's path
// and host, and two mounts claiming one place.
std::string MachineIniParser::check_sections() {
  for (auto& d : disks_)
    if (d.image.empty() == d.device.empty())
      return "disk " + std::to_string(d.number) + " needs exactly one of image = or device =";
  for (size_t i = 0; i < mounts_.size(); ++i) {
    auto& m = mounts_[i];
    if (m.path.size() < 2 || m.path[1] != ':' || !std::isalpha(static_cast<unsigned char>(m.path[0])) ||
        (m.path.size() > 2 && m.path[2] != '\\'))
      return "mount " + m.name + ": path \"" + m.path + "\" is not a drive letter or a folder such as C:\\Tools";
    if (m.host.empty()) return "mount " + m.name + " has no host folder";
    m.path[0] = AsciiUpper(m.path[0]);
    // Paths inside the PC are matched without regard to case; a trailing
    // backslash names the same folder.
    auto place = [](const HostMount& mount) {
      std::string p = AsciiLower(mount.path);
      while (p.size() > 3 && p.back() == '\\') p.pop_back();
      if (p.size() == 3 && p.back() == '\\') p.pop_back();
      return p;
    };
    for (size_t j = 0; j < i; ++j)
      if (place(mounts_[j]) == place(m))
        return "mount " + m.name + ": " + (m.is_whole_drive() ? "drive letter " : "path ") + m.path +
               " is already taken by mount " + mounts_[j].name;
  }
  return {};
}

}  // namespace

std::optional<MachineConfig> ParseMachineIni(std::string_view text, std::string* error) {
  return MachineIniParser().parse(text, error);
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
    if (!d.faults.flaky_reads.empty()) out << "flaky_reads = " << format_ranges(d.faults.flaky_reads) << "\n";
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

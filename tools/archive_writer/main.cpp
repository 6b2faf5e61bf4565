// archive_writer: makes a backup archive for tests and benchmarks.
//   archive_writer OUT_DIR [--name NAME] [--chain I] [--member]
//       [--compression none|rle|zlib] [--passkey TEXT] [--volume-size BYTES]
//       [--program FILE] [--description TEXT] [--time SECONDS]
//       [--file HOST_FILE=STORED_PATH]...
//       [--disk IMAGE:kind=K,disk=N,first=SECTOR,sectors=COUNT,unit=SECTORS[,offset=BYTES][,drive=C:][,type=N][,model=TEXT]]...
// --program appends the archive to a copy of FILE with its marker set; the
// first file is then named after FILE, and with --volume-size the later
// volumes after FILE as the program names itself (Yarv.exe: Yarv_Yarv.EXE_0_V1.yqb,
// ...), not after --name. Prints the files written, one a line.
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

#include "platform/core/text.h"
#include "tools/archive_writer/archive_writer.h"

namespace {

std::vector<uint8_t> read_all(const std::string& path, bool& ok) {
  std::ifstream in(path, std::ios::binary);
  ok = static_cast<bool>(in);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int usage(const std::string& why) {
  std::cerr << "archive_writer: " << why << "\n"
            << "usage: archive_writer OUT_DIR [--name NAME] [--chain I] [--member] [--compression none|rle|zlib]\n"
               "       [--passkey TEXT] [--volume-size BYTES] [--program FILE] [--description TEXT] [--time SECONDS]\n"
               "       [--file HOST_FILE=STORED_PATH]... [--disk IMAGE:kind=K,disk=N,first=S,sectors=C,unit=U"
               "[,offset=B][,drive=C:][,type=N][,model=M]]...\n";
  return 2;
}

bool parse_disk(const std::string& spec, archive_writer::DiskEntry& d) {
  const size_t colon = spec.rfind(':', spec.find('='));
  if (colon == std::string::npos) return false;
  d.source_path = spec.substr(0, colon);
  std::map<std::string, std::string> kv;
  std::stringstream list(spec.substr(colon + 1));
  for (std::string item; std::getline(list, item, ',');) {
    const size_t eq = item.find('=');
    if (eq == std::string::npos) return false;
    kv[item.substr(0, eq)] = item.substr(eq + 1);
  }
  for (const char* key : {"kind", "disk", "first", "sectors", "unit"})
    if (!kv.count(key)) return false;
  const long long sectors = std::atoll(kv["sectors"].c_str());
  const long long unit = std::atoll(kv["unit"].c_str());
  if (sectors <= 0 || unit <= 0) return false;
  auto& r = d.record;
  r.kind = static_cast<int8_t>(std::atoi(kv["kind"].c_str()));
  r.disk_number = static_cast<uint8_t>(std::atoi(kv["disk"].c_str()));
  r.first_sector = static_cast<int32_t>(std::atoll(kv["first"].c_str()));
  r.sectors_per_unit = static_cast<int32_t>(unit);
  r.full_units = static_cast<int32_t>(sectors / unit);
  r.last_unit_sectors = static_cast<int32_t>(sectors % unit);
  r.drive_text = platform::to_utf16(kv.count("drive") ? kv["drive"] : "");
  r.partition_type = static_cast<uint16_t>(std::strtoul(kv.count("type") ? kv["type"].c_str() : "7", nullptr, 0));
  r.model = platform::to_utf16(kv.count("model") ? kv["model"] : "");
  d.source_offset = kv.count("offset") ? std::atoll(kv["offset"].c_str()) : 0;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage("no output folder");
  const std::string out_dir = argv[1];
  archive_writer::Options o;
  std::vector<archive_writer::FileEntry> files;
  std::vector<archive_writer::DiskEntry> disks;
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        usage(a + " needs a value");
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--name") o.name = value();
    else if (a == "--chain") o.chain = std::atoi(value().c_str());
    else if (a == "--member") o.type = 1;
    else if (a == "--passkey") o.passkey = platform::to_utf16(value());
    else if (a == "--volume-size") o.volume_size = std::atoll(value().c_str());
    else if (a == "--description") o.description = platform::to_utf16(value());
    else if (a == "--time") o.backup_time = std::atoll(value().c_str());
    else if (a == "--compression") {
      const std::string c = value();
      if (c == "none") o.compression = restore::Compression::None;
      else if (c == "rle") o.compression = restore::Compression::Rle;
      else if (c == "zlib") o.compression = restore::Compression::Zlib;
      else return usage("unknown compression " + c);
    } else if (a == "--program") {
      const std::string path = value();
      bool ok = false;
      o.prefix = read_all(path, ok);
      if (!ok || !archive_writer::PatchMarker(o.prefix)) return usage(path + " has no self-extract marker");
      o.first_file_name = path.substr(path.find_last_of('/') + 1);
    } else if (a == "--file") {
      const std::string spec = value();
      const size_t eq = spec.find('=');
      if (eq == std::string::npos) return usage("--file needs HOST_FILE=STORED_PATH");
      archive_writer::FileEntry f;
      bool ok = false;
      f.data = read_all(spec.substr(0, eq), ok);
      if (!ok) return usage("cannot read " + spec.substr(0, eq));
      f.path = platform::to_utf16(spec.substr(eq + 1));
      files.push_back(std::move(f));
    } else if (a == "--disk") {
      archive_writer::DiskEntry d;
      if (!parse_disk(value(), d)) return usage("bad --disk description");
      disks.push_back(std::move(d));
    } else {
      return usage("unknown option " + a);
    }
  }
  archive_writer::Written written;
  std::string error;
  if (!archive_writer::Write(o, files, {}, disks, out_dir, written, error)) {
    std::cerr << "archive_writer: " << error << "\n";
    return 1;
  }
  for (const auto& f : written.files) std::cout << f << "\n";
  return 0;
}

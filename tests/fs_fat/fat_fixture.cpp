#include "fat_fixture.h"

#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>

#include "platform/core/error.h"
#include "platform/core/text.h"

namespace fat_test {

FatImage::FatImage(int fat_bits, uint32_t sector_size, uint64_t kib, uint64_t offset, const std::string& extra)
    : offset_(offset), volume_bytes_(kib * 1024), sector_size_(sector_size) {
  char templ[] = "/tmp/fat-test-XXXXXX";
  int fd = mkstemp(templ);
  if (fd < 0) return;
  close(fd);
  path_ = templ;
  std::string volume = offset ? path_ + ".vol" : path_;
  unlink(volume.c_str());
  std::string cmd = "mkfs.fat -C -F " + std::to_string(fat_bits) + " -S " + std::to_string(sector_size) + " " +
                    extra + " " + Quote(volume) + " " + std::to_string(kib);
  CommandResult r = Shell(cmd);
  if (r.status != 0) return;
  if (offset) {
    // The volume goes into a larger disk file at `offset`, with room behind it.
    if (truncate(path_.c_str(), off_t(offset + volume_bytes_ + (1 << 20))) != 0) return;
    r = Shell("dd if=" + Quote(volume) + " of=" + Quote(path_) + " bs=64K conv=notrunc,sparse status=none oflag=seek_bytes seek=" +
            std::to_string(offset));
    unlink(volume.c_str());
    if (r.status != 0) return;
  }
  ok_ = true;
}

FatImage::~FatImage() {
  if (!path_.empty()) unlink(path_.c_str());
}

std::string FatImage::mtools_image() const {
  return "-i " + Quote(path_ + (offset_ ? "@@" + std::to_string(offset_) : std::string()));
}

std::shared_ptr<platform::BlockDevice> FatImage::device() const {
  std::shared_ptr<platform::BlockDevice> disk = platform::FileBlockDevice::open(path_, sector_size_);
  if (!disk || !offset_) return disk;
  return std::make_shared<platform::WindowBlockDevice>(disk, offset_, volume_bytes_);
}

std::unique_ptr<platform::fs::VolumeDriver> FatImage::mount(DWORD* error) const {
  DWORD e = 0;
  auto v = platform::fs::fat::Mount(device(), FixedClock(), &e);
  if (error) *error = e;
  return v;
}

CommandResult FatImage::fsck() const {
  if (!offset_) return Shell("fsck.fat -n " + Quote(path_));
  std::string copy = path_ + ".fsck";
  Shell("dd if=" + Quote(path_) + " of=" + Quote(copy) + " bs=64K status=none iflag=skip_bytes,count_bytes skip=" +
      std::to_string(offset_) + " count=" + std::to_string(volume_bytes_));
  CommandResult r = Shell("fsck.fat -n " + Quote(copy));
  unlink(copy.c_str());
  return r;
}

CommandResult FatImage::mtools_read(const std::string& dos_path) const {
  return Shell("mcopy -n " + mtools_image() + " " + Quote("::" + dos_path) + " -");
}

std::vector<uint8_t> FatImage::raw() const {
  std::ifstream in(path_, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

platform::fs::fat::MountOptions FixedClock() {
  platform::fs::fat::MountOptions o;
  o.now = [] { return kFixedNow; };
  return o;
}

platform::fs::VolumePath P(std::initializer_list<const char16_t*> parts) {
  platform::fs::VolumePath p;
  for (auto* s : parts) p.emplace_back(s);
  return p;
}

std::string U8(const std::u16string& s) { return platform::to_utf8(s); }

DWORD WriteFile(platform::fs::VolumeDriver& v, const platform::fs::VolumePath& path, const std::vector<uint8_t>& data,
                size_t chunk) {
  if (DWORD e = v.create_file(path, 0)) return e;
  std::unique_ptr<platform::fs::OpenFile> f;
  if (DWORD e = v.open(path, true, &f)) return e;
  for (size_t at = 0; at < data.size(); at += chunk)
    if (DWORD e = f->write(at, data.data() + at, std::min(chunk, data.size() - at))) return e;
  return ERROR_SUCCESS;
}

DWORD ReadFile(platform::fs::VolumeDriver& v, const platform::fs::VolumePath& path, std::vector<uint8_t>* data) {
  std::unique_ptr<platform::fs::OpenFile> f;
  if (DWORD e = v.open(path, false, &f)) return e;
  data->assign(f->size(), 0);
  size_t done = 0;
  if (DWORD e = f->read(0, data->data(), data->size(), &done)) return e;
  if (done != data->size()) return ERROR_HANDLE_EOF;
  return ERROR_SUCCESS;
}

std::vector<MdirRow> Mdir(const FatImage& image, const std::string& dos_folder) {
  std::vector<MdirRow> rows;
  CommandResult r = Shell("mdir -a " + image.mtools_image() + " " + Quote("::" + dos_folder));
  std::istringstream in(r.output);
  std::string line;
  // "NAME     EXT       size YYYY-MM-DD  HH:MM  long name"
  static const std::regex row(R"(^(.{8}) (.{3}) +(<DIR>|[0-9][0-9 ]*) +([0-9]{4}-[0-9]{2}-[0-9]{2}) +([ 0-9][0-9]:[0-9]{2})(?:  (.*\S))? *$)");
  while (std::getline(in, line)) {
    std::smatch m;
    if (!std::regex_match(line, m, row)) continue;
    MdirRow rec;
    std::string base = m[1], ext = m[2];
    while (!base.empty() && base.back() == ' ') base.pop_back();
    while (!ext.empty() && ext.back() == ' ') ext.pop_back();
    if (base == "." || base == "..") continue;
    rec.short_name = ext.empty() ? base : base + "." + ext;
    rec.directory = m[3] == "<DIR>";
    if (!rec.directory) {
      std::string digits;
      for (char c : std::string(m[3]))
        if (c != ' ') digits += c;
      rec.size = std::stoull(digits);
    }
    rec.date = m[4];
    rec.time = m[5];
    if (rec.time[0] == ' ') rec.time[0] = '0';
    rec.long_name = m[6].matched ? std::string(m[6]) : std::string();
    rows.push_back(rec);
  }
  return rows;
}

std::string Mattrib(const FatImage& image, const std::string& dos_path) {
  CommandResult r = Shell("mattrib " + image.mtools_image() + " " + Quote("::" + dos_path));
  size_t at = r.output.find("::");
  std::string letters;
  for (size_t i = 0; i < at && i < r.output.size(); ++i)
    if (r.output[i] != ' ') letters += r.output[i];
  return letters;
}

bool FsckClusters(const CommandResult& r, uint64_t* used, uint64_t* total) {
  static const std::regex summary(R"(([0-9]+) files?, ([0-9]+)/([0-9]+) clusters)");
  std::smatch m;
  if (!std::regex_search(r.output, m, summary)) return false;
  *used = std::stoull(m[2]);
  *total = std::stoull(m[3]);
  return true;
}

}  // namespace fat_test

// The archive reader over hostile files: the input is cut at each "@@FILE@@"
// into the chain's newest member (with its catalogue), its volume 1, and the
// older member 0. Every item's blocks are read as the restore passes would,
// and every read must stay inside its file and its buffers.
#include <cstdint>
#include <cstring>
#include <string_view>

#include "restore/archive_session.h"

namespace {

constexpr std::string_view kCut = "@@FILE@@";
constexpr int64_t kMaxBlocksPerItem = 64;

void read_items(restore::ArchiveSession& s) {
  std::vector<uint8_t> block;
  const auto& files = s.file_records();
  for (int k = 1; k < static_cast<int>(files.size()) && k < 16; ++k) {
    if (s.BeginFileItem(k) != restore::ArchiveResult::Ok) continue;
    int64_t left = files[k].size;
    for (int64_t b = 0; left > 0 && b < kMaxBlocksPerItem; ++b) {
      const size_t n = static_cast<size_t>(std::min<int64_t>(left, restore::kBlockBytes));
      if (s.ReadItemBlock(n, block) != restore::ArchiveResult::Ok) break;
      left -= static_cast<int64_t>(n);
    }
  }
  const auto& folders = s.folder_records();
  for (int i = 1; i < static_cast<int>(folders.size()) && i < 16; ++i) {
    if (folders[i].size <= 0 || s.BeginFolderItem(i) != restore::ArchiveResult::Ok) continue;
    int64_t left = folders[i].size;
    for (int64_t b = 0; left > 0 && b < kMaxBlocksPerItem; ++b) {
      const size_t n = static_cast<size_t>(std::min<int64_t>(left, restore::kBlockBytes));
      if (s.ReadItemBlock(n, block) != restore::ArchiveResult::Ok) break;
      left -= static_cast<int64_t>(n);
    }
  }
  const auto& disks = s.disk_records();
  for (int j = 1; j < static_cast<int>(disks.size()); ++j) {
    for (int64_t u = 1; u <= disks[j].unit_count() && u <= 8; ++u) {
      bool found = false;
      if (s.LocateUnit(j, u, found) != restore::ArchiveResult::Ok || !found) continue;
      int64_t left = disks[j].unit_sectors(u);
      for (int64_t b = 0; left > 0 && b < kMaxBlocksPerItem; ++b) {
        const int64_t n = std::min<int64_t>(left, 63);
        if (s.ReadUnitBlock(static_cast<size_t>(n * 512), block) != restore::ArchiveResult::Ok) break;
        left -= n;
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  static const char16_t* const kNames[] = {u"Yarv_F_1_V0.yqb", u"Yarv_F_1_V1.yqb", u"Yarv_F_0_V0.yqb"};
  restore::MemoryArchiveFiles io;
  size_t start = 0;
  for (const char16_t* name : kNames) {
    size_t end = input.find(kCut, start);
    if (end == std::string_view::npos) end = input.size();
    io.files[name].assign(data + start, data + end);
    if (end == input.size()) break;
    start = end + kCut.size();
  }
  restore::ArchiveSession s(io);
  if (s.ReadCatalog(kNames[0], 0) != restore::ArchiveResult::Ok) return 0;
  s.VerifyPasskey(u"fuzz");
  if (s.OpenArchiveChain([](const std::u16string&) -> std::optional<std::u16string> { return std::nullopt; }) != restore::ArchiveResult::Ok) return 0;
  s.LoadBlockTable();
  for (int members : {0, 1, 2}) {
    s.set_member_count(members);
    read_items(s);
  }
  return 0;
}

#include "bench/common/volume_fixture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>

#include "platform/core/error.h"
#include "platform/core/kobject.h"
#include "platform/fs/file_api.h"
#include "platform/fs/volume_set.h"

namespace bench {

namespace {

constexpr uint64_t kDiskBytes = VolumeFixture::kVolumeOffset + VolumeFixture::kVolumeBytes + VolumeFixture::kMiB;
// A file of 256 MiB in 4 KiB clusters has at most 65536 runs; a tool's answer
// with more lines than that is not about this file.
constexpr size_t kMaxExtents = 65536;

std::string ErrorText(const std::string& what) { return what + " failed with error " + std::to_string(GetLastError()); }

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The number after "KEY" in a tool's report ("fats: 2", "Big fatlen=592"),
// or -1 when the key is missing.
int64_t NumberAfter(const std::string& text, const std::string& key) {
  size_t at = text.find(key);
  if (at == std::string::npos) return -1;
  at += key.size();
  while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
  if (at >= text.size() || text[at] < '0' || text[at] > '9') return -1;
  return std::strtoll(text.c_str() + at, nullptr, 10);
}

// The tools list a file's runs in file order. Joins runs that continue each
// other on the image and cuts the list at the file's size (the last cluster
// may hold bytes past its end); false with *why when the runs cover less.
bool Finish(std::vector<Extent>* extents, std::string* why) {
  std::vector<Extent> joined;
  uint64_t covered = 0;
  for (Extent e : *extents) {
    if (covered >= VolumeFixture::kBigBytes) break;
    e.length = std::min(e.length, VolumeFixture::kBigBytes - covered);
    if (!joined.empty() && joined.back().image_offset + joined.back().length == e.image_offset)
      joined.back().length += e.length;
    else
      joined.push_back(e);
    covered += e.length;
  }
  if (covered != VolumeFixture::kBigBytes) {
    *why = "the file system's tool places only " + std::to_string(covered) + " bytes of big.bin";
    return false;
  }
  *extents = std::move(joined);
  return true;
}

}  // namespace

VolumeFixture::VolumeFixture(FileSystem fs, PeerCopy copy) : fs_(fs) {
  if (!big_.valid()) {
    error_ = "no memory for the pattern";
    return;
  }
  if (!pc_.add_disk(0, kDiskBytes) || !pc_.add_volume(0, kVolumeOffset, kVolumeBytes, fs)) {
    error_ = pc_.error();
    return;
  }
  image_ = pc_.image(0);
  peer_path_ = host_.file("peer.img");
  if (copy == PeerCopy::WholeDisk) {
    if (!CopySparse(image_, peer_path_, &error_)) return;
    peer_image_ = peer_path_ + "@@" + std::to_string(kVolumeOffset);
  } else {
    if (!copy_volume_out(peer_path_)) {
      error_ = "dd could not copy the volume for the peer";
      return;
    }
    peer_image_ = peer_path_;
  }
  if (!AllocateFile(image_, &error_) || !AllocateFile(peer_path_, &error_)) return;
  WCHAR letter = 0;
  if (!pc_.boot() || !(letter = pc_.letter_of(0))) {
    error_ = pc_.error();
    return;
  }
  root_ = std::u16string(1, letter) + u":\\";
  big_source_ = host_.file("big.bin");
  if (!WriteHostFile(big_source_, big_.data(), big_.size())) {
    error_ = "cannot write " + big_source_;
    return;
  }
  write_big(&error_);
}

bool VolumeFixture::ready(benchmark::State& state) const {
  if (error_.empty()) return true;
  state.SkipWithError(("the volume could not be made: " + error_).c_str());
  return false;
}

bool VolumeFixture::copy_volume_out(const std::string& path) {
  return RunTool({"dd", "if=" + image_, "of=" + path, "bs=1M", "skip=" + std::to_string(kVolumeOffset / kMiB),
                  "count=" + std::to_string(kVolumeBytes / kMiB), "conv=sparse", "status=none"}) == 0;
}

bool VolumeFixture::settle(benchmark::State& state, CacheState cache, bool peer_image) {
  state.PauseTiming();
  std::string why;
  bool ok = SettleFile(image_, cache, &why) && (!peer_image || SettleFile(peer_path_, cache, &why));
  state.ResumeTiming();
  if (!ok) state.SkipWithError(why.c_str());
  return ok;
}

bool VolumeFixture::write_big(std::string* why, bool sync) {
  const std::u16string path = root_ + u"big.bin";
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *why = ErrorText("CreateFileW of big.bin");
    return false;
  }
  for (uint64_t at = 0; at < kBigBytes; at += kChunk) {
    DWORD done = 0;
    if (!WriteFile(h, big_.data() + at, kChunk, &done, nullptr) || done != kChunk) {
      *why = ErrorText("WriteFile at " + std::to_string(at));
      CloseHandle(h);
      return false;
    }
  }
  if (sync && !FlushFileBuffers(h)) {
    *why = ErrorText("FlushFileBuffers of big.bin");
    CloseHandle(h);
    return false;
  }
  if (!CloseHandle(h)) {
    *why = ErrorText("CloseHandle of big.bin");
    return false;
  }
  return true;
}

bool VolumeFixture::check_big_with_peer_tool(std::string* why) {
  platform::fs::ReleaseAllDrivers();
  const std::string out = host_.file("check.bin");
  int status = -1;
  if (fs_ == FileSystem::Fat32) {
    status = RunTool({"mcopy", "-n", "-i", image_ + "@@" + std::to_string(kVolumeOffset), "::/big.bin", "-"}, out);
  } else {
    const std::string volume = host_.file("ours-volume.img");
    if (copy_volume_out(volume)) status = RunTool({"ntfscat", "-f", volume, "/big.bin"}, out);
    std::remove(volume.c_str());
  }
  if (status != 0) {
    *why = std::string(fs_ == FileSystem::Fat32 ? "mcopy" : "ntfscat") + " could not read big.bin from our image";
    return false;
  }
  status = RunTool({"cmp", "-s", out, big_source_});
  std::remove(out.c_str());
  if (status != 0) {
    *why = "big.bin on our image differs from what was written";
    return false;
  }
  return true;
}

bool VolumeFixture::read_big(AlignedBuffer& chunk, std::string* why) {
  const std::u16string path = root_ + u"big.bin";
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *why = ErrorText("CreateFileW of big.bin");
    return false;
  }
  uint64_t total = 0;
  DWORD done = 0;
  BOOL ok = TRUE;
  while ((ok = ReadFile(h, chunk.data(), static_cast<DWORD>(chunk.size()), &done, nullptr)) && done > 0) total += done;
  if (!ok) *why = ErrorText("ReadFile at " + std::to_string(total));
  CloseHandle(h);
  if (ok && total != kBigBytes) {
    *why = "read " + std::to_string(total) + " bytes of big.bin";
    ok = FALSE;
  }
  return ok;
}

// mshowfat lists the file's clusters as runs ("::/big.bin <3-65538> <70000>");
// minfo gives the layout that turns a cluster number into a byte offset.
bool VolumeFixture::locate_fat(std::vector<Extent>* extents, std::string* why) {
  const std::string volume = image_ + "@@" + std::to_string(kVolumeOffset);
  const std::string chain_out = host_.file("mshowfat.txt"), info_out = host_.file("minfo.txt");
  const bool ran = RunTool({"mshowfat", "-i", volume, "::/big.bin"}, chain_out) == 0 &&
                   RunTool({"minfo", "-i", volume, "::"}, info_out) == 0;
  const std::string chain = ReadText(chain_out), info = ReadText(info_out);
  std::remove(chain_out.c_str());
  std::remove(info_out.c_str());
  if (!ran) {
    *why = "mshowfat or minfo could not read our image";
    return false;
  }
  const int64_t sector = NumberAfter(info, "sector size:"), per_cluster = NumberAfter(info, "cluster size:"),
                reserved = NumberAfter(info, "reserved (boot) sectors:"), fats = NumberAfter(info, "fats:"),
                root_slots = NumberAfter(info, "max available root directory slots:");
  int64_t fat_sectors = NumberAfter(info, "Big fatlen=");
  if (fat_sectors <= 0) fat_sectors = NumberAfter(info, "sectors per fat:");
  if (sector <= 0 || per_cluster <= 0 || reserved < 0 || fats <= 0 || root_slots < 0 || fat_sectors <= 0) {
    *why = "minfo's report lacks the volume's layout";
    return false;
  }
  const uint64_t cluster_bytes = static_cast<uint64_t>(sector * per_cluster);
  const uint64_t root_bytes = (static_cast<uint64_t>(root_slots) * 32 + sector - 1) / sector * sector;
  const uint64_t data = kVolumeOffset + static_cast<uint64_t>((reserved + fats * fat_sectors) * sector) + root_bytes;
  uint64_t file_offset = 0;
  for (size_t at = chain.find('<'); at != std::string::npos; at = chain.find('<', at + 1)) {
    char* end = nullptr;
    const uint64_t first = std::strtoull(chain.c_str() + at + 1, &end, 10);
    uint64_t last = first;
    if (*end == '-') last = std::strtoull(end + 1, &end, 10);
    if (*end != '>' || first < 2 || last < first || extents->size() >= kMaxExtents) {
      *why = "mshowfat's answer is not a cluster list: " + chain.substr(0, 200);
      return false;
    }
    const uint64_t length = (last - first + 1) * cluster_bytes;
    extents->push_back({file_offset, data + (first - 2) * cluster_bytes, length});
    file_offset += length;
  }
  return Finish(extents, why);
}

// ntfscluster -F lists the data attribute's runs ("VCN LCN Length", in
// clusters, LCNs from the volume's start); ntfscluster -i gives the cluster
// size. Both read a copy of the volume: ntfs-3g's tools take no offset.
bool VolumeFixture::locate_ntfs(std::vector<Extent>* extents, std::string* why) {
  const std::string volume = host_.file("ours-volume.img");
  const std::string runs_out = host_.file("ntfscluster-F.txt"), info_out = host_.file("ntfscluster-i.txt");
  const bool ran = copy_volume_out(volume) && RunTool({"ntfscluster", "-f", "-F", "/big.bin", volume}, runs_out) == 0 &&
                   RunTool({"ntfscluster", "-f", "-i", volume}, info_out) == 0;
  const std::string runs = ReadText(runs_out), info = ReadText(info_out);
  std::remove(volume.c_str());
  std::remove(runs_out.c_str());
  std::remove(info_out.c_str());
  if (!ran) {
    *why = "ntfscluster could not read our volume";
    return false;
  }
  const int64_t cluster_bytes = NumberAfter(info, "bytes per cluster       :");
  if (cluster_bytes <= 0) {
    *why = "ntfscluster -i does not give the cluster size";
    return false;
  }
  // The runs follow the line "0x80 - non-resident" and its "VCN LCN Length"
  // heading, up to the next attribute's line.
  std::istringstream lines(runs);
  std::string line;
  bool in_data = false;
  while (std::getline(lines, line)) {
    if (line.find(" - ") != std::string::npos) {
      in_data = line.find("0x80 - non-resident") != std::string::npos;
      continue;
    }
    long long vcn = 0, lcn = 0, length = 0;
    if (!in_data || std::sscanf(line.c_str(), "%lld %lld %lld", &vcn, &lcn, &length) != 3) continue;
    if (vcn < 0 || lcn < 0 || length <= 0 || extents->size() >= kMaxExtents) {
      *why = "ntfscluster lists a run big.bin cannot have: " + line;
      return false;
    }
    extents->push_back({static_cast<uint64_t>(vcn * cluster_bytes),
                        kVolumeOffset + static_cast<uint64_t>(lcn * cluster_bytes),
                        static_cast<uint64_t>(length * cluster_bytes)});
  }
  return Finish(extents, why);
}

bool VolumeFixture::locate_big(std::vector<Extent>* extents, std::string* why) {
  platform::fs::ReleaseAllDrivers();
  extents->clear();
  if (!(fs_ == FileSystem::Fat32 ? locate_fat(extents, why) : locate_ntfs(extents, why))) return false;
  // The extents must hold the file's bytes, else dd would copy other places.
  int fd = ::open(image_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *why = "cannot open " + image_;
    return false;
  }
  AlignedBuffer chunk(kChunk);
  bool same = chunk.valid();
  for (const Extent& e : *extents) {
    for (uint64_t done = 0; same && done < e.length;) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(kChunk, e.length - done));
      same = ::pread(fd, chunk.data(), n, static_cast<off_t>(e.image_offset + done)) == static_cast<ssize_t>(n) &&
             std::memcmp(chunk.data(), big_.data() + e.file_offset + done, n) == 0;
      done += n;
    }
  }
  ::close(fd);
  if (!same) *why = "the extents the file system's tool gives for big.bin do not hold its bytes";
  return same;
}

namespace {

// Our side of the big-file works: write_big once per iteration from a
// written-back, cached image, each pass checked with the peer's tool outside
// the timing.
void WriteBigLoop(benchmark::State& state, VolumeFixture& fixture, bool sync) {
  std::string why;
  for (auto _ : state) {
    if (!fixture.settle(state, CacheState::Warm)) return;
    if (!fixture.write_big(&why, sync)) {
      state.SkipWithError(why.c_str());
      return;
    }
    state.PauseTiming();
    bool landed = fixture.check_big_with_peer_tool(&why);
    state.ResumeTiming();
    if (!landed) {
      state.SkipWithError(why.c_str());
      return;
    }
  }
  SetByteRate(state, VolumeFixture::kBigBytes);
}

// read_big once per iteration, each from a freshly mounted volume (the
// driver keeps nothing of earlier passes) whose image is in `cache`, then a
// check of the last MiB read.
void ReadBigLoop(benchmark::State& state, VolumeFixture& fixture, CacheState cache) {
  AlignedBuffer chunk(VolumeFixture::kChunk);
  const std::u16string path = fixture.root() + u"big.bin";
  std::string why;
  for (auto _ : state) {
    state.PauseTiming();
    platform::fs::ReleaseAllDrivers();
    const bool mounted = GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    state.ResumeTiming();
    if (!mounted) {
      state.SkipWithError("big.bin is not on the volume");
      return;
    }
    if (!fixture.settle(state, cache)) return;
    if (!fixture.read_big(chunk, &why)) {
      state.SkipWithError(why.c_str());
      return;
    }
  }
  if (std::memcmp(chunk.data(), fixture.big().data() + VolumeFixture::kBigBytes - chunk.size(), chunk.size()) != 0)
    state.SkipWithError("big.bin read back different bytes");
  SetByteRate(state, VolumeFixture::kBigBytes);
}

enum class DdWork { Write, WriteSynced, Read };

// dd's side: one dd per extent of big.bin on our image, each run once per
// iteration: the file's bytes from the host file into the extent (synced
// with conv=fdatasync, as a write that reaches the disk, for WriteSynced), or
// the extent to /dev/null. The "extents" counter says how many dd runs a
// pass takes.
void DdLoop(benchmark::State& state, VolumeFixture& fixture, DdWork work, CacheState cache) {
  std::vector<Extent> extents;
  std::string why;
  if (!fixture.locate_big(&extents, &why)) {
    state.SkipWithError(why.c_str());
    return;
  }
  std::vector<std::vector<std::string>> commands;
  for (const Extent& e : extents) {
    const bool writing = work != DdWork::Read;
    std::vector<std::string> argv = {"dd", "bs=1M", "iflag=skip_bytes,count_bytes", "oflag=seek_bytes",
                                     "count=" + std::to_string(e.length), "status=none"};
    if (writing) {
      argv.insert(argv.end(), {"if=" + fixture.big_source(), "skip=" + std::to_string(e.file_offset),
                               "of=" + fixture.image(), "seek=" + std::to_string(e.image_offset),
                               work == DdWork::WriteSynced ? "conv=notrunc,fdatasync" : "conv=notrunc"});
    } else {
      argv.insert(argv.end(), {"if=" + fixture.image(), "skip=" + std::to_string(e.image_offset), "of=/dev/null"});
    }
    commands.push_back(std::move(argv));
  }
  for (auto _ : state) {
    if (!fixture.settle(state, cache)) return;
    for (const auto& argv : commands) {
      if (RunTool(argv) != 0) {
        state.SkipWithError("dd failed");
        return;
      }
    }
  }
  SetByteRate(state, VolumeFixture::kBigBytes);
  state.counters["extents"] = static_cast<double>(extents.size());
  // dd wrote the file's own bytes over it: big.bin must still read back whole.
  if (work != DdWork::Read && !state.error_occurred() && !fixture.check_big_with_peer_tool(&why))
    state.SkipWithError(why.c_str());
}

// A file-system peer tool run once per iteration on the peer's image, which
// starts each run written back and in `cache`.
void PeerToolLoop(benchmark::State& state, VolumeFixture& fixture, const std::vector<std::string>& argv,
                  CacheState cache) {
  for (auto _ : state) {
    if (!fixture.settle(state, cache, true)) return;
    if (RunTool(argv) != 0) {
      state.SkipWithError(((argv.empty() ? std::string("the peer") : argv[0]) + " failed").c_str());
      return;
    }
  }
  SetByteRate(state, VolumeFixture::kBigBytes);
}

// Two passes per run, three runs, the median run in the table (see
// RegisterBigFileWorks).
void RegisterBig(const std::string& work, const std::string& side, std::function<void(benchmark::State&)> body) {
  Register(work, side, std::move(body))->Iterations(2)->Repetitions(3)->DisplayAggregatesOnly(true);
}

}  // namespace

void RegisterBigFileWorks(const std::string& prefix, std::function<VolumeFixture&()> fixture, PeerTool writer,
                          PeerTool reader) {
  // Each body makes the fixture on first use and stops at once when it failed.
  auto on_ready = [fixture](std::function<void(benchmark::State&, VolumeFixture&)> run) {
    return [fixture, run](benchmark::State& state) {
      VolumeFixture& f = fixture();
      if (f.ready(state)) run(state, f);
    };
  };
  const std::string write = prefix + "_write_256MiB", read = prefix + "_read_256MiB", cached = read + "_cached";
  RegisterBig(write, "peer:dd", on_ready([](auto& s, auto& f) { DdLoop(s, f, DdWork::Write, CacheState::Warm); }));
  RegisterBig(write, "ours:WriteFile", on_ready([](auto& s, auto& f) { WriteBigLoop(s, f, false); }));
  RegisterBig(write, "peer:dd+fdatasync",
              on_ready([](auto& s, auto& f) { DdLoop(s, f, DdWork::WriteSynced, CacheState::Warm); }));
  RegisterBig(write, writer.side,
              on_ready([writer](auto& s, auto& f) { PeerToolLoop(s, f, writer.argv(f), CacheState::Warm); }));
  RegisterBig(read, "peer:dd", on_ready([](auto& s, auto& f) { DdLoop(s, f, DdWork::Read, CacheState::Cold); }));
  RegisterBig(read, "ours:ReadFile", on_ready([](auto& s, auto& f) { ReadBigLoop(s, f, CacheState::Cold); }));
  RegisterBig(read, reader.side,
              on_ready([reader](auto& s, auto& f) { PeerToolLoop(s, f, reader.argv(f), CacheState::Cold); }));
  RegisterBig(cached, "peer:dd", on_ready([](auto& s, auto& f) { DdLoop(s, f, DdWork::Read, CacheState::Warm); }));
  RegisterBig(cached, "ours:ReadFile", on_ready([](auto& s, auto& f) { ReadBigLoop(s, f, CacheState::Warm); }));
  const std::string synced = write + "_synced";
  RegisterBig(synced, "peer:dd+fdatasync",
              on_ready([](auto& s, auto& f) { DdLoop(s, f, DdWork::WriteSynced, CacheState::Warm); }));
  RegisterBig(synced, "ours:WriteFile+Flush", on_ready([](auto& s, auto& f) { WriteBigLoop(s, f, true); }));
  for (const std::string& work : {write, read, cached}) SetTargetVsPeer(work, 0.5);
  SetTargetVsPeer(synced, 0.9);
  InterleaveRunsByDefault();
}

}  // namespace bench

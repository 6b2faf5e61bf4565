// Pellimor's tree copy beside xorriso and mtools, copying the files of an
// ISO image into a FAT32 volume:
//
//   iso_tree_copy_1GiB   ours: CopyIsoImageTree from an image on a host
//                        folder of the simulated PC into the FAT32 volume of
//                        its stick (sparse image); peer: xorriso -osirrox on
//                        -extract of the same image into a host folder, then
//                        mcopy -s of that folder into a FAT32 volume file of
//                        the same size made by mkfs.fat beforehand (untimed).
//
// The image holds DRUM_BENCH_ISO_MIB MiB (default 1,024) of files: most in
// 8 MiB files, the rest as 64 KiB files in a few folders. Target: ours at
// least 0.8x the peer's rate; rss_growth_MiB shows that the copy's memory
// stays flat whatever the image's size.
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bench/common/bench_support.h"
#include "usbwriter/branding_config.h"
#include "usbwriter/iso/iso_reader.h"

namespace {

constexpr uint64_t kMiB = 1ull << 20;
constexpr uint64_t kVolumeOffset = kMiB;

uint64_t IsoMiB() {
  const char* text = std::getenv("DRUM_BENCH_ISO_MIB");
  uint64_t mib = text ? std::strtoull(text, nullptr, 10) : 1024;
  return mib < 16 ? 16 : mib;
}

class SilentCopy : public IsoCopyHost {
 public:
  void UpdateProgress(int64_t position) override { position_ = position; }
  int64_t ProgressPosition() const override { return position_; }
  bool CancelRequested() const override { return false; }
  void ReportCopyError(LPCWSTR) override {}
  int64_t position_ = 0;
};

// The image (made once from a generated tree, which is removed again) and
// a volume size with room for its files and the FAT32 structures.
struct Image {
  bench::ScratchFolder host;
  std::string iso;
  uint64_t bytes = 0;
  uint64_t files = 0;
  uint64_t volume_bytes = 0;
  std::string error;
  Image() {
    const uint64_t total = IsoMiB() * kMiB;
    const std::string tree = host.file("tree");
    bench::AlignedBuffer data(8 * kMiB, 7);
    uint64_t small = total / 8;
    for (uint64_t made = 0; made + 8 * kMiB <= total - small; made += 8 * kMiB, ++files) {
      if (!write(tree + "/BIG/F" + std::to_string(files) + ".BIN", data.data(), 8 * kMiB)) return;
      bytes += 8 * kMiB;
    }
    for (uint64_t i = 0; bytes + 64 * 1024 <= total; ++i, ++files) {
      if (!write(tree + "/SMALL/D" + std::to_string(i % 16) + "/S" + std::to_string(i) + ".DAT",
                 data.data() + (i % 64) * 4096, 64 * 1024)) {
        return;
      }
      bytes += 64 * 1024;
    }
    iso = host.file("tree.iso");
    if (bench::RunTool({"xorriso", "-outdev", iso, "-blank", "as_needed", "-rockridge", "off", "-joliet", "on",
                        "-volid", "TREE_COPY", "-map", tree, "/", "-commit"}) != 0) {
      error = "xorriso could not make the image";
      return;
    }
    bench::RunTool({"rm", "-rf", tree});
    // FAT32 with 4 KiB clusters needs 65,525 of them: 256 MiB at least.
    volume_bytes = std::max<uint64_t>(bytes + bytes / 8 + 64 * kMiB, 320 * kMiB);
  }
  bool write(const std::string& path, const void* p, size_t n) {
    bench::RunTool({"mkdir", "-p", path.substr(0, path.rfind('/'))});
    if (!bench::WriteHostFile(path, p, n)) error = "cannot write " + path;
    return error.empty();
  }
};

void Ours(benchmark::State& state) {
  auto& image = bench::Shared<Image>();
  if (!image.error.empty()) {
    state.SkipWithError(image.error.c_str());
    return;
  }
  bench::BenchPc pc;
  bool ready = pc.ok() && pc.add_disk(1, kVolumeOffset + image.volume_bytes + kMiB) &&
               pc.add_volume(1, kVolumeOffset, image.volume_bytes, bench::FileSystem::Fat32);
  if (ready) {
    std::ofstream(pc.folder() + "/machine.ini", std::ios::app)
        << "\n[mount iso]\npath = I:\nhost = " << image.host.path() << "\ndrive_type = fixed\n";
    ready = pc.boot();
  }
  WCHAR letter = ready ? pc.letter_of(1) : 0;
  if (!letter) {
    state.SkipWithError(("the stick could not be made: " + pc.error()).c_str());
    return;
  }
  SourceIsoPath = u"I:\\tree.iso";
  if (!WalkIsoDescriptors(0, false)) {
    state.SkipWithError("the image cannot be read");
    return;
  }
  CString root;
  root += letter;
  root += u':';
  double growth = 0;
  for (auto _ : state) {
    SilentCopy host;
    CopyErrorCount = 0;
    CopyNestingDepth = 0;
    const long before = bench::CurrentRssKiB();
    CopyIsoImageTree(&host, root);
    growth = std::max(growth, static_cast<double>(bench::CurrentRssKiB() - before) / 1024);
    if (CopyErrorCount != 0) {
      state.SkipWithError("the copy counted write errors");
      break;
    }
  }
  state.counters["rss_growth_MiB"] = growth;
  bench::SetByteRate(state, image.bytes);
}

void Peer(benchmark::State& state) {
  auto& image = bench::Shared<Image>();
  if (!image.error.empty()) {
    state.SkipWithError(image.error.c_str());
    return;
  }
  const std::string out = image.host.file("extracted"), volume = image.host.file("peer.vol");
  for (auto _ : state) {
    state.PauseTiming();
    bench::RunTool({"rm", "-rf", out, volume});
    bool made = bench::RunTool({"truncate", "-s", std::to_string(image.volume_bytes), volume}) == 0 &&
                bench::RunTool({"mkfs.fat", "-F", "32", "-s", "8", volume}) == 0;
    state.ResumeTiming();
    if (!made || bench::RunTool({"xorriso", "-osirrox", "on", "-indev", image.iso, "-extract", "/", out}) != 0 ||
        bench::RunTool({"env", "MTOOLS_SKIP_CHECK=1", "mcopy", "-s", "-i", volume, out + "/BIG", out + "/SMALL",
                        "::/"}) != 0) {
      state.SkipWithError("xorriso or mcopy failed");
      break;
    }
  }
  bench::SetByteRate(state, image.bytes);
}

}  // namespace

int main(int argc, char** argv) {
  bench::Register("iso_tree_copy_1GiB", "ours:CopyIsoImageTree", Ours)->Iterations(1);
  bench::Register("iso_tree_copy_1GiB", "peer:xorriso+mcopy", Peer)->Iterations(1);
  bench::SetTargetVsPeer("iso_tree_copy_1GiB", 0.8);
  return bench::Main(argc, argv);
}

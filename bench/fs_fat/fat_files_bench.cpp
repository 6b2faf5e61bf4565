// The FAT driver through the file API beside dd moving the same bytes into
// and out of the same image, and beside mtools, on a fresh FAT32 volume
// (4 KiB clusters; see bench/common/volume_fixture.h):
//
//   fat_write_256MiB   ours: CreateFileW("X:\big.bin", CREATE_ALWAYS), 1 MiB
//                      WriteFiles, CloseHandle; peer: dd of a host file
//                      holding the same bytes into the clusters big.bin
//                      occupies on our image; extra peers: the same dd with
//                      conv=fdatasync (a write that reaches the disk), and
//                      mcopy -o of the host file onto a copy of the image;
//   fat_read_256MiB    ours: 1 MiB ReadFiles of big.bin; peer: dd of its
//                      clusters to /dev/null; extra peer: mcopy of it to
//                      stdout (/dev/null) from the copy. Both sides start
//                      with the image out of the host's page cache;
//   fat_read_256MiB_cached   the same with the image cached on both sides;
//   fat_create_2000_files   like for like with mcopy -s of a host folder
//                      holding 2,000 files of 2 KiB (8.3 names): each pass
//                      of ours starts with the volume unmounted (as mcopy
//                      starts), mounts it, reads each host file (open, read,
//                      close, as mcopy does), writes it with CreateFileW
//                      (CREATE_NEW), WriteFile, CloseHandle into a new
//                      folder, and ends by releasing the driver (its FAT and
//                      FSInfo written back, as mcopy's exit writes its
//                      buffers). After each pass, outside the timing, mcopy
//                      copies the folder back out and every file is compared.
//                      Both images are written back and cached before every
//                      pass of either side. Target: 0.8x mcopy;
//   fat_create_2000_long_names   the same with long names, ours only: mcopy
//                      spends minutes there searching for free short aliases
//                      (it grows quadratically with the folder), so it would
//                      measure that search rather than the writing.
//
// Target for the big file: at least 0.5x dd.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "bench/common/volume_fixture.h"
#include "platform/core/error.h"
#include "platform/core/kobject.h"
#include "platform/fs/file_api.h"
#include "platform/fs/volume_set.h"

namespace {

using bench::VolumeFixture;

constexpr int kSmallFiles = 2000;
constexpr size_t kSmallBytes = 2048;
constexpr int kSmallSets = 3;

enum class Names { Short, Long };

// "F0001.TXT" is a plain 8.3 name; "file-0001.txt" needs a long-name entry
// and a generated alias (FILE-0~1.TXT and, past the fourth, hashed ones).
std::string SmallName(int i, Names names = Names::Short) {
  char name[32];
  std::snprintf(name, sizeof name, names == Names::Short ? "F%04d.TXT" : "file-%04d.txt", i);
  return name;
}

struct FatVolume : VolumeFixture {
  std::string small_source;
  std::vector<bench::AlignedBuffer> small;

  FatVolume() : VolumeFixture(bench::FileSystem::Fat32, bench::PeerCopy::WholeDisk) {
    small_source = host().file("small");
    if (::mkdir(small_source.c_str(), 0755) != 0) return;
    for (int i = 0; i < kSmallFiles; ++i) {
      small.emplace_back(kSmallBytes, 100 + i);
      if (!bench::WriteHostFile(small_source + "/" + SmallName(i), small.back().data(), kSmallBytes)) break;
    }
    if (!peer_image().empty())
      bench::RunTool({"mcopy", "-o", "-i", peer_image(), big_source(), "::/big.bin"});
  }

  bool ready(benchmark::State& state) const {
    if (!VolumeFixture::ready(state)) return false;
    if (small.size() == kSmallFiles) return true;
    state.SkipWithError(("cannot write the small files under " + small_source).c_str());
    return false;
  }
};

// Reads a whole small host file as mcopy reads its sources.
bool ReadHostFile(const std::string& path, uint8_t* buffer) {
  int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  bool ok = ::read(fd, buffer, kSmallBytes) == static_cast<ssize_t>(kSmallBytes);
  ::close(fd);
  return ok;
}

// Outside the timing: mcopy brings the folder back out of our image and
// every file must hold its source's bytes.
bool CheckSmallFiles(FatVolume& fat, const std::string& folder, Names names, std::string* why) {
  platform::fs::ReleaseAllDrivers();
  bench::ScratchFolder out;
  if (bench::RunTool({"mcopy", "-s", "-n", "-i", fat.image() + "@@" + std::to_string(VolumeFixture::kVolumeOffset),
                      "::/" + folder, out.path()}) != 0) {
    *why = "mcopy could not read " + folder + " back";
    return false;
  }
  std::vector<uint8_t> got(kSmallBytes);
  for (int i = 0; i < kSmallFiles; ++i) {
    std::string name = SmallName(i, names);
    std::string path = out.path() + "/" + folder + "/" + name;
    if (!ReadHostFile(path, got.data()) || std::memcmp(got.data(), fat.small[i].data(), kSmallBytes) != 0) {
      *why = folder + "/" + name + " did not read back as written";
      return false;
    }
  }
  return true;
}

void OursCreate(benchmark::State& state, Names names) {
  auto& fat = bench::Shared<FatVolume>();
  if (!fat.ready(state)) return;
  // A new folder for every pass of every run (repetitions included).
  static int set = 0;
  std::vector<uint8_t> buffer(kSmallBytes);
  for (auto _ : state) {
    state.PauseTiming();
    platform::fs::ReleaseAllDrivers();
    const std::string number = std::to_string(set++);
    const std::string folder_name = (names == Names::Short ? "OURS" : "ours long ") + number;
    const std::u16string folder = fat.root() + std::u16string(folder_name.begin(), folder_name.end());
    state.ResumeTiming();
    // Both images written back and cached before every pass of either side.
    if (!fat.settle(state, bench::CacheState::Warm, true)) return;
    if (!CreateDirectoryW(folder.c_str(), nullptr)) {
      state.SkipWithError(("CreateDirectoryW failed with error " + std::to_string(GetLastError())).c_str());
      break;
    }
    for (int i = 0; i < kSmallFiles; ++i) {
      const std::string name = SmallName(i, names);
      if (!ReadHostFile(fat.small_source + "/" + SmallName(i), buffer.data())) {
        state.SkipWithError(("cannot read the host file " + SmallName(i)).c_str());
        return;
      }
      const std::u16string path = folder + u"\\" + std::u16string(name.begin(), name.end());
      HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
      DWORD done = 0;
      if (h == INVALID_HANDLE_VALUE || !WriteFile(h, buffer.data(), kSmallBytes, &done, nullptr) ||
          !CloseHandle(h)) {
        state.SkipWithError((name + " could not be written: error " + std::to_string(GetLastError())).c_str());
        return;
      }
    }
    platform::fs::ReleaseAllDrivers();
    state.PauseTiming();
    std::string why;
    bool ok = CheckSmallFiles(fat, folder_name, names, &why);
    state.ResumeTiming();
    if (!ok) {
      state.SkipWithError(why.c_str());
      return;
    }
  }
  bench::SetFileRate(state, kSmallFiles);
}

void PeerCreate(benchmark::State& state) {
  auto& fat = bench::Shared<FatVolume>();
  if (!fat.ready(state)) return;
  static int set = 0;
  for (auto _ : state) {
    if (!fat.settle(state, bench::CacheState::Warm, true)) return;
    if (bench::RunTool({"mcopy", "-s", "-i", fat.peer_image(), fat.small_source, "::/PEER" + std::to_string(set++)}) !=
        0) {
      state.SkipWithError("mcopy -s failed");
      break;
    }
  }
  bench::SetFileRate(state, kSmallFiles);
}

}  // namespace

int main(int argc, char** argv) {
  bench::RegisterBigFileWorks(
      "fat", []() -> VolumeFixture& { return bench::Shared<FatVolume>(); },
      {"peer:mcopy",
       [](VolumeFixture& f) {
         return std::vector<std::string>{"mcopy", "-o", "-i", f.peer_image(), f.big_source(), "::/big.bin"};
       }},
      {"peer:mcopy",
       [](VolumeFixture& f) { return std::vector<std::string>{"mcopy", "-n", "-i", f.peer_image(), "::/big.bin", "-"}; }});
  bench::Register("fat_create_2000_files", "ours:CreateFileW", [](benchmark::State& s) { OursCreate(s, Names::Short); })
      ->Iterations(kSmallSets);
  bench::Register("fat_create_2000_files", "peer:mcopy", PeerCreate)->Iterations(kSmallSets);
  bench::SetTargetVsPeer("fat_create_2000_files", 0.8);
  bench::Register("fat_create_2000_long_names", "ours:CreateFileW",
                  [](benchmark::State& s) { OursCreate(s, Names::Long); })
      ->Iterations(1);
  return bench::Main(argc, argv);
}

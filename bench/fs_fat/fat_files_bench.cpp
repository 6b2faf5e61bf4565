// The FAT driver through the file API beside mtools, on identical fresh
// FAT32 volumes (4 KiB clusters; see bench/common/volume_fixture.h):
//
//   fat_write_64MiB   ours: CreateFileW("X:\big.bin", CREATE_ALWAYS), 1 MiB
//                     WriteFiles, CloseHandle; peer: mcopy -o of a host file
//                     holding the same bytes;
//   fat_read_64MiB    ours: 1 MiB ReadFiles of that file; peer: mcopy of it
//                     to stdout (/dev/null);
//   fat_create_2000_files   ours: a new folder with 2,000 files of 2 KiB
//                     (8.3 names), each CreateFileW(CREATE_NEW), WriteFile,
//                     CloseHandle; peer: mcopy -s of a host folder holding the
//                     same files. Three folders per side, one per iteration;
//   fat_create_2000_long_names   the same with long names, ours only: mcopy
//                     spends minutes there searching for free short aliases
//                     (it grows quadratically with the folder), so it would
//                     measure that search rather than the writing.
//
// Ours runs on the simulated PC's disk image, the peer on a copy of that
// image (mcopy -i IMAGE@@OFFSET). Both stay in the host's page cache.
#include <sys/stat.h>

#include <string>

#include "bench/common/volume_fixture.h"
#include "platform/core/error.h"
#include "platform/core/kobject.h"
#include "platform/fs/file_api.h"

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

void OursWrite(benchmark::State& state) {
  auto& fat = bench::Shared<FatVolume>();
  if (fat.ready(state)) bench::WriteBigLoop(state, fat);
}

void OursRead(benchmark::State& state) {
  auto& fat = bench::Shared<FatVolume>();
  if (fat.ready(state)) bench::ReadBigLoop(state, fat);
}

void OursCreate(benchmark::State& state, Names names) {
  auto& fat = bench::Shared<FatVolume>();
  if (!fat.ready(state)) return;
  int set = 0;
  for (auto _ : state) {
    const std::u16string folder =
        fat.root() + (names == Names::Short ? u"OURS" : u"ours long ") + std::u16string(1, u'0' + set++);
    if (!CreateDirectoryW(folder.c_str(), nullptr)) {
      state.SkipWithError(("CreateDirectoryW failed with error " + std::to_string(GetLastError())).c_str());
      break;
    }
    for (int i = 0; i < kSmallFiles; ++i) {
      const std::string name = SmallName(i, names);
      const std::u16string path = folder + u"\\" + std::u16string(name.begin(), name.end());
      HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
      DWORD done = 0;
      if (h == INVALID_HANDLE_VALUE || !WriteFile(h, fat.small[i].data(), kSmallBytes, &done, nullptr) ||
          !CloseHandle(h)) {
        state.SkipWithError((name + " could not be written: error " + std::to_string(GetLastError())).c_str());
        return;
      }
    }
  }
  bench::SetFileRate(state, kSmallFiles);
}

void PeerWrite(benchmark::State& state) {
  auto& fat = bench::Shared<FatVolume>();
  if (!fat.ready(state)) return;
  bench::RunPeerLoop(state, {"mcopy", "-o", "-i", fat.peer_image(), fat.big_source(), "::/big.bin"});
  bench::SetByteRate(state, VolumeFixture::kBigBytes);
}

void PeerRead(benchmark::State& state) {
  auto& fat = bench::Shared<FatVolume>();
  if (!fat.ready(state)) return;
  bench::RunPeerLoop(state, {"mcopy", "-n", "-i", fat.peer_image(), "::/big.bin", "-"});
  bench::SetByteRate(state, VolumeFixture::kBigBytes);
}

void PeerCreate(benchmark::State& state) {
  auto& fat = bench::Shared<FatVolume>();
  if (!fat.ready(state)) return;
  int set = 0;
  for (auto _ : state) {
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
  bench::Register("fat_write_64MiB", "ours:WriteFile", OursWrite);
  bench::Register("fat_write_64MiB", "peer:mcopy", PeerWrite);
  bench::Register("fat_read_64MiB", "ours:ReadFile", OursRead);
  bench::Register("fat_read_64MiB", "peer:mcopy", PeerRead);
  bench::Register("fat_create_2000_files", "ours:CreateFileW", [](benchmark::State& s) { OursCreate(s, Names::Short); })
      ->Iterations(kSmallSets);
  bench::Register("fat_create_2000_files", "peer:mcopy", PeerCreate)->Iterations(kSmallSets);
  bench::Register("fat_create_2000_long_names", "ours:CreateFileW",
                  [](benchmark::State& s) { OursCreate(s, Names::Long); })
      ->Iterations(1);
  return bench::Main(argc, argv);
}

// The migration's copy routine on a fresh NTFS volume (bench/common/
// volume_fixture.h): src.bin (the first 192 MiB of the fixture's pattern,
// in place of its big.bin: two 256 MiB files would not fit the 512 MiB
// volume) copied to copy.bin on
// the same volume, as a file item of the copy run (CopyFolderTree: 4 MiB
// chunks, access list, attributes and times, progress):
//
//   migrate_copy_192MiB  ours:CopyFolderTree   the migration's copy;
//                        ours:file_api_copy    the floor: 4 MiB ReadFile and
//                                              WriteFile through the same
//                                              driver, nothing else;
//                        peer:ntfscp           ntfscp of the same bytes from
//                                              a host file onto a copy of the
//                                              volume (it mounts the volume
//                                              afresh each run).
//
// Target: at least 0.8x ntfscp. Every pass starts with the images written
// back and out of the page cache; the copy is checked after the runs.
#include <cstdio>
#include <string>
#include <vector>

#include "bench/common/volume_fixture.h"
#include "disk/volume_space.h"
#include "mainapp/migrate/file_copy.h"
#include "mainapp/migrate/migration_copy.h"
#include "mainapp/migrate/migration_state.h"
#include "platform/core/kobject.h"
#include "platform/fs/file_api.h"
#include "platform/fs/volume_set.h"

namespace {

constexpr const char* kWork = "migrate_copy_192MiB";
constexpr uint64_t kWorkBytes = 192 * bench::VolumeFixture::kMiB;

// src.bin on our volume and the same bytes as a host file for ntfscp.
struct CopyVolume : bench::VolumeFixture {
  CopyVolume() : VolumeFixture(bench::FileSystem::Ntfs, bench::PeerCopy::VolumeOnly) {
    peer_source = host().file("src.bin");
    FILE* out = std::fopen(peer_source.c_str(), "wb");
    if (!out) return;
    const bool host_written = std::fwrite(big().data(), 1, kWorkBytes, out) == kWorkBytes;
    if (std::fclose(out) != 0 || !host_written) return;
    // The fixture's big.bin makes room for the source and its copy.
    DeleteFileW((root() + u"big.bin").c_str());
    HANDLE h = CreateFileW((root() + u"src.bin").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    bool ok = true;
    for (uint64_t at = 0; ok && at < kWorkBytes; at += kChunk) {
      DWORD done = 0;
      ok = WriteFile(h, big().data() + at, kChunk, &done, nullptr) && done == kChunk;
    }
    written = CloseHandle(h) && ok;
    platform::fs::ReleaseAllDrivers();
  }
  std::string peer_source;
  bool written = false;
};

CopyVolume& Volume() { return bench::Shared<CopyVolume>(); }

bool Prepare(benchmark::State& state, CopyVolume& v) {
  if (!v.ready(state)) return false;
  if (!v.written) {
    state.SkipWithError("src.bin could not be written");
    return false;
  }
  return true;
}

void Ours(benchmark::State& state) {
  CopyVolume& v = Volume();
  if (!Prepare(state, v)) return;
  const std::u16string source = v.root() + u"src.bin", destination = v.root() + u"copy.bin";
  for (auto _ : state) {
    // settle pauses the timer itself (a second pause would stop the run).
    state.PauseTiming();
    // Either side's copy is removed first: the volume holds only one.
    DeleteFileW((v.root() + u"copy.bin").c_str());
    DeleteFileW((v.root() + u"floor.bin").c_str());
    MigrationProgress = MigrationProgressRecord{};
    MigrationState.totalBytes = kWorkBytes;
    state.ResumeTiming();
    if (!v.settle(state, bench::CacheState::Cold)) return;
    if (!CopyFolderTree(source, destination, false, false) ||
        MigrationProgress.copiedBytes != kWorkBytes) {
      state.SkipWithError("the copy failed");
      return;
    }
    platform::fs::ReleaseAllDrivers();  // the copy is on the image
  }
  bench::SetByteRate(state, kWorkBytes);
}

void Floor(benchmark::State& state) {
  CopyVolume& v = Volume();
  if (!Prepare(state, v)) return;
  const std::u16string source = v.root() + u"src.bin", destination = v.root() + u"floor.bin";
  std::vector<BYTE> buffer(kCopyChunkBytes);
  for (auto _ : state) {
    state.PauseTiming();
    // Either side's copy is removed first: the volume holds only one.
    DeleteFileW((v.root() + u"copy.bin").c_str());
    DeleteFileW((v.root() + u"floor.bin").c_str());
    state.ResumeTiming();
    if (!v.settle(state, bench::CacheState::Cold)) return;
    HANDLE in = CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE out = CreateFileW(destination.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    uint64_t moved = 0;
    DWORD got = 0, put = 0;
    while (in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE &&
           ReadFile(in, buffer.data(), kCopyChunkBytes, &got, nullptr) && got > 0 &&
           WriteFile(out, buffer.data(), got, &put, nullptr) && put == got)
      moved += got;
    if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
    if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    if (moved != kWorkBytes) {
      state.SkipWithError("the plain copy failed");
      return;
    }
    platform::fs::ReleaseAllDrivers();
  }
  bench::SetByteRate(state, kWorkBytes);
}

void Peer(benchmark::State& state) {
  CopyVolume& v = Volume();
  if (!Prepare(state, v)) return;
  for (auto _ : state) {
    if (!v.settle(state, bench::CacheState::Cold, true)) return;
    if (bench::RunTool({"ntfscp", "-f", "-q", v.peer_image(), v.peer_source, "copy.bin"}) != 0) {
      state.SkipWithError("ntfscp failed");
      return;
    }
  }
  bench::SetByteRate(state, kWorkBytes);
}

}  // namespace

int main(int argc, char** argv) {
  bench::Register(kWork, "peer:ntfscp", Peer)->Iterations(2)->Repetitions(3)->DisplayAggregatesOnly(true);
  bench::Register(kWork, "ours:CopyFolderTree", Ours)->Iterations(2)->Repetitions(3)->DisplayAggregatesOnly(true);
  bench::Register(kWork, "ours:file_api_copy", Floor)->Iterations(2)->Repetitions(3)->DisplayAggregatesOnly(true);
  bench::SetTargetVsPeer(kWork, 0.8);
  return bench::Main(argc, argv);
}

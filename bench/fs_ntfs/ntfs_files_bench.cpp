// The NTFS driver through the file API beside ntfs-3g's own tools, on
// identical fresh NTFS volumes (4 KiB clusters; see
// bench/common/volume_fixture.h):
//
//   ntfs_write_64MiB   ours: CreateFileW("X:\big.bin", CREATE_ALWAYS), 1 MiB
//                      WriteFiles, CloseHandle; peer: ntfscp of a host file
//                      holding the same bytes;
//   ntfs_read_64MiB    ours: 1 MiB ReadFiles of that file; peer: ntfscat of
//                      it to /dev/null.
//
// Both sides write and read through the same library, libntfs-3g, so the
// ratio is the cost of our layer over it (path resolution, handles, the
// driver's open-file state and flushing), not a comparison of NTFS code.
// The peer runs on a copy of the volume's bytes (ntfs-3g's tools take a
// volume, not a disk with an offset) and mounts it afresh each run, which it
// pays for in its time.
#include <string>

#include "bench/common/volume_fixture.h"

namespace {

using bench::VolumeFixture;

struct NtfsVolume : VolumeFixture {
  NtfsVolume() : VolumeFixture(bench::FileSystem::Ntfs, bench::PeerCopy::VolumeOnly) {
    if (!peer_image().empty()) bench::RunTool({"ntfscp", "-f", "-q", peer_image(), big_source(), "big.bin"});
  }
};

void OursWrite(benchmark::State& state) {
  auto& ntfs = bench::Shared<NtfsVolume>();
  if (ntfs.ready(state)) bench::WriteBigLoop(state, ntfs);
}

void OursRead(benchmark::State& state) {
  auto& ntfs = bench::Shared<NtfsVolume>();
  if (ntfs.ready(state)) bench::ReadBigLoop(state, ntfs);
}

void PeerWrite(benchmark::State& state) {
  auto& ntfs = bench::Shared<NtfsVolume>();
  if (!ntfs.ready(state)) return;
  bench::RunPeerLoop(state, {"ntfscp", "-f", "-q", ntfs.peer_image(), ntfs.big_source(), "big.bin"});
  bench::SetByteRate(state, VolumeFixture::kBigBytes);
}

void PeerRead(benchmark::State& state) {
  auto& ntfs = bench::Shared<NtfsVolume>();
  if (!ntfs.ready(state)) return;
  bench::RunPeerLoop(state, {"ntfscat", "-f", ntfs.peer_image(), "/big.bin"});
  bench::SetByteRate(state, VolumeFixture::kBigBytes);
}

}  // namespace

int main(int argc, char** argv) {
  bench::Register("ntfs_write_64MiB", "ours:WriteFile", OursWrite);
  bench::Register("ntfs_write_64MiB", "peer:ntfscp", PeerWrite);
  bench::Register("ntfs_read_64MiB", "ours:ReadFile", OursRead);
  bench::Register("ntfs_read_64MiB", "peer:ntfscat", PeerRead);
  return bench::Main(argc, argv);
}

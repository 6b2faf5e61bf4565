// The NTFS driver (libntfs-3g on the image) through the file API beside dd
// moving the same bytes into and out of the same image, and beside ntfs-3g's
// own tools, on a fresh NTFS volume (4 KiB clusters; see
// bench/common/volume_fixture.h):
//
//   ntfs_write_256MiB   ours: CreateFileW("X:\big.bin", CREATE_ALWAYS), 1 MiB
//                       WriteFiles, CloseHandle; peer: dd of a host file
//                       holding the same bytes into the clusters big.bin
//                       occupies on our image; extra peers: the same dd with
//                       conv=fdatasync (a write that reaches the disk), and
//                       ntfscp of the host file onto a copy of the volume;
//   ntfs_read_256MiB    ours: 1 MiB ReadFiles of big.bin; peer: dd of its
//                       clusters to /dev/null; extra peer: ntfscat of it to
//                       /dev/null from the copy. Both sides start with the
//                       image out of the host's page cache;
//   ntfs_read_256MiB_cached   the same with the image cached on both sides.
//
// Target: at least 0.5x dd. ntfscp and ntfscat go through the same library,
// libntfs-3g, so their rows show the cost of our layer over it (path
// resolution, handles, the driver's open-file state and flushing); they mount
// the volume afresh each run and pay for it in their time.
#include <string>

#include "bench/common/volume_fixture.h"

namespace {

using bench::VolumeFixture;

struct NtfsVolume : VolumeFixture {
  NtfsVolume() : VolumeFixture(bench::FileSystem::Ntfs, bench::PeerCopy::VolumeOnly) {
    if (!peer_image().empty()) bench::RunTool({"ntfscp", "-f", "-q", peer_image(), big_source(), "big.bin"});
  }
};

}  // namespace

int main(int argc, char** argv) {
  bench::RegisterBigFileWorks(
      "ntfs", []() -> VolumeFixture& { return bench::Shared<NtfsVolume>(); },
      {"peer:ntfscp",
       [](VolumeFixture& f) {
         return std::vector<std::string>{"ntfscp", "-f", "-q", f.peer_image(), f.big_source(), "big.bin"};
       }},
      {"peer:ntfscat",
       [](VolumeFixture& f) { return std::vector<std::string>{"ntfscat", "-f", f.peer_image(), "/big.bin"}; }});
  return bench::Main(argc, argv);
}

// A file-system benchmark's ground: a simulated PC whose disk 0 (514 MiB,
// 512-byte sectors) holds one 512 MiB volume at 1 MiB, made by mkfs.fat or
// mkntfs, booted with a drive letter; an identical fresh copy of its bytes for
// the file-system peer tool (the whole disk for mtools' IMAGE@@OFFSET, or the
// volume alone for ntfs-3g's tools); and a 256 MiB pattern, also as a host
// file for the peers. Both images have their holes filled, so neither side
// pays for allocation in the host file system. Ours starts with big.bin on
// its volume.
//
// The file is measured against dd moving the same bytes into (or out of) the
// same image at the same place: the places big.bin occupies on our image are
// found after our write by the file system's own Debian tools (mshowfat and
// minfo, ntfscluster), checked by reading the file's bytes back from them,
// and dd copies each of those extents. Before every pass of either side the
// images' dirty pages are written back outside the timing; reads start with
// the image's pages dropped from the host's page cache (or, for the "cached"
// works, all of it cached) on both sides alike.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "bench/common/bench_support.h"

namespace bench {

enum class PeerCopy { WholeDisk, VolumeOnly };

// `length` bytes of a file, from `file_offset` in the file, stored at
// `image_offset` in the disk image.
struct Extent {
  uint64_t file_offset = 0;
  uint64_t image_offset = 0;
  uint64_t length = 0;
};

class VolumeFixture {
 public:
  static constexpr uint64_t kMiB = 1ull << 20;
  static constexpr uint64_t kVolumeOffset = 1 * kMiB;
  static constexpr uint64_t kVolumeBytes = 512 * kMiB;
  static constexpr uint64_t kBigBytes = 256 * kMiB;
  static constexpr size_t kChunk = kMiB;

  VolumeFixture(FileSystem fs, PeerCopy copy);

  // False, with the reason given to the benchmark, when the fixture failed.
  bool ready(benchmark::State& state) const;

  // "X:\" of the volume.
  const std::u16string& root() const { return root_; }
  // Our disk image.
  const std::string& image() const { return image_; }
  // The peer's image: "PATH@@OFFSET" for a whole disk, else the path.
  const std::string& peer_image() const { return peer_image_; }
  const std::string& big_source() const { return big_source_; }
  const AlignedBuffer& big() const { return big_; }
  ScratchFolder& host() { return host_; }

  // big.bin through the file API: CreateFileW(CREATE_ALWAYS), 1 MiB
  // WriteFiles, (with `sync`) FlushFileBuffers, CloseHandle. False with *why
  // on the first failure.
  bool write_big(std::string* why, bool sync = false);
  // Lets go of the driver, so everything is on the image, then has the
  // peer's tool (mcopy, or ntfscat on a copy of the volume) read big.bin from
  // our image and compares it with the source: a write benchmark's numbers
  // count only when the file really landed. False with *why otherwise.
  bool check_big_with_peer_tool(std::string* why);
  // big.bin read back in 1 MiB ReadFiles into `chunk`; false with *why when
  // it fails or brings other than kBigBytes. `chunk` ends holding the last MiB.
  bool read_big(AlignedBuffer& chunk, std::string* why);

  // Where big.bin lies on our image now, in file order, adjacent runs joined:
  // lets go of the driver, asks the file system's tool, and checks that the
  // extents hold exactly the file's bytes. False with *why otherwise.
  bool locate_big(std::vector<Extent>* extents, std::string* why);

  // Outside the timing: our image (and the peer's, when `peer_image`) written
  // back and left in `cache`. A failure ends the benchmark with its reason.
  bool settle(benchmark::State& state, CacheState cache, bool peer_image = false);

 private:
  // A copy of the volume's bytes (holes kept) at `path`, for ntfs-3g's tools.
  bool copy_volume_out(const std::string& path);
  bool locate_fat(std::vector<Extent>* extents, std::string* why);
  bool locate_ntfs(std::vector<Extent>* extents, std::string* why);

  FileSystem fs_;
  BenchPc pc_;
  ScratchFolder host_;
  AlignedBuffer big_{kBigBytes, 3};
  std::u16string root_;
  std::string image_;
  std::string peer_path_;
  std::string peer_image_;
  std::string big_source_;
  std::string error_;
};

// A file-system peer tool's command on the fixture's peer image, with its
// side name ("peer:mcopy").
struct PeerTool {
  std::string side;
  std::function<std::vector<std::string>(VolumeFixture&)> argv;
};

// Registers the big-file works PREFIX_write_256MiB, PREFIX_read_256MiB and
// PREFIX_read_256MiB_cached on the fixture `fixture` gives (made on first
// use), each held to at least 0.5x dd:
//   write   ours: write_big (CreateFileW, 1 MiB WriteFiles, CloseHandle),
//           checked afterwards with the peer's tool; peer: dd of the host
//           file into big.bin's extents on our image; extra peers: the same
//           dd with conv=fdatasync (a write that reaches the disk), and
//           `writer` on the peer's image;
//   read    ours: read_big from a freshly mounted volume; peer: dd of the
//           extents to /dev/null; extra peer: `reader` on the peer's image;
//           every pass starts with the images out of the page cache;
//   cached  the same reads, ours and dd, with the image cached;
//   synced  PREFIX_write_256MiB_synced: the write made durable on both sides,
//           dd conv=fdatasync first (the peer), ours write_big with
//           FlushFileBuffers before the close; held to 0.9x.
// Every write pass of ours is checked with the peer's tool (outside the timing).
// Every row runs two passes per run, three runs, and the table takes the
// median run; the runs of all rows are interleaved in a random order
// (InterleaveRunsByDefault). A host disk's pace wanders (its own write-back
// of earlier passes, other work on the machine), and neither one unlucky run
// nor a fixed order may decide a ratio.
void RegisterBigFileWorks(const std::string& prefix, std::function<VolumeFixture&()> fixture, PeerTool writer,
                          PeerTool reader);

}  // namespace bench

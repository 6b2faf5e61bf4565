// A file-system benchmark's ground: a simulated PC whose disk 0 (384 MiB,
// 512-byte sectors) holds one 320 MiB volume at 1 MiB, made by mkfs.fat or
// mkntfs, booted with a drive letter; an identical fresh copy of its bytes for
// the peer tool (the whole disk for mtools' IMAGE@@OFFSET, or the volume alone
// for ntfs-3g's tools); and a 64 MiB pattern, also as a host file for the peer.
// Both images have their holes filled, so neither side pays for allocation in
// the host file system. Ours starts with big.bin on its volume; the benchmark
// puts it on the peer's image with its tool.
#pragma once

#include <string>

#include "bench/common/bench_support.h"

namespace bench {

enum class PeerCopy { WholeDisk, VolumeOnly };

class VolumeFixture {
 public:
  static constexpr uint64_t kMiB = 1ull << 20;
  static constexpr uint64_t kVolumeOffset = 1 * kMiB;
  static constexpr uint64_t kVolumeBytes = 320 * kMiB;
  static constexpr uint64_t kBigBytes = 64 * kMiB;
  static constexpr size_t kChunk = kMiB;

  VolumeFixture(FileSystem fs, PeerCopy copy);

  // False, with the reason given to the benchmark, when the fixture failed.
  bool ready(benchmark::State& state) const;

  // "X:\" of the volume.
  const std::u16string& root() const { return root_; }
  // The peer's image: "PATH@@OFFSET" for a whole disk, else the path.
  const std::string& peer_image() const { return peer_image_; }
  const std::string& big_source() const { return big_source_; }
  const AlignedBuffer& big() const { return big_; }
  ScratchFolder& host() { return host_; }

  // big.bin through the file API: CreateFileW(CREATE_ALWAYS), 1 MiB
  // WriteFiles, CloseHandle. False with *why on the first failure.
  bool write_big(std::string* why);
  // Lets go of the driver, so everything is on the image, then has the
  // peer's tool (mcopy, or ntfscat on a copy of the volume) read big.bin from
  // our image and compares it with the source: a write benchmark's numbers
  // count only when the file really landed. False with *why otherwise.
  bool check_big_with_peer_tool(std::string* why);
  // big.bin read back in 1 MiB ReadFiles into `chunk`; false with *why when
  // it fails or brings other than kBigBytes. `chunk` ends holding the last MiB.
  bool read_big(AlignedBuffer& chunk, std::string* why);

 private:
  FileSystem fs_;
  BenchPc pc_;
  ScratchFolder host_;
  AlignedBuffer big_{kBigBytes, 3};
  std::u16string root_;
  std::string peer_image_;
  std::string big_source_;
  std::string error_;
};

// The file-API side of the big-file benchmarks: write_big or read_big once
// per iteration, the byte rate, and a check that the last MiB read is the
// last MiB written.
void WriteBigLoop(benchmark::State& state, VolumeFixture& fixture);
void ReadBigLoop(benchmark::State& state, VolumeFixture& fixture);

}  // namespace bench

#include "bench/common/volume_fixture.h"

#include <cstdio>
#include <cstring>

#include "platform/core/error.h"
#include "platform/core/kobject.h"
#include "platform/fs/file_api.h"
#include "platform/fs/volume_set.h"

namespace bench {

namespace {

constexpr uint64_t kDiskBytes = 384 * VolumeFixture::kMiB;

std::string ErrorText(const std::string& what) { return what + " failed with error " + std::to_string(GetLastError()); }

}  // namespace

VolumeFixture::VolumeFixture(FileSystem fs, PeerCopy copy) : fs_(fs) {
  if (!pc_.add_disk(0, kDiskBytes) || !pc_.add_volume(0, kVolumeOffset, kVolumeBytes, fs)) {
    error_ = pc_.error();
    return;
  }
  const std::string image = host_.file("peer.img");
  if (copy == PeerCopy::WholeDisk) {
    if (!CopySparse(pc_.image(0), image, &error_)) return;
    peer_image_ = image + "@@" + std::to_string(kVolumeOffset);
  } else {
    if (RunTool({"dd", "if=" + pc_.image(0), "of=" + image, "bs=1M", "skip=" + std::to_string(kVolumeOffset / kMiB),
                 "count=" + std::to_string(kVolumeBytes / kMiB), "conv=sparse", "status=none"}) != 0) {
      error_ = "dd could not copy the volume for the peer";
      return;
    }
    peer_image_ = image;
  }
  if (!AllocateFile(pc_.image(0), &error_) || !AllocateFile(image, &error_)) return;
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

bool VolumeFixture::write_big(std::string* why) {
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
    status = RunTool({"mcopy", "-n", "-i", pc_.image(0) + "@@" + std::to_string(kVolumeOffset), "::/big.bin", "-"}, out);
  } else {
    const std::string volume = host_.file("ours-volume.img");
    status = RunTool({"dd", "if=" + pc_.image(0), "of=" + volume, "bs=1M",
                      "skip=" + std::to_string(kVolumeOffset / kMiB), "count=" + std::to_string(kVolumeBytes / kMiB),
                      "conv=sparse", "status=none"});
    if (status == 0) status = RunTool({"ntfscat", "-f", volume, "/big.bin"}, out);
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

void WriteBigLoop(benchmark::State& state, VolumeFixture& fixture) {
  std::string why;
  for (auto _ : state) {
    if (!fixture.write_big(&why)) {
      state.SkipWithError(why.c_str());
      return;
    }
  }
  if (!fixture.check_big_with_peer_tool(&why)) state.SkipWithError(why.c_str());
  SetByteRate(state, VolumeFixture::kBigBytes);
}

void ReadBigLoop(benchmark::State& state, VolumeFixture& fixture) {
  AlignedBuffer chunk(VolumeFixture::kChunk);
  std::string why;
  for (auto _ : state) {
    if (!fixture.read_big(chunk, &why)) {
      state.SkipWithError(why.c_str());
      return;
    }
  }
  if (std::memcmp(chunk.data(), fixture.big().data() + VolumeFixture::kBigBytes - chunk.size(), chunk.size()) != 0)
    state.SkipWithError("big.bin read back different bytes");
  SetByteRate(state, VolumeFixture::kBigBytes);
}

}  // namespace bench

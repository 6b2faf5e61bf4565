#include "bench/clone/clone_bench_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "disk/disk_context.h"
#include "mainapp/clone/one_click_copy.h"
#include "mainapp/records/clone_run_state.h"
#include "mainapp/records/clone_settings.h"
#include "platform/core/kobject.h"
#include "platform/fs/file_api.h"
#include "platform/fs/volume_set.h"
#include "platform/storage/mount_manager.h"
#include "platform/ui/headless_driver.h"
#include "program_support/shell_state.h"
#include "tests/support/headless_run.h"

namespace clone_bench {

namespace {

constexpr uint64_t kKiB = 1024;
constexpr uint64_t kChunk = 1ull << 20;
constexpr int kLargeFiles = 8;
constexpr int kFilesPerFolder = 100;

bool WriteFileOf(const std::u16string& path, uint64_t size, uint64_t seed, bench::AlignedBuffer& chunk) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  for (uint64_t at = 0; ok && at < size; at += kChunk) {
    const uint64_t mark = seed * 1000003 + at;
    std::memcpy(chunk.data(), &mark, sizeof mark);  // no two chunks alike
    const DWORD n = static_cast<DWORD>(std::min(kChunk, size - at));
    DWORD written = 0;
    ok = WriteFile(h, chunk.data(), n, &written, nullptr) && written == n;
  }
  return CloseHandle(h) && ok;
}

std::u16string Path(WCHAR letter, const std::string& rest) {
  std::u16string path{letter, u':', u'\\'};
  for (char c : rest) path += static_cast<char16_t>(c);
  return path;
}

}  // namespace

uint64_t MiBFromEnvironment(const char* name, uint64_t fallbackMiB) {
  const char* v = std::getenv(name);
  const uint64_t mib = v && *v ? std::strtoull(v, nullptr, 10) : 0;
  return (mib ? mib : fallbackMiB) << 20;
}

bool FillVolume(bench::BenchPc& pc, int disk, uint64_t bytes, std::string* error) {
  const WCHAR letter = pc.letter_of(disk);
  if (!letter) {
    *error = pc.error();
    return false;
  }
  bench::AlignedBuffer chunk(kChunk, 7);
  const uint64_t large = bytes * 3 / 4 / kLargeFiles / (64 * kKiB) * (64 * kKiB);
  uint64_t seed = 1;
  for (int i = 0; i < kLargeFiles; ++i)
    if (!WriteFileOf(Path(letter, "LARGE" + std::to_string(i) + ".BIN"), large, seed++, chunk)) {
      *error = "a large file could not be written";
      return false;
    }
  uint64_t left = bytes - large * kLargeFiles;
  for (int n = 0; left > 0; ++n) {
    const std::string folder = "SMALL" + std::to_string(n / kFilesPerFolder);
    if (n % kFilesPerFolder == 0 && !CreateDirectoryW(Path(letter, folder).c_str(), nullptr)) {
      *error = "a folder could not be made";
      return false;
    }
    const uint64_t size = std::min(left, (16 + 16 * static_cast<uint64_t>(n % 7)) * kKiB);
    if (!WriteFileOf(Path(letter, folder + "\\F" + std::to_string(n) + ".DAT"), size, seed++, chunk)) {
      *error = "a small file could not be written";
      return false;
    }
    left -= size;
  }
  platform::fs::ReleaseAllDrivers();
  return true;
}

bool FillVolumeWithOneFile(bench::BenchPc& pc, int disk, uint64_t bytes, std::string* error) {
  const WCHAR letter = pc.letter_of(disk);
  if (!letter) {
    *error = pc.error();
    return false;
  }
  bench::AlignedBuffer chunk(kChunk, 11);
  if (!WriteFileOf(Path(letter, "ONE.BIN"), bytes / (64 * kKiB) * (64 * kKiB), 1, chunk)) {
    *error = "the file could not be written";
    return false;
  }
  platform::fs::ReleaseAllDrivers();
  return true;
}

bool EmptyDisk(bench::BenchPc& pc, int disk, std::string* error) {
  platform::fs::ReleaseAllDrivers();
  const std::string image = pc.image(disk);
  struct stat st {};
  if (::stat(image.c_str(), &st) != 0 || ::truncate(image.c_str(), 0) != 0 ||
      ::truncate(image.c_str(), st.st_size) != 0) {
    *error = "cannot empty " + image;
    return false;
  }
  platform::storage::RescanAll();
  return true;
}

std::string RunOneClickCopy() {
  ShellState = ShellStateRecord{};
  DiskContext = DiskContextRecord{};
  CloneSettings = CloneSettingsRecord{};
  CloneRunState = CloneRunStateRecord{};
  platform::ui::Script script;
  script.expect_dialog(191).click(1011).answer("ok").expect_dialog(138).key("escape");
  std::string failure = test_support::FailureReport(test_support::RunHeadless(script, [] { OnOneClickCopy(nullptr); }));
  if (failure.empty() && CloneRunState.cloneAborted) failure = "the clone did not complete";
  if (failure.empty() && DiskContext.ioErrorCount) failure = "the clone met I/O errors";
  platform::fs::ReleaseAllDrivers();
  return failure;
}

}  // namespace clone_bench

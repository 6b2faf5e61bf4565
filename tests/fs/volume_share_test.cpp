// The change counts of a machine folder's volumes (DIR/volumes.lock): every
// volume keeps one record however often it changes, and a reader that opens
// the file afresh, as another process does, finds each volume's own count,
// wherever its record lies in the file.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdint>
#include <vector>

#include "platform/fs/volume_share.h"
#include "tests/support/temp_folder.h"

namespace {

using platform::fs::SharedVolumeKey;
using platform::fs::VolumeShareLock;

TEST(VolumeShare, EveryVolumeKeepsOneRecordAndItsOwnCount) {
  test_support::TempFolder dir;
  auto writer = VolumeShareLock::open(dir.path());
  ASSERT_NE(writer, nullptr);
  ASSERT_TRUE(writer->lock());
  // More volumes than one read of the file takes in, each changed 1 to 3
  // times, the changes interleaved so later records are found again.
  constexpr uint64_t kVolumes = 150;
  auto key_of = [](uint64_t i) { return SharedVolumeKey{7, 1000 + i / 4, (i % 4) << 20}; };
  std::vector<uint64_t> expected(kVolumes, 0);
  for (uint64_t round = 0; round < 3; ++round) {
    for (uint64_t i = 0; i < kVolumes; ++i) {
      if (round > i % 3) continue;
      EXPECT_EQ(writer->bump(key_of(i)), ++expected[i]) << i;
    }
  }
  writer->unlock();

  struct stat st {};
  ASSERT_EQ(::stat(dir.file("volumes.lock").c_str(), &st), 0);
  EXPECT_EQ(static_cast<uint64_t>(st.st_size), kVolumes * 32);

  auto reader = VolumeShareLock::open(dir.path());
  ASSERT_NE(reader, nullptr);
  ASSERT_TRUE(reader->lock());
  for (uint64_t i = 0; i < kVolumes; ++i) EXPECT_EQ(reader->generation(key_of(i)), expected[i]) << i;
  // Never changed: no record, count 0; the same image at another offset is another volume.
  EXPECT_EQ(reader->generation(SharedVolumeKey{7, 1000, 5 << 20}), 0u);
  EXPECT_EQ(reader->generation(SharedVolumeKey{8, 1000, 0}), 0u);
  // A change seen by the second reader continues the first one's count.
  EXPECT_EQ(reader->bump(key_of(kVolumes - 1)), expected[kVolumes - 1] + 1);
  reader->unlock();
}

}  // namespace

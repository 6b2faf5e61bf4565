// Reading and writing disks and volumes through handles.
#include <gtest/gtest.h>

#include <fstream>
#include <numeric>

#include "platform/core/error.h"
#include "platform/core/kobject.h"
#include "storage/device_fixture.h"

using namespace platform::storage;
using storage_test::DeviceFixture;
using storage_test::Open;
using storage_test::Pattern;
using storage_test::SeekTo;

namespace {

constexpr uint64_t MiB = 1 << 20;

std::vector<uint8_t> FileBytes(const std::string& path, uint64_t offset, size_t length) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  std::vector<uint8_t> bytes(length);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(length));
  bytes.resize(static_cast<size_t>(in.gcount()));
  return bytes;
}

class DeviceIo : public ::testing::TestWithParam<uint32_t> {};

TEST_P(DeviceIo, DiskTransfersLandInTheImage) {
  const uint32_t ss = GetParam();
  DeviceFixture f;
  f.add_disk(0, 16 * MiB, ss);
  HANDLE h = Open(u"\\\\.\\PhysicalDrive0", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  FILE_FLAG_NO_BUFFERING | FILE_FLAG_WRITE_THROUGH);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  LARGE_INTEGER size;
  ASSERT_TRUE(GetFileSizeEx(h, &size));
  EXPECT_EQ(size.QuadPart, static_cast<LONGLONG>(16 * MiB));

  auto data = Pattern(8 * ss, 3);
  ASSERT_TRUE(SeekTo(h, 5 * ss));
  DWORD done = 0;
  ASSERT_TRUE(WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &done, nullptr));
  EXPECT_EQ(done, data.size());
  EXPECT_EQ(FileBytes(f.image_path(0), 5 * ss, data.size()), data);  // the image file itself, read independently

  std::vector<uint8_t> back(data.size());
  ASSERT_TRUE(SeekTo(h, 5 * ss));
  ASSERT_TRUE(ReadFile(h, back.data(), static_cast<DWORD>(back.size()), &done, nullptr));
  EXPECT_EQ(done, back.size());
  EXPECT_EQ(back, data);
  // The position advanced by the transfer.
  LARGE_INTEGER zero{}, now;
  ASSERT_TRUE(SetFilePointerEx(h, zero, &now, FILE_CURRENT));
  EXPECT_EQ(now.QuadPart, static_cast<LONGLONG>(13 * ss));
  CloseHandle(h);
}

TEST_P(DeviceIo, UnbufferedHandlesRefuseMisalignedTransfers) {
  const uint32_t ss = GetParam();
  DeviceFixture f;
  f.add_disk(0, 4 * MiB, ss);
  struct Case {
    uint64_t offset;
    DWORD length;
    bool ok;
  };
  const Case cases[] = {
      {0, ss, true},          {ss * 3, ss * 2, true}, {512, ss, ss == 512}, {0, 512, ss == 512},
      {1, ss, false},         {0, ss + 1, false},     {ss, 100, false},     {4 * MiB - ss, ss, true},
  };
  std::vector<uint8_t> buffer(4 * ss + 512);
  for (bool writing : {false, true}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::to_string(c.offset) + "+" + std::to_string(c.length) + (writing ? " write" : " read"));
      HANDLE h = Open(u"\\\\.\\PhysicalDrive0", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      FILE_FLAG_NO_BUFFERING);
      ASSERT_TRUE(SeekTo(h, c.offset));
      DWORD done = 99;
      BOOL ok = writing ? WriteFile(h, buffer.data(), c.length, &done, nullptr)
                        : ReadFile(h, buffer.data(), c.length, &done, nullptr);
      EXPECT_EQ(ok != 0, c.ok);
      if (!ok) {
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
        EXPECT_EQ(done, 0u);
      }
      CloseHandle(h);
      // A buffered handle takes any transfer.
      h = Open(u"\\\\.\\PhysicalDrive0");
      ASSERT_TRUE(SeekTo(h, c.offset));
      EXPECT_TRUE(writing ? WriteFile(h, buffer.data(), c.length, &done, nullptr)
                          : ReadFile(h, buffer.data(), c.length, &done, nullptr));
      CloseHandle(h);
    }
  }
}

TEST_P(DeviceIo, TransfersAtTheEnd) {
  const uint32_t ss = GetParam();
  DeviceFixture f;
  f.add_disk(0, 1 * MiB, ss);
  HANDLE h = Open(u"\\\\.\\PhysicalDrive0");
  std::vector<uint8_t> buffer(4 * ss, 0xEE);
  DWORD done = 99;
  // Exactly at the end, and past it: success with nothing read.
  for (uint64_t at : {uint64_t{MiB}, uint64_t{MiB + 8 * ss}}) {
    ASSERT_TRUE(SeekTo(h, at));
    EXPECT_TRUE(ReadFile(h, buffer.data(), ss, &done, nullptr));
    EXPECT_EQ(done, 0u);
    EXPECT_FALSE(WriteFile(h, buffer.data(), ss, &done, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_SECTOR_NOT_FOUND);
  }
  // Running over the end moves what is inside.
  ASSERT_TRUE(SeekTo(h, MiB - ss));
  EXPECT_TRUE(ReadFile(h, buffer.data(), 4 * ss, &done, nullptr));
  EXPECT_EQ(done, ss);
  ASSERT_TRUE(SeekTo(h, MiB - ss));
  EXPECT_TRUE(WriteFile(h, buffer.data(), 4 * ss, &done, nullptr));
  EXPECT_EQ(done, ss);
  EXPECT_EQ(std::filesystem::file_size(f.image_path(0)), MiB);  // the image did not grow
  // Seeking before the start fails; the position stays.
  LARGE_INTEGER back;
  back.QuadPart = -1;
  EXPECT_FALSE(SetFilePointerEx(h, back, nullptr, FILE_BEGIN));
  EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
  CloseHandle(h);
  // Bad handles are errors.
  EXPECT_FALSE(ReadFile(h, buffer.data(), ss, &done, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_P(DeviceIo, AccessRightsLimitTransfers) {
  const uint32_t ss = GetParam();
  DeviceFixture f;
  f.add_disk(0, 1 * MiB, ss);
  std::vector<uint8_t> buffer(ss);
  DWORD done;
  HANDLE reader = Open(u"\\\\.\\PhysicalDrive0", GENERIC_READ);
  EXPECT_TRUE(ReadFile(reader, buffer.data(), ss, &done, nullptr));
  EXPECT_FALSE(WriteFile(reader, buffer.data(), ss, &done, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  HANDLE query = Open(u"\\\\.\\PhysicalDrive0", 0);
  EXPECT_FALSE(ReadFile(query, buffer.data(), ss, &done, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  CloseHandle(reader);
  CloseHandle(query);
}

TEST_P(DeviceIo, VolumeHandleIsAWindowOntoItsPartition) {
  const uint32_t ss = GetParam();
  DeviceFixture f;
  f.add_disk(0, 16 * MiB, ss);
  f.add_volume(0, 1, 2 * MiB, 4 * MiB, 'E', "11111111-2222-3333-4444-555555555555");
  std::vector<std::tuple<int, uint64_t, uint64_t, RawAccess>> seen;
  int listener = AddRawAccessListener([&](int disk, uint64_t offset, uint64_t length, RawAccess kind) {
    seen.emplace_back(disk, offset, length, kind);
  });

  HANDLE v = Open(u"\\\\.\\E:", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_FLAG_NO_BUFFERING);
  ASSERT_NE(v, INVALID_HANDLE_VALUE);
  LARGE_INTEGER size;
  ASSERT_TRUE(GetFileSizeEx(v, &size));
  EXPECT_EQ(size.QuadPart, static_cast<LONGLONG>(4 * MiB));
  auto data = Pattern(2 * ss, 9);
  DWORD done;
  ASSERT_TRUE(SeekTo(v, ss));
  ASSERT_TRUE(WriteFile(v, data.data(), 2 * ss, &done, nullptr));
  EXPECT_EQ(FileBytes(f.image_path(0), 2 * MiB + ss, data.size()), data);
  // Told before the write (views let go) and after it (other processes learn of it).
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], std::make_tuple(0, 2 * MiB + ss, uint64_t{2} * ss, RawAccess::Write));
  EXPECT_EQ(seen[1], std::make_tuple(0, 2 * MiB + ss, uint64_t{2} * ss, RawAccess::Written));

  // Reading stops at the partition's end, not the disk's.
  std::vector<uint8_t> buffer(4 * ss);
  ASSERT_TRUE(SeekTo(v, 4 * MiB - ss));
  ASSERT_TRUE(ReadFile(v, buffer.data(), 4 * ss, &done, nullptr));
  EXPECT_EQ(done, ss);
  EXPECT_EQ(seen.back(), std::make_tuple(0, 6 * MiB - ss, uint64_t{ss}, RawAccess::Read));
  EXPECT_TRUE(f.rescans.empty());  // nothing touched sector 0
  CloseHandle(v);
  RemoveRawAccessListener(listener);
}

TEST_P(DeviceIo, WritingSectorZeroAsksForARescan) {
  const uint32_t ss = GetParam();
  DeviceFixture f;
  f.add_disk(4, 1 * MiB, ss);
  HANDLE h = Open(u"\\\\.\\PhysicalDrive4");
  std::vector<uint8_t> buffer(ss);
  DWORD done;
  ASSERT_TRUE(SeekTo(h, ss));
  ASSERT_TRUE(WriteFile(h, buffer.data(), ss, &done, nullptr));
  EXPECT_TRUE(f.rescans.empty());
  ASSERT_TRUE(SeekTo(h, 0));
  ASSERT_TRUE(WriteFile(h, buffer.data(), ss, &done, nullptr));
  EXPECT_EQ(f.rescans, std::vector<int>{4});
  CloseHandle(h);
}

TEST_P(DeviceIo, FaultInjectionHitsOnlyTheListedSectors) {
  const uint32_t ss = GetParam();
  DeviceFixture f;
  platform::machine::DiskConfig config;
  config.faults.unreadable = {{100, 199}, {300, 300}};
  config.faults.failing_writes = {{50, 59}};
  f.add_disk(0, 2 * MiB, ss, config);
  HANDLE h = Open(u"\\\\.\\PhysicalDrive0", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  FILE_FLAG_NO_BUFFERING);
  struct Case {
    uint64_t sector;
    DWORD count;
    bool write;
    DWORD error;  // 0 = succeeds
  };
  const Case cases[] = {
      {99, 1, false, 0},          {100, 1, false, ERROR_CRC}, {150, 1, false, ERROR_CRC}, {199, 1, false, ERROR_CRC},
      {200, 1, false, 0},         {98, 4, false, ERROR_CRC},  {299, 1, false, 0},         {300, 1, false, ERROR_CRC},
      {301, 8, false, 0},         {100, 1, true, 0},          {49, 1, true, 0},           {50, 1, true, ERROR_WRITE_FAULT},
      {45, 8, true, ERROR_WRITE_FAULT}, {60, 1, true, 0},     {59, 1, false, 0},
  };
  std::vector<uint8_t> buffer(8 * ss);
  for (const auto& c : cases) {
    SCOPED_TRACE("sector " + std::to_string(c.sector) + " x" + std::to_string(c.count) + (c.write ? " write" : " read"));
    ASSERT_TRUE(SeekTo(h, c.sector * ss));
    DWORD done = 99;
    BOOL ok = c.write ? WriteFile(h, buffer.data(), c.count * ss, &done, nullptr)
                      : ReadFile(h, buffer.data(), c.count * ss, &done, nullptr);
    if (c.error) {
      EXPECT_FALSE(ok);
      EXPECT_EQ(GetLastError(), c.error);
      EXPECT_EQ(done, 0u);
    } else {
      EXPECT_TRUE(ok);
      EXPECT_EQ(done, c.count * ss);
    }
  }
  CloseHandle(h);
}

TEST_P(DeviceIo, HandlesOfADetachedDiskStopWorking) {
  const uint32_t ss = GetParam();
  DeviceFixture f;
  f.add_disk(2, 1 * MiB, ss);
  HANDLE h = Open(u"\\\\.\\PhysicalDrive2");
  std::vector<uint8_t> buffer(ss);
  DWORD done;
  ASSERT_TRUE(ReadFile(h, buffer.data(), ss, &done, nullptr));
  f.remove_disk(2);
  EXPECT_FALSE(ReadFile(h, buffer.data(), ss, &done, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_FALSE(WriteFile(h, buffer.data(), ss, &done, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  DISK_GEOMETRY g;
  EXPECT_FALSE(DeviceIoControl(h, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &g, sizeof g, &done, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(Open(u"\\\\.\\PhysicalDrive2"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

INSTANTIATE_TEST_SUITE_P(Sectors, DeviceIo, ::testing::Values(512u, 4096u));

}  // namespace

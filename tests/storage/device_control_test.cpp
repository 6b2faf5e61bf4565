// DeviceIoControl on disk and volume handles, with sfdisk, fdisk and sgdisk
// checking the tables that layout writes leave on the image.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>

#include "platform/core/error.h"
#include "platform/core/kobject.h"
#include "platform/storage/drive_layout.h"
#include "platform/storage/partition_table.h"
#include "storage/device_fixture.h"

using namespace platform::storage;
using storage_test::DeviceFixture;
using storage_test::Open;
using storage_test::RunTool;

namespace {

constexpr uint64_t MiB = 1 << 20;

struct Reply {
  BOOL ok;
  DWORD error;
  DWORD returned;
  std::vector<uint8_t> bytes;
};

Reply Control(HANDLE h, DWORD code, const void* in, DWORD in_size, DWORD out_size) {
  Reply r;
  r.bytes.assign(out_size, 0xCC);
  r.returned = 0xDEAD;
  SetLastError(0);
  r.ok = DeviceIoControl(h, code, const_cast<void*>(in), in_size, out_size ? r.bytes.data() : nullptr, out_size,
                         &r.returned, nullptr);
  r.error = r.ok ? 0 : GetLastError();
  return r;
}

template <class T>
T As(const Reply& r, size_t offset = 0) {
  T value;
  std::memcpy(&value, r.bytes.data() + offset, sizeof(T));
  return value;
}

std::string Text(const Reply& r, DWORD offset) {
  if (offset == 0) return "";
  return std::string(reinterpret_cast<const char*>(r.bytes.data() + offset));
}

class Controls : public ::testing::TestWithParam<uint32_t> {};

// Buffer sizes and unknown codes, per code, on disk and volume handles.
TEST_P(Controls, BufferSizesAndUnknownCodes) {
  const uint32_t ss = GetParam();
  DeviceFixture f;
  f.add_disk(0, 64 * MiB, ss);
  f.add_volume(0, 1, 1 * MiB, 8 * MiB, 'C', "11111111-2222-3333-4444-555555555555");
  HANDLE disk = Open(u"\\\\.\\PhysicalDrive0");
  HANDLE volume = Open(u"\\\\.\\C:");
  STORAGE_PROPERTY_QUERY query{};
  struct Case {
    const char* name;
    bool on_volume;
    DWORD code;
    const void* in;
    DWORD in_size;
    DWORD enough;   // smallest output that succeeds
    DWORD error;    // error with one byte less (0: the call cannot succeed at all)
  };
  const Case cases[] = {
      {"geometry", false, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, 24, ERROR_INSUFFICIENT_BUFFER},
      {"geometry on volume", true, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, 24, ERROR_INSUFFICIENT_BUFFER},
      {"geometry ex", false, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, 32, ERROR_INSUFFICIENT_BUFFER},
      {"length", false, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, 8, ERROR_INSUFFICIENT_BUFFER},
      {"length on volume", true, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, 8, ERROR_INSUFFICIENT_BUFFER},
      {"partition info", true, IOCTL_DISK_GET_PARTITION_INFO, nullptr, 0, 32, ERROR_INSUFFICIENT_BUFFER},
      {"partition info ex", true, IOCTL_DISK_GET_PARTITION_INFO_EX, nullptr, 0, 144, ERROR_INSUFFICIENT_BUFFER},
      {"layout of a raw disk", false, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, 48, ERROR_INSUFFICIENT_BUFFER},
      {"device number", false, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, 12, ERROR_INSUFFICIENT_BUFFER},
      {"device number on volume", true, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, 12, ERROR_INSUFFICIENT_BUFFER},
      {"descriptor header", false, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, 8, ERROR_INSUFFICIENT_BUFFER},
      {"extents", true, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, 32, ERROR_INSUFFICIENT_BUFFER},
      {"extents of a disk", false, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, 1024, 0},
      {"lock a disk", false, FSCTL_LOCK_VOLUME, nullptr, 0, 0, 0},
      {"layout of a volume", true, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, 16384, 0},
      {"scsi miniport", false, IOCTL_SCSI_MINIPORT, nullptr, 0, 1024, 0},
      {"unknown", false, 0x00071234, nullptr, 0, 1024, 0},
      {"unknown on volume", true, 0x00071234, nullptr, 0, 1024, 0},
      {"smart on a volume", true, SMART_GET_VERSION, nullptr, 0, 24, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HANDLE h = c.on_volume ? volume : disk;
    Reply r = Control(h, c.code, c.in, c.in_size, c.enough);
    if (c.error == 0 && c.enough != 0 && c.code != FSCTL_LOCK_VOLUME) {
      EXPECT_FALSE(r.ok);
      EXPECT_EQ(r.error, ERROR_INVALID_FUNCTION);
      continue;
    }
    if (c.code == FSCTL_LOCK_VOLUME) {
      EXPECT_FALSE(r.ok);
      EXPECT_EQ(r.error, ERROR_INVALID_FUNCTION);
      continue;
    }
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.returned, c.enough);
    Reply small = Control(h, c.code, c.in, c.in_size, c.enough - 1);
    EXPECT_FALSE(small.ok);
    EXPECT_EQ(small.error, c.error);
  }
  // Codes that change the disk need a handle opened for writing.
  HANDLE reader = Open(u"\\\\.\\PhysicalDrive0", GENERIC_READ);
  CREATE_DISK create{};
  Reply denied = Control(reader, IOCTL_DISK_CREATE_DISK, &create, sizeof create, 0);
  EXPECT_FALSE(denied.ok);
  EXPECT_EQ(denied.error, ERROR_ACCESS_DENIED);
  HANDLE query_only = Open(u"\\\\.\\PhysicalDrive0", 0);
  Reply any = Control(query_only, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, 24);
  EXPECT_TRUE(any.ok);
  Reply needs_read = Control(query_only, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, 8);
  EXPECT_EQ(needs_read.error, ERROR_ACCESS_DENIED);
  for (HANDLE h : {disk, volume, reader, query_only}) CloseHandle(h);
  Reply closed = Control(disk, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, 24);
  EXPECT_EQ(closed.error, ERROR_INVALID_HANDLE);
}

TEST_P(Controls, GeometryLengthAndNumbers) {
  const uint32_t ss = GetParam();
  DeviceFixture f;
  platform::machine::DiskConfig removable;
  removable.removable = true;
  f.add_disk(2, 100 * MiB, ss, removable);
  f.add_volume(2, 3, 4 * MiB, 16 * MiB, 'F', "11111111-2222-3333-4444-555555555555");
  HANDLE disk = Open(u"\\\\.\\PhysicalDrive2");
  HANDLE volume = Open(u"\\\\?\\Volume{11111111-2222-3333-4444-555555555555}");

  Reply g = Control(disk, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, 24);
  auto geometry = As<DISK_GEOMETRY>(g);
  EXPECT_EQ(geometry.BytesPerSector, ss);
  EXPECT_EQ(geometry.TracksPerCylinder, 255u);
  EXPECT_EQ(geometry.SectorsPerTrack, 63u);
  EXPECT_EQ(geometry.Cylinders.QuadPart, static_cast<LONGLONG>(100 * MiB / (255ull * 63 * ss)));
  EXPECT_EQ(geometry.MediaType, RemovableMedia);

  Reply gx = Control(disk, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, 256);
  ASSERT_TRUE(gx.ok);
  EXPECT_EQ(As<LONGLONG>(gx, 24), static_cast<LONGLONG>(100 * MiB));
  EXPECT_EQ(As<DISK_PARTITION_INFO>(gx, 32).PartitionStyle, PARTITION_STYLE_RAW);

  EXPECT_EQ(As<LONGLONG>(Control(disk, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, 8)), static_cast<LONGLONG>(100 * MiB));
  EXPECT_EQ(As<LONGLONG>(Control(volume, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, 8)), static_cast<LONGLONG>(16 * MiB));

  auto n = As<STORAGE_DEVICE_NUMBER>(Control(disk, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, 12));
  EXPECT_EQ(n.DeviceType, FILE_DEVICE_DISK);
  EXPECT_EQ(n.DeviceNumber, 2u);
  EXPECT_EQ(n.PartitionNumber, 0u);
  n = As<STORAGE_DEVICE_NUMBER>(Control(volume, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, 12));
  EXPECT_EQ(n.DeviceNumber, 2u);
  EXPECT_EQ(n.PartitionNumber, 3u);

  Reply e = Control(volume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, 1024);
  ASSERT_TRUE(e.ok);
  auto extents = As<VOLUME_DISK_EXTENTS>(e);
  EXPECT_EQ(extents.NumberOfDiskExtents, 1u);
  EXPECT_EQ(extents.Extents[0].DiskNumber, 2u);
  EXPECT_EQ(extents.Extents[0].StartingOffset.QuadPart, static_cast<LONGLONG>(4 * MiB));
  EXPECT_EQ(extents.Extents[0].ExtentLength.QuadPart, static_cast<LONGLONG>(16 * MiB));

  // The whole disk answers as partition 0.
  auto whole = As<PARTITION_INFORMATION_EX>(Control(disk, IOCTL_DISK_GET_PARTITION_INFO_EX, nullptr, 0, 144));
  EXPECT_EQ(whole.PartitionNumber, 0u);
  EXPECT_EQ(whole.StartingOffset.QuadPart, 0);
  EXPECT_EQ(whole.PartitionLength.QuadPart, static_cast<LONGLONG>(100 * MiB));
  CloseHandle(disk);
  CloseHandle(volume);
}

TEST_P(Controls, DeviceDescriptorAndMediaSerial) {
  const uint32_t ss = GetParam();
  DeviceFixture f;
  platform::machine::DiskConfig stick;
  stick.bus = platform::machine::BusType::Usb;
  stick.vendor = "Kingmax";
  stick.product = "FlashKey 3.0";
  stick.revision = "1.00";
  stick.serial = "0123456789AB";
  stick.removable = true;
  f.add_disk(0, 8 * MiB, ss, stick);
  platform::machine::DiskConfig plain;
  plain.bus = platform::machine::BusType::Ata;
  plain.product = "SSD 860";
  f.add_disk(1, 8 * MiB, ss, plain);

  STORAGE_PROPERTY_QUERY query{};
  HANDLE h = Open(u"\\\\.\\PhysicalDrive0", 0);
  Reply r = Control(h, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, 10000);
  ASSERT_TRUE(r.ok);
  auto d = As<STORAGE_DEVICE_DESCRIPTOR>(r);
  EXPECT_EQ(d.Size, r.returned);
  EXPECT_EQ(d.BusType, BusTypeUsb);
  EXPECT_TRUE(d.RemovableMedia);
  EXPECT_EQ(Text(r, d.VendorIdOffset), "Kingmax");
  EXPECT_EQ(Text(r, d.ProductIdOffset), "FlashKey 3.0");
  EXPECT_EQ(Text(r, d.ProductRevisionOffset), "1.00");
  EXPECT_EQ(Text(r, d.SerialNumberOffset), "0123456789AB");
  // A header-sized buffer learns the whole size.
  Reply header = Control(h, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, 8);
  ASSERT_TRUE(header.ok);
  EXPECT_EQ(As<DWORD>(header, 4), d.Size);
  // Other properties and short queries.
  STORAGE_PROPERTY_QUERY adapter{};
  adapter.PropertyId = StorageAdapterProperty;
  EXPECT_EQ(Control(h, IOCTL_STORAGE_QUERY_PROPERTY, &adapter, sizeof adapter, 1024).error, ERROR_NOT_SUPPORTED);
  EXPECT_EQ(Control(h, IOCTL_STORAGE_QUERY_PROPERTY, &query, 4, 1024).error, ERROR_INVALID_PARAMETER);
  STORAGE_PROPERTY_QUERY exists{};
  exists.QueryType = PropertyExistsQuery;
  EXPECT_TRUE(Control(h, IOCTL_STORAGE_QUERY_PROPERTY, &exists, sizeof exists, 0).ok);

  Reply serial = Control(h, IOCTL_STORAGE_GET_MEDIA_SERIAL_NUMBER, nullptr, 0, 10000);
  ASSERT_TRUE(serial.ok);
  EXPECT_EQ(As<DWORD>(serial), 12u);
  EXPECT_EQ(Text(serial, 16), "0123456789AB");
  Reply cut = Control(h, IOCTL_STORAGE_GET_MEDIA_SERIAL_NUMBER, nullptr, 0, 20);
  EXPECT_EQ(cut.error, ERROR_MORE_DATA);
  EXPECT_EQ(As<DWORD>(cut), 12u);
  CloseHandle(h);

  h = Open(u"\\\\.\\PhysicalDrive1", 0);
  r = Control(h, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, 10000);
  d = As<STORAGE_DEVICE_DESCRIPTOR>(r);
  EXPECT_EQ(d.BusType, BusTypeAta);
  EXPECT_EQ(d.VendorIdOffset, 0u);  // no vendor text
  EXPECT_EQ(d.SerialNumberOffset, 0u);
  EXPECT_EQ(Text(r, d.ProductIdOffset), "SSD 860");
  EXPECT_EQ(Control(h, IOCTL_STORAGE_GET_MEDIA_SERIAL_NUMBER, nullptr, 0, 10000).error, ERROR_INVALID_FUNCTION);
  CloseHandle(h);
}

// A layout in the record form the programs build (groups of four, links included).
std::vector<uint8_t> MbrRecord(uint32_t ss, uint32_t signature) {
  DiskLayout layout;
  layout.style = PartitionStyle::Mbr;
  layout.mbr_signature = signature;
  auto entry = [](uint64_t start, uint64_t length, uint8_t type, uint32_t hidden, bool boot = false) {
    LayoutEntry e;
    e.start = start;
    e.length = length;
    e.mbr_type = type;
    e.hidden_sectors = hidden;
    e.boot = boot;
    e.rewrite = true;
    return e;
  };
  const uint32_t track = static_cast<uint32_t>(MiB / ss);
  layout.entries = {entry(1 * MiB, 20 * MiB, 0x07, track, true), entry(21 * MiB, 30 * MiB, 0x0F, 21 * track), {}, {},
                    entry(22 * MiB, 10 * MiB, 0x07, track), entry(32 * MiB, 11 * MiB, 0x05, 11 * track), {}, {},
                    entry(33 * MiB, 10 * MiB, 0x0C, track), {}, {}, {}};
  return EncodeDriveLayout(layout);
}

TEST_P(Controls, SetDriveLayoutWritesRealTablesAndGetReadsThemBack) {
  const uint32_t ss = GetParam();
  DeviceFixture f;
  f.add_disk(1, 64 * MiB, ss);
  HANDLE h = Open(u"\\\\.\\PhysicalDrive1");

  CREATE_DISK create{};
  create.PartitionStyle = PARTITION_STYLE_MBR;
  create.Mbr.Signature = 0xA4B57300;
  ASSERT_TRUE(Control(h, IOCTL_DISK_CREATE_DISK, &create, sizeof create, 0).ok);
  Reply empty = Control(h, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, 16384);
  ASSERT_TRUE(empty.ok);
  EXPECT_EQ(empty.returned, 48u + 4 * 144);  // four empty slots
  EXPECT_EQ(As<DWORD>(empty, 8), 0xA4B57300u);

  std::vector<uint8_t> record = MbrRecord(ss, 0xA4B57300);
  ASSERT_TRUE(Control(h, IOCTL_DISK_SET_DRIVE_LAYOUT_EX, record.data(), static_cast<DWORD>(record.size()), 0).ok);
  ASSERT_TRUE(Control(h, IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, 0).ok);
  EXPECT_EQ(f.rescans, (std::vector<int>{1, 1, 1}));

  Reply got = Control(h, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, 16384);
  ASSERT_TRUE(got.ok);
  ASSERT_EQ(got.returned, record.size());
  EXPECT_EQ(As<DWORD>(got, 4), 12u);
  for (size_t i = 0; i < 12; ++i) {
    SCOPED_TRACE("entry " + std::to_string(i));
    auto want = As<PARTITION_INFORMATION_EX>(Reply{TRUE, 0, 0, record}, 48 + i * 144);
    auto have = As<PARTITION_INFORMATION_EX>(got, 48 + i * 144);
    EXPECT_EQ(have.StartingOffset.QuadPart, want.StartingOffset.QuadPart);
    EXPECT_EQ(have.PartitionLength.QuadPart, want.PartitionLength.QuadPart);
    EXPECT_EQ(have.Mbr.PartitionType, want.Mbr.PartitionType);
    EXPECT_EQ(have.Mbr.BootIndicator, want.Mbr.BootIndicator);
    EXPECT_EQ(have.Mbr.HiddenSectors, want.Mbr.HiddenSectors);
  }
  const uint32_t numbers[12] = {1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0};
  for (size_t i = 0; i < 12; ++i) { EXPECT_EQ(As<PARTITION_INFORMATION_EX>(got, 48 + i * 144).PartitionNumber, numbers[i]); }
  // Too small for all twelve entries.
  EXPECT_EQ(Control(h, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, 48 + 11 * 144).error, ERROR_INSUFFICIENT_BUFFER);
  // An input shorter than its own entry count says.
  EXPECT_EQ(Control(h, IOCTL_DISK_SET_DRIVE_LAYOUT_EX, record.data(), 48 + 4 * 144, 0).error, ERROR_INSUFFICIENT_BUFFER);

  // The image as the independent tools see it.
  std::string listing = ss == 512 ? RunTool("sfdisk -d " + f.image_path(0)).text
                                  : RunTool("fdisk -b 4096 -l -o Start,Sectors,Id " + f.image_path(0)).text;
  const uint64_t s = MiB / ss;
  for (auto [start, size, type] : {std::tuple{1 * s, 20 * s, "7"}, {21 * s, 30 * s, "f"}, {22 * s, 10 * s, "7"},
                                  {33 * s, 10 * s, "c"}}) {
    std::string row = ss == 512 ? "start=\\s*" + std::to_string(start) + ", size=\\s*" + std::to_string(size) + ", type=" + type
                                : "\\b" + std::to_string(start) + "\\s+" + std::to_string(size) + "\\s+" + type + "\\b";
    EXPECT_TRUE(std::regex_search(listing, std::regex(row))) << row << "\n" << listing;
  }
  EXPECT_NE(listing.find(ss == 512 ? "label-id: 0xa4b57300" : "Disk identifier: 0xa4b57300"), std::string::npos) << listing;

  // Partition info on a volume of the new table.
  f.add_volume(1, 3, 33 * MiB, 10 * MiB, 'G', "11111111-2222-3333-4444-555555555555");
  HANDLE v = Open(u"\\\\.\\G:");
  auto info = As<PARTITION_INFORMATION>(Control(v, IOCTL_DISK_GET_PARTITION_INFO, nullptr, 0, 32));
  EXPECT_EQ(info.PartitionNumber, 3u);
  EXPECT_EQ(info.PartitionType, 0x0C);
  EXPECT_EQ(info.StartingOffset.QuadPart, static_cast<LONGLONG>(33 * MiB));
  EXPECT_EQ(info.HiddenSectors, MiB / ss);
  CloseHandle(v);

  // Bad layouts change nothing.
  std::vector<uint8_t> overlapping = record;
  auto first = As<PARTITION_INFORMATION_EX>(Reply{TRUE, 0, 0, overlapping}, 48);
  first.PartitionLength.QuadPart = 40 * MiB;
  std::memcpy(overlapping.data() + 48, &first, sizeof first);
  Reply refused = Control(h, IOCTL_DISK_SET_DRIVE_LAYOUT_EX, overlapping.data(), static_cast<DWORD>(overlapping.size()), 0);
  EXPECT_EQ(refused.error, ERROR_INVALID_PARAMETER);
  Reply again = Control(h, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, 16384);
  EXPECT_EQ(again.bytes, got.bytes);
  CloseHandle(h);
}

TEST_P(Controls, GptLayoutsPassSgdisk) {
  const uint32_t ss = GetParam();
  DeviceFixture f;
  f.add_disk(0, 64 * MiB, ss);
  HANDLE h = Open(u"\\\\.\\PhysicalDrive0");
  CREATE_DISK create{};
  create.PartitionStyle = PARTITION_STYLE_GPT;
  ASSERT_TRUE(Control(h, IOCTL_DISK_CREATE_DISK, &create, sizeof create, 0).ok);
  Reply empty = Control(h, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, 16384);
  ASSERT_TRUE(empty.ok);
  auto header = As<DRIVE_LAYOUT_INFORMATION_GPT>(empty, 8);
  EXPECT_EQ(As<DWORD>(empty), PARTITION_STYLE_GPT);
  EXPECT_EQ(As<DWORD>(empty, 4), 0u);
  EXPECT_EQ(header.MaxPartitionCount, 128u);
  EXPECT_EQ(header.StartingUsableOffset.QuadPart, static_cast<LONGLONG>((2 + 16384 / ss) * ss));
  EXPECT_FALSE(IsZeroGuid(header.DiskId));

  DiskLayout layout;
  layout.style = PartitionStyle::Gpt;
  GuidFromText("5E7A2F10-0000-4000-8000-00000000ABCD", &layout.disk_guid);
  auto gpt = [](uint64_t start, uint64_t length, const char* type, const char16_t* name, uint64_t attributes) {
    LayoutEntry e;
    e.style = PartitionStyle::Gpt;
    e.start = start;
    e.length = length;
    GuidFromText(type, &e.type_guid);
    e.id_guid = NewRandomGuid();
    e.name = name;
    e.attributes = attributes;
    return e;
  };
  layout.entries = {gpt(1 * MiB, 100 * 1024 * 1024 / 4, "C12A7328-F81F-11D2-BA4B-00A0C93EC93B", u"EFI system partition",
                        0x8000000000000000ull),
                    gpt(26 * MiB, 16 * MiB, "E3C9E316-0B5C-4DB8-817D-F92DF00215AE", u"Microsoft reserved partition", 0),
                    gpt(42 * MiB, 20 * MiB, "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", u"Basic data partition", 0)};
  std::vector<uint8_t> record = EncodeDriveLayout(layout);
  ASSERT_TRUE(Control(h, IOCTL_DISK_SET_DRIVE_LAYOUT_EX, record.data(), static_cast<DWORD>(record.size()), 0).ok);
  Reply got = Control(h, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, 16384);
  ASSERT_TRUE(got.ok);
  EXPECT_EQ(As<DWORD>(got, 4), 3u);
  EXPECT_TRUE(As<GUID>(got, 8) == layout.disk_guid);
  for (size_t i = 0; i < 3; ++i) {
    auto p = As<PARTITION_INFORMATION_EX>(got, 48 + i * 144);
    EXPECT_EQ(p.PartitionStyle, PARTITION_STYLE_GPT);
    EXPECT_EQ(p.PartitionNumber, i + 1);
    EXPECT_EQ(p.StartingOffset.QuadPart, static_cast<LONGLONG>(layout.entries[i].start));
    EXPECT_TRUE(p.Gpt.PartitionType == layout.entries[i].type_guid);
    EXPECT_TRUE(p.Gpt.PartitionId == layout.entries[i].id_guid);
    EXPECT_EQ(p.Gpt.Attributes, layout.entries[i].attributes);
    EXPECT_EQ(std::u16string(p.Gpt.Name), layout.entries[i].name);
  }
  if (ss == 512) {
    auto verify = RunTool("sgdisk -v " + f.image_path(0));
    EXPECT_NE(verify.text.find("No problems found"), std::string::npos) << verify.text;
    auto print = RunTool("sgdisk -p " + f.image_path(0));
    EXPECT_NE(print.text.find("5E7A2F10-0000-4000-8000-00000000ABCD"), std::string::npos) << print.text;
    EXPECT_TRUE(std::regex_search(print.text, std::regex(R"(3\s+86016\s+126975\s+20.0 MiB\s+0700\s+Basic data partition)")))
        << print.text;
  } else {
    auto listing = RunTool("fdisk -b 4096 -l -o Start,End,Name " + f.image_path(0));
    EXPECT_EQ(listing.text.find("corrupt"), std::string::npos) << listing.text;
    EXPECT_TRUE(std::regex_search(listing.text, std::regex(R"(10752\s+15871\s+Basic data partition)"))) << listing.text;
  }
  // GPT partitions do not answer the old partition query.
  f.add_volume(0, 3, 42 * MiB, 20 * MiB, 'H', "11111111-2222-3333-4444-555555555555");
  HANDLE v = Open(u"\\\\.\\H:");
  EXPECT_EQ(Control(v, IOCTL_DISK_GET_PARTITION_INFO, nullptr, 0, 32).error, ERROR_INVALID_FUNCTION);
  auto ex = As<PARTITION_INFORMATION_EX>(Control(v, IOCTL_DISK_GET_PARTITION_INFO_EX, nullptr, 0, 144));
  EXPECT_EQ(ex.PartitionStyle, PARTITION_STYLE_GPT);
  EXPECT_EQ(ex.PartitionNumber, 3u);
  EXPECT_EQ(std::u16string(ex.Gpt.Name), u"Basic data partition");
  CloseHandle(v);
  CloseHandle(h);
}

TEST_P(Controls, GrowPartitionOnlyIntoFreeSpace) {
  const uint32_t ss = GetParam();
  DeviceFixture f;
  f.add_disk(0, 64 * MiB, ss);
  HANDLE h = Open(u"\\\\.\\PhysicalDrive0");
  std::vector<uint8_t> record = MbrRecord(ss, 0x1234);
  ASSERT_TRUE(Control(h, IOCTL_DISK_SET_DRIVE_LAYOUT_EX, record.data(), static_cast<DWORD>(record.size()), 0).ok);
  f.add_volume(0, 3, 33 * MiB, 10 * MiB, 'E', "11111111-2222-3333-4444-555555555555");
  HANDLE v = Open(u"\\\\.\\E:");
  struct Case {
    DWORD number;
    LONGLONG grow;
    DWORD error;
    uint64_t length_after;  // of that partition
  };
  const Case cases[] = {
      {3, 8 * MiB, 0, 18 * MiB},                         // logical drive up to the container's end
      {3, 1 * MiB, ERROR_INVALID_PARAMETER, 18 * MiB},   // past the container
      {2, 1 * MiB, ERROR_INVALID_PARAMETER, 10 * MiB},   // into the next EBR
      {1, 1 * MiB, ERROR_INVALID_PARAMETER, 20 * MiB},   // into the extended partition
      {1, -1, ERROR_INVALID_PARAMETER, 20 * MiB},
      {7, 1 * MiB, ERROR_INVALID_PARAMETER, 0},
      {0, 1 * MiB, ERROR_INVALID_PARAMETER, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("partition " + std::to_string(c.number) + " by " + std::to_string(c.grow));
    DISK_GROW_PARTITION grow{};
    grow.PartitionNumber = c.number;
    grow.BytesToGrow.QuadPart = c.grow;
    Reply r = Control(v, IOCTL_DISK_GROW_PARTITION, &grow, sizeof grow, 0);
    EXPECT_EQ(r.error, c.error);
    DiskLayout layout;
    auto disk = LookupDisk(0);
    ASSERT_TRUE(ReadDiskLayout(*disk->device(), &layout).ok());
    for (const auto& e : layout.partitions())
      if (e.number == c.number) { EXPECT_EQ(e.length, c.length_after); }
  }
  if (ss == 512) {
    auto listing = RunTool("sfdisk -d " + f.image_path(0)).text;
    EXPECT_TRUE(std::regex_search(listing, std::regex(R"(start=\s*67584, size=\s*36864, type=c)"))) << listing;
  }
  CloseHandle(v);
  CloseHandle(h);
}

TEST_P(Controls, VolumeLocksAndRefusals) {
  const uint32_t ss = GetParam();
  DeviceFixture f;
  platform::machine::DiskConfig refusing;
  refusing.faults.lock_refusals = 2;
  f.add_disk(0, 32 * MiB, ss, refusing);
  f.add_volume(0, 1, 1 * MiB, 8 * MiB, 'D', "11111111-2222-3333-4444-555555555555");
  std::vector<RawAccess> kinds;
  int listener = AddRawAccessListener([&](int, uint64_t offset, uint64_t length, RawAccess kind) {
    if (offset == MiB && length == 8 * MiB) kinds.push_back(kind);
  });
  HANDLE a = Open(u"\\\\.\\D:");
  EXPECT_EQ(Control(a, FSCTL_LOCK_VOLUME, nullptr, 0, 0).error, ERROR_ACCESS_DENIED);
  EXPECT_EQ(Control(a, FSCTL_LOCK_VOLUME, nullptr, 0, 0).error, ERROR_ACCESS_DENIED);
  EXPECT_TRUE(Control(a, FSCTL_LOCK_VOLUME, nullptr, 0, 0).ok);
  EXPECT_TRUE(IsVolumeLocked(0, MiB));
  // While locked nobody else opens the volume.
  EXPECT_EQ(Open(u"\\\\.\\D:"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(Control(a, FSCTL_DISMOUNT_VOLUME, nullptr, 0, 0).ok);
  EXPECT_TRUE(Control(a, FSCTL_UNLOCK_VOLUME, nullptr, 0, 0).ok);
  EXPECT_EQ(Control(a, FSCTL_UNLOCK_VOLUME, nullptr, 0, 0).error, ERROR_NOT_LOCKED);
  EXPECT_FALSE(IsVolumeLocked(0, MiB));
  // A second open handle keeps the lock from being granted.
  HANDLE b = Open(u"\\\\.\\D:");
  EXPECT_EQ(Control(a, FSCTL_LOCK_VOLUME, nullptr, 0, 0).error, ERROR_ACCESS_DENIED);
  CloseHandle(b);
  EXPECT_TRUE(Control(a, FSCTL_LOCK_VOLUME, nullptr, 0, 0).ok);
  // Closing the handle releases its lock.
  CloseHandle(a);
  EXPECT_FALSE(IsVolumeLocked(0, MiB));
  EXPECT_EQ(kinds, (std::vector<RawAccess>{RawAccess::Lock, RawAccess::Dismount, RawAccess::Lock}));
  RemoveRawAccessListener(listener);
}

INSTANTIATE_TEST_SUITE_P(Sectors, Controls, ::testing::Values(512u, 4096u));

// S.M.A.R.T. pages served from the disk's description.
platform::machine::SmartPages Pages() {
  platform::machine::SmartPages pages;
  pages.identify.assign(512, 0);
  const char model[] = "AMODEL X";  // stored with byte pairs swapped, as drives do
  for (size_t i = 0; i + 1 < sizeof model; i += 2) {
    pages.identify[54 + i] = static_cast<uint8_t>(model[i + 1]);
    pages.identify[54 + i + 1] = static_cast<uint8_t>(model[i]);
  }
  pages.attributes.assign(512, 0);
  pages.thresholds.assign(512, 0);
  // Attribute 5: value 100, threshold 10.
  pages.attributes[2] = 5;
  pages.attributes[2 + 3] = 100;
  pages.thresholds[2] = 5;
  pages.thresholds[3] = 10;
  return pages;
}

std::vector<uint8_t> Command(BYTE features, BYTE cyl_low, BYTE cyl_high, BYTE command, DWORD buffer_size) {
  SENDCMDINPARAMS in{};
  in.cBufferSize = buffer_size;
  in.irDriveRegs.bFeaturesReg = features;
  in.irDriveRegs.bSectorCountReg = 1;
  in.irDriveRegs.bSectorNumberReg = 1;
  in.irDriveRegs.bCylLowReg = cyl_low;
  in.irDriveRegs.bCylHighReg = cyl_high;
  in.irDriveRegs.bDriveHeadReg = 0xA0;
  in.irDriveRegs.bCommandReg = command;
  std::vector<uint8_t> bytes(sizeof in);
  std::memcpy(bytes.data(), &in, sizeof in);
  return bytes;
}

TEST(Smart, RequestsAsTheReaderSendsThem) {
  DeviceFixture f;
  f.add_disk(0, 8 * MiB, 512, {}, Pages());
  f.add_disk(1, 8 * MiB, 512);  // no pages
  HANDLE h = Open(u"\\\\.\\PHYSICALDRIVE0");
  Reply version = Control(h, SMART_GET_VERSION, nullptr, 0, 24);
  ASSERT_TRUE(version.ok);
  auto v = As<GETVERSIONINPARAMS>(version);
  EXPECT_EQ(v.bVersion, 1);
  EXPECT_TRUE(v.fCapabilities & CAP_SMART_CMD);
  EXPECT_EQ(Control(h, SMART_GET_VERSION, nullptr, 0, 23).error, ERROR_INSUFFICIENT_BUFFER);

  struct Case {
    const char* name;
    DWORD code;
    std::vector<uint8_t> in;
    DWORD out_size;
    DWORD error;
    DWORD returned;
    int page;  // 0 identify, 1 attributes, 2 thresholds, -1 none
  };
  const Case cases[] = {
      {"enable", SMART_SEND_DRIVE_COMMAND, Command(0xD8, 0x4F, 0xC2, 0xB0, 0), 17, 0, 16, -1},
      {"identify", SMART_RCV_DRIVE_DATA, Command(0, 0, 0, 0xEC, 512), 528, 0, 528, 0},
      {"attributes", SMART_RCV_DRIVE_DATA, Command(0xD0, 0x4F, 0xC2, 0xB0, 512), 531, 0, 528, 1},
      {"thresholds", SMART_RCV_DRIVE_DATA, Command(0xD1, 0x4F, 0xC2, 0xB0, 512), 531, 0, 528, 2},
      {"identify, small buffer", SMART_RCV_DRIVE_DATA, Command(0, 0, 0, 0xEC, 512), 527, ERROR_INSUFFICIENT_BUFFER, 0, -1},
      {"short request", SMART_RCV_DRIVE_DATA, std::vector<uint8_t>(31), 528, ERROR_INSUFFICIENT_BUFFER, 0, -1},
      {"wrong signature bytes", SMART_RCV_DRIVE_DATA, Command(0xD0, 0, 0, 0xB0, 512), 528, ERROR_INVALID_PARAMETER, 16, -1},
      {"unknown feature", SMART_RCV_DRIVE_DATA, Command(0xEE, 0x4F, 0xC2, 0xB0, 512), 528, ERROR_INVALID_PARAMETER, 16, -1},
      {"identify sent as a command", SMART_SEND_DRIVE_COMMAND, Command(0, 0, 0, 0xEC, 0), 17, ERROR_INVALID_PARAMETER, 0, -1},
  };
  const auto pages = Pages();
  const std::vector<uint8_t>* page_of[] = {&pages.identify, &pages.attributes, &pages.thresholds};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Reply r = Control(h, c.code, c.in.data(), static_cast<DWORD>(c.in.size()), c.out_size);
    EXPECT_EQ(r.error, c.error);
    if (c.returned) { EXPECT_EQ(r.returned, c.returned); }
    if (c.page >= 0) {
      EXPECT_EQ(As<DWORD>(r), 512u);
      EXPECT_TRUE(std::equal(page_of[c.page]->begin(), page_of[c.page]->end(), r.bytes.begin() + 16));
    }
  }
  // Return status: healthy, then an attribute at its threshold.
  Reply status = Control(h, SMART_SEND_DRIVE_COMMAND, Command(0xDA, 0x4F, 0xC2, 0xB0, 0).data(), 32, 24);
  ASSERT_TRUE(status.ok);
  EXPECT_EQ(As<IDEREGS>(status, 16).bCylLowReg, 0x4F);
  CloseHandle(h);

  auto failing = Pages();
  failing.attributes[2 + 3] = 10;
  f.add_disk(2, 8 * MiB, 512, {}, failing);
  h = Open(u"\\\\.\\PhysicalDrive2");
  status = Control(h, SMART_SEND_DRIVE_COMMAND, Command(0xDA, 0x4F, 0xC2, 0xB0, 0).data(), 32, 24);
  ASSERT_TRUE(status.ok);
  EXPECT_EQ(As<IDEREGS>(status, 16).bCylLowReg, 0xF4);
  EXPECT_EQ(As<IDEREGS>(status, 16).bCylHighReg, 0x2C);
  CloseHandle(h);

  h = Open(u"\\\\.\\PhysicalDrive1");
  for (DWORD code : {SMART_GET_VERSION, SMART_SEND_DRIVE_COMMAND, SMART_RCV_DRIVE_DATA}) {
    auto in = Command(0, 0, 0, 0xEC, 512);
    EXPECT_EQ(Control(h, code, in.data(), static_cast<DWORD>(in.size()), 528).error, ERROR_INVALID_FUNCTION);
  }
  CloseHandle(h);
}

}  // namespace

namespace {

TEST(DriveLayoutRecord, MalformedRecordsAreRefused) {
  DiskLayout layout;
  layout.style = PartitionStyle::Mbr;
  layout.mbr_signature = 0x11223344;
  LayoutEntry e;
  e.start = 1 << 20;
  e.length = 1 << 20;
  e.mbr_type = 7;
  layout.entries = {e, {}, {}, {}};
  const std::vector<uint8_t> good = EncodeDriveLayout(layout);
  ASSERT_EQ(good.size(), 48u + 4 * 144);
  struct Case {
    const char* name;
    void (*edit)(std::vector<uint8_t>&);
    DWORD error;
  };
  const Case cases[] = {
      {"sound", [](std::vector<uint8_t>&) {}, 0},
      {"header cut short", [](std::vector<uint8_t>& r) { r.resize(47); }, ERROR_INSUFFICIENT_BUFFER},
      {"count beyond the record", [](std::vector<uint8_t>& r) { r[4] = 5; }, ERROR_INSUFFICIENT_BUFFER},
      {"count overflowing", [](std::vector<uint8_t>& r) { std::memset(r.data() + 4, 0xFF, 4); }, ERROR_INSUFFICIENT_BUFFER},
      {"unknown style", [](std::vector<uint8_t>& r) { r[0] = 7; }, ERROR_INVALID_PARAMETER},
      {"entry of another style", [](std::vector<uint8_t>& r) { r[48 + 144] = PARTITION_STYLE_GPT; }, ERROR_INVALID_PARAMETER},
      {"negative start", [](std::vector<uint8_t>& r) { r[48 + 15] = 0x80; }, ERROR_INVALID_PARAMETER},
      {"raw with entries", [](std::vector<uint8_t>& r) { r[0] = PARTITION_STYLE_RAW; }, ERROR_INVALID_PARAMETER},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> record = good;
    c.edit(record);
    DiskLayout decoded;
    EXPECT_EQ(DecodeDriveLayout(record.data(), record.size(), &decoded), c.error);
    if (c.error == 0) {
      EXPECT_EQ(decoded.mbr_signature, 0x11223344u);
      ASSERT_EQ(decoded.entries.size(), 4u);
      EXPECT_EQ(decoded.entries[0].start, uint64_t{1} << 20);
      EXPECT_EQ(decoded.entries[0].mbr_type, 7);
      EXPECT_EQ(EncodeDriveLayout(decoded), good);
    }
  }
}

}  // namespace

namespace {

TEST(LayoutControls, FaultsAndNotifications) {
  struct Case {
    const char* name;
    std::vector<platform::machine::SectorRange> unreadable, failing_writes;
    DWORD get_error, set_error, create_error;
  };
  const Case cases[] = {
      {"sound disk", {}, {}, 0, 0, 0},
      {"sector 0 unreadable", {{0, 0}}, {}, ERROR_CRC, ERROR_CRC, ERROR_CRC},  // the writer keeps sector 0's boot code
      {"sector 0 unwritable", {}, {{0, 0}}, 0, ERROR_WRITE_FAULT, ERROR_WRITE_FAULT},
      {"EBR area unwritable", {}, {{21 * 2048, 21 * 2048}}, 0, ERROR_WRITE_FAULT, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DeviceFixture f;
    platform::machine::DiskConfig config;
    config.faults.unreadable = c.unreadable;
    config.faults.failing_writes = c.failing_writes;
    f.add_disk(0, 64 * MiB, 512, config);
    std::vector<std::tuple<uint64_t, uint64_t, RawAccess>> seen;
    int listener = AddRawAccessListener([&](int, uint64_t offset, uint64_t length, RawAccess kind) {
      if (kind == RawAccess::LayoutChange) seen.emplace_back(offset, length, kind);
    });
    HANDLE h = Open(u"\\\\.\\PhysicalDrive0");
    EXPECT_EQ(Control(h, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, 16384).error, c.get_error);
    std::vector<uint8_t> record = MbrRecord(512, 0x55667788);
    EXPECT_EQ(Control(h, IOCTL_DISK_SET_DRIVE_LAYOUT_EX, record.data(), static_cast<DWORD>(record.size()), 0).error,
              c.set_error);
    CREATE_DISK create{};
    create.PartitionStyle = PARTITION_STYLE_MBR;
    EXPECT_EQ(Control(h, IOCTL_DISK_CREATE_DISK, &create, sizeof create, 0).error, c.create_error);
    // Both layout changes were announced over the whole disk before any byte was written.
    EXPECT_EQ(seen, (std::vector<std::tuple<uint64_t, uint64_t, RawAccess>>(2, {0, 64 * MiB, RawAccess::LayoutChange})));
    // A rescan follows only the changes that were made.
    size_t made = (c.set_error == 0) + (c.create_error == 0);
    EXPECT_EQ(f.rescans.size(), made);
    CloseHandle(h);
    RemoveRawAccessListener(listener);
  }
}

}  // namespace

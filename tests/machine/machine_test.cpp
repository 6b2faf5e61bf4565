#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/core/error.h"
#include "platform/machine/demo.h"
#include "platform/machine/machine.h"
#include "tests/support/temp_folder.h"

using namespace platform::machine;
namespace fs = std::filesystem;

namespace {

struct TempFolder {
  std::string path = test_support::MakeTempFolder("machine-test");
  ~TempFolder() { fs::remove_all(path); }
};

void write_file(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

DiskConfig image_disk(int number, uint64_t size, uint32_t sector = 512) {
  DiskConfig d;
  d.number = number;
  d.size = size;
  d.sector_size = sector;
  return d;
}

}  // namespace

TEST(Machine, AddDiskCreatesSparseImageAndOpens) {
  TempFolder t;
  std::string error;
  ASSERT_TRUE(CreateMachineFolder(t.path, &error)) << error;
  EXPECT_FALSE(CreateMachineFolder(t.path, &error));
  EXPECT_NE(error.find("already holds a machine"), std::string::npos);
  ASSERT_TRUE(AddDiskToMachine(t.path, image_disk(0, 8ull << 30), &error)) << error;
  ASSERT_TRUE(AddDiskToMachine(t.path, image_disk(3, 1ull << 30, 4096), &error)) << error;
  EXPECT_FALSE(AddDiskToMachine(t.path, image_disk(3, 1ull << 30), &error));
  EXPECT_NE(error.find("disk 3 already exists"), std::string::npos);

  struct stat st {};
  ASSERT_EQ(stat((t.path + "/disk0.img").c_str(), &st), 0);
  EXPECT_EQ(static_cast<uint64_t>(st.st_size), 8ull << 30);
  EXPECT_LT(static_cast<uint64_t>(st.st_blocks) * 512, 1ull << 20);  // sparse

  auto m = Machine::open(t.path, &error);
  ASSERT_TRUE(m) << error;
  ASSERT_EQ(m->disks().size(), 2u);
  auto d0 = m->disk(0);
  ASSERT_TRUE(d0);
  EXPECT_EQ(d0->size(), 8ull << 30);
  auto g = d0->geometry();
  EXPECT_EQ(g.tracks_per_cylinder, 255u);
  EXPECT_EQ(g.sectors_per_track, 63u);
  EXPECT_EQ(g.bytes_per_sector, 512u);
  EXPECT_EQ(g.cylinders, (8ull << 30) / (255 * 63 * 512));  // 1044
  auto d3 = m->disk(3);
  ASSERT_TRUE(d3);
  EXPECT_EQ(d3->sector_size(), 4096u);
  EXPECT_EQ(d3->geometry().cylinders, (1ull << 30) / (255 * 63 * 4096ull));
  EXPECT_FALSE(m->disk(1));
  EXPECT_FALSE(d0->smart().present());
}

TEST(Machine, OpenErrorsAreClear) {
  TempFolder t;
  std::string error;
  EXPECT_FALSE(Machine::open(t.path + "/nope", &error));
  EXPECT_NE(error.find("does not exist"), std::string::npos);
  EXPECT_FALSE(Machine::open(t.path, &error));
  EXPECT_NE(error.find("has no machine.ini"), std::string::npos);
  write_file(t.path + "/machine.ini", "[disk 0]\nimage = ok.img\nsector_size = 2048\n");
  EXPECT_FALSE(Machine::open(t.path, &error));
  EXPECT_NE(error.find("512 or 4096"), std::string::npos) << error;
}

// A disk that cannot be opened is missing, named with its reason, and the rest
// of the machine opens: disk 1 always opens beside the broken disk 0.
TEST(Machine, AnUnopenableDiskIsMissingAndTheRestOpens) {
  TempFolder t;
  struct Case {
    const char* disk0;
    const char* expect;
  } cases[] = {
      {"image = missing.img", "disk 0: image"},
      {"image = odd.img", "not a whole number of 512-byte sectors"},
      {"device = /dev/null", "/dev/null is not a block device"},
      {"device = /dev/does-not-exist", "is not a block device"},
      {"image = ok.img\nsmart_identify = short.hex", "a S.M.A.R.T. page holds 512 bytes, found 3"},
      {"image = ok.img\nsmart_identify = bad.hex", "'z' is not a hex digit"},
      {"image = ok.img\nsmart_identify = none.hex", "cannot read S.M.A.R.T. page"},
      // Files the folder names are read bounded: no endless device, no FIFO
      // that would block, nothing absurdly large.
      {"image = ok.img\nsmart_identify = /dev/zero", "/dev/zero is not a regular file"},
      {"image = ok.img\nsmart_identify = fifo.hex", "fifo.hex is not a regular file"},
      {"image = ok.img\nsmart_identify = huge.hex", "more than the 65536"},
      {"image = /dev/zero", "/dev/zero is not a regular file"},
  };
  ASSERT_EQ(mkfifo((t.path + "/fifo.hex").c_str(), 0600), 0);
  write_file(t.path + "/huge.hex", std::string(1 << 20, '0'));
  write_file(t.path + "/odd.img", std::string(1000, '\0'));
  write_file(t.path + "/ok.img", std::string(4096, '\0'));
  write_file(t.path + "/other.img", std::string(8192, '\0'));
  write_file(t.path + "/short.hex", "01 02 03\n");
  write_file(t.path + "/bad.hex", "01 zz\n");
  for (auto& c : cases) {
    SCOPED_TRACE(c.disk0);
    fs::remove(t.path + "/machine.log");
    write_file(t.path + "/machine.ini",
               std::string("[disk 0]\n") + c.disk0 + "\n[disk 1]\nimage = other.img\n");
    std::string error;
    auto m = Machine::open(t.path, &error);
    ASSERT_TRUE(m) << error;
    EXPECT_FALSE(m->disk(0));
    ASSERT_TRUE(m->disk(1));
    EXPECT_EQ(m->disk(1)->size(), 8192u);
    ASSERT_EQ(m->disks().size(), 1u);
    auto missing = m->missing_disks();
    ASSERT_EQ(missing.size(), 1u);
    EXPECT_EQ(missing[0].number, 0);
    EXPECT_NE(missing[0].reason.find(c.expect), std::string::npos) << "got: " << missing[0].reason;
    EXPECT_NE(read_file(m->log_path()).find(c.expect), std::string::npos);
  }
  // Once the image is whole again, the next change to machine.ini finds it.
  write_file(t.path + "/machine.ini", "[disk 0]\nimage = odd.img\n[disk 1]\nimage = other.img\n");
  std::string error;
  auto m = Machine::open(t.path, &error);
  ASSERT_TRUE(m) << error;
  ASSERT_EQ(m->missing_disks().size(), 1u);
  write_file(t.path + "/odd.img", std::string(1024, '\0'));
  write_file(t.path + "/machine.ini", "[disk 0]\nimage = odd.img\n\n[disk 1]\nimage = other.img\n");
  EXPECT_EQ(m->poll().attached, std::vector<int>{0});
  EXPECT_TRUE(m->disk(0));
  EXPECT_TRUE(m->missing_disks().empty());
}

TEST(Machine, LogIsNeverWrittenThroughASymlink) {
  TempFolder t;
  std::string error;
  ASSERT_TRUE(CreateMachineFolder(t.path, &error)) << error;
  auto m = Machine::open(t.path, &error);
  ASSERT_TRUE(m) << error;
  write_file(t.path + "/elsewhere.txt", "precious\n");
  fs::remove(m->log_path());
  fs::create_symlink(t.path + "/elsewhere.txt", m->log_path());
  m->log("test", "one line");
  EXPECT_EQ(read_file(t.path + "/elsewhere.txt"), "precious\n");
  // A plain log file is appended to as before.
  fs::remove(m->log_path());
  m->log("test", "one line");
  EXPECT_NE(read_file(m->log_path()).find("test: one line"), std::string::npos);
}

TEST(Machine, IniWithByteOrderMarkAndSpecialIniFile) {
  TempFolder t;
  write_file(t.path + "/ok.img", std::string(4096, '\0'));
  write_file(t.path + "/machine.ini", "\xEF\xBB\xBF[disk 0]\nimage = ok.img\n");
  std::string error;
  auto m = Machine::open(t.path, &error);
  ASSERT_TRUE(m) << error;
  EXPECT_TRUE(m->disk(0));
  fs::remove(t.path + "/machine.ini");
  ASSERT_EQ(mkfifo((t.path + "/machine.ini").c_str(), 0600), 0);
  EXPECT_FALSE(Machine::open(t.path, &error));
  EXPECT_NE(error.find("machine.ini is not a regular file"), std::string::npos) << error;
}

TEST(Machine, SmartPagesFromHex) {
  TempFolder t;
  std::string hex;
  for (int i = 0; i < 512; ++i) {
    char b[4];
    snprintf(b, sizeof b, "%02x", i & 0xFF);
    hex += b;
    hex += (i % 16 == 15) ? "  # row\n" : " ";
  }
  write_file(t.path + "/id.hex", hex);
  write_file(t.path + "/ok.img", std::string(4096, '\0'));
  write_file(t.path + "/machine.ini", "[disk 0]\nimage = ok.img\nsmart_identify = id.hex\nsmart_attributes = id.hex\n");
  std::string error;
  auto m = Machine::open(t.path, &error);
  ASSERT_TRUE(m) << error;
  auto& s = m->disk(0)->smart();
  ASSERT_TRUE(s.present());
  ASSERT_EQ(s.identify.size(), 512u);
  EXPECT_EQ(s.identify[0], 0);
  EXPECT_EQ(s.identify[17], 17);
  EXPECT_EQ(s.identify[511], 255);
  EXPECT_EQ(s.attributes, s.identify);
  EXPECT_TRUE(s.thresholds.empty());
}

class MachineFaults : public ::testing::TestWithParam<uint32_t> {};

TEST_P(MachineFaults, ReadsAndWritesFailOnListedRangesOnly) {
  uint32_t ss = GetParam();
  TempFolder t;
  write_file(t.path + "/d.img", std::string(64 * ss, '\0'));
  write_file(t.path + "/machine.ini", "[disk 0]\nimage = d.img\nsector_size = " + std::to_string(ss) +
                                          "\nunreadable = 10-12, 40\nfailing_writes = 20\nlock_refusals = 2\n");
  std::string error;
  auto m = Machine::open(t.path, &error);
  ASSERT_TRUE(m) << error;
  auto disk = m->disk(0);
  auto dev = disk->device();
  std::vector<uint8_t> buf(4 * ss, 0x5A);
  struct {
    uint64_t sector;
    size_t sectors;
    bool read_ok;
    bool write_ok;
  } cases[] = {
      {0, 4, true, true},    {6, 4, true, true},   {7, 4, false, true},  {10, 1, false, true},
      {12, 1, false, true},  {13, 4, true, true},  {17, 4, true, false}, {20, 1, true, false},
      {21, 4, true, true},   {40, 1, false, true}, {39, 1, true, true},  {41, 1, true, true},
  };
  for (auto& c : cases) {
    SetLastError(0);
    bool r = dev->read_at(c.sector * ss, buf.data(), c.sectors * ss);
    EXPECT_EQ(r, c.read_ok) << "read sector " << c.sector;
    if (!c.read_ok) {
      EXPECT_EQ(GetLastError(), ERROR_CRC);
    }
    SetLastError(0);
    bool w = dev->write_at(c.sector * ss, buf.data(), c.sectors * ss);
    EXPECT_EQ(w, c.write_ok) << "write sector " << c.sector;
    if (!c.write_ok) {
      EXPECT_EQ(GetLastError(), ERROR_WRITE_FAULT);
    }
  }
  // A byte-granular read inside sector 9 is fine; one ending in sector 10 is not.
  EXPECT_TRUE(dev->read_at(9 * ss + 3, buf.data(), ss - 3));
  EXPECT_FALSE(dev->read_at(9 * ss + 3, buf.data(), ss - 2));
  // Past the end stays a bounds error, not a fault.
  SetLastError(0);
  EXPECT_FALSE(dev->read_at(64 * ss, buf.data(), ss));
  EXPECT_EQ(GetLastError(), ERROR_SECTOR_NOT_FOUND);

  EXPECT_FALSE(disk->try_lock());
  EXPECT_FALSE(disk->try_lock());
  EXPECT_TRUE(disk->try_lock());
  EXPECT_TRUE(disk->try_lock());
}

// A flaky range fails the first read that touches it, whatever its size or
// start, and reads well from then on; an unreadable sector beside it stays
// unreadable; writes are never refused. Each row is one read, in order.
TEST_P(MachineFaults, AFlakyRangeFailsItsFirstReadOnly) {
  uint32_t ss = GetParam();
  TempFolder t;
  std::string bytes(64 * ss, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / ss);
  write_file(t.path + "/d.img", bytes);
  write_file(t.path + "/machine.ini", "[disk 0]\nimage = d.img\nsector_size = " + std::to_string(ss) +
                                          "\nflaky_reads = 10-12, 20, 30\nunreadable = 31\n");
  std::string error;
  auto m = Machine::open(t.path, &error);
  ASSERT_TRUE(m) << error;
  auto dev = m->disk(0)->device();
  std::vector<uint8_t> buf(4 * ss);
  struct {
    uint64_t sector;
    size_t sectors;
    bool direct;
    bool read_ok;
  } reads[] = {
      {0, 4, false, true},   {9, 1, false, true},   {8, 4, false, false},  // touches 10-12: fails once
      {12, 1, false, true},  {10, 3, true, true},   {18, 4, true, false},  // 20 fails on the direct path
      {20, 1, false, true},  {19, 2, true, true},   {29, 2, false, false}, // 30, beside unreadable 31
      {30, 1, false, true},  {31, 1, false, false}, {31, 1, true, false},  // 31 never reads
  };
  for (auto& r : reads) {
    SCOPED_TRACE("read of " + std::to_string(r.sectors) + " at sector " + std::to_string(r.sector));
    SetLastError(0);
    std::fill(buf.begin(), buf.end(), 0);
    const size_t length = r.sectors * ss;
    bool ok = r.direct ? dev->read_direct(r.sector * ss, buf.data(), length)
                       : dev->read_at(r.sector * ss, buf.data(), length);
    EXPECT_EQ(ok, r.read_ok);
    if (!ok) {
      EXPECT_EQ(GetLastError(), ERROR_CRC);
    } else {
      EXPECT_EQ(0, std::memcmp(buf.data(), bytes.data() + r.sector * ss, length)) << "the bytes read";
    }
  }
  EXPECT_TRUE(dev->write_at(10 * ss, buf.data(), 3 * ss));
}

INSTANTIATE_TEST_SUITE_P(SectorSizes, MachineFaults, ::testing::Values(512u, 4096u));

TEST(Machine, PollSeesAttachAndDetach) {
  TempFolder t;
  std::string error;
  ASSERT_TRUE(CreateMachineFolder(t.path, &error));
  ASSERT_TRUE(AddDiskToMachine(t.path, image_disk(0, 1 << 20), &error)) << error;
  ASSERT_TRUE(AddDiskToMachine(t.path, image_disk(1, 1 << 20), &error)) << error;
  auto m = Machine::open(t.path, &error);
  ASSERT_TRUE(m) << error;
  EXPECT_TRUE(m->poll().empty());

  ASSERT_TRUE(SetDiskAttached(t.path, 1, false, &error)) << error;
  auto c = m->poll();
  EXPECT_EQ(c.detached, std::vector<int>{1});
  EXPECT_TRUE(c.attached.empty());
  EXPECT_FALSE(m->disk(1));
  EXPECT_TRUE(m->poll().empty());  // nothing new

  ASSERT_TRUE(AddDiskToMachine(t.path, image_disk(5, 1 << 20), &error)) << error;
  ASSERT_TRUE(SetDiskAttached(t.path, 1, true, &error)) << error;
  c = m->poll();
  EXPECT_EQ(c.attached, (std::vector<int>{1, 5}));
  ASSERT_EQ(m->disks().size(), 3u);
  EXPECT_EQ(m->disks()[2]->number(), 5);

  EXPECT_FALSE(SetDiskAttached(t.path, 9, true, &error));
  EXPECT_NE(error.find("disk 9 is not listed"), std::string::npos);

  // A broken edit is logged and changes nothing.
  write_file(t.path + "/machine.ini", "[disk 0\n");
  EXPECT_TRUE(m->poll().empty());
  EXPECT_EQ(m->disks().size(), 3u);
  std::string log = read_file(m->log_path());
  EXPECT_NE(log.find("disk: disk 1 detached"), std::string::npos);
  EXPECT_NE(log.find("disk: disk 5 attached"), std::string::npos);
  EXPECT_NE(log.find("unclosed section header"), std::string::npos);
}

TEST(Machine, AddDiskErrors) {
  TempFolder t;
  std::string error;
  ASSERT_TRUE(CreateMachineFolder(t.path, &error));
  struct Case {
    DiskConfig disk;
    const char* expect;
  } cases[] = {
      {image_disk(0, 0), "does not exist and no --size was given"},
      {image_disk(0, 1000), "not a whole number of 512-byte sectors"},
      {image_disk(0, 4096 + 512, 4096), "not a whole number of 4096-byte sectors"},
      {image_disk(0, 4096, 1024), "sector size 1024"},
      {image_disk(100, 4096), "disk number 100"},
      {[] { DiskConfig d = image_disk(0, 4096); d.sectors_per_track = 0; return d; }(),
       "cannot be listed: machine.ini line"},
      {[] { DiskConfig d = image_disk(0, 4096); d.vendor = "two\nlines"; return d; }(), "cannot be listed"},
      {[] { DiskConfig d = image_disk(0, 4096); d.product = "Disk ;1"; return d; }(), "would not read back"},
      {[] { DiskConfig d = image_disk(0, 0); d.device = "/dev/null"; return d; }(), "/dev/null is not a block device"},
      {[] { DiskConfig d = image_disk(0, 0); d.device = "/dev/nonexistent-disk"; return d; }(), "does not exist"},
  };
  for (auto& c : cases) {
    EXPECT_FALSE(AddDiskToMachine(t.path, c.disk, &error));
    EXPECT_NE(error.find(c.expect), std::string::npos) << "got: " << error;
  }
  // An existing image must hold whole sectors; one that does is taken at its size.
  write_file(t.path + "/odd.img", std::string(1000, '\0'));
  DiskConfig odd = image_disk(0, 0);
  odd.image = "odd.img";
  EXPECT_FALSE(AddDiskToMachine(t.path, odd, &error));
  EXPECT_NE(error.find("odd.img is not a whole number of 512-byte sectors"), std::string::npos) << error;
  write_file(t.path + "/ok.img", std::string(8192, '\0'));
  DiskConfig ok = image_disk(0, 1ull << 30);
  ok.image = "ok.img";
  ASSERT_TRUE(AddDiskToMachine(t.path, ok, &error)) << error;
  auto m = Machine::open(t.path, &error);
  ASSERT_TRUE(m) << error;
  EXPECT_EQ(m->disk(0)->size(), 8192u);
  EXPECT_FALSE(AddDiskToMachine(t.path + "/none", image_disk(0, 4096), &error));
  EXPECT_NE(error.find("has no machine.ini"), std::string::npos);
  // A refused disk leaves no image behind.
  EXPECT_FALSE(fs::exists(t.path + "/disk0.img"));
}

TEST(Machine, CurrentMachineAndLog) {
  TempFolder t;
  std::string error;
  ASSERT_TRUE(CreateMachineFolder(t.path, &error));
  int seen = 0;
  int id = AddMachineChangedListener([&](const std::shared_ptr<Machine>& m) { seen += m ? 1 : 100; });
  EXPECT_FALSE(OpenMachine(t.path + "/none", &error));
  EXPECT_EQ(seen, 0);
  ASSERT_TRUE(OpenMachine(t.path, &error)) << error;
  EXPECT_EQ(seen, 1);
  ASSERT_TRUE(CurrentIfOpen());
  EXPECT_EQ(Current(), CurrentIfOpen());
  Log("process", "started C:\\x.exe\nsecond line");
  Log("shutdown", "restart requested");
  std::string log = read_file(t.path + "/machine.log");
  EXPECT_NE(log.find(" process: started C:\\x.exe second line\n"), std::string::npos);
  EXPECT_NE(log.find(" shutdown: restart requested\n"), std::string::npos);
  SetCurrent(nullptr);
  EXPECT_EQ(seen, 101);
  RemoveMachineChangedListener(id);
  Log("process", "goes nowhere");
  EXPECT_EQ(read_file(t.path + "/machine.log"), log);
}

TEST(Machine, HostDiskIdentityFromSysfs) {
  TempFolder t;
  struct Case {
    const char* device_path;  // where the block folder really lives
    std::vector<std::pair<std::string, std::string>> files;
    platform::machine::HostDiskIdentity expect;
  } cases[] = {
      {"devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0/block/sdb",
       {{"device/vendor", "SanDisk \n"}, {"device/model", "Cruzer Blade    \n"}, {"device/rev", "1.00\n"},
        {"removable", "1\n"}},
       {"SanDisk", "Cruzer Blade", "1.00", "", true, BusType::Usb}},
      {"devices/pci0000:00/0000:00:1d.0/nvme/nvme0/nvme0n1",
       {{"device/model", "Samsung SSD 970 EVO 1TB\n"}, {"device/firmware_rev", "2B2QEXE7\n"},
        {"device/serial", "S467NX0M123456\n"}, {"removable", "0\n"}},
       {"", "Samsung SSD 970 EVO 1TB", "2B2QEXE7", "S467NX0M123456", false, BusType::Nvme}},
      {"devices/pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block/sda",
       {{"device/vendor", "ATA\n"}, {"device/model", "ST500DM002\n"}},
       {"ATA", "ST500DM002", "", "", false, BusType::Sata}},
      {"devices/virtual/block/loop0", {}, {"", "", "", "", false, std::nullopt}},
  };
  int i = 0;
  for (auto& c : cases) {
    std::string real = t.path + "/" + c.device_path;
    fs::create_directories(real + "/device");
    for (auto& [name, text] : c.files) write_file(real + "/" + name, text);
    std::string link = t.path + "/class" + std::to_string(i++);
    fs::create_directory_symlink(real, link);
    auto id = ReadHostDiskIdentity(link);
    EXPECT_EQ(id.vendor, c.expect.vendor) << c.device_path;
    EXPECT_EQ(id.product, c.expect.product) << c.device_path;
    EXPECT_EQ(id.revision, c.expect.revision) << c.device_path;
    EXPECT_EQ(id.serial, c.expect.serial) << c.device_path;
    EXPECT_EQ(id.removable, c.expect.removable) << c.device_path;
    EXPECT_EQ(id.bus, c.expect.bus) << c.device_path;
  }
  auto none = ReadHostDiskIdentity(t.path + "/no-such-device");
  EXPECT_TRUE(none.product.empty());
  EXPECT_FALSE(none.bus);
}

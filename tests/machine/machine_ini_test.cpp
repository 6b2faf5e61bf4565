#include <gtest/gtest.h>

#include "platform/machine/machine.h"

using namespace platform::machine;

namespace {

MachineConfig full_config() {
  MachineConfig c;
  c.rescans_before_new_volume = 3;
  c.os.major = 6;
  c.os.minor = 1;
  c.os.build = 7601;
  c.os.service_pack = "Service Pack 1";
  c.os.winpe = true;
  c.os.wow64 = true;
  c.os.computer_name = "BENCH";
  c.os.user_name = "tester";
  c.os.windows_folder = "X:\\Windows";
  c.os.system_folder = "X:\\Windows\\System32";
  DiskConfig d0;
  d0.number = 0;
  d0.image = "disk0.img";
  d0.size = 8ull << 30;
  d0.vendor = "ATA";
  d0.product = "Some SSD";
  d0.serial = "S123";
  d0.smart_identify = "id.hex";
  d0.faults.unreadable = {{100, 199}, {5000, 5000}};
  d0.faults.failing_writes = {{7, 9}};
  d0.faults.flaky_reads = {{300, 301}, {900, 900}};
  d0.faults.lock_refusals = 2;
  DiskConfig d12;
  d12.number = 12;
  d12.device = "/dev/sdz";
  d12.sector_size = 4096;
  d12.bus = BusType::Usb;
  d12.removable = true;
  d12.attached = false;
  d12.cylinders = 77;
  d12.tracks_per_cylinder = 16;
  d12.sectors_per_track = 32;
  d12.faults.open_fails = true;
  c.disks = {d0, d12};
  c.mounts = {HostMount{"pe", "X:", "hostx", true, "cdrom"}, HostMount{"app", "C:\\Program Files\\Drummetworks", "/opt/x", false, "fixed"}};
  return c;
}

}  // namespace

TEST(MachineIni, RoundTripKeepsEveryField) {
  MachineConfig c = full_config();
  std::string text = FormatMachineIni(c);
  std::string error;
  auto back = ParseMachineIni(text, &error);
  ASSERT_TRUE(back) << error;
  EXPECT_EQ(*back, c);
  // A second round gives the same text.
  EXPECT_EQ(FormatMachineIni(*back), text);
}

TEST(MachineIni, ReadsHandWrittenFile) {
  const char* text =
      "; comment\n"
      "# another\n"
      "[OS]\n"
      "Major = 5\n"
      "WinPE = on\n"
      "[disk 3]   ; the data disk\n"
      "image = /abs/d.img\t# kept on the host\n"
      "serial = A;B#C\n"
      "Sector_Size = 0x1000 ; native\n"
      "bus = NVMe\n"
      "unreadable = 1 - 4 ,9\n"
      "[mount tools]\n"
      "path = d:\\tools\n"
      "host = t\n";
  std::string error;
  auto c = ParseMachineIni(text, &error);
  ASSERT_TRUE(c) << error;
  EXPECT_EQ(c->os.major, 5u);
  EXPECT_TRUE(c->os.winpe);
  ASSERT_EQ(c->disks.size(), 1u);
  EXPECT_EQ(c->disks[0].number, 3);
  EXPECT_EQ(c->disks[0].sector_size, 4096u);
  EXPECT_EQ(c->disks[0].image, "/abs/d.img");
  EXPECT_EQ(c->disks[0].serial, "A;B#C");  // no blank before them: part of the value
  EXPECT_EQ(c->disks[0].bus, BusType::Nvme);
  EXPECT_EQ(c->disks[0].faults.unreadable, (std::vector<SectorRange>{{1, 4}, {9, 9}}));
  ASSERT_EQ(c->mounts.size(), 1u);
  EXPECT_EQ(c->mounts[0].path, "D:\\tools");
  EXPECT_FALSE(c->mounts[0].is_whole_drive());
}

TEST(MachineIni, BadInputNamesLineAndValue) {
  struct Case {
    const char* text;
    const char* expect;  // a piece of the message
  } cases[] = {
      {"[disk 0]\nimage = a\nsector_size = 1024\n", "line 3: sector_size = \"1024\" is not 512 or 4096"},
      {"[disk 100]\nimage = a\n", "line 1: disk number \"100\""},
      {"[disk x]\n", "disk number \"x\""},
      {"[disk 1]\nimage=a\n[disk 1]\nimage=b\n", "line 3: disk 1 is listed twice"},
      {"[disk 1]\nimage = a\nbus = floppy\n", "bus = \"floppy\""},
      {"[disk 1]\nimage = a\nsize = 8Q\n", "size = \"8Q\""},
      {"[disk 1]\nimage = a\nsize = 0\n", "size = \"0\""},
      {"[disk 1]\nimage = a\nunreadable = 9-3\n", "unreadable = \"9-3\""},
      {"[disk 1]\nimage = a\nflaky_reads = 7-\n", "flaky_reads = \"7-\""},
      {"[disk 1]\nimage = a\nremovable = maybe\n", "removable = \"maybe\""},
      {"[disk 1]\nimage = a\ncolour = red\n", "unknown key \"colour\" in [disk 1]"},
      {"[disk 1]\nsize = 1G\n", "machine.ini: disk 1 needs exactly one of image = or device ="},
      {"[disk 1]\nimage = a\ndevice = /dev/sda\n", "exactly one"},
      {"major = 5\n", "line 1: key \"major\" outside a section"},
      {"[os\n", "unclosed section header"},
      {"[printer]\n", "unknown section [printer]"},
      {"[os]\nwinpe\n", "expected key = value"},
      {"[os]\nbuild = -1\n", "build = \"-1\""},
      {"[mount a]\npath = elsewhere\nhost = h\n", "path \"elsewhere\""},
      {"[mount a]\npath = X:\n", "mount a has no host folder"},
      {"[disk 1]\nimage = a\nsectors_per_track = 0\n", "sectors_per_track = \"0\" is not 1..65535"},
      {"[disk 1]\nimage = a\ntracks_per_cylinder = 65536\n", "tracks_per_cylinder = \"65536\""},
      {"[mount a]\npath = X:\nhost = h\ndrive_type = floppy\n", "drive_type = \"floppy\""},
      // Two sections claiming one name or one place inside the PC.
      {"[mount a]\npath = X:\nhost = h\n[mount A]\npath = Y:\nhost = h\n", "line 4: mount A is listed twice"},
      {"[mount a]\npath = X:\nhost = h\n[mount b]\npath = x:\nhost = g\n",
       "mount b: drive letter X: is already taken by mount a"},
      {"[mount a]\npath = X:\\\nhost = h\n[mount b]\npath = X:\nhost = g\n", "drive letter X: is already taken"},
      {"[mount a]\npath = C:\\Tools\nhost = h\n[mount b]\npath = c:\\TOOLS\\\nhost = g\n",
       "mount b: path C:\\TOOLS\\ is already taken by mount a"},
  };
  for (auto& c : cases) {
    std::string error;
    EXPECT_FALSE(ParseMachineIni(c.text, &error)) << c.text;
    EXPECT_NE(error.find(c.expect), std::string::npos) << "got: " << error << "\nwanted: " << c.expect;
  }
}

TEST(MachineIni, SizesAndBusNames) {
  struct {
    const char* text;
    std::optional<uint64_t> bytes;
  } sizes[] = {
      {"512", 512},          {"8G", 8ull << 30},    {"8g", 8ull << 30}, {"64M", 64ull << 20}, {"2T", 2ull << 40},
      {"1K", 1024},          {"8GB", 8ull << 30},   {"8GiB", 8ull << 30}, {"", std::nullopt}, {"G", std::nullopt},
      {"1.5G", std::nullopt}, {"-1G", std::nullopt}, {"0", std::nullopt}, {"99999999999T", std::nullopt},
  };
  for (auto& s : sizes) EXPECT_EQ(ParseSize(s.text), s.bytes) << s.text;
  for (auto bus : {BusType::Ata, BusType::Sata, BusType::Scsi, BusType::Usb, BusType::Nvme, BusType::Sas})
    EXPECT_EQ(ParseBusType(BusTypeName(bus)), bus);
  EXPECT_EQ(static_cast<int>(BusType::Usb), 7);
  EXPECT_EQ(static_cast<int>(BusType::Sata), 11);
  EXPECT_EQ(static_cast<int>(BusType::Nvme), 17);
  EXPECT_FALSE(ParseBusType("floppy"));
}

// Damaged files: each round flips, drops or inserts a few bytes of a good
// file. Every outcome is either a config that survives its own round trip or
// an error that names a line.
TEST(MachineIni, SeededDamageRounds) {
  std::string good = FormatMachineIni(full_config());
  uint32_t seed = 20261210;
  auto next = [&] {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
  };
  const char noise[] = "[]=;#\n \t-,0x9Gzk\xff\x00";
  int parsed = 0, refused = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string text = good;
    int edits = 1 + next() % 4;
    for (int e = 0; e < edits && !text.empty(); ++e) {
      size_t at = next() % text.size();
      switch (next() % 3) {
        case 0: text[at] = noise[next() % (sizeof noise - 1)]; break;
        case 1: text.erase(at, 1 + next() % 8); break;
        default: text.insert(at, 1, noise[next() % (sizeof noise - 1)]); break;
      }
    }
    std::string error;
    auto config = ParseMachineIni(text, &error);
    if (config) {
      ++parsed;
      auto again = ParseMachineIni(FormatMachineIni(*config), &error);
      ASSERT_TRUE(again) << "round " << round << ": " << error;
      EXPECT_EQ(*again, *config) << "round " << round;
    } else {
      ++refused;
      EXPECT_EQ(error.rfind("machine.ini", 0), 0u) << "round " << round << ": " << error;
    }
  }
  // Both outcomes happen, so the rounds test what they claim to.
  EXPECT_GT(parsed, 100);
  EXPECT_GT(refused, 100);
}

// Setting one disk key edits one line and keeps the rest of the user's file.
TEST(MachineIni, SetDiskValueKeepsTheRestOfTheFile) {
  const std::string text =
      "; my bench PC\n[disk 0]\nimage = a.img   ; the system disk\n  attached = yes   ; plugged\n\n"
      "[disk 1]\nimage = b.img\n\n[mount tools]\npath = X:\nhost = t\n";
  struct Case {
    int disk;
    const char* value;
    std::string expected;
  } cases[] = {
      {0, "no",
       "; my bench PC\n[disk 0]\nimage = a.img   ; the system disk\n  attached = no ; plugged\n\n"
       "[disk 1]\nimage = b.img\n\n[mount tools]\npath = X:\nhost = t\n"},
      {1, "no",
       "; my bench PC\n[disk 0]\nimage = a.img   ; the system disk\n  attached = yes   ; plugged\n\n"
       "[disk 1]\nimage = b.img\n\nattached = no\n[mount tools]\npath = X:\nhost = t\n"},
      {7, "no", text},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.disk);
    std::string edited = platform::machine::SetDiskIniValue(text, c.disk, "attached", c.value);
    EXPECT_EQ(edited, c.expected);
    std::string error;
    auto config = platform::machine::ParseMachineIni(edited, &error);
    ASSERT_TRUE(config) << error;
    if (auto* d = config->find_disk(c.disk)) {
      EXPECT_FALSE(d->attached);
    }
  }
  // The last section, without a final line break, and CRLF lines.
  EXPECT_EQ(platform::machine::SetDiskIniValue("[disk 2]\r\nimage = c.img", 2, "attached", "no"),
            "[disk 2]\r\nimage = c.img\r\nattached = no\r\n");
  // A key written twice is set on both lines: the reader takes the last.
  const std::string twice = "[disk 0]\nimage = a.img\nattached = yes\nattached = no\n";
  const std::string set = platform::machine::SetDiskIniValue(twice, 0, "attached", "yes");
  EXPECT_EQ(set, "[disk 0]\nimage = a.img\nattached = yes\nattached = yes\n");
  std::string twiceError;
  auto twiceConfig = platform::machine::ParseMachineIni(set, &twiceError);
  ASSERT_TRUE(twiceConfig) << twiceError;
  EXPECT_TRUE(twiceConfig->find_disk(0)->attached);
  // A byte-order mark in front of the first section does not hide it.
  const std::string bom = "\xEF\xBB\xBF[disk 1]\r\nimage = a.img\r\n";
  EXPECT_EQ(platform::machine::SetDiskIniValue(bom, 1, "attached", "no"), bom + "attached = no\r\n");
}

// Volumes, names, letters, the registry values kept in step, and the device
// notifications of the mount manager, on images laid out by sfdisk, sgdisk
// or the stand-in codec and formatted by mkfs.fat / mkntfs.
#include <cstring>

#include "mount_fixture.h"

using namespace mount_test;
using namespace platform::storage;
using platform::machine::BusType;

namespace {

constexpr uint64_t MiB = 1 << 20;

LayoutEntry mbr_entry(uint64_t start, uint64_t length, uint8_t type, uint32_t sector) {
  LayoutEntry e;
  e.style = PartitionStyle::Mbr;
  e.start = start;
  e.length = length;
  e.mbr_type = type;
  e.recognized = true;
  e.hidden_sectors = static_cast<uint32_t>(start / sector);
  return e;
}

void write_mbr(const std::string& path, uint32_t sector, uint32_t signature, std::vector<LayoutEntry> entries) {
  auto dev = platform::FileBlockDevice::open(path, sector);
  ASSERT_TRUE(dev);
  DiskLayout layout;
  layout.style = PartitionStyle::Mbr;
  layout.mbr_signature = signature;
  layout.entries = std::move(entries);
  auto r = WriteDiskLayout(*dev, layout);
  ASSERT_TRUE(r.ok()) << r.message;
}

struct Events {
  std::vector<DeviceChange> seen;
  int id;
  Events() { id = AddDeviceChangeListener([this](const DeviceChange& c) { seen.push_back(c); }); }
  ~Events() { RemoveDeviceChangeListener(id); }
  DWORD mask(DWORD event) const {
    DWORD m = 0;
    for (auto& e : seen)
      if (e.event == event && e.device_type == DBT_DEVTYP_VOLUME) m |= e.unit_mask;
    return m;
  }
  int disks(DWORD event) const {
    int n = 0;
    for (auto& e : seen) n += e.event == event && e.device_type == DBT_DEVTYP_DEVICEINTERFACE;
    return n;
  }
};

constexpr DWORD bit(char letter) { return 1u << (letter - 'A'); }

std::vector<uint8_t> mounted_device(const std::u16string& name) {
  DWORD type = 0;
  std::vector<uint8_t> data;
  if (!reg_value(u"SYSTEM\\MountedDevices", name, &type, &data) || type != REG_BINARY) return {};
  return data;
}

}  // namespace

class MountBySector : public MountTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(MountBySector, VolumesAppearAfterRescanAndVanishWhenSectorZeroIsCleared) {
  const uint32_t ss = GetParam();
  add_disk(0, 96 * MiB, ss);
  write_mbr(image(0), ss, 0x1234ABCD, {mbr_entry(1 * MiB, 40 * MiB, 0x06, ss), mbr_entry(41 * MiB, 48 * MiB, 0x07, ss)});
  format_at(0, 1 * MiB, 40 * MiB, "mkfs.fat -F 16 -s " + std::string(ss == 512 ? "4" : "1") + " -S " + std::to_string(ss));
  format_at(0, 41 * MiB, 48 * MiB, "mkntfs -F -f -q -s " + std::to_string(ss));
  Events events;
  boot();  // opening the machine scans it

  auto vols = volumes_of(0);
  ASSERT_EQ(vols.size(), 2u);
  struct Expect {
    WCHAR letter;
    int number;
    uint64_t offset, length;
    const char* fs;
  } expect[] = {{u'C', 1, 1 * MiB, 40 * MiB, "FAT16"}, {u'D', 2, 41 * MiB, 48 * MiB, "NTFS"}};
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(vols[i].letter, expect[i].letter);
    EXPECT_EQ(vols[i].partition_number, expect[i].number);
    EXPECT_EQ(vols[i].offset, expect[i].offset);
    EXPECT_EQ(vols[i].length, expect[i].length);
    EXPECT_EQ(vols[i].file_system, expect[i].fs);
    EXPECT_EQ(vols[i].device_name, u"\\Device\\HarddiskVolume" + platform::to_utf16(std::to_string(i + 1)));
    EXPECT_EQ(vols[i].guid_path.size(), 49u);
    EXPECT_EQ(vols[i].guid_path.substr(0, 11), u"\\\\?\\Volume{");
    ASSERT_TRUE(vols[i].device);
    EXPECT_EQ(vols[i].device->size(), expect[i].length);
  }
  // The volume's device is a window onto its partition: the boot sector reads at offset 0.
  uint8_t boot_sector[512];
  ASSERT_TRUE(vols[1].device->read_at(0, boot_sector, 512));
  EXPECT_EQ(std::memcmp(boot_sector + 3, "NTFS    ", 8), 0);

  EXPECT_EQ(events.disks(DBT_DEVICEARRIVAL), 1);
  EXPECT_EQ(events.mask(DBT_DEVICEARRIVAL), bit('C') | bit('D'));

  // MountedDevices: signature + byte offset, for the letter and for the volume name.
  EXPECT_EQ(mounted_device(u"\\DosDevices\\C:"), MountedDeviceIdForMbr(0x1234ABCD, 1 * MiB));
  EXPECT_EQ(mounted_device(u"\\DosDevices\\D:"), MountedDeviceIdForMbr(0x1234ABCD, 41 * MiB));
  auto d_id = mounted_device(u"\\DosDevices\\D:");
  ASSERT_EQ(d_id.size(), 12u);
  EXPECT_EQ(d_id[0], 0xCD);
  EXPECT_EQ(d_id[3], 0x12);
  EXPECT_EQ(d_id[4] | d_id[5] << 8 | d_id[6] << 16 | d_id[7] << 24, 41 * MiB);
  EXPECT_EQ(mounted_device(u"\\??\\Volume" + vols[0].guid_path.substr(10, 38)), MountedDeviceIdForMbr(0x1234ABCD, 1 * MiB));

  // Clearing sector 0 takes both volumes away.
  auto guids = std::make_pair(vols[0].guid_path, vols[1].guid_path);
  {
    auto dev = platform::FileBlockDevice::open(image(0), ss);
    std::vector<uint8_t> zero(ss, 0);
    ASSERT_TRUE(dev->write_at(0, zero.data(), ss));
  }
  events.seen.clear();
  RescanDisk(0);
  EXPECT_TRUE(volumes_of(0).empty());
  EXPECT_EQ(events.mask(DBT_DEVICEREMOVECOMPLETE), bit('C') | bit('D'));
  EXPECT_EQ(LetterMask() & (bit('C') | bit('D')), 0u);

  // The table comes back: same names, same letters (from MountedDevices).
  write_mbr(image(0), ss, 0x1234ABCD, {mbr_entry(1 * MiB, 40 * MiB, 0x06, ss), mbr_entry(41 * MiB, 48 * MiB, 0x07, ss)});
  RescanDisk(0);
  vols = volumes_of(0);
  ASSERT_EQ(vols.size(), 2u);
  EXPECT_EQ(vols[0].guid_path, guids.first);
  EXPECT_EQ(vols[1].guid_path, guids.second);
  EXPECT_EQ(vols[0].letter, u'C');
  EXPECT_EQ(vols[1].letter, u'D');
}

INSTANTIATE_TEST_SUITE_P(SectorSizes, MountBySector, ::testing::Values(512u, 4096u));

TEST_F(MountTest, LettersFollowMountedDevicesThenFirstFree) {
  add_disk(0, 64 * MiB);
  ASSERT_EQ(sh("printf 'label: dos\\nlabel-id: 0x0BADCAFE\\nstart=2048, size=20480, type=7\\n"
               "start=22528, size=20480, type=7\\nstart=43008, size=20480, type=7\\n' | sfdisk " + image(0)),
            0);
  ASSERT_EQ(platform::registry::OpenLiveRegistry(dir + "/registry.reg"), ERROR_SUCCESS);
  // Partition 2 was K: before; M: belongs to a volume that is not here.
  reg_set(u"SYSTEM\\MountedDevices", u"\\DosDevices\\K:", REG_BINARY, MountedDeviceIdForMbr(0x0BADCAFE, 22528ull * 512));
  reg_set(u"SYSTEM\\MountedDevices", u"\\DosDevices\\C:", REG_BINARY, MountedDeviceIdForMbr(0x11111111, 1 * MiB));
  boot();
  RescanAll();
  auto vols = volumes_of(0);
  ASSERT_EQ(vols.size(), 3u);
  EXPECT_EQ(vols[0].letter, u'D');  // C: is recorded for another volume
  EXPECT_EQ(vols[1].letter, u'K');
  EXPECT_EQ(vols[2].letter, u'E');
  EXPECT_EQ(vols[0].file_system, "RAW");  // unformatted
  EXPECT_EQ(mounted_device(u"\\DosDevices\\E:"), MountedDeviceIdForMbr(0x0BADCAFE, 43008ull * 512));
  EXPECT_EQ(LetterMask(), bit('D') | bit('E') | bit('K'));
}

TEST_F(MountTest, NoAutoMountKeepsRecordedLettersOnly) {
  add_disk(0, 64 * MiB);
  ASSERT_EQ(sh("printf 'label: dos\\nlabel-id: 0x22222222\\nstart=2048, size=20480, type=c\\n"
               "start=22528, size=20480, type=7\\n' | sfdisk " + image(0)),
            0);
  ASSERT_EQ(platform::registry::OpenLiveRegistry(dir + "/registry.reg"), ERROR_SUCCESS);
  DWORD one = 1;
  reg_set(u"SYSTEM\\CurrentControlSet\\Services\\MountMgr", u"NoAutoMount", REG_DWORD,
          std::vector<uint8_t>(reinterpret_cast<uint8_t*>(&one), reinterpret_cast<uint8_t*>(&one) + 4));
  reg_set(u"SYSTEM\\MountedDevices", u"\\DosDevices\\G:", REG_BINARY, MountedDeviceIdForMbr(0x22222222, 22528ull * 512));
  boot();
  RescanAll();
  auto vols = volumes_of(0);
  ASSERT_EQ(vols.size(), 2u);  // both are volumes ...
  EXPECT_EQ(vols[0].letter, 0);  // ... but only the recorded one has a letter
  EXPECT_EQ(vols[1].letter, u'G');
  EXPECT_TRUE(mounted_device(u"\\??\\Volume" + vols[0].guid_path.substr(10, 38)).size() == 12);
}

TEST_F(MountTest, GptLettersOnlyForBasicData) {
  add_disk(0, 64 * MiB);
  ASSERT_EQ(sh("sgdisk -n 1:2048:+8M -t 1:ef00 -n 2:0:+8M -t 2:0c01 -n 3:0:+8M -t 3:0700 -n 4:0:+8M -t 4:8300 "
               "-n 5:0:+8M -t 5:0700 -A 5:set:63 " + image(0)),
            0);
  boot();
  RescanAll();
  auto vols = volumes_of(0);
  ASSERT_EQ(vols.size(), 4u);  // the reserved partition is no volume
  int with_letter = 0;
  for (auto& v : vols) {
    if (v.letter) {
      ++with_letter;
      EXPECT_EQ(v.partition_number, 3);
      EXPECT_EQ(v.letter, u'C');
    }
  }
  EXPECT_EQ(with_letter, 1);
  // MountedDevices holds "DMIO:ID:" and the partition GUID in stored order; sgdisk names the GUID.
  std::string info;
  ASSERT_EQ(sh("sgdisk -i 3 " + image(0), &info), 0);
  auto at = info.find("unique GUID: ");
  ASSERT_NE(at, std::string::npos);
  GUID unique{};
  ASSERT_TRUE(GuidFromText(info.substr(at + 13, 36), &unique));
  auto id = mounted_device(u"\\DosDevices\\C:");
  ASSERT_EQ(id.size(), 24u);
  EXPECT_EQ(std::string(id.begin(), id.begin() + 8), "DMIO:ID:");
  // Stored order: Data1..Data3 little-endian, then Data4 as is.
  EXPECT_EQ(id[8], unique.Data1 & 0xFF);
  EXPECT_EQ(id[11], unique.Data1 >> 24);
  EXPECT_EQ(id[12], unique.Data2 & 0xFF);
  EXPECT_EQ(id[23], unique.Data4[7]);
  EXPECT_EQ(id, MountedDeviceIdForGpt(unique));
}

TEST_F(MountTest, VolumeNamesAreStableAndDistinct) {
  add_disk(0, 32 * MiB);
  add_disk(1, 32 * MiB);
  ASSERT_EQ(sh("printf 'label: dos\\nlabel-id: 0x33333333\\nstart=2048, size=20480, type=7\\n' | sfdisk " + image(0)), 0);
  ASSERT_EQ(sh("cp " + image(0) + " " + image(1)), 0);  // a clone: same signature, same offset
  boot();
  RescanAll();
  auto a = volumes_of(0), b = volumes_of(1);
  ASSERT_EQ(a.size(), 1u);
  ASSERT_EQ(b.size(), 1u);
  EXPECT_NE(a[0].guid_path, b[0].guid_path);
  // A fresh start gives the same names.
  ResetMountManager();
  RescanAll();
  EXPECT_EQ(volumes_of(0)[0].guid_path, a[0].guid_path);
  EXPECT_EQ(volumes_of(1)[0].guid_path, b[0].guid_path);

  // The derivation: same id, same GUID; any change of signature or offset, another.
  auto base = VolumeGuidFromId(MountedDeviceIdForMbr(0x33333333, MiB));
  EXPECT_EQ(VolumeGuidPath(base), a[0].guid_path);
  EXPECT_FALSE(VolumeGuidFromId(MountedDeviceIdForMbr(0x33333334, MiB)) == base);
  EXPECT_FALSE(VolumeGuidFromId(MountedDeviceIdForMbr(0x33333333, MiB + 512)) == base);
  EXPECT_FALSE(VolumeGuidFromId(MountedDeviceIdForMbr(0x33333333, MiB), 2) == base);
  // Pinned so that names stay the same from one build to the next.
  EXPECT_EQ(VolumeGuidPath(VolumeGuidFromId(MountedDeviceIdForMbr(0x12345678, 1048576))),
            u"\\\\?\\Volume{e70ea810-f594-40e6-a9fb-e54785ef95fd}\\");
}

TEST_F(MountTest, DiskEnumListsUsbAndSataDisks) {
  platform::machine::DiskConfig sata;
  sata.number = 0;
  sata.size = MiB;
  sata.bus = BusType::Sata;
  sata.vendor = "ATA";
  sata.product = "Some SSD 500";
  sata.serial = "S1";
  platform::machine::DiskConfig usb;
  usb.number = 1;
  usb.size = MiB;
  usb.bus = BusType::Usb;
  usb.vendor = "SanDisk ";
  usb.product = "Cruzer Blade";
  usb.revision = "1.00";
  usb.serial = "4C530001230408101484";
  usb.removable = true;
  platform::machine::DiskConfig ide = sata;
  ide.number = 2;
  ide.bus = BusType::Ata;
  ide.product = "ST3500418AS";
  ide.revision = "CC38";
  std::string error;
  for (auto& d : {sata, usb, ide}) ASSERT_TRUE(platform::machine::AddDiskToMachine(dir, d, &error)) << error;
  boot();
  RescanAll();
  for (auto key : {u"SYSTEM\\CurrentControlSet\\Services\\disk\\Enum", u"SYSTEM\\ControlSet001\\Services\\disk\\Enum"}) {
    DWORD type = 0;
    std::vector<uint8_t> count;
    ASSERT_TRUE(reg_value(key, u"Count", &type, &count));
    EXPECT_EQ(type, REG_DWORD);
    ASSERT_EQ(count.size(), 4u);
    EXPECT_EQ(count[0], 3);
    std::u16string v0 = reg_string(key, u"0"), v1 = reg_string(key, u"1"), v2 = reg_string(key, u"2");
    EXPECT_EQ(v1, u"USBSTOR\\Disk&Ven_SanDisk&Prod_Cruzer_Blade&Rev_1.00\\4C530001230408101484&0");
    EXPECT_EQ(v0.rfind(u"SCSI\\Disk&Ven_ATA&Prod_Some_SSD_500\\4&", 0), 0u) << platform::to_utf8(v0);
    EXPECT_EQ(v2.rfind(u"IDE\\DiskST3500418AS_____________________________CC38____\\5&", 0), 0u)
        << platform::to_utf8(v2);
    EXPECT_EQ(reg_string(key, u"3"), u"<missing>");
    // The programs cut the serial out of the part after the last backslash.
    auto tail = [](const std::u16string& s) { return s.substr(s.rfind(u'\\') + 1); };
    auto t1 = tail(v1);
    EXPECT_EQ(t1.substr(0, t1.find(u'&', 1)), u"4C530001230408101484");
    for (auto& v : {v0, v2}) {
      auto t = tail(v);
      auto amp = t.find(u'&', 1);
      ASSERT_LT(amp, 5u);  // short instance prefix: the id is the next field
      auto rest = t.substr(amp + 1);
      auto id = rest.substr(0, rest.find(u'&', 1));
      EXPECT_GE(id.size(), 1u);
      EXPECT_EQ(id.find_first_not_of(u"0123456789abcdef"), std::u16string::npos);
    }
  }
  // Detaching a disk shortens the list.
  ASSERT_TRUE(platform::machine::SetDiskAttached(dir, 1, false, &error)) << error;
  PollDeviceChanges();
  DWORD type = 0;
  std::vector<uint8_t> count;
  ASSERT_TRUE(reg_value(u"SYSTEM\\CurrentControlSet\\Services\\disk\\Enum", u"Count", &type, &count));
  EXPECT_EQ(count[0], 2);
  EXPECT_EQ(reg_string(u"SYSTEM\\CurrentControlSet\\Services\\disk\\Enum", u"2"), u"<missing>");
}

TEST_F(MountTest, NewVolumeWaitsTheConfiguredPasses) {
  add_disk(0, 32 * MiB);
  add_disk(1, 32 * MiB);
  add_disk(2, 32 * MiB);
  set_ini_value("machine", "rescans_before_new_volume", "2");
  for (int n : {0, 1, 2})
    ASSERT_EQ(sh("printf 'label: dos\\nstart=2048, size=20480, type=7\\n' | sfdisk " + image(n)), 0);
  Events events;
  boot();  // the first scan finds the volumes and holds them back
  EXPECT_TRUE(MountedVolumes().empty());
  RescanAll();  // pass 1, however many disks it reads
  EXPECT_TRUE(MountedVolumes().empty());
  EXPECT_EQ(events.mask(DBT_DEVICEARRIVAL), 0u);
  PollDeviceChanges();  // pass 2: they show
  ASSERT_EQ(MountedVolumes().size(), 3u);
  EXPECT_EQ(volumes_of(0)[0].letter, u'C');
  EXPECT_EQ(volumes_of(2)[0].letter, u'E');
  EXPECT_EQ(events.mask(DBT_DEVICEARRIVAL), bit('C') | bit('D') | bit('E'));
  // A volume that stays is not delayed again by later rescans.
  RescanDisk(0);
  EXPECT_EQ(volumes_of(0).size(), 1u);
}

TEST_F(MountTest, OpeningTheMachineScansIt) {
  add_disk(0, 32 * MiB);
  ASSERT_EQ(sh("printf 'label: dos\\nstart=2048, size=20480, type=7\\n' | sfdisk " + image(0)), 0);
  boot();
  // No rescan asked for: making the machine current was enough.
  auto vols = MountedVolumes();
  ASSERT_EQ(vols.size(), 1u);
  EXPECT_EQ(vols[0].letter, u'C');
  platform::machine::SetCurrent(nullptr);
  EXPECT_TRUE(MountedVolumes().empty());
}

TEST_F(MountTest, AttachAndDetachRaiseNotifications) {
  add_disk(0, 32 * MiB);
  add_disk(1, 64 * MiB, 512, BusType::Usb, true);
  ASSERT_EQ(sh("printf 'label: dos\\nstart=2048, size=20480, type=7\\n' | sfdisk " + image(0)), 0);
  ASSERT_EQ(sh("printf 'label: dos\\nstart=2048, size=100000, type=c\\n' | sfdisk " + image(1)), 0);
  format_at(1, MiB, 100000ull * 512, "mkfs.fat -F 32");
  std::string error;
  ASSERT_TRUE(platform::machine::SetDiskAttached(dir, 1, false, &error));
  boot();
  RescanAll();
  EXPECT_EQ(LetterMask(), bit('C'));
  Events events;
  ASSERT_TRUE(platform::machine::SetDiskAttached(dir, 1, true, &error));
  PollDeviceChanges();
  ASSERT_EQ(events.seen.size(), 2u);
  EXPECT_EQ(events.seen[0].event, DBT_DEVICEARRIVAL);
  EXPECT_EQ(events.seen[0].device_type, DBT_DEVTYP_DEVICEINTERFACE);
  EXPECT_EQ(events.seen[0].disk, 1);
  EXPECT_EQ(events.seen[1].event, DBT_DEVICEARRIVAL);
  EXPECT_EQ(events.seen[1].device_type, DBT_DEVTYP_VOLUME);
  EXPECT_EQ(events.seen[1].unit_mask, bit('D'));
  auto record = BroadcastVolumeFor(events.seen[1]);
  EXPECT_EQ(record.dbcv_size, 20u);
  EXPECT_EQ(record.dbcv_devicetype, DBT_DEVTYP_VOLUME);
  EXPECT_EQ(record.dbcv_unitmask, bit('D'));
  auto stick = volumes_of(1);
  ASSERT_EQ(stick.size(), 1u);
  EXPECT_TRUE(stick[0].removable);
  EXPECT_EQ(stick[0].file_system, "FAT32");

  events.seen.clear();
  ASSERT_TRUE(platform::machine::SetDiskAttached(dir, 1, false, &error));
  PollDeviceChanges();
  EXPECT_EQ(events.mask(DBT_DEVICEREMOVECOMPLETE), bit('D'));
  EXPECT_EQ(events.disks(DBT_DEVICEREMOVECOMPLETE), 1);
  EXPECT_TRUE(volumes_of(1).empty());
  EXPECT_EQ(LetterMask(), bit('C'));
  // Plugged in again, the stick gets its letter back.
  ASSERT_TRUE(platform::machine::SetDiskAttached(dir, 1, true, &error));
  PollDeviceChanges();
  ASSERT_EQ(volumes_of(1).size(), 1u);
  EXPECT_EQ(volumes_of(1)[0].letter, u'D');
}

TEST_F(MountTest, HugeTablesAreCutAndLettersRunOut) {
  add_disk(0, 64 * MiB);
  {
    auto dev = platform::FileBlockDevice::open(image(0), 512);
    ASSERT_TRUE(dev);
    DiskLayout layout;
    layout.style = PartitionStyle::Gpt;
    layout.max_partition_count = 512;
    GUID basic;
    ASSERT_TRUE(GuidFromText("EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", &basic));
    for (int i = 0; i < 300; ++i) {
      LayoutEntry e;
      e.style = PartitionStyle::Gpt;
      e.start = MiB + uint64_t(i) * 128 * 1024;
      e.length = 128 * 1024;
      e.type_guid = basic;
      layout.entries.push_back(e);
    }
    auto r = WriteDiskLayout(*dev, layout);
    ASSERT_TRUE(r.ok()) << r.message;
  }
  boot();
  auto vols = volumes_of(0);
  EXPECT_EQ(vols.size(), 256u);
  int lettered = 0;
  for (auto& v : vols) lettered += v.letter != 0;
  EXPECT_EQ(lettered, 24);  // C: to Z:
  EXPECT_EQ(LetterMask(), 0x03FFFFFCu);
  std::ifstream log(dir + "/machine.log");
  std::string text((std::istreambuf_iterator<char>(log)), {});
  EXPECT_NE(text.find("more than 256 partitions"), std::string::npos) << text;
}

TEST_F(MountTest, WholeDiskFileSystemIsOneVolume) {
  platform::machine::DiskConfig stick;
  stick.number = 0;
  stick.size = 64 * MiB;
  stick.bus = BusType::Usb;
  stick.vendor = "Generic";
  stick.product = "Flash Disk";
  stick.revision = "8.07";
  stick.serial = "AA01";
  stick.removable = true;
  std::string error;
  ASSERT_TRUE(platform::machine::AddDiskToMachine(dir, stick, &error)) << error;
  add_disk(1, 32 * MiB);  // empty: no volume
  ASSERT_EQ(sh("mkfs.fat -F 32 " + image(0)), 0);
  boot();
  auto vols = MountedVolumes();
  ASSERT_EQ(vols.size(), 1u);
  EXPECT_EQ(vols[0].disk_number, 0);
  EXPECT_EQ(vols[0].partition_number, 1);
  EXPECT_EQ(vols[0].offset, 0u);
  EXPECT_EQ(vols[0].length, 64 * MiB);
  EXPECT_EQ(vols[0].file_system, "FAT32");
  EXPECT_EQ(vols[0].letter, u'C');
  auto id = mounted_device(u"\\DosDevices\\C:");
  std::u16string text(reinterpret_cast<const char16_t*>(id.data()), id.size() / 2);
  EXPECT_EQ(text, u"\\??\\USBSTOR#Disk&Ven_Generic&Prod_Flash_Disk&Rev_8.07#AA01&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}");
  // Partitioned later, the stick's volume is the partition's.
  ASSERT_EQ(sh("printf 'label: dos\\nstart=2048, size=20480, type=7\\n' | sfdisk " + image(0)), 0);
  RescanDisk(0);
  vols = MountedVolumes();
  ASSERT_EQ(vols.size(), 1u);
  EXPECT_EQ(vols[0].offset, MiB);
  EXPECT_EQ(vols[0].partition_number, 1);
}

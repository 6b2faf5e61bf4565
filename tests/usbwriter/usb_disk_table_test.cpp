// Pellimor's disk table on a simulated PC with a SATA system disk and two
// identical USB sticks: only the sticks are offered, each with its model and
// its own serial recovered from the registry's device paths (the second
// identical stick takes the next entry, on every rebuild), and a stick's
// volume is found by its start sector; a stick that answers ATA IDENTIFY
// shows the model and serial of that answer (on 95-family systems through
// their S.M.A.R.T. driver). The serial rule on instance paths is checked on
// a table of paths.
#include "usbwriter/usb_disk_table.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "disk/fixture_images.h"
#include "platform/fs/file_api.h"
#include "usbwriter/usb_disk.h"

namespace {

using disk_fixture::DiskSpec;
using disk_fixture::Part;

DiskSpec Stick(int number, const std::string& serial) {
  DiskSpec stick{number, 256ull << 20};
  stick.bus = platform::machine::BusType::Usb;
  stick.vendor = "SanDisk";
  stick.product = "Cruzer Blade";
  stick.serial = serial;
  stick.removable = true;
  return stick;
}

TEST(UsbDiskTable, OffersTheSticksWithTheirOwnSerials) {
  disk_fixture::SimulatedPc pc;
  pc.AddDisk(DiskSpec{0, 512ull << 20});
  pc.AddDisk(Stick(1, "4C530001"));
  pc.AddDisk(Stick(2, "4C530002"));
  pc.WriteMbr(2, {Part{2048, 100000, 0x0C, false, false, {}, {}, "fat32", "STICK"}});
  pc.Boot();
  for (int rebuild = 0; rebuild < 2; ++rebuild) {
    FillDiskTable();
    ASSERT_EQ(DiskTable.usbCount, 2);
    EXPECT_EQ(DiskTable.usbDisks[0], 1);
    EXPECT_EQ(DiskTable.usbDisks[1], 2);
    EXPECT_EQ(DiskTable.disks[0].busName, u"IDE") << "a SATA disk is never offered";
    for (int n : {1, 2}) {
      EXPECT_EQ(DiskTable.disks[n].busName, u"USB");
      EXPECT_EQ(DiskTable.disks[n].model, u"SanDisk Cruzer Blade");
      EXPECT_EQ(DiskTable.disks[n].sectors, (256ull << 20) / 512 / 16065 * 16065);
    }
    EXPECT_EQ(DiskTable.disks[1].serial, u"4C530001");
    EXPECT_EQ(DiskTable.disks[2].serial, u"4C530002");
    EXPECT_EQ(DiskTable.disks[3].sectors, 0u);
  }
  int letter = FindLetterForPartition(2048, 2);
  ASSERT_NE(letter, -1);
  WCHAR root[] = u"C:\\";
  root[0] = static_cast<WCHAR>(letter);
  WCHAR label[32] = {};
  ASSERT_TRUE(GetVolumeInformationW(root, label, 32, nullptr, nullptr, nullptr, nullptr, 0));
  EXPECT_EQ(std::u16string(label), u"STICK");
  EXPECT_EQ(FindLetterForPartition(2048, 1), -1);
}

// An IDENTIFY page as a drive sends it: each text field's byte pairs come
// exchanged, so the fields below are written pre-swapped.
void WriteIdentifyPage(const std::string& path) {
  std::string page(512, '\0');
  page.replace(20, 20, std::string("TA1A3254") + std::string(12, ' '));            // "ATA12345"
  page.replace(46, 8, "102. B  ");                                                  // "01.2B"
  page.replace(54, 40, std::string("CAEMF ALHS9 00 0") + std::string(24, ' '));   // "ACME FLASH 9000"
  std::ofstream out(path);
  for (unsigned char c : page) {
    char hex[4];
    snprintf(hex, sizeof hex, "%02x ", c);
    out << hex;
  }
}

// A system disk and two sticks, the second answering IDENTIFY.
void AddSticksOneAnsweringIdentify(disk_fixture::SimulatedPc& pc) {
  pc.AddDisk(DiskSpec{0, 512ull << 20});
  pc.AddDisk(Stick(1, "4C530001"));
  pc.AddDisk(Stick(2, "4C530002"));
  WriteIdentifyPage(pc.folder() + "/id2.hex");
  pc.SetIni("disk 2", "smart_identify", "id2.hex");
}

TEST(UsbDiskTable, StickAnsweringAtaIdentifyShowsItsAnswer) {
  disk_fixture::SimulatedPc pc;
  AddSticksOneAnsweringIdentify(pc);
  pc.Boot();
  FillDiskTable();
  ASSERT_EQ(DiskTable.usbCount, 2) << "a stick that answers IDENTIFY is still offered";
  EXPECT_EQ(DiskTable.disks[1].model, u"SanDisk Cruzer Blade");
  EXPECT_EQ(DiskTable.disks[1].serial, u"4C530001");
  EXPECT_EQ(DiskTable.disks[2].model, u"ACME FLASH 9000");
  EXPECT_EQ(DiskTable.disks[2].serial, u"ATA12345");
  AtaIdentity identity;
  EXPECT_FALSE(ReadAtaIdentify(1, &identity)) << "no IDENTIFY answer";
  EXPECT_EQ(identity.model, u"");
  ASSERT_TRUE(ReadAtaIdentify(2, &identity));
  EXPECT_EQ(identity.firmware, u"01.2B");
}

// 95-family systems have their S.M.A.R.T. driver answer IDENTIFY for the
// drive the request names: it answers while another program holds the disk
// itself open without sharing, which stops the NT systems' path.
TEST(UsbDiskTable, Windows95FamilyAsksTheSmartDriver) {
  struct Case {
    const char* platformId;
    bool answers;
  } cases[] = {{"2", false}, {"1", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.platformId);
    disk_fixture::SimulatedPc pc;
    AddSticksOneAnsweringIdentify(pc);
    pc.SetIni("os", "platform_id", c.platformId);
    pc.Boot();
    HANDLE held = CreateFileW(u"\\\\.\\PhysicalDrive2", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    AtaIdentity identity;
    EXPECT_EQ(ReadAtaIdentify(2, &identity), c.answers);
    EXPECT_EQ(identity.model == u"ACME FLASH 9000", c.answers);
    EXPECT_EQ(identity.serial == u"ATA12345", c.answers);
    EXPECT_FALSE(ReadAtaIdentify(1, &identity)) << "a stick without an IDENTIFY answer";
    CloseHandle(held);
  }
}

TEST(UsbDiskTable, SerialIsTheInstancePathsSerialPart) {
  struct Case {
    const char16_t* path;
    const char16_t* serial;
  } cases[] = {
      {u"USBSTOR\\Disk&Ven_A&Prod_B&Rev_1.00\\4C530001&0", u"4C530001"},
      {u"USBSTOR\\Disk&Ven_A&Prod_B&Rev_1.00\\7&1a2b3c&0&SERIAL9&0", u"1a2b3c"},
      {u"USBSTOR\\Disk&Ven_A&Prod_B&Rev_1.00\\7&1a2b3c", u""},
      {u"USBSTOR\\Disk&Ven_A&Prod_B&Rev_1.00\\NOAMPERSAND", u"NOAMPERSAND"},
  };
  for (const Case& c : cases) EXPECT_EQ(SerialFromInstancePath(c.path).str(), c.serial) << std::u16string(c.path).size();
}

}  // namespace

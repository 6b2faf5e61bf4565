// Drive identity probe on a simulated PC whose machine.ini gives each disk its
// bus, vendor and product: model texts, bus codes, the cut to the field, disks
// that cannot be opened, and the single-digit device path.
#include "disk/drive_identity.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "disk/disk_access.h"
#include "fixture_images.h"

namespace {

using disk_fixture::DiskSpec;
using disk_fixture::SimulatedPc;
using platform::machine::BusType;

std::string Model(int disk) {
  const auto& field = DriveIdentities[disk].modelText;
  EXPECT_NE(std::memchr(field, 0, sizeof field), nullptr) << "model text must end inside its field";
  return std::string(field, strnlen(field, sizeof field));
}

void Scribble() {
  for (auto& record : DriveIdentities) {
    record.busCode = 0xEE;
    std::memset(record.modelText, 'Z', sizeof record.modelText - 1);
    record.modelText[sizeof record.modelText - 1] = 0;
    std::memset(record.serialText, 'Y', sizeof record.serialText - 1);
    record.serialText[sizeof record.serialText - 1] = 0;
  }
}

struct DiskCase {
  int number;
  uint32_t sector;
  BusType bus;
  const char* vendor;
  const char* product;
  bool open_fails;
  uint8_t bus_code;
  const char* model;
};

const DiskCase kDisks[] = {
    // A SATA disk without a vendor text shows its product; SATA is not USB.
    {0, 512, BusType::Sata, "", "Samsung SSD 870 EVO", false, 4, "Samsung SSD 870 EVO"},
    // Vendor and product joined by one blank.
    {1, 4096, BusType::Scsi, "SEAGATE", "ST4000NM0033", false, 2, "SEAGATE ST4000NM0033"},
    {2, 512, BusType::Ata, "WDC", "WD10EZEX", false, 1, "WDC WD10EZEX"},
    // Inner blanks stay, the padding goes; cut to 31 bytes.
    {3, 4096, BusType::Usb, "Kingston  Tech  ", "DataTraveler 3.0 Generation Two", false, 3,
     "Kingston  Tech DataTraveler 3.0"},
    {4, 512, BusType::Nvme, "", "", false, 5, ""},
    {5, 512, BusType::Sata, "Broken", "Disk", true, 0, ""},
    // Disks from 10 on cannot be opened through the single-digit device path.
    {12, 512, BusType::Sata, "ACME", "Twelve", false, 0, ""},
};

class DriveIdentityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const auto& d : kDisks) {
      pc_.AddDisk(DiskSpec{.number = d.number,
                           .sizeBytes = 16ull << 20,
                           .sectorSize = d.sector,
                           .bus = d.bus,
                           .vendor = d.vendor,
                           .product = d.product});
      // Empty texts are written as empty (the disk maker would fill in defaults).
      if (!*d.vendor) pc_.SetIni("disk " + std::to_string(d.number), "vendor", "");
      if (!*d.product) pc_.SetIni("disk " + std::to_string(d.number), "product", "");
      if (d.open_fails) pc_.SetIni("disk " + std::to_string(d.number), "open_fails", "yes");
    }
    DiskContext = DiskContextRecord{};
    Scribble();
  }
  SimulatedPc pc_;
};

TEST_F(DriveIdentityTest, ModelTextAndBusCodeFromTheDeviceDescriptor) {
  pc_.Boot();
  for (const auto& d : kDisks) ReadDriveIdentityForDisk(d.number);
  for (const auto& d : kDisks) {
    SCOPED_TRACE(d.number);
    EXPECT_EQ(DriveIdentities[d.number].busCode, d.bus_code);
    EXPECT_EQ(Model(d.number), d.model);
    EXPECT_EQ(DriveIdentities[d.number].serialText[0], 0) << "the storage query leaves no serial";
  }
  EXPECT_EQ(DiskContext.openDiskCount, 0) << "every probe closes the disk it opened";
}

TEST_F(DriveIdentityTest, WholeRangeAndOutOfRangeNumbers) {
  pc_.Boot();
  ReadDriveIdentityForDisks(1000);  // capped at the 32 records
  for (const auto& d : kDisks) EXPECT_EQ(Model(d.number), d.model) << d.number;
  // Disks that do not exist keep an empty record.
  EXPECT_EQ(DriveIdentities[7].busCode, 0);
  EXPECT_EQ(Model(7), "");
  EXPECT_EQ(Model(31), "");
  // Numbers outside the table change nothing and do not fault.
  DriveIdentityRecord before = DriveIdentities[0];
  ReadDriveIdentityForDisk(-1);
  ReadDriveIdentityForDisk(32);
  ReadDriveIdentityForDisk(1 << 30);
  EXPECT_EQ(std::memcmp(&before, &DriveIdentities[0], sizeof before), 0);
}

TEST_F(DriveIdentityTest, OnlyTheNtFamilyIsProbed) {
  pc_.SetIni("os", "platform_id", "1");
  pc_.Boot();
  ReadDriveIdentityForDisk(1);
  EXPECT_EQ(DriveIdentities[1].busCode, 0);
  EXPECT_EQ(Model(1), "");
  // The fallback probes never get a device and change nothing.
  Scribble();
  EXPECT_EQ(ProbeIdentityByScsiMiniport(1), 0);
  EXPECT_EQ(ProbeIdentityBySmart(1), 0);
  EXPECT_EQ(DriveIdentities[1].busCode, 0xEE);
}

}  // namespace

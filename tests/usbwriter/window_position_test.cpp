// The window-position store on a simulated PC's registry: the 20-byte value
// as the registry file holds it, the round trip, negative coordinates with
// the sum taken modulo 2^32, and values of the wrong size or sum refused
// without touching the caller's outputs.
#include "program_support/window_position.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "disk/fixture_images.h"

namespace {

class WindowPositionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pc_.AddDisk(disk_fixture::DiskSpec{});
    pc_.Boot();
  }
  std::string RegistryFile() {
    std::ifstream in(pc_.folder() + "/registry.reg", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    // REGEDIT5 text is UTF-16LE: keep the low bytes.
    std::string text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) text += bytes[i];
    // Long hex values go on over lines ending in a backslash.
    for (size_t at; (at = text.find("\\\r\n  ")) != std::string::npos;) text.erase(at, 5);
    return text;
  }
  disk_fixture::SimulatedPc pc_;
};

TEST_F(WindowPositionTest, SavedValueHoldsTheRectangleAndItsSum) {
  WindowPosition store(HKEY_CURRENT_USER, u"software\\WndPos");
  WINDOWPOS moved{};
  moved.x = 100;
  moved.y = 50;
  moved.cx = 480;
  moved.cy = 360;
  store.SetRect(moved);
  ASSERT_TRUE(store.Save());
  std::string file = RegistryFile();
  EXPECT_NE(file.find("\"MainWindowPositions\"=hex:64,00,00,00,32,00,00,00,e0,01,00,00,68,01,00,00,de,03,00,00"),
            std::string::npos)
      << file;
  WindowPosition again(HKEY_CURRENT_USER, u"software\\WndPos");
  int32_t x = 0, y = 0, cx = 0, cy = 0;
  ASSERT_TRUE(again.Load(&x, &y, &cx, &cy));
  EXPECT_EQ(std::vector<int32_t>({x, y, cx, cy}), std::vector<int32_t>({100, 50, 480, 360}));

  // A window on a monitor left of and above the first one.
  WINDOWPOS left{};
  left.x = -1920;
  left.y = -2147483000;
  left.cx = 2147483000;
  left.cy = 700;
  store.SetRect(left);
  EXPECT_TRUE(store.IsValid());
  ASSERT_TRUE(store.Save());
  ASSERT_TRUE(again.Load(&x, &y, &cx, &cy));
  EXPECT_EQ(std::vector<int32_t>({x, y, cx, cy}), std::vector<int32_t>({-1920, -2147483000, 2147483000, 700}));
}

TEST_F(WindowPositionTest, ValuesOfTheWrongSizeOrSumAreRefused) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"software\\WndPos", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  uint8_t good[21] = {1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0, 10, 0, 0, 0, 0};
  uint8_t badSum[20] = {1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0, 11, 0, 0, 0};
  struct Case {
    const uint8_t* bytes;
    DWORD size;
    bool loads;
  } cases[] = {{good, 20, true}, {good, 19, false}, {good, 21, false}, {badSum, 20, false}};
  WindowPosition store(HKEY_CURRENT_USER, u"software\\WndPos");
  for (const Case& c : cases) {
    ASSERT_EQ(RegSetValueExW(key, kWindowPositionValue, 0, REG_BINARY, c.bytes, c.size), ERROR_SUCCESS);
    int32_t x = -7, y = -7, cx = -7, cy = -7;
    EXPECT_EQ(store.Load(&x, &y, &cx, &cy), c.loads) << c.size;
    if (!c.loads) {
      EXPECT_EQ(std::vector<int32_t>({x, y, cx, cy}), std::vector<int32_t>({-7, -7, -7, -7}));
    }
  }
  RegCloseKey(key);
}

}  // namespace

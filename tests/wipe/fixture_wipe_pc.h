// A simulated PC for the wipe pages: disk 0 holds the running system (C:),
// disk 1 has 4096-byte sectors and three NTFS partitions (D:, E:, F:), disk 2
// has 512-byte sectors and two (G:, H:). Every disk is filled with a
// pattern first, so that overwritten bytes show. The language files are
// built from their sources as the build makes them and reached through a
// host mount P:, which also receives saved reports.
#pragma once

#include <string>

#include "disk/fixture_images.h"
#include "platform/ui/headless_driver.h"

class CDialog;

namespace wipe_fixture {

class WipePc {
 public:
  static constexpr uint64_t kMiB = 1 << 20;
  WipePc();
  ~WipePc();
  void UseLanguage(const char* name);
  // The host path of P:.
  std::string ProgramFolder() const { return pc.folder() + "/program"; }

  // Byte ranges of the images, checked with cmp, od and sha256sum.
  std::string Hash(int disk, uint64_t offset, uint64_t bytes);
  bool IsZero(int disk, uint64_t offset, uint64_t bytes);

  disk_fixture::SimulatedPc pc;
};

// Runs `page` modally under `script`; the failure text (with the driver's
// log), empty when the script ran through.
std::string RunPage(CDialog& page, const platform::ui::Script& script, const std::string& screenshots = "");

}  // namespace wipe_fixture

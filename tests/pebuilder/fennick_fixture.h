// A simulated PC for Fennick's tests: drive C: is a host folder holding
// "Windows\System32" and the staged install folder at
// "C:\Program Files\Fennick" (its settings record in the language asked
// for); the kit vendor's host name goes to the loopback test server, which
// serves a UDF kit image holding the installer packages; Pellimor.exe is a
// stand-in that only logs its start.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "disk/fixture_images.h"
#include "usbwriter/fixture_iso.h"
#include "net/fixture_http.h"

namespace fennick_fixture {

inline constexpr const char* kKitTool = "*Microsoft CDIMAGE UDF";

class FennickPc : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Host paths.
  std::string C(const std::string& path) const { return scratch_.file("c/" + path); }
  std::string Program(const std::string& path) const { return C("Program Files/Fennick/" + path); }
  // Writes the kit image that the server serves (name as the vendor's).
  void MakeKitImage(const std::string& name = "KB3AIK_EN.iso");
  // Starts the server on the kit image (`mode` as LoopbackServer takes it).
  void Serve(const std::string& mode, const std::string& name = "KB3AIK_EN.iso", int requests = 20);
  // Settings record in `language`, then the PC boots and Fennick's values start anew.
  void Boot(const std::string& language = "English");
  // Runs Fennick's start-up under the script (screenshots into `shots` when given).
  disk_fixture::HeadlessRun Run(const platform::ui::Script& script, const std::string& shots = "");
  std::string MachineLog() const;

  iso_fixture::TempFolder scratch_;
  disk_fixture::SimulatedPc pc_;
  std::unique_ptr<http_fixture::LoopbackServer> server_;
  std::string kitImage_;
};

// Every process-wide value of Fennick back to its start.
void ResetFennickValues();

}  // namespace fennick_fixture

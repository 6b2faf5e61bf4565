// Stand-in programs for disk tests that cannot include the process header
// (it clashes with the window header over the show values): a tool that
// records how it was started.
#pragma once

#include <string>

#include "platform/core/types.h"

namespace disk_fixture {

struct ProgramRecord {
  std::u16string command_line = u"(not started)";
  std::u16string current_folder;
  DWORD creation_flags = 0;
  int starts = 0;
};

// Registers `file_name` as a stand-in that fills *record and returns
// `exit_code`; a system tool is present wherever the system folder exists.
void RegisterRecordingProgram(const std::u16string& file_name, ProgramRecord* record, DWORD exit_code,
                              bool system_tool);
void UnregisterRecordingProgram(const std::u16string& file_name);

}  // namespace disk_fixture

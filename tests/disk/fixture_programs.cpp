#include "fixture_programs.h"

#include "platform/process/process.h"

namespace disk_fixture {

void RegisterRecordingProgram(const std::u16string& file_name, ProgramRecord* record, DWORD exit_code,
                              bool system_tool) {
  platform::process::RegisterProgram(
      file_name,
      [record, exit_code](const platform::process::ProgramStart& start) -> DWORD {
        record->command_line = start.command_line;
        record->current_folder = start.current_folder;
        record->creation_flags = start.creation_flags;
        ++record->starts;
        return exit_code;
      },
      system_tool ? platform::process::ProgramPlacement::SystemTool
                  : platform::process::ProgramPlacement::InstalledFile);
}

void UnregisterRecordingProgram(const std::u16string& file_name) { platform::process::UnregisterProgram(file_name); }

}  // namespace disk_fixture

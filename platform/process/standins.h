// The stand-in outside programs and modules of the simulated PC: each does,
// on the simulated PC, the least its callers rely on.
//
//   setres.exe      accepts its arguments, changes nothing
//   ZvqThunk.exe    shadow-copy companion serving "\\.\pipe\Zvq11shadowpipe":
//                   one request and one reply per connection; "/s <volume>\"
//                   creates a shadow copy and answers its device path (empty
//                   when none could be made), "/d" releases it, "/q" ends the
//                   companion (both answer an empty message)
//   Vshadow64.exe   makes a shadow copy of its parameter's volume and writes
//                   its device path plus "\r\n" and a NUL-free blank (three
//                   characters) to %TEMP%\shadowfile.txt as 8-bit text
//   VshadowXP.dll, Vshadow32.dll   "ShadowCopy"(volume) -> device path,
//                   "DeleteShadowCopy"()
//   bcdedit.exe, Vastrel.exe       list and edit a boot store (bcd_store.h)
//   drvload.exe     loads a driver package: logged; exit 0 when the file exists
//   wpeutil.exe     "shutdown" / "reboot": the machine goes down (shutdown.h)
//   msiexec.exe     "/I package": runs the installer registered for the
//                   package's file name (RegisterInstallerPackage)
//   cmd.exe         "/C command": a small command interpreter (command_script.h)
//   oscdimg.exe     the deployment kit's image tool; the kit's installer
//                   packages install its folder (deployment_kit.cpp)
//   iexplore.exe, opera.exe, hh.exe, notepad.exe   logged only
//   fmifs.dll       "FormatEx" of the platform formatter
//   ntdll.dll       "NtFsControlFile", passed on to DeviceIoControl
//
// Shadow copies made by the companion, Vshadow64.exe and the modules are one
// machine-wide "held" copy: a new one replaces it, any release ends it.
#pragma once

#include <functional>
#include <string>

#include "platform/core/types.h"

namespace platform::process {

// Registers every stand-in program and module above, replacing registrations
// of the same names. Starts and module loads call it once by themselves
// (without replacing what was registered before).
void RegisterStandardPrograms();
void EnsureStandardPrograms();

// What msiexec does for a package file name ("wAIKAMD64.msi"): returns the
// installer's exit code (0 success). The default table installs the
// deployment kit's folder and Fennick's program folder.
using InstallerAction = std::function<DWORD(const std::u16string& package_path)>;
void RegisterInstallerPackage(const std::u16string& file_name, InstallerAction action);

// The machine-wide shadow copy the outside components hold: its device path,
// empty when none.
std::u16string HeldShadowCopyPath();
// Makes a shadow copy of `volume` the held one (releasing any earlier);
// returns its device path, or empty when it cannot be made.
std::u16string HoldShadowCopy(const std::u16string& volume);
void ReleaseHeldShadowCopy();

}  // namespace platform::process

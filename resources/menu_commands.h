// The command numbers of the main dialog's menus (menus 129 and 216 of the
// program's scripts) and of the commands without a menu entry. The shell's
// command table names its commands with them, and the picture generator draws
// the menu icon of the same number for most of them; both take them from here.
#pragma once

namespace shell {

inline constexpr unsigned kCmdDuplicate = 32771;
inline constexpr unsigned kCmdDelete = 32772;
inline constexpr unsigned kCmdViewer = 32773;
inline constexpr unsigned kCmdScan = 32774;
inline constexpr unsigned kCmdExit = 32775;
inline constexpr unsigned kCmdPartitionManager = 32776;
inline constexpr unsigned kCmdHelp = 32777;
inline constexpr unsigned kCmdAbout = 32778;
inline constexpr unsigned kCmdDriverInstallation = 32786;
inline constexpr unsigned kCmdDiagnose = 32787;
inline constexpr unsigned kCmdOneClick = 32788;
inline constexpr unsigned kCmdPellimorResources = 32790;
inline constexpr unsigned kCmdFilesMigration = 32791;
inline constexpr unsigned kCmdPellimorTools = 32793;
inline constexpr unsigned kCmdUsbToolInstaller = 32794;

}  // namespace shell

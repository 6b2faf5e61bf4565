// Drummetworks' installer of Fennick, registered in its main dialog's command
// table: kCmdUsbToolInstaller ("USB Bootable Tool Installation") runs msiexec
// on the program folder's FqkInstaller.msi and waits for it.
#pragma once

void RegisterFennickCommands();

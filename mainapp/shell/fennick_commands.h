// Drummetworks' installer of Fennick, registered in its main dialog's command
// table: 32794 ("USB Bootable Tool Installation") runs msiexec on the
// program folder's FqkInstaller.msi and waits for it.
#pragma once

void RegisterFennickCommands();

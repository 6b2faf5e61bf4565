// The main dialog's entry into the file and folder migration:
// kCmdFilesMigration (menu and the double-click on its picture) sets
// MigrationEntryFlag and runs the source page.
#pragma once

void RegisterMigrateCommands();

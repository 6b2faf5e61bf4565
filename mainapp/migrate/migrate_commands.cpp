#include "mainapp/migrate/migrate_commands.h"

#include "mainapp/migrate/backup_files_page.h"
#include "mainapp/migrate/migration_state.h"
#include "mainapp/shell/main_commands.h"

namespace {

void OpenMigration(CDrummetDlg&) {
  MigrationEntryFlag = true;
  CBackupFiles page(nullptr);
  page.DoModal();
}

}  // namespace

void RegisterMigrateCommands() {
  shell::RegisterMainCommand({shell::kCmdFilesMigration, "files and folders migration", &OpenMigration});
}

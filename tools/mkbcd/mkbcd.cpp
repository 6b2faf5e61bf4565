// mkbcd FILE LOADER-ID DESCRIPTION: writes a boot store (a hive file in the
// layout the stand-in BCD editors read) with a boot manager and one boot
// loader, the manager's default, both on the boot device (the device the
// firmware started from). The build uses it for the boot store of the EFI
// system partition image, made before any disk it lands on exists: the clone's
// boot-store repair names the copy's partitions in the loader.
#include <cstdio>
#include <string>

#include "platform/process/bcd_store.h"

int main(int argc, char** argv) {
  if (argc != 4 || argv[2][0] != '{') {
    std::fprintf(stderr, "usage: mkbcd FILE {LOADER-ID} DESCRIPTION\n");
    return 2;
  }
  platform::process::BcdLoaderSpec loader;
  loader.id = argv[2];
  loader.description = argv[3];
  loader.device = platform::process::BcdBootDevice();
  if (!platform::process::CreateBcdStoreFile(argv[1], platform::process::BcdBootDevice(), {loader})) {
    std::fprintf(stderr, "mkbcd: %s cannot be written\n", argv[1]);
    return 1;
  }
  return 0;
}

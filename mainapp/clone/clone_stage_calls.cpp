#include "mainapp/clone/clone_stage_calls.h"

// The stages are found by their headers, so that this file builds with or
// without them while they are being written.
#if __has_include("mainapp/clone/tree_copy.h")
#include "mainapp/clone/tree_copy.h"
#define CLONE_HAS_TREE_COPY 1
#endif
#if __has_include("mainapp/clone/boot_code.h")
#include "mainapp/clone/boot_code.h"
#define CLONE_HAS_BOOT_CODE 1
#endif
#if __has_include("mainapp/clone/registry_repair.h") && __has_include("mainapp/clone/bcd_repair.h")
#include "mainapp/clone/bcd_repair.h"
#include "mainapp/clone/registry_repair.h"
#define CLONE_HAS_GPT_REPAIR 1
#endif

bool HasFileLevelCopy() {
#ifdef CLONE_HAS_TREE_COPY
  return true;
#else
  return false;
#endif
}

bool CopyPartitionByFiles(const CString& source, const CString& destination, bool verify, bool* ran) {
#ifdef CLONE_HAS_TREE_COPY
  *ran = true;
  return CopyPartitionContents(source, destination, verify);
#else
  (void)source;
  (void)destination;
  (void)verify;
  *ran = false;
  return false;
#endif
}

bool CopyBootCodeStage(int32_t sourceListed, int32_t destinationListed) {
#ifdef CLONE_HAS_BOOT_CODE
  return CopyMbrBootCode(sourceListed, destinationListed);
#else
  (void)sourceListed;
  (void)destinationListed;
  return false;
#endif
}

bool CopyDiskSignatureStage() {
#ifdef CLONE_HAS_BOOT_CODE
  return CopyDiskSignature();
#else
  return false;
#endif
}

bool WriteEspImageStage(int32_t destinationPhysical) {
#ifdef CLONE_HAS_GPT_REPAIR
  return WriteEspImage(destinationPhysical);
#else
  (void)destinationPhysical;
  return false;
#endif
}

bool RepairGptSystemStage(int32_t destinationListed, const CString& systemDrive) {
#ifdef CLONE_HAS_GPT_REPAIR
  FixMountedDevices(destinationListed);
  RepairBcd(systemDrive);
  return true;
#else
  (void)destinationListed;
  (void)systemDrive;
  return false;
#endif
}

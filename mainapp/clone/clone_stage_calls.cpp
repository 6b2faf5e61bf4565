#include "mainapp/clone/clone_stage_calls.h"

#include "mainapp/clone/bcd_repair.h"
#include "mainapp/clone/boot_code.h"
#include "mainapp/clone/registry_repair.h"
#include "mainapp/clone/tree_copy.h"

bool CopyPartitionByFiles(const CString& source, const CString& destination, bool verify) {
  return CopyPartitionContents(source, destination, verify);
}

bool CopyBootCodeStage(int32_t sourceListed, int32_t destinationListed) {
  return CopyMbrBootCode(sourceListed, destinationListed);
}

bool CopyDiskSignatureStage() { return CopyDiskSignature(); }

bool RepairGptSystemStage(int32_t destinationListed, const CString& systemDrive) {
  FixMountedDevices(destinationListed);
  RepairBcd(systemDrive);
  return true;
}

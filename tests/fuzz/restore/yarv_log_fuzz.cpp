// Yarv's log "yarv.log" from untrusted bytes: the file of 523-byte records
// the backup product appends, read as the restore program counts it at
// start-up (on a throw-away machine whose T: is a host folder) and as the
// shared record reader takes each record apart. The count is the whole
// records and the file is left as it was; every text stops at its field's
// 128 characters and holds no terminator; a record written back from what
// was read gives the same bytes up to each text's terminator (zeros after
// it), and reads back to the same record.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "mainapp/migrate/archive_helpers.h"
#include "restore/yarv_settings.h"
#include "restore/yarv_state.h"
#include "tests/fuzz/restore/host_folder_pc.h"

namespace {

std::string host_folder;

bool Prepare() { return fuzz_support::OpenHostFolderPc("yarv_log_fuzz", host_folder); }

// The bytes of one text field as written back: the text's characters, then
// zeros to the field's end.
bool SameUpToTerminator(const uint8_t* original, const uint8_t* rewritten, int length) {
  for (int i = 0; i < kLogTextChars; ++i) {
    const uint8_t* expected = i < length ? original + 2 * i : nullptr;
    for (int b = 0; b < 2; ++b)
      if (rewritten[2 * i + b] != (expected ? expected[b] : 0)) return false;
  }
  return true;
}

bool SameRecord(const BackupLogRecord& a, const BackupLogRecord& b) {
  return a.code1 == b.code1 && a.code2 == b.code2 && a.time == b.time && a.text1 == b.text1 && a.text2 == b.text2;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = Prepare();
  if (!ready) std::abort();
  const std::string path = host_folder + "/yarv.log";
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  LogsFolder = u"T:";
  if (CountLogRecords() != static_cast<int32_t>(size / kLogRecordBytes)) std::abort();
  std::ifstream in(path, std::ios::binary);
  const std::string after((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (after.size() != size || (size > 0 && std::memcmp(after.data(), data, size) != 0)) std::abort();

  for (size_t at = 0; at + kLogRecordBytes <= size; at += kLogRecordBytes) {
    BackupLogRecordDisk disk;
    std::memcpy(&disk, data + at, sizeof disk);
    const BackupLogRecord record = DecodeLogRecord(disk);
    for (const CString* text : {&record.text1, &record.text2}) {
      if (text->GetLength() > kLogTextChars || text->Find(u'\0') >= 0) std::abort();
    }
    const BackupLogRecordDisk again = EncodeLogRecord(record);
    if (again.code1 != disk.code1 || again.code2 != disk.code2 || again.reserved != 0 ||
        std::memcmp(again.time, disk.time, sizeof disk.time) != 0)
      std::abort();
    if (!SameUpToTerminator(disk.text1, again.text1, record.text1.GetLength()) ||
        !SameUpToTerminator(disk.text2, again.text2, record.text2.GetLength()))
      std::abort();
    if (!SameRecord(DecodeLogRecord(again), record)) std::abort();
  }
  return 0;
}

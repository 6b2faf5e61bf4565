// The archive reader: the catalogue appended to the program file, volume
// files of a split archive, the members of an incremental chain, and the
// blocks of each item, found directly, through the block location tables,
// or by walking back to older chain members, then decrypted and
// decompressed.
//
// Every declared count and position is checked against the file that holds
// it before it is used; a damaged or missing piece is an ArchiveResult with a
// message naming the file, the field and its value, never a read outside a
// buffer or stale data handed on as the item's bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "restore/archive_files.h"
#include "restore/archive_format.h"
#include "restore/block_codec.h"

namespace restore {

enum class ArchiveResult : int {
  Ok = 0,
  NoArchive = 1,       // the marker points at the end of the program file
  OpenFailed = 2,      // a file could not be opened
  Truncated = 3,       // a field or block runs past the end of its file
  BadHeader = 4,       // a header field is out of range
  BadRecord = 5,       // an item record is inconsistent
  BadBlock = 6,        // a block's framing or contents are damaged
  BadTable = 7,        // a location or changed-block table entry is out of range
  VolumeCancelled = 8, // a volume was asked for and the user cancelled
  BadVolume = 9,       // a volume file's header does not continue the archive
  MissingBlock = 10,   // a reference names a block that no older member holds
  ReadFailed = 11,     // the file system reported a read error
};
const char* ArchiveResultName(ArchiveResult r);

// Asks for the folder holding a volume file that is not where it was
// looked for; nullopt when the user cancels.
using VolumePrompt = std::function<std::optional<std::u16string>(const std::u16string& volume_file_name)>;

class ArchiveSession {
 public:
  explicit ArchiveSession(ArchiveFiles& files);
  ~ArchiveSession();

  // Reads the catalogue from `path` at `archive_offset` (the marker's
  // number). NoArchive when nothing is appended there.
  ArchiveResult ReadCatalog(const std::u16string& path, int64_t archive_offset);

  const ArchiveHeader& header() const { return header_; }
  const std::vector<FileItemRecord>& file_records() const { return files_; }      // element 0 unused
  const std::vector<FolderItemRecord>& folder_records() const { return folders_; }
  const std::vector<DiskItemRecord>& disk_records() const { return disks_; }
  const std::u16string& names() const { return names_; }
  std::u16string FilePath(int k) const { return FileRecordPath(files_.at(k), names_); }
  std::u16string FolderPath(int i) const { return FolderRecordPath(folders_.at(i), names_); }
  int64_t archive_offset() const { return archive_offset_; }
  const std::u16string& catalog_path() const { return catalog_path_; }

  // Selection marks kept by the selection page (negative = not selected).
  void set_file_selection(int k, int8_t v) { files_.at(k).selection = v; }
  void set_folder_kind(int i, int8_t v) { folders_.at(i).kind = v; }
  void set_disk_kind(int j, int8_t v) { disks_.at(j).kind = v; }

  // Passkey check against header +23; keys the decryption on success.
  bool VerifyPasskey(std::u16string_view passkey);

  // Opens the chain named by the archive's own file name (ParseVolumeName):
  // members 0..chain index from the archive's folder, or the catalogue's own
  // file alone for a full archive. `prompt` is asked for missing volumes.
  ArchiveResult OpenArchiveChain(VolumePrompt prompt);
  void CloseChain();
  int chain_index() const { return name_.chain; }
  const std::u16string& archive_name() const { return name_.name; }
  // How many members the block walks consult (0..members-1).
  void set_member_count(int n) { member_count_ = n; }

  // File and folder items: positions every member at the item, then hands
  // out its blocks in order, each decoded to exactly `expected` bytes.
  ArchiveResult BeginFileItem(int k);
  ArchiveResult BeginFolderItem(int i);
  ArchiveResult ReadItemBlock(size_t expected, std::vector<uint8_t>& decoded);

  // Disk items: finds unit `unit` (from 1) of disk item `item` in the
  // youngest member that holds it; `found` false when none does. Then
  // ReadUnitBlock hands out the unit's blocks in order.
  ArchiveResult LocateUnit(int item, int64_t unit, bool& found);
  ArchiveResult ReadUnitBlock(size_t expected, std::vector<uint8_t>& decoded);

  // Makes sure the volume that holds the block table can be opened.
  ArchiveResult LoadBlockTable();

  // What went wrong last, naming file, field and value.
  const std::string& error_detail() const { return detail_; }

 private:
  struct Member;
  ArchiveResult fail(ArchiveResult r, std::string detail);
  ArchiveResult read_member(const std::u16string& path, int32_t chain, Member& out, bool catalog);
  ArchiveResult open_volume_file(Member& m, int32_t volume, std::unique_ptr<ArchiveFile>& file);
  ArchiveResult read_at(Member& m, int64_t& position, uint8_t* buffer, size_t n, const char* what);
  ArchiveResult read_framed(Member& m, int64_t& position, std::vector<uint8_t>& stored, uint16_t& length_word,
                            const char* what);
  ArchiveResult read_from_predecessor(std::vector<uint8_t>& stored);
  ArchiveResult position_members(bool folder, const std::u16string& path);
  ArchiveResult locate_in_member(int m, int item, int64_t unit, bool& found, int64_t& position);
  ArchiveResult decode(std::vector<uint8_t>& stored, size_t expected, std::vector<uint8_t>& decoded);
  Member& current();

  ArchiveFiles& files_io_;
  ArchiveHeader header_;
  std::vector<FileItemRecord> files_;
  std::vector<FolderItemRecord> folders_;
  std::vector<DiskItemRecord> disks_;
  std::u16string names_;
  std::u16string catalog_path_;
  std::u16string folder_;         // where volume and member files are looked for
  std::u16string chosen_folder_;  // where the user found a volume last
  int64_t archive_offset_ = 0;
  VolumeName name_;
  std::vector<std::unique_ptr<Member>> members_;
  int member_count_ = 0;
  VolumePrompt prompt_;
  BlowfishKey key_;
  bool keyed_ = false;
  // The member and place of the next located block.
  int located_member_ = -1;
  int64_t located_position_ = 0;
  std::string detail_;
};

}  // namespace restore

// The file and folder copying that the clone's file-level copy and the
// migration share: a file's security (owner, group and access-control list
// with its protection from inheritance), attributes and times, a folder's
// metadata, and the chunk loop that moves a file's data. The audit list is
// never copied (reading it takes a privilege the copy does not ask for).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <utility>
#include <vector>

#include "platform/core/cstring.h"
#include "platform/core/types.h"
#include "platform/fs/file_api.h"

// Chunk size of the file copies (4 MiB).
constexpr DWORD kCopyChunkBytes = 4u << 20;

// The owner, group and discretionary access-control list of a file or folder
// as a self-relative descriptor; empty when it cannot be read.
std::vector<BYTE> ReadFileDacl(const CString& path);
// Writes a descriptor read by ReadFileDacl (the parts it holds, the DACL's
// protection included); nothing for an empty one.
void WriteFileDacl(const CString& path, const std::vector<BYTE>& descriptor);

// Gives an existing folder (or file) the listing entry's attributes and its
// creation, last-access and last-write times, and the source's access-control
// list. `withHandle`, when set, runs on the open item before its times are
// set (the clone gives folders their short names there). Failures are
// ignored: the item itself is already there.
void CopyFolderMetadata(const CString& source, const CString& destination, const WIN32_FIND_DATAW& entry,
                        const std::function<void(HANDLE)>& withHandle = {});

// Copies the named (alternate) data streams of the file or folder `source`
// onto the existing `destination`, through `buffer`. False when the source
// has a stream the destination did not take whole (its file system holds
// none, or a write failed).
bool CopyStreams(const CString& source, const CString& destination, std::vector<BYTE>& buffer);

// Makes the new, empty `destination` compressed when the listing entry of its
// source is, so the data written next is compressed as the source's was.
// False when the destination cannot hold it.
bool CopyCompression(HANDLE destination, const WIN32_FIND_DATAW& entry);

// Whether the volume holding `path` keeps access-control lists (NTFS) where
// FAT keeps none: what a copy from the one to the other cannot carry.
bool KeepsSecurity(const CString& path);

// Gives the open copied item the short (8.3) name the listing entry shows
// for its source, when it has one of its own; a name taken in the folder is
// left as it is.
void CopyShortName(HANDLE item, const WIN32_FIND_DATAW& entry);
// The same by path, for a file whose handle is closed.
void CopyShortName(const CString& path, const WIN32_FIND_DATAW& entry);

// Whether a tree walk leaves out a directory entry `name`: "." and "..", and
// the system's own items, which only the volume's root holds: the page,
// hibernation and swap files (pagefile.sys, hiberfil.sys, swapfile.sys) and
// the folders System Volume Information and the recycle bins ($Recycle.Bin,
// RECYCLER in any case; the old systems' Recycled or RECYCLED). A user's file or folder of a similar
// name, or of the same name below the root, is copied.
bool IsSkippedEntry(const CString& name, bool isFolder, bool atVolumeRoot);

// Every entry a search for `pattern` finds, read before the caller walks
// them (so no search stays open while a walk descends). False when the
// search cannot be opened (GetLastError tells why).
bool ReadListing(const CString& pattern, std::vector<WIN32_FIND_DATAW>& entries);

// Moves an open file's position to `offset` from its start.
bool SeekTo(HANDLE file, uint64_t offset);

// The size a listing entry gives.
uint64_t EntrySize(const WIN32_FIND_DATAW& entry);

// Files with several names (hard links) met during one walk: the first name
// met is copied, each later name becomes a link to that copy where the
// destination can hold one.
class HardLinkTable {
 public:
  enum class Outcome {
    Copy = 0,            // not a further name of a copied file: copy it
    Linked = 1,          // made a link to the earlier copy; nothing to copy
    LinkNotHeld = 2,     // the destination holds no hard links: copy it, and say so
  };
  void clear() { copies_.clear(); }
  // `source` is the open source file about to be copied to `destination`.
  // A file with several names is remembered under its first copy; a later
  // name of it is linked to that copy. A link that cannot be made for any
  // other reason (the earlier copy is gone) gives Copy.
  Outcome link_or_copy(HANDLE source, const CString& destination);

 private:
  std::map<std::pair<DWORD, uint64_t>, CString> copies_;  // (volume serial, file index) -> first copy
};

// How the chunk loop hands each chunk on and reports progress.
struct ChunkCopyHooks {
  // Takes `count` bytes read at `offset` (writes or compares them); returns
  // the bytes it handled.
  std::function<DWORD(const BYTE* data, DWORD count, uint64_t offset)> put;
  // After a chunk was put whole: false stops the copy (a failed check).
  std::function<bool(const BYTE* data, DWORD count, uint64_t offset)> check;
  // After every second chunk, with the bytes read so far.
  std::function<void(uint64_t done)> every_second_chunk;
  // Asked after each chunk; true stops the copy.
  std::function<bool()> aborted;
};

enum class ChunkCopyResult { Done = 0, Aborted = 1, ShortPut = 2, CheckFailed = 3 };

// Reads `source` from its current position to its end, or `limit` bytes, in
// chunks of the buffer's size. `bytes` ends as the bytes read (a read error
// ends the loop like the end of the file: compare with the expected size).
ChunkCopyResult CopyChunks(HANDLE source, std::vector<BYTE>& buffer, const ChunkCopyHooks& hooks, uint64_t& bytes,
                           uint64_t limit = UINT64_MAX);

// Copies the data of the open `source` (its listing entry `entry`) into the
// new, empty `destination` through `hooks`, whose put writes at the
// destination's current position. A sparse source is copied range by range
// onto a destination made sparse too, so its holes take no space; where the
// destination keeps no sparse files every byte is written. `bytes` ends as the
// bytes read and `expected` as the bytes the source holds (the file's size, or
// the sum of a sparse file's ranges): a copy is whole when they are equal.
ChunkCopyResult CopyFileData(HANDLE source, HANDLE destination, const WIN32_FIND_DATAW& entry,
                             std::vector<BYTE>& buffer, const ChunkCopyHooks& hooks, uint64_t& bytes,
                             uint64_t& expected);

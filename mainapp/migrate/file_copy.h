// The file and folder copying that the clone's file-level copy and the
// migration share: a file's access-control list, attributes and times, a
// folder's metadata, and the chunk loop that moves a file's data. Owner,
// group and audit list are never copied.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/core/cstring.h"
#include "platform/core/types.h"
#include "platform/fs/file_api.h"

// Chunk size of the file copies (4 MiB).
constexpr DWORD kCopyChunkBytes = 4u << 20;

// The discretionary access-control list of a file or folder as a
// self-relative descriptor; empty when it cannot be read.
std::vector<BYTE> ReadFileDacl(const CString& path);
// Writes a descriptor read by ReadFileDacl; nothing for an empty one.
void WriteFileDacl(const CString& path, const std::vector<BYTE>& descriptor);

// Gives an existing folder (or file) the listing entry's attributes and its
// creation, last-access and last-write times, and the source's access-control
// list. `withHandle`, when set, runs on the open item before its times are
// set (the clone gives folders their short names there). Failures are
// ignored: the item itself is already there.
void CopyFolderMetadata(const CString& source, const CString& destination, const WIN32_FIND_DATAW& entry,
                        const std::function<void(HANDLE)>& withHandle = {});

// Whether a tree walk leaves out a directory entry `name` whose full source
// path is `path`: "System Volume Information", recycle bins ("Recycled..."
// in that case, "RECYCLER" and "$RECYCLE..." in any case), "." and "..", and
// files whose path holds PAGEFILE.SYS or HIBERFIL.SYS after its first
// character.
bool IsSkippedEntry(const CString& name, const CString& path, bool isFolder);

// Every entry a search for `pattern` finds, read before the caller walks
// them (so no search stays open while a walk descends). False when the
// search cannot be opened (GetLastError tells why).
bool ReadListing(const CString& pattern, std::vector<WIN32_FIND_DATAW>& entries);

// The size a listing entry gives.
uint64_t EntrySize(const WIN32_FIND_DATAW& entry);

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

// Reads `source` from its current position to its end in chunks of the
// buffer's size. `bytes` ends as the bytes read (a read error ends the loop
// like the end of the file: compare with the expected size).
ChunkCopyResult CopyChunks(HANDLE source, std::vector<BYTE>& buffer, const ChunkCopyHooks& hooks, uint64_t& bytes);

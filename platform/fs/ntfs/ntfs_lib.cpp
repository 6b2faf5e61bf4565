// libntfs-3g glue. This file includes libntfs-3g's headers and none of the
// platform's (their BOOL/TRUE/FALSE clash); see ntfs_lib.h.
#include "platform/fs/ntfs/ntfs_lib.h"

#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstddef>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>

extern "C" {
#include <ntfs-3g/types.h>
#include <ntfs-3g/attrib.h>
#include <ntfs-3g/device.h>
#include <ntfs-3g/dir.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/layout.h>
#include <ntfs-3g/logging.h>
#include <ntfs-3g/reparse.h>
#include <ntfs-3g/security.h>
#include <ntfs-3g/volume.h>
}

namespace platform::fs::ntfs::lib {

class Volume {
 public:
  Io io;
  ntfs_volume* vol = nullptr;
  int64_t position = 0;  // for the sequential device calls
  // The data stream last read or written stays open between calls, so a
  // file moved in large chunks is not looked up again each time. Every other
  // call closes it first (writing its record back), so no inode is ever open
  // twice.
  uint64_t data_mref = 0;
  std::u16string data_stream;  // empty: the unnamed stream
  ntfs_inode* data_ni = nullptr;
  ntfs_attr* data_na = nullptr;
  bool data_written = false;  // a compressed stream then has a last block to compress
};

namespace {

// Win32 attribute bits that a caller may set; the rest are kept by the volume.
constexpr uint32_t kSettableAttributes = 0x0001 | 0x0002 | 0x0004 | 0x0020 | 0x0100 | 0x1000 | 0x2000;
constexpr uint32_t kAttributeDirectory = 0x0010;
constexpr uint32_t kAttributeNormal = 0x0080;
constexpr uint32_t kAttributeReparse = 0x0400;
constexpr size_t kMaxNameUnits = 255;
constexpr size_t kMaxReparseBytes = 16 * 1024;
constexpr size_t kMaxSecurityBytes = 64 * 1024;

Volume* of(struct ntfs_device* dev) { return static_cast<Volume*>(dev->d_private); }

int dev_open(struct ntfs_device* dev, int) {
  NDevSetOpen(dev);
  return 0;
}
int dev_close(struct ntfs_device* dev) {
  NDevClearOpen(dev);
  return 0;
}
s64 dev_pread(struct ntfs_device* dev, void* buf, s64 count, s64 offset) {
  Volume* v = of(dev);
  if (count < 0 || offset < 0) {
    errno = EINVAL;
    return -1;
  }
  uint64_t size = v->io.size;
  if (static_cast<uint64_t>(offset) >= size) return 0;
  uint64_t n = std::min<uint64_t>(static_cast<uint64_t>(count), size - static_cast<uint64_t>(offset));
  if (n && !v->io.read(v->io.context, static_cast<uint64_t>(offset), buf, n)) {
    errno = EIO;
    return -1;
  }
  return static_cast<s64>(n);
}
s64 dev_pwrite(struct ntfs_device* dev, const void* buf, s64 count, s64 offset) {
  Volume* v = of(dev);
  if (count < 0 || offset < 0) {
    errno = EINVAL;
    return -1;
  }
  uint64_t size = v->io.size;
  if (static_cast<uint64_t>(offset) > size || static_cast<uint64_t>(count) > size - static_cast<uint64_t>(offset)) {
    errno = ENOSPC;
    return -1;
  }
  if (NDevReadOnly(dev)) {
    errno = EROFS;
    return -1;
  }
  if (count && !v->io.write(v->io.context, static_cast<uint64_t>(offset), buf, static_cast<size_t>(count))) {
    errno = EIO;
    return -1;
  }
  NDevSetDirty(dev);
  return count;
}
s64 dev_seek(struct ntfs_device* dev, s64 offset, int whence) {
  Volume* v = of(dev);
  int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? v->position : static_cast<int64_t>(v->io.size);
  if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) {
    errno = EINVAL;
    return -1;
  }
  int64_t target = base + offset;
  if (target < 0) {
    errno = EINVAL;
    return -1;
  }
  v->position = target;
  return target;
}
s64 dev_read(struct ntfs_device* dev, void* buf, s64 count) {
  s64 n = dev_pread(dev, buf, count, of(dev)->position);
  if (n > 0) of(dev)->position += n;
  return n;
}
s64 dev_write(struct ntfs_device* dev, const void* buf, s64 count) {
  s64 n = dev_pwrite(dev, buf, count, of(dev)->position);
  if (n > 0) of(dev)->position += n;
  return n;
}
int dev_sync(struct ntfs_device* dev) {
  Volume* v = of(dev);
  if (v->io.flush && !v->io.flush(v->io.context)) {
    errno = EIO;
    return -1;
  }
  NDevClearDirty(dev);
  return 0;
}
int dev_stat(struct ntfs_device* dev, struct stat* buf) {
  std::memset(buf, 0, sizeof *buf);
  buf->st_mode = S_IFREG | 0600;
  buf->st_size = static_cast<off_t>(of(dev)->io.size);
  buf->st_blksize = static_cast<blksize_t>(of(dev)->io.sector_size);
  return 0;
}
int dev_ioctl(struct ntfs_device* dev, unsigned long request, void* argp) {
  switch (request) {
    case BLKGETSIZE64:
      *static_cast<uint64_t*>(argp) = of(dev)->io.size;
      return 0;
    case BLKSSZGET:
      *static_cast<int*>(argp) = static_cast<int>(of(dev)->io.sector_size);
      return 0;
    case BLKBSZSET:
      return 0;
    default:
      errno = ENOTTY;
      return -1;
  }
}

struct ntfs_device_operations kDeviceOps = {
    dev_open, dev_close, dev_seek, dev_read, dev_write, dev_pread, dev_pwrite, dev_sync, dev_stat, dev_ioctl,
};

void quiet_library() {
  static std::once_flag once;
  std::call_once(once, [] { ntfs_log_set_handler(ntfs_log_handler_null); });
}

const ntfschar* units(const std::u16string& s) { return reinterpret_cast<const ntfschar*>(s.data()); }

int err_or(int fallback) { return errno ? errno : fallback; }

// Closes the cached data stream; returns an errno value when writing it back failed.
int drop_data(Volume* v) {
  int r = 0;
  // Writes to a compressed stream keep its last compression unit open; the
  // library compresses it when told the writing is over.
  if (v->data_na && v->data_written && (v->data_na->data_flags & ATTR_COMPRESSION_MASK) &&
      ntfs_attr_pclose(v->data_na))
    r = err_or(EIO);
  if (v->data_na) ntfs_attr_close(v->data_na);
  if (v->data_ni && ntfs_inode_close(v->data_ni)) r = err_or(EIO);
  v->data_na = nullptr;
  v->data_ni = nullptr;
  v->data_mref = 0;
  v->data_stream.clear();
  v->data_written = false;
  return r;
}

// Closes an inode when it goes out of scope unless released.
struct InodeRef {
  ntfs_inode* ni = nullptr;
  InodeRef() = default;
  explicit InodeRef(ntfs_inode* n) : ni(n) {}
  InodeRef(const InodeRef&) = delete;
  InodeRef& operator=(const InodeRef&) = delete;
  ~InodeRef() {
    if (ni) ntfs_inode_close(ni);
  }
  ntfs_inode* release() {
    ntfs_inode* n = ni;
    ni = nullptr;
    return n;
  }
  int close() {
    int r = ni ? ntfs_inode_close(ni) : 0;
    ni = nullptr;
    return r ? err_or(EIO) : 0;
  }
};

bool is_directory(ntfs_inode* ni) { return (ni->mrec->flags & MFT_RECORD_IS_DIRECTORY) != 0; }

// Looks a name up in a folder (case-insensitive once the volume ignores case).
int lookup(ntfs_inode* dir, const std::u16string& name, u64* mref) {
  if (name.empty() || name.size() > kMaxNameUnits) return ENAMETOOLONG;
  errno = 0;
  u64 r = ntfs_inode_lookup_by_name(dir, units(name), static_cast<int>(name.size()));
  if (r == static_cast<u64>(-1)) return errno == ENOENT || errno == 0 ? ENOENT : errno;
  *mref = r;
  return 0;
}

// Opens the inode at `path`; ENOENT for a missing last component, ENOTDIR for
// a missing or non-folder component before it.
int open_path(Volume* v, const Path& path, InodeRef* out) {
  InodeRef cur(ntfs_inode_open(v->vol, FILE_root));
  if (!cur.ni) return err_or(EIO);
  for (size_t i = 0; i < path.size(); ++i) {
    if (!is_directory(cur.ni)) return ENOTDIR;
    u64 mref = 0;
    int r = lookup(cur.ni, path[i], &mref);
    if (r) return (r == ENOENT && i + 1 < path.size()) ? ENOTDIR : r;
    ntfs_inode* next = ntfs_inode_open(v->vol, MREF(mref));
    if (!next) return err_or(EIO);
    cur.close();
    cur.ni = next;
  }
  out->ni = cur.release();
  return 0;
}

int open_parent(Volume* v, const Path& path, InodeRef* dir) {
  if (path.empty()) return EINVAL;
  Path parent(path.begin(), path.end() - 1);
  int r = open_path(v, parent, dir);
  if (r == ENOENT) return ENOTDIR;
  if (r) return r;
  if (!is_directory(dir->ni)) return ENOTDIR;
  return 0;
}

// Opens the folder holding `path` into `dir` and looks the path's last name
// up there: 0 with its reference in `mref`, ENOENT when the name is missing,
// or why the folder could not be opened (never ENOENT).
int lookup_in_parent(Volume* v, const Path& path, InodeRef* dir, u64* mref) {
  int r = open_parent(v, path, dir);
  if (r) return r;
  return lookup(dir->ni, path.back(), mref);
}

std::string utf8_of_path(const Path& path) {
  std::string out;
  for (auto& c : path) {
    out += '/';
    for (size_t i = 0; i < c.size(); ++i) {
      uint32_t cp = c[i];
      if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < c.size() && c[i + 1] >= 0xDC00 && c[i + 1] < 0xE000) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (c[i + 1] - 0xDC00);
        ++i;
      }
      if (cp < 0x80) {
        out += static_cast<char>(cp);
      } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
      } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
      } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
      }
    }
  }
  return out.empty() ? "/" : out;
}

// One $FILE_NAME attribute of an inode.
struct NameAttr {
  std::u16string name;
  int type = FILE_NAME_POSIX;  // FILE_NAME_POSIX, _WIN32, _DOS or _WIN32_AND_DOS
  u64 parent = 0;              // MFT record number of the folder holding it
};

// Every name the inode carries, in attribute order.
std::vector<NameAttr> all_names(ntfs_inode* ni) {
  std::vector<NameAttr> names;
  ntfs_attr_search_ctx* ctx = ntfs_attr_get_search_ctx(ni, nullptr);
  if (!ctx) return names;
  int hops = 0;
  while (hops++ < 1024 && !ntfs_attr_lookup(AT_FILE_NAME, AT_UNNAMED, 0, CASE_SENSITIVE, 0, nullptr, 0, ctx)) {
    const ATTR_RECORD* a = ctx->attr;
    if (a->non_resident) continue;
    uint32_t vlen = le32_to_cpu(a->value_length);
    uint16_t voff = le16_to_cpu(a->value_offset);
    uint32_t alen = le32_to_cpu(a->length);
    if (voff > alen || vlen > alen - voff || vlen < sizeof(FILE_NAME_ATTR)) continue;
    auto* fn = reinterpret_cast<const FILE_NAME_ATTR*>(reinterpret_cast<const uint8_t*>(a) + voff);
    if (sizeof(FILE_NAME_ATTR) + fn->file_name_length * 2u > vlen) continue;
    NameAttr n;
    n.name.assign(fn->file_name_length, u'\0');
    std::memcpy(n.name.data(), reinterpret_cast<const uint8_t*>(fn) + offsetof(FILE_NAME_ATTR, file_name),
                n.name.size() * 2);
    n.type = fn->file_name_type;
    n.parent = MREF_LE(fn->parent_directory);
    names.push_back(std::move(n));
  }
  ntfs_attr_put_search_ctx(ctx);
  return names;
}

// Hard links: the names that are not DOS aliases.
uint32_t link_count_of(const std::vector<NameAttr>& names) {
  uint32_t n = 0;
  for (auto& a : names) n += a.type != FILE_NAME_DOS;
  return n ? n : 1;
}

// The name this inode carries in `parent` (0 = any) under the spelling
// `wanted` (the name an index entry or a caller gave; empty = the first), and
// its DOS alias. A file with several hard links in one folder has one long
// name per link: the one asked for is picked, exactly spelled first, else
// without regard to case. The DOS alias belongs to the Win32 name alone, so
// the other links of the file get none.
void names_of(ntfs_volume* vol, ntfs_inode* ni, u64 parent, const std::u16string& wanted, std::u16string* long_name,
              std::u16string* short_name) {
  const std::vector<NameAttr> names = all_names(ni);
  const NameAttr* exact = nullptr;
  const NameAttr* folded = nullptr;
  const NameAttr* first = nullptr;
  const NameAttr* dos = nullptr;
  for (auto& n : names) {
    if (parent && n.parent != MREF(parent)) continue;
    if (n.type == FILE_NAME_DOS) {
      dos = &n;
      continue;
    }
    if (!first) first = &n;
    if (wanted.empty()) continue;
    if (!exact && n.name == wanted) exact = &n;
    if (!folded && ntfs_names_are_equal(units(n.name), n.name.size(), units(wanted), wanted.size(), IGNORE_CASE,
                                        vol->upcase, vol->upcase_len))
      folded = &n;
  }
  const NameAttr* chosen = exact ? exact : folded ? folded : first;
  if (long_name && chosen) *long_name = chosen->name;
  if (short_name && dos && chosen && chosen->type == FILE_NAME_WIN32) *short_name = dos->name;
}

uint32_t reparse_tag_of(ntfs_inode* ni) {
  std::vector<uint8_t> buf(kMaxReparseBytes);
  int r = ntfs_get_ntfs_reparse_data(ni, reinterpret_cast<char*>(buf.data()), buf.size());
  if (r < 4 || static_cast<size_t>(r) > buf.size()) return 0;
  const uint8_t* head = buf.data();
  return static_cast<uint32_t>(head[0]) | (head[1] << 8) | (head[2] << 16) | (static_cast<uint32_t>(head[3]) << 24);
}

void fill_entry(ntfs_inode* ni, Entry* e) {
  e->mref = MK_MREF(ni->mft_no, le16_to_cpu(ni->mrec->sequence_number));
  uint32_t flags = le32_to_cpu(ni->flags) & 0xFFFF;
  bool dir = is_directory(ni);
  if (dir) flags |= kAttributeDirectory;
  if (!flags) flags = kAttributeNormal;
  e->attributes = flags;
  e->creation_time = static_cast<uint64_t>(sle64_to_cpu(ni->creation_time));
  e->last_access_time = static_cast<uint64_t>(sle64_to_cpu(ni->last_access_time));
  e->last_write_time = static_cast<uint64_t>(sle64_to_cpu(ni->last_data_change_time));
  e->size = 0;
  e->allocation_size = 0;
  if (!dir) {
    ntfs_attr* na = ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0);
    if (na) {
      e->size = static_cast<uint64_t>(na->data_size);
      e->allocation_size = static_cast<uint64_t>(na->allocated_size);
      ntfs_attr_close(na);
    }
  }
  e->reparse_tag = (flags & kAttributeReparse) ? reparse_tag_of(ni) : 0;
  e->link_count = dir ? 1 : link_count_of(all_names(ni));
}

struct DirItem {
  std::u16string name;
  int type;
  u64 mref;
};

int collect(void* ctx, const ntfschar* name, const int name_len, const int name_type, const s64, const MFT_REF mref,
            const unsigned) {
  auto* items = static_cast<std::vector<DirItem>*>(ctx);
  if (items->size() > 1000000) return -1;  // a looping index: stop the walk
  items->push_back({std::u16string(reinterpret_cast<const char16_t*>(name), static_cast<size_t>(name_len)), name_type,
                    static_cast<u64>(mref)});
  return 0;
}

// The data attribute of a stream: the unnamed one, or a named (alternate) one.
ntfs_attr* open_stream_attr(ntfs_inode* ni, const std::u16string& stream) {
  if (stream.empty()) return ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0);
  return ntfs_attr_open(ni, AT_DATA, const_cast<ntfschar*>(units(stream)), static_cast<u32>(stream.size()));
}

int with_attr(Volume* v, uint64_t mref, const std::u16string& stream, bool for_write,
              int (*fn)(ntfs_inode*, ntfs_attr*, void*), void* arg) {
  if (!v->data_na || v->data_mref != mref || v->data_stream != stream) {
    if (int r = drop_data(v)) return r;
    InodeRef ni(ntfs_inode_open(v->vol, MREF(mref)));
    if (!ni.ni) return err_or(ENOENT);
    if (le16_to_cpu(ni.ni->mrec->sequence_number) != MSEQNO(mref)) return ENOENT;
    // A folder has no unnamed data stream, but may have named ones.
    if (stream.empty() && is_directory(ni.ni)) return EISDIR;
    errno = 0;
    ntfs_attr* na = open_stream_attr(ni.ni, stream);
    if (!na) {
      if (errno != ENOENT || !for_write || !stream.empty()) return err_or(EIO);
      // A file without a data stream (rare, but possible after other tools): give it one.
      if (ntfs_attr_add(ni.ni, AT_DATA, AT_UNNAMED, 0, nullptr, 0)) return err_or(EIO);
      na = ntfs_attr_open(ni.ni, AT_DATA, AT_UNNAMED, 0);
      if (!na) return err_or(EIO);
    }
    v->data_ni = ni.release();
    v->data_na = na;
    v->data_mref = mref;
    v->data_stream = stream;
  }
  v->data_written = v->data_written || for_write;
  int r = fn(v->data_ni, v->data_na, arg);
  if (r) drop_data(v);
  return r;
}

}  // namespace

int Mount(const Io& io, bool read_only, Volume** volume) {
  quiet_library();
  *volume = nullptr;
  if (!io.read || (!read_only && !io.write) || io.size < 512) return EINVAL;
  auto* v = new Volume;
  v->io = io;
  struct ntfs_device* dev =
      ntfs_device_alloc("ntfs-volume", 0, &kDeviceOps, v);
  if (!dev) {
    delete v;
    return ENOMEM;
  }
  errno = 0;
  v->vol = ntfs_device_mount(dev, read_only ? NTFS_MNT_RDONLY : NTFS_MNT_NONE);
  if (!v->vol) {
    int e = err_or(EINVAL);
    ntfs_device_free(dev);
    delete v;
    return e;
  }
  ntfs_set_ignore_case(v->vol);
  *volume = v;
  return 0;
}

int Unmount(Volume* v) {
  if (!v) return 0;
  int r = drop_data(v);
  if (v->vol && ntfs_umount(v->vol, FALSE) && !r) r = err_or(EIO);
  if (v->io.flush && !v->io.flush(v->io.context) && !r) r = EIO;
  delete v;
  return r;
}

int Serial(Volume* v, uint64_t* serial) {
  uint8_t boot[512];
  if (!v->io.read(v->io.context, 0, boot, sizeof boot)) return EIO;
  *serial = 0;
  for (int i = 7; i >= 0; --i) *serial = (*serial << 8) | boot[0x48 + i];
  return 0;
}

int Facts(Volume* v, VolumeFacts* f) {
  if (int dropped = drop_data(v)) return dropped;
  ntfs_volume* vol = v->vol;
  if (ntfs_volume_get_free_space(vol)) return err_or(EIO);
  f->sector_size = vol->sector_size;
  f->cluster_size = vol->cluster_size;
  f->total_clusters = static_cast<uint64_t>(vol->nr_clusters);
  f->free_clusters = vol->free_clusters > 0 ? static_cast<uint64_t>(vol->free_clusters) : 0;
  f->mft_record_size = vol->mft_record_size;
  f->mft_start_lcn = static_cast<uint64_t>(vol->mft_lcn);
  f->mft_mirror_lcn = static_cast<uint64_t>(vol->mftmirr_lcn);
  f->mft_valid_data_length = vol->mft_na ? static_cast<uint64_t>(vol->mft_na->initialized_size) : 0;
  f->major_version = vol->major_ver;
  f->minor_version = vol->minor_ver;
  if (int r = Serial(v, &f->serial)) return r;
  f->label.clear();
  InodeRef ni(ntfs_inode_open(vol, FILE_Volume));
  if (!ni.ni) return err_or(EIO);
  ntfs_attr* na = ntfs_attr_open(ni.ni, AT_VOLUME_NAME, AT_UNNAMED, 0);
  if (na) {
    s64 len = std::min<s64>(na->data_size, 2 * 128);
    std::u16string label(static_cast<size_t>(len / 2), u'\0');
    if (len > 0 && ntfs_attr_pread(na, 0, len, label.data()) == len) f->label = label;
    ntfs_attr_close(na);
  }
  return 0;
}

int SetLabel(Volume* v, const std::u16string& label) {
  if (int dropped = drop_data(v)) return dropped;
  if (label.size() > 32) return ENAMETOOLONG;
  std::u16string copy = label;
  if (ntfs_volume_rename(v->vol, reinterpret_cast<const ntfschar*>(copy.data()), static_cast<int>(copy.size())))
    return err_or(EIO);
  return 0;
}

int Stat(Volume* v, const Path& path, Entry* e) {
  if (int dropped = drop_data(v)) return dropped;
  InodeRef ni;
  int r = open_path(v, path, &ni);
  if (r) return r;
  fill_entry(ni.ni, e);
  if (path.empty()) {
    e->name.clear();
  } else {
    // The stored spelling (case preserved) under this parent.
    InodeRef dir;
    u64 parent = 0;
    if (!open_parent(v, path, &dir)) parent = MK_MREF(dir.ni->mft_no, 0);
    dir.close();
    std::u16string long_name, short_name;
    names_of(v->vol, ni.ni, parent, path.back(), &long_name, &short_name);
    e->name = long_name.empty() ? path.back() : long_name;
    e->short_name = short_name;
  }
  return ni.close();
}

int List(Volume* v, const Path& folder, std::vector<Entry>* entries) {
  if (int dropped = drop_data(v)) return dropped;
  entries->clear();
  InodeRef dir;
  int r = open_path(v, folder, &dir);
  if (r) return r;
  if (!is_directory(dir.ni)) return ENOTDIR;
  std::vector<DirItem> items;
  s64 pos = 0;
  if (ntfs_readdir(dir.ni, &pos, &items, collect)) return err_or(EIO);
  bool root = dir.ni->mft_no == FILE_root;
  u64 parent = MK_MREF(dir.ni->mft_no, 0);
  dir.close();
  for (auto& it : items) {
    if (it.type == FILE_NAME_DOS) continue;
    if (it.name == u"." || it.name == u"..") continue;
    if (root && MREF(it.mref) < FILE_first_user) continue;  // $MFT, $Bitmap, ... stay hidden
    InodeRef ni(ntfs_inode_open(v->vol, MREF(it.mref)));
    if (!ni.ni) return err_or(EIO);
    Entry e;
    fill_entry(ni.ni, &e);
    // Each index entry is one name of its file (two hard links in one folder
    // are two entries). The index walk reports some names folded to lower
    // case on a case-insensitive mount; the stored spelling of this entry's
    // name comes from the file's own name attributes.
    std::u16string long_name, short_name;
    names_of(v->vol, ni.ni, parent, it.name, &long_name, &short_name);
    e.name = long_name.empty() ? it.name : long_name;
    e.short_name = short_name;
    entries->push_back(std::move(e));
  }
  return 0;
}

int CreateFile(Volume* v, const Path& path, bool folder) {
  if (int dropped = drop_data(v)) return dropped;
  InodeRef dir;
  u64 existing = 0;
  int r = lookup_in_parent(v, path, &dir, &existing);
  if (r == 0) return EEXIST;
  if (r != ENOENT) return r;
  std::u16string name = path.back();
  ntfs_inode* ni = ntfs_create(dir.ni, const_cpu_to_le32(0), const_cast<ntfschar*>(units(name)),
                               static_cast<u8>(name.size()), folder ? S_IFDIR : S_IFREG);
  if (!ni) return err_or(EIO);
  if (ntfs_inode_close_in_dir(ni, dir.ni)) return err_or(EIO);
  return dir.close();
}

int Remove(Volume* v, const Path& path) {
  if (int dropped = drop_data(v)) return dropped;
  if (path.empty()) return EACCES;
  InodeRef dir;
  u64 mref = 0;
  int r = lookup_in_parent(v, path, &dir, &mref);
  if (r) return r;
  if (MREF(mref) < FILE_first_user) return EACCES;
  ntfs_inode* ni = ntfs_inode_open(v->vol, MREF(mref));
  if (!ni) return err_or(EIO);
  // Delete by the stored spelling so the index entry matches exactly.
  std::u16string stored;
  names_of(v->vol, ni, MK_MREF(dir.ni->mft_no, 0), path.back(), &stored, nullptr);
  if (stored.empty()) stored = path.back();
  std::string utf8 = utf8_of_path(path);
  errno = 0;
  // ntfs_delete closes both inodes whatever it returns.
  if (ntfs_delete(v->vol, utf8.c_str(), ni, dir.release(), const_cast<ntfschar*>(units(stored)),
                  static_cast<u8>(stored.size())))
    return err_or(EIO);
  return 0;
}

namespace {

// 0 when the name `path` is free in its folder, or already names the inode
// `mref`; EEXIST when another item holds it.
int name_free(Volume* v, const Path& path, u64 mref) {
  InodeRef dir;
  u64 existing = 0;
  int r = lookup_in_parent(v, path, &dir, &existing);
  if (r == 0 && MREF(existing) != MREF(mref)) return EEXIST;
  return r == ENOENT ? 0 : r;
}

// Adds a name for the inode `mref` in `dir_path`.
int link_in(Volume* v, u64 mref, const Path& dir_path, const std::u16string& name) {
  InodeRef dir;
  int r = open_path(v, dir_path, &dir);
  if (r) return r;
  InodeRef ni(ntfs_inode_open(v->vol, MREF(mref)));
  if (!ni.ni) return err_or(EIO);
  if (ntfs_link(ni.ni, dir.ni, const_cast<ntfschar*>(units(name)), static_cast<u8>(name.size()))) return err_or(EIO);
  r = ni.close();
  int c = dir.close();
  return r ? r : c;
}

// Drops the name `name` (exact spelling) of `mref` from `dir_path`.
int unlink_in(Volume* v, u64 mref, const Path& dir_path, const std::u16string& name) {
  InodeRef dir;
  int r = open_path(v, dir_path, &dir);
  if (r) return r;
  ntfs_inode* ni = ntfs_inode_open(v->vol, MREF(mref));
  if (!ni) return err_or(EIO);
  Path full = dir_path;
  full.push_back(name);
  std::string utf8 = utf8_of_path(full);
  errno = 0;
  if (ntfs_delete(v->vol, utf8.c_str(), ni, dir.release(), const_cast<ntfschar*>(units(name)),
                  static_cast<u8>(name.size())))
    return err_or(EIO);
  return 0;
}

}  // namespace

int Rename(Volume* v, const Path& from, const Path& to) {
  if (int dropped = drop_data(v)) return dropped;
  if (from.empty() || to.empty()) return EACCES;
  if (to.back().size() > kMaxNameUnits) return ENAMETOOLONG;
  Path from_dir(from.begin(), from.end() - 1), to_dir(to.begin(), to.end() - 1);
  u64 mref = 0;
  std::u16string stored;
  {
    InodeRef dir;
    int r = lookup_in_parent(v, from, &dir, &mref);
    if (r) return r;
    if (MREF(mref) < FILE_first_user) return EACCES;
    InodeRef ni(ntfs_inode_open(v->vol, MREF(mref)));
    if (!ni.ni) return err_or(EIO);
    names_of(v->vol, ni.ni, MK_MREF(dir.ni->mft_no, 0), from.back(), &stored, nullptr);
    if (stored.empty()) stored = from.back();
  }
  if (int r = name_free(v, to, mref)) return r;
  bool same_entry = false;
  {
    InodeRef a, b;
    if (!open_path(v, from_dir, &a) && !open_path(v, to_dir, &b)) same_entry = a.ni->mft_no == b.ni->mft_no;
  }
  if (same_entry) {
    // Only the spelling changes (or nothing): go through a temporary name,
    // since the index treats both spellings as the same key.
    if (stored == to.back()) return 0;
    std::u16string temp = u"~rename-" + std::u16string(1, u'0' + static_cast<char16_t>(mref % 10)) + u".tmp~";
    int r = link_in(v, mref, from_dir, temp);
    if (r) return r;
    r = unlink_in(v, mref, from_dir, stored);
    if (r) return r;
    r = link_in(v, mref, to_dir, to.back());
    if (r) return r;
    return unlink_in(v, mref, from_dir, temp);
  }
  int r = link_in(v, mref, to_dir, to.back());
  if (r) return r;
  return unlink_in(v, mref, from_dir, stored);
}

int Link(Volume* v, const Path& existing, const Path& link) {
  if (int dropped = drop_data(v)) return dropped;
  if (existing.empty() || link.empty()) return EACCES;
  if (link.back().size() > kMaxNameUnits) return ENAMETOOLONG;
  u64 mref = 0;
  {
    InodeRef dir;
    int r = lookup_in_parent(v, existing, &dir, &mref);
    if (r) return r;
    if (MREF(mref) < FILE_first_user) return EACCES;
    InodeRef ni(ntfs_inode_open(v->vol, MREF(mref)));
    if (!ni.ni) return err_or(EIO);
    if (is_directory(ni.ni)) return EACCES;
  }
  // Any item of that name, the file itself included, takes it.
  if (int r = name_free(v, link, ~0ull)) return r;
  return link_in(v, mref, Path(link.begin(), link.end() - 1), link.back());
}

int SetAttributes(Volume* v, const Path& path, uint32_t attributes) {
  if (int dropped = drop_data(v)) return dropped;
  InodeRef ni;
  int r = open_path(v, path, &ni);
  if (r) return r;
  uint32_t flags = le32_to_cpu(ni.ni->flags);
  flags = (flags & ~kSettableAttributes) | (attributes & kSettableAttributes);
  ni.ni->flags = static_cast<FILE_ATTR_FLAGS>(cpu_to_le32(flags));
  NInoSetDirty(ni.ni);
  NInoFileNameSetDirty(ni.ni);
  return ni.close();
}

int SetTimes(Volume* v, const Path& path, const uint64_t* creation, const uint64_t* access, const uint64_t* write) {
  if (int dropped = drop_data(v)) return dropped;
  InodeRef ni;
  int r = open_path(v, path, &ni);
  if (r) return r;
  // The library's own setter keeps the standard information and the index copies in step:
  // values are creation, last data change, last access.
  sle64 times[3] = {ni.ni->creation_time, ni.ni->last_data_change_time, ni.ni->last_access_time};
  if (creation) times[0] = cpu_to_sle64(static_cast<s64>(*creation));
  if (write) times[1] = cpu_to_sle64(static_cast<s64>(*write));
  if (access) times[2] = cpu_to_sle64(static_cast<s64>(*access));
  errno = 0;
  if (ntfs_inode_set_times(ni.ni, reinterpret_cast<const char*>(times), sizeof times, 0)) return err_or(EIO);
  return ni.close();
}

int TouchWrite(Volume* v, uint64_t mref, uint64_t now) {
  if (int dropped = drop_data(v)) return dropped;
  InodeRef ni(ntfs_inode_open(v->vol, MREF(mref)));
  if (!ni.ni) return err_or(ENOENT);
  sle64 times[3] = {ni.ni->creation_time, static_cast<sle64>(cpu_to_sle64(static_cast<s64>(now))), ni.ni->last_access_time};
  if (ntfs_inode_set_times(ni.ni, reinterpret_cast<const char*>(times), sizeof times, 0)) return err_or(EIO);
  ni.ni->flags = static_cast<FILE_ATTR_FLAGS>(cpu_to_le32(le32_to_cpu(ni.ni->flags) | 0x20u));  // archive
  NInoSetDirty(ni.ni);
  NInoFileNameSetDirty(ni.ni);
  return ni.close();
}

int DataSize(Volume* v, uint64_t mref, uint64_t* size, const std::u16string& stream) {
  return with_attr(
      v, mref, stream, false,
      [](ntfs_inode*, ntfs_attr* na, void* arg) {
        *static_cast<uint64_t*>(arg) = static_cast<uint64_t>(na->data_size);
        return 0;
      },
      size);
}

namespace {
struct IoArgs {
  uint64_t offset;
  void* buffer;
  const void* cbuffer;
  size_t length;
  size_t done;
};
}  // namespace

int ReadData(Volume* v, uint64_t mref, uint64_t offset, void* buffer, size_t length, size_t* done,
             const std::u16string& stream) {
  IoArgs a{offset, buffer, nullptr, length, 0};
  int r = with_attr(
      v, mref, stream, false,
      [](ntfs_inode*, ntfs_attr* na, void* arg) {
        auto* a = static_cast<IoArgs*>(arg);
        uint64_t size = static_cast<uint64_t>(na->data_size);
        if (a->offset >= size) return 0;
        uint64_t want = std::min<uint64_t>(a->length, size - a->offset);
        auto* p = static_cast<uint8_t*>(a->buffer);
        while (a->done < want) {
          s64 n = ntfs_attr_pread(na, static_cast<s64>(a->offset + a->done), static_cast<s64>(want - a->done),
                                  p + a->done);
          if (n <= 0) return n < 0 ? err_or(EIO) : EIO;
          a->done += static_cast<size_t>(n);
        }
        return 0;
      },
      &a);
  *done = a.done;
  return r;
}

int WriteData(Volume* v, uint64_t mref, uint64_t offset, const void* buffer, size_t length,
              const std::u16string& stream) {
  IoArgs a{offset, nullptr, buffer, length, 0};
  return with_attr(
      v, mref, stream, true,
      [](ntfs_inode*, ntfs_attr* na, void* arg) {
        auto* a = static_cast<IoArgs*>(arg);
        auto* p = static_cast<const uint8_t*>(a->cbuffer);
        while (a->done < a->length) {
          errno = 0;
          s64 n = ntfs_attr_pwrite(na, static_cast<s64>(a->offset + a->done), static_cast<s64>(a->length - a->done),
                                   p + a->done);
          if (n <= 0) return err_or(ENOSPC);
          a->done += static_cast<size_t>(n);
        }
        return 0;
      },
      &a);
}

int Truncate(Volume* v, uint64_t mref, uint64_t size, const std::u16string& stream) {
  return with_attr(
      v, mref, stream, true,
      [](ntfs_inode* ni, ntfs_attr* na, void* arg) {
        errno = 0;
        s64 size = static_cast<s64>(*static_cast<uint64_t*>(arg));
        // Growing allocates real clusters, as the platform does, unless the
        // file was made sparse.
        const bool sparse = (ni->flags & FILE_ATTR_SPARSE_FILE) != 0;
        int r = size > na->data_size && !sparse ? ntfs_attr_truncate_solid(na, size) : ntfs_attr_truncate(na, size);
        return r ? err_or(ENOSPC) : 0;
      },
      &size);
}

int AllocatedRanges(Volume* v, uint64_t mref, std::vector<std::pair<uint64_t, uint64_t>>* ranges) {
  ranges->clear();
  return with_attr(
      v, mref, u"", false,
      [](ntfs_inode*, ntfs_attr* na, void* arg) {
        auto* out = static_cast<std::vector<std::pair<uint64_t, uint64_t>>*>(arg);
        const uint64_t size = static_cast<uint64_t>(na->data_size);
        // A resident or compressed stream is taken whole: holes inside
        // compression units are not holes of the data.
        if (!NAttrNonResident(na) || NAttrCompressed(na)) {
          if (size) out->push_back({0, size});
          return 0;
        }
        errno = 0;
        if (ntfs_attr_map_whole_runlist(na)) return err_or(EIO);
        const unsigned bits = na->ni->vol->cluster_size_bits;
        for (runlist_element* rl = na->rl; rl && rl->length; ++rl) {
          if (rl->lcn < 0) continue;  // a hole (or not mapped: nothing there)
          uint64_t start = static_cast<uint64_t>(rl->vcn) << bits;
          uint64_t end = static_cast<uint64_t>(rl->vcn + rl->length) << bits;
          if (start >= size) break;
          if (end > size) end = size;
          if (!out->empty() && out->back().first + out->back().second == start)
            out->back().second += end - start;
          else
            out->push_back({start, end - start});
        }
        return 0;
      },
      ranges);
}

int ListStreams(Volume* v, const Path& path, std::vector<std::pair<std::u16string, uint64_t>>* streams) {
  if (int dropped = drop_data(v)) return dropped;
  streams->clear();
  InodeRef ni;
  int r = open_path(v, path, &ni);
  if (r) return r;
  ntfs_attr_search_ctx* ctx = ntfs_attr_get_search_ctx(ni.ni, nullptr);
  if (!ctx) return err_or(ENOMEM);
  int hops = 0;
  while (hops++ < 4096 && !ntfs_attr_lookup(AT_DATA, nullptr, 0, CASE_SENSITIVE, 0, nullptr, 0, ctx)) {
    const ATTR_RECORD* a = ctx->attr;
    // The unnamed stream, or a later extent of a named one.
    if (!a->name_length || (a->non_resident && a->lowest_vcn)) continue;
    const uint32_t alen = le32_to_cpu(a->length);
    const uint16_t noff = le16_to_cpu(a->name_offset);
    if (noff > alen || a->name_length * 2u > alen - noff) continue;
    std::u16string name(a->name_length, u'\0');
    std::memcpy(name.data(), reinterpret_cast<const uint8_t*>(a) + noff, name.size() * 2);
    const uint64_t size = a->non_resident ? static_cast<uint64_t>(sle64_to_cpu(a->data_size))
                                          : le32_to_cpu(a->value_length);
    streams->emplace_back(std::move(name), size);
  }
  ntfs_attr_put_search_ctx(ctx);
  return ni.close();
}

int OpenStream(Volume* v, const Path& path, const std::u16string& stream, bool create, uint64_t* mref,
               uint64_t* size) {
  if (int dropped = drop_data(v)) return dropped;
  if (stream.empty() || stream.size() > kMaxNameUnits) return EINVAL;
  InodeRef ni;
  int r = open_path(v, path, &ni);
  if (r) return r;
  if (ni.ni->mft_no < FILE_first_user && ni.ni->mft_no != FILE_root) return EACCES;
  errno = 0;
  ntfs_attr* na = open_stream_attr(ni.ni, stream);
  if (!na) {
    if (errno != ENOENT || !create) return err_or(EIO);
    if (ntfs_attr_add(ni.ni, AT_DATA, const_cast<ntfschar*>(units(stream)), static_cast<u32>(stream.size()), nullptr,
                      0))
      return err_or(EIO);
    na = open_stream_attr(ni.ni, stream);
    if (!na) return err_or(EIO);
  }
  *size = static_cast<uint64_t>(na->data_size);
  *mref = MK_MREF(ni.ni->mft_no, le16_to_cpu(ni.ni->mrec->sequence_number));
  ntfs_attr_close(na);
  return ni.close();
}

int SetCompressed(Volume* v, const Path& path) {
  if (int dropped = drop_data(v)) return dropped;
  InodeRef ni;
  int r = open_path(v, path, &ni);
  if (r) return r;
  // NTFS compresses in units of 16 clusters of at most 4 KiB.
  if (v->vol->cluster_size > MAX_COMPRESSION_CLUSTER_SIZE) return EOPNOTSUPP;
  if (is_directory(ni.ni)) {
    if (ni.ni->flags & FILE_ATTR_COMPRESSED) return ni.close();
    // The library's own setter flags a folder's index, so its new files are compressed.
    const le32 flags = ni.ni->flags | FILE_ATTR_COMPRESSED;
    errno = 0;
    if (ntfs_set_ntfs_attrib(ni.ni, reinterpret_cast<const char*>(&flags), sizeof flags, 0))
      return err_or(EOPNOTSUPP);
    if (!(ni.ni->flags & FILE_ATTR_COMPRESSED)) return EOPNOTSUPP;
    return ni.close();
  }
  // A file: its data attribute carries the flag, and the library compresses
  // what is written to it from then on. Data already stored would stay as it
  // is, so only an empty file (resident, no clusters yet) may change.
  errno = 0;
  ntfs_attr* na = ntfs_attr_open(ni.ni, AT_DATA, AT_UNNAMED, 0);
  if (!na) return err_or(EIO);
  const bool compressed = (na->data_flags & ATTR_COMPRESSION_MASK) == ATTR_IS_COMPRESSED;
  const bool empty = !NAttrNonResident(na) && na->data_size == 0;
  ntfs_attr_close(na);
  if (!compressed) {
    if (!empty) return EOPNOTSUPP;
    errno = 0;
    if (ntfs_attr_set_flags(ni.ni, AT_DATA, AT_UNNAMED, 0, ATTR_IS_COMPRESSED, ATTR_COMPRESSION_MASK))
      return err_or(EIO);
  }
  ni.ni->flags = static_cast<FILE_ATTR_FLAGS>(ni.ni->flags | FILE_ATTR_COMPRESSED);
  NInoSetDirty(ni.ni);
  NInoFileNameSetDirty(ni.ni);
  return ni.close();
}

int SetSparse(Volume* v, const Path& path) {
  if (int dropped = drop_data(v)) return dropped;
  InodeRef ni;
  int r = open_path(v, path, &ni);
  if (r) return r;
  if (is_directory(ni.ni)) return EISDIR;
  ni.ni->flags = static_cast<FILE_ATTR_FLAGS>(cpu_to_le32(le32_to_cpu(ni.ni->flags) | 0x0200u));
  NInoSetDirty(ni.ni);
  NInoFileNameSetDirty(ni.ni);
  return ni.close();
}

int GetSecurity(Volume* v, const Path& path, std::vector<uint8_t>* descriptor) {
  if (int dropped = drop_data(v)) return dropped;
  InodeRef ni;
  int r = open_path(v, path, &ni);
  if (r) return r;
  struct SECURITY_CONTEXT scx;
  std::memset(&scx, 0, sizeof scx);
  scx.vol = v->vol;
  std::vector<char> buf(kMaxSecurityBytes);
  int n = ntfs_get_ntfs_acl(&scx, ni.ni, buf.data(), buf.size());
  if (n <= 0 || static_cast<size_t>(n) > buf.size()) return n < 0 ? -n : ENODATA;
  descriptor->assign(buf.begin(), buf.begin() + n);
  return ni.close();
}

int SetSecurity(Volume* v, const Path& path, const std::vector<uint8_t>& descriptor) {
  if (int dropped = drop_data(v)) return dropped;
  InodeRef ni;
  int r = open_path(v, path, &ni);
  if (r) return r;
  struct SECURITY_CONTEXT scx;
  std::memset(&scx, 0, sizeof scx);
  scx.vol = v->vol;
  errno = 0;
  int n = ntfs_set_ntfs_acl(&scx, ni.ni, reinterpret_cast<const char*>(descriptor.data()), descriptor.size(), 0);
  if (n) return n < 0 ? -n : err_or(EINVAL);
  return ni.close();
}

int GetReparse(Volume* v, const Path& path, std::vector<uint8_t>* buffer) {
  if (int dropped = drop_data(v)) return dropped;
  InodeRef ni;
  int r = open_path(v, path, &ni);
  if (r) return r;
  if (!(le32_to_cpu(ni.ni->flags) & kAttributeReparse)) return ENODATA;
  std::vector<char> buf(kMaxReparseBytes);
  int n = ntfs_get_ntfs_reparse_data(ni.ni, buf.data(), buf.size());
  if (n <= 0 || static_cast<size_t>(n) > buf.size()) return n < 0 ? -n : ENODATA;
  buffer->assign(buf.begin(), buf.begin() + n);
  return ni.close();
}

int SetReparse(Volume* v, const Path& path, const std::vector<uint8_t>& buffer) {
  if (int dropped = drop_data(v)) return dropped;
  if (buffer.size() < 8 || buffer.size() > kMaxReparseBytes) return EINVAL;
  InodeRef ni;
  int r = open_path(v, path, &ni);
  if (r) return r;
  errno = 0;
  int n = ntfs_set_ntfs_reparse_data(ni.ni, reinterpret_cast<const char*>(buffer.data()), buffer.size(), 0);
  if (n) return n < 0 ? -n : err_or(EINVAL);
  return ni.close();
}

int SetShortName(Volume* v, const Path& path, const std::u16string& short_name) {
  if (int dropped = drop_data(v)) return dropped;
  if (path.empty()) return EINVAL;
  InodeRef dir;
  u64 mref = 0;
  int r = lookup_in_parent(v, path, &dir, &mref);
  if (r) return r;
  ntfs_inode* ni = ntfs_inode_open(v->vol, MREF(mref));
  if (!ni) return err_or(EIO);
  // Changing the alias must not change the file's times.
  uint64_t times[3] = {static_cast<uint64_t>(sle64_to_cpu(ni->creation_time)),
                       static_cast<uint64_t>(sle64_to_cpu(ni->last_access_time)),
                       static_cast<uint64_t>(sle64_to_cpu(ni->last_data_change_time))};
  std::string utf8 = utf8_of_path({short_name}).substr(1);
  errno = 0;
  // Both inodes are closed by the library whatever the outcome.
  int n = ntfs_set_ntfs_dos_name(ni, dir.release(), utf8.data(), utf8.size(), 0);
  if (n) return n < 0 ? -n : err_or(EINVAL);
  return SetTimes(v, path, &times[0], &times[1], &times[2]);
}

int WriteBack(Volume* v) {
  int r = drop_data(v);
  // The system files the library keeps open (the MFT, its mirror, the cluster
  // bitmap) hold their records in memory once changed; another reader of the
  // image needs them written too.
  for (ntfs_inode* ni : {v->vol->mft_ni, v->vol->mftmirr_ni, v->vol->lcnbmp_ni})
    if (ni && NInoDirty(ni) && ntfs_inode_sync(ni) && !r) r = err_or(EIO);
  return r;
}

int Sync(Volume* v) {
  if (int dropped = WriteBack(v)) return dropped;
  if (ntfs_device_sync(v->vol->dev)) return err_or(EIO);
  return 0;
}

}  // namespace platform::fs::ntfs::lib

#include "platform/fs/crt_file.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/core/ascii_case.h"
#include "platform/core/error.h"
#include "platform/core/kobject.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"

namespace platform::fs {

enum class WideEncoding { Latin1, Utf16, Utf8 };

class CFile {
 public:
  HANDLE handle = INVALID_HANDLE_VALUE;
  bool readable = false, writable = false, append = false, text = false;
  WideEncoding wide = WideEncoding::Latin1;
  bool eof = false, error = false;
  int pending = -1;  // the second half of a surrogate pair decoded from UTF-8
};

namespace {

bool read_byte(CFile* f, uint8_t* b) {
  DWORD done = 0;
  if (!ReadFile(f->handle, b, 1, &done, nullptr)) {
    f->error = true;
    return false;
  }
  if (!done) {
    f->eof = true;
    return false;
  }
  return true;
}

void unread(CFile* f, LONGLONG count) {
  LARGE_INTEGER d;
  d.QuadPart = -count;
  SetFilePointerEx(f->handle, d, nullptr, FILE_CURRENT);
}

bool write_raw(CFile* f, const void* data, size_t n) {
  if (!f->writable) {
    f->error = true;
    return false;
  }
  if (f->append) {
    LARGE_INTEGER zero{};
    SetFilePointerEx(f->handle, zero, nullptr, FILE_END);
  }
  DWORD done = 0;
  if (n && (!WriteFile(f->handle, data, static_cast<DWORD>(n), &done, nullptr) || done != n)) {
    f->error = true;
    return false;
  }
  return true;
}

// Writes bytes, adding a CR before each LF in text mode.
bool write_bytes(CFile* f, const uint8_t* p, size_t n) {
  if (!f->text) return write_raw(f, p, n);
  std::string out;
  out.reserve(n + n / 16);
  for (size_t i = 0; i < n; ++i) {
    if (p[i] == '\n') out += '\r';
    out += static_cast<char>(p[i]);
  }
  return write_raw(f, out.data(), out.size());
}

// Reads one byte, turning CR LF into LF in text mode. -1 at the end.
int get_byte(CFile* f) {
  uint8_t b;
  if (!f->readable) {
    f->error = true;
    return -1;
  }
  if (!read_byte(f, &b)) return -1;
  if (f->text && b == '\r') {
    uint8_t next;
    if (read_byte(f, &next)) {
      if (next == '\n') return '\n';
      unread(f, 1);
    }
    f->eof = false;
  }
  return b;
}

// One UTF-16 unit from the stream in its wide encoding; -1 at the end.
int get_wide(CFile* f) {
  if (f->pending >= 0) {
    int c = f->pending;
    f->pending = -1;
    return c;
  }
  switch (f->wide) {
    case WideEncoding::Utf16: {
      uint8_t lo, hi;
      if (!read_byte(f, &lo) || !read_byte(f, &hi)) return -1;
      int c = lo | (hi << 8);
      if (f->text && c == u'\r') {
        uint8_t a, b;
        if (read_byte(f, &a) && read_byte(f, &b)) {
          if ((a | (b << 8)) == u'\n') return u'\n';
          unread(f, 2);
        }
        f->eof = false;
      }
      return c;
    }
    case WideEncoding::Utf8: {
      int b = get_byte(f);
      if (b < 0x80) return b;
      int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
      std::string seq(1, static_cast<char>(b));
      for (int i = 0; i < extra; ++i) {
        int c = get_byte(f);
        if (c < 0) break;
        seq += static_cast<char>(c);
      }
      std::u16string w = to_utf16(seq);
      if (w.size() > 1) f->pending = w[1];  // the low half comes with the next call
      return w.empty() ? u'?' : w[0];
    }
    case WideEncoding::Latin1:
    default:
      return get_byte(f);
  }
}

bool put_wide(CFile* f, const char16_t* s, size_t n) {
  std::string bytes;
  switch (f->wide) {
    case WideEncoding::Utf16:
      for (size_t i = 0; i < n; ++i) {
        if (f->text && s[i] == u'\n') bytes += std::string("\r\0", 2);
        bytes += static_cast<char>(s[i] & 0xFF);
        bytes += static_cast<char>(s[i] >> 8);
      }
      return write_raw(f, bytes.data(), bytes.size());
    case WideEncoding::Utf8:
      bytes = to_utf8(std::u16string_view(s, n));
      return write_bytes(f, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    case WideEncoding::Latin1:
    default:
      for (size_t i = 0; i < n; ++i) bytes += s[i] < 0x100 ? static_cast<char>(s[i]) : '?';
      return write_bytes(f, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }
}

// Expands a printf-style format into UTF-16 text.
template <class Char>
std::u16string format_text(const Char* fmt, va_list args) {
  std::u16string out;
  for (size_t i = 0; fmt[i]; ++i) {
    if (fmt[i] != '%') {
      out += static_cast<char16_t>(static_cast<std::make_unsigned_t<Char>>(fmt[i]));
      continue;
    }
    ++i;
    bool left = false, zero = false;
    for (;; ++i) {
      if (fmt[i] == '-') left = true;
      else if (fmt[i] == '0') zero = true;
      else break;
    }
    int width = 0;
    while (fmt[i] >= '0' && fmt[i] <= '9') width = width * 10 + (fmt[i++] - '0');
    int longs = 0;
    bool wide = false;
    for (;; ++i) {
      if (fmt[i] == 'l') { ++longs; wide = true; }
      else if (fmt[i] == 'h') {}
      else if (fmt[i] == 'I' && fmt[i + 1] == '6' && fmt[i + 2] == '4') { longs = 2; i += 2; }
      else break;
    }
    std::u16string piece;
    char num[32];
    Char c = fmt[i];
    switch (c) {
      case '%': piece = u"%"; break;
      case 'c':
        piece = std::u16string(1, static_cast<char16_t>(va_arg(args, int)));
        break;
      case 's':
        if (wide || sizeof(Char) == 2) {
          // In a wide format, %s is wide text as the platform's runtime reads it.
          const char16_t* s = va_arg(args, const char16_t*);
          piece = s ? s : u"(null)";
        } else {
          const char* s = va_arg(args, const char*);
          piece = to_utf16(s ? s : "(null)");
        }
        break;
      case 'S': {
        if (sizeof(Char) == 2) {
          const char* s = va_arg(args, const char*);
          piece = to_utf16(s ? s : "(null)");
        } else {
          const char16_t* s = va_arg(args, const char16_t*);
          piece = s ? s : u"(null)";
        }
        break;
      }
      case 'd':
      case 'i':
        if (longs >= 2) std::snprintf(num, sizeof num, "%lld", va_arg(args, long long));
        else if (longs == 1) std::snprintf(num, sizeof num, "%ld", va_arg(args, long));
        else std::snprintf(num, sizeof num, "%d", va_arg(args, int));
        piece = to_utf16(num);
        break;
      case 'u':
      case 'x':
      case 'X': {
        const char* f = c == 'u' ? "%llu" : c == 'x' ? "%llx" : "%llX";
        unsigned long long v = longs >= 2 ? va_arg(args, unsigned long long)
                               : longs == 1 ? va_arg(args, unsigned long)
                                            : va_arg(args, unsigned int);
        std::snprintf(num, sizeof num, f, v);
        piece = to_utf16(num);
        break;
      }
      default:
        return out;  // an unknown conversion ends the output rather than guessing at the arguments
    }
    if (static_cast<int>(piece.size()) < width) {
      std::u16string pad(static_cast<size_t>(width) - piece.size(), zero && !left ? u'0' : u' ');
      piece = left ? piece + std::u16string(pad.size(), u' ') : pad + piece;
    }
    out += piece;
  }
  return out;
}

}  // namespace

}  // namespace platform::fs

using platform::fs::CFile;
using platform::fs::WideEncoding;

CFILE* _wfopen(const WCHAR* name, const WCHAR* mode_text) {
  if (!name || !mode_text) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::u16string mode(mode_text), ccs;
  size_t comma = mode.find(u',');
  if (comma != std::u16string::npos) {
    ccs = mode.substr(comma + 1);
    mode = mode.substr(0, comma);
  }
  auto f = std::make_unique<CFile>();
  if (mode.empty()) return nullptr;
  char16_t kind = mode[0];
  bool plus = mode.find(u'+') != std::u16string::npos;
  f->text = mode.find(u'b') == std::u16string::npos;
  DWORD disposition;
  switch (kind) {
    case u'r': disposition = OPEN_EXISTING; f->readable = true; f->writable = plus; break;
    case u'w': disposition = CREATE_ALWAYS; f->writable = true; f->readable = plus; break;
    case u'a': disposition = OPEN_ALWAYS; f->writable = true; f->append = true; f->readable = plus; break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return nullptr;
  }
  std::u16string upper = platform::AsciiUpper(ccs);
  upper.erase(0, upper.find_first_not_of(u' '));
  if (upper == u"CCS=UTF-16LE" || upper == u"CCS=UNICODE") f->wide = WideEncoding::Utf16;
  else if (upper == u"CCS=UTF-8") f->wide = WideEncoding::Utf8;
  else if (!f->text) f->wide = WideEncoding::Utf16;
  else if (!upper.empty()) { SetLastError(ERROR_INVALID_PARAMETER); return nullptr; }
  DWORD access = (f->readable ? GENERIC_READ : 0) | (f->writable ? GENERIC_WRITE : 0);
  f->handle = CreateFileW(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition, 0, nullptr);
  if (f->handle == INVALID_HANDLE_VALUE) return nullptr;
  bool encoded = !upper.empty() && f->wide != WideEncoding::Latin1;
  if (encoded) {
    // The byte-order mark: skipped when reading from the start, written first into an empty file.
    LARGE_INTEGER size{};
    GetFileSizeEx(f->handle, &size);
    bool utf16 = f->wide == WideEncoding::Utf16;
    const char* bom = utf16 ? "\xFF\xFE" : "\xEF\xBB\xBF";
    size_t bom_size = utf16 ? 2 : 3;
    if (size.QuadPart == 0 && f->writable) {
      DWORD done = 0;
      WriteFile(f->handle, bom, static_cast<DWORD>(bom_size), &done, nullptr);
    } else if (kind == u'r' || plus) {
      char head[3] = {};
      DWORD done = 0;
      ReadFile(f->handle, head, static_cast<DWORD>(bom_size), &done, nullptr);
      if (done != bom_size || std::memcmp(head, bom, bom_size) != 0) SetFilePointer(f->handle, 0, nullptr, FILE_BEGIN);
    }
  }
  return f.release();
}

int fclose(CFILE* f) {
  if (!f) return EOF;
  BOOL ok = CloseHandle(f->handle);
  delete f;
  return ok ? 0 : EOF;
}

size_t fread(void* buffer, size_t size, size_t count, CFILE* f) {
  if (!f || !buffer || !size || !count) return 0;
  if (!f->readable) {
    f->error = true;
    return 0;
  }
  size_t total = size * count;
  if (total / size != count) return 0;
  auto* p = static_cast<uint8_t*>(buffer);
  size_t got = 0;
  if (!f->text) {
    while (got < total) {
      DWORD done = 0;
      DWORD want = static_cast<DWORD>(std::min<size_t>(total - got, 1u << 30));
      if (!ReadFile(f->handle, p + got, want, &done, nullptr)) {
        f->error = true;
        break;
      }
      if (!done) {
        f->eof = true;
        break;
      }
      got += done;
    }
  } else {
    while (got < total) {
      int b = platform::fs::get_byte(f);
      if (b < 0) break;
      p[got++] = static_cast<uint8_t>(b);
    }
  }
  return got / size;
}

size_t fwrite(const void* buffer, size_t size, size_t count, CFILE* f) {
  if (!f || !buffer || !size || !count) return 0;
  size_t total = size * count;
  if (total / size != count) return 0;
  return platform::fs::write_bytes(f, static_cast<const uint8_t*>(buffer), total) ? count : 0;
}

int _fseeki64(CFILE* f, int64_t offset, int origin) {
  if (!f) return -1;
  LARGE_INTEGER d;
  d.QuadPart = offset;
  DWORD method = origin == SEEK_SET ? FILE_BEGIN : origin == SEEK_CUR ? FILE_CURRENT : FILE_END;
  if (origin != SEEK_SET && origin != SEEK_CUR && origin != SEEK_END) return -1;
  if (!SetFilePointerEx(f->handle, d, nullptr, method)) return -1;
  f->eof = false;
  f->pending = -1;
  return 0;
}

int fseek(CFILE* f, long offset, int origin) { return _fseeki64(f, offset, origin); }

int64_t _ftelli64(CFILE* f) {
  if (!f) return -1;
  LARGE_INTEGER zero{}, pos{};
  if (!SetFilePointerEx(f->handle, zero, &pos, FILE_CURRENT)) return -1;
  return pos.QuadPart;
}

long ftell(CFILE* f) {
  int64_t p = _ftelli64(f);
  return p > 0x7FFFFFFF ? -1 : static_cast<long>(p);
}

int feof(CFILE* f) { return f && f->eof ? 1 : 0; }
int ferror(CFILE* f) { return f && f->error ? 1 : 0; }
// Writes go to the file as they are made, so there is nothing to hand over;
// like the C library's fflush this does not force the data onto the disk.
int fflush(CFILE* f) { return f ? 0 : EOF; }

int fgetc(CFILE* f) { return f ? platform::fs::get_byte(f) : EOF; }

int fputc(int c, CFILE* f) {
  uint8_t b = static_cast<uint8_t>(c);
  return f && platform::fs::write_bytes(f, &b, 1) ? b : EOF;
}

char* fgets(char* buffer, int size, CFILE* f) {
  if (!f || !buffer || size <= 0) return nullptr;
  int n = 0;
  while (n < size - 1) {
    int c = platform::fs::get_byte(f);
    if (c < 0) break;
    buffer[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  buffer[n] = 0;
  return n ? buffer : nullptr;
}

int fputs(const char* text, CFILE* f) {
  if (!f || !text) return EOF;
  return platform::fs::write_bytes(f, reinterpret_cast<const uint8_t*>(text), std::strlen(text)) ? 0 : EOF;
}

WCHAR* fgetws(WCHAR* buffer, int size, CFILE* f) {
  if (!f || !buffer || size <= 0) return nullptr;
  if (!f->readable) {
    f->error = true;
    return nullptr;
  }
  int n = 0;
  while (n < size - 1) {
    int c = platform::fs::get_wide(f);
    if (c < 0) break;
    buffer[n++] = static_cast<WCHAR>(c);
    if (c == u'\n') break;
  }
  buffer[n] = 0;
  return n ? buffer : nullptr;
}

int fputws(const WCHAR* text, CFILE* f) {
  if (!f || !text) return EOF;
  size_t n = 0;
  while (text[n]) ++n;
  return platform::fs::put_wide(f, text, n) ? 0 : EOF;
}

int fwprintf(CFILE* f, const WCHAR* format, ...) {
  if (!f || !format) return -1;
  va_list args;
  va_start(args, format);
  std::u16string text = platform::fs::format_text(format, args);
  va_end(args);
  return platform::fs::put_wide(f, text.data(), text.size()) ? static_cast<int>(text.size()) : -1;
}

int fprintf(CFILE* f, const char* format, ...) {
  if (!f || !format) return -1;
  va_list args;
  va_start(args, format);
  std::u16string text = platform::fs::format_text(format, args);
  va_end(args);
  std::string bytes = platform::to_utf8(text);
  return platform::fs::write_bytes(f, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size())
             ? static_cast<int>(bytes.size())
             : -1;
}

// Code pages: the ANSI and OEM pages of the simulated machine and the
// conversions between them and UTF-16.
//
// Supported pages: 1252 (Western), 932 (Japanese, double-byte), 437 (US OEM)
// and 65001 (UTF-8). CP_ACP and CP_OEMCP resolve to the machine's pages, 1252
// and 437 unless SetAnsiCodePage / SetOemCodePage chose others (a Japanese
// machine uses 932 for both).
//
// Bytes a page does not define decode to the page's default character
// (U+30FB for 932, U+FFFD for UTF-8); the five holes of 1252 (0x81, 0x8D,
// 0x8F, 0x90, 0x9D) decode to the control character of the same value, as the
// platform does. Characters a page cannot hold encode to '?' (or the caller's
// default character).
#pragma once

#include <string>
#include <string_view>

#include "platform/core/types.h"

constexpr UINT CP_ACP = 0;
constexpr UINT CP_OEMCP = 1;
constexpr UINT CP_THREAD_ACP = 3;
constexpr UINT CP_UTF8 = 65001;

constexpr DWORD MB_PRECOMPOSED = 0x01;
constexpr DWORD MB_COMPOSITE = 0x02;
constexpr DWORD MB_USEGLYPHCHARS = 0x04;
constexpr DWORD MB_ERR_INVALID_CHARS = 0x08;

constexpr DWORD WC_COMPOSITECHECK = 0x200;
constexpr DWORD WC_DISCARDNS = 0x10;
constexpr DWORD WC_SEPCHARS = 0x20;
constexpr DWORD WC_DEFAULTCHAR = 0x40;
constexpr DWORD WC_ERR_INVALID_CHARS = 0x80;
constexpr DWORD WC_NO_BEST_FIT_CHARS = 0x400;

namespace platform {

// CP_ACP, CP_OEMCP and CP_THREAD_ACP become the machine's pages; other values
// are returned unchanged.
UINT ResolveCodePage(UINT code_page);
bool IsSupportedCodePage(UINT code_page);

// Choose the machine's ANSI or OEM page. Returns false (and changes nothing)
// for a page that is not supported.
bool SetAnsiCodePage(UINT code_page);
bool SetOemCodePage(UINT code_page);

// Decodes bytes of a page. Undefined bytes become the page's default
// character, or, with strict set, make the call fail. Returns false for an
// unsupported page or (strict) invalid input; out then holds nothing useful.
bool DecodeBytes(UINT code_page, std::string_view bytes, std::u16string& out, bool strict = false);

// Encodes UTF-16 text. Characters the page lacks become default_char (a
// single byte, or a double-byte character for 932; null means '?') and set
// *used_default. With strict set, an unpaired surrogate makes a UTF-8
// conversion fail. Returns false for an unsupported page or strict failure.
bool EncodeText(UINT code_page, std::u16string_view text, std::string& out, const char* default_char = nullptr,
                bool* used_default = nullptr, bool strict = false);

// Lenient one-call forms for internal use (unsupported page: empty result).
std::u16string Decode(UINT code_page, std::string_view bytes);
std::string Encode(UINT code_page, std::u16string_view text);

}  // namespace platform

UINT GetACP();
UINT GetOEMCP();
BOOL IsValidCodePage(UINT code_page);

// With the platform's contract: a length of -1 means "up to and including the
// terminating zero"; an output size of 0 asks for the size needed; a buffer too
// small fails with ERROR_INSUFFICIENT_BUFFER and writes nothing.
int MultiByteToWideChar(UINT code_page, DWORD flags, LPCSTR text, int text_bytes, LPWSTR out, int out_chars);
int WideCharToMultiByte(UINT code_page, DWORD flags, LPCWSTR text, int text_chars, LPSTR out, int out_bytes,
                        LPCSTR default_char, LPBOOL used_default);

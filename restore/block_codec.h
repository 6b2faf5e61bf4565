// Decoding one stored block of an archive: Blowfish (ECB, each 32-bit half
// loaded little-endian) first, then RLE or zlib. Every step is bounded by
// the 0x7E00 bytes that one block may hold, and a damaged block is an error
// rather than stale or partial bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "restore/archive_format.h"

namespace restore {

// A Blowfish key schedule (OpenSSL's libcrypto), used block by block on
// 8-byte groups whose halves are little-endian numbers.
class BlowfishKey {
 public:
  BlowfishKey();
  ~BlowfishKey();
  BlowfishKey(const BlowfishKey&) = delete;
  BlowfishKey& operator=(const BlowfishKey&) = delete;
  void set_key(std::span<const uint8_t> key);
  void encrypt_block(uint32_t& left, uint32_t& right) const;
  void decrypt_block(uint32_t& left, uint32_t& right) const;
  // Every whole 8-byte group of src into dst (which may be src); the last
  // n mod 8 bytes are copied unchanged.
  void decrypt_buffer(const uint8_t* src, uint8_t* dst, size_t n) const;
  void encrypt_buffer(const uint8_t* src, uint8_t* dst, size_t n) const;

 private:
  struct Schedule;
  std::unique_ptr<Schedule> schedule_;
};

// The 16-byte key of a passkey: the low byte of each of its first 16
// characters, blanks after a shorter one.
std::array<uint8_t, 16> PasskeyKey(std::u16string_view passkey);
// Keys `key` with the passkey and tells whether it decrypts the header's
// check block to "Corvelwr".
bool VerifyPasskey(std::u16string_view passkey, const ArchiveHeader& header, BlowfishKey& key);

enum class RleResult { Ok = 0, Overflow = 1, EndsInEscape = 2 };
// The 0xFE-escaped run-length code: FE FE is one FE, FE k v is k copies of
// v, a last lone byte is copied. Writes at most `limit` bytes into `out`.
RleResult DecodeRle(std::span<const uint8_t> in, std::vector<uint8_t>& out, size_t limit);
// The matching encoder (for the archive writer): never longer than twice the
// input, and never ends inside an escape.
std::vector<uint8_t> EncodeRle(std::span<const uint8_t> in);

enum class DecodeResult { Ok = 0, BadLength = 1, RleOverflow = 2, RleTruncated = 3, ZlibFailed = 4, WrongSize = 5 };
const char* DecodeResultText(DecodeResult r);

// Decodes a stored block that must yield exactly `expected` bytes (at most
// 0x7E00): decrypts in place when `key` is given, then decompresses by the
// header's compression code. `stored` is modified by the decryption.
DecodeResult DecodeBlock(std::vector<uint8_t>& stored, uint8_t compression, const BlowfishKey* key,
                         size_t expected, std::vector<uint8_t>& decoded);

// 64 hexadecimal digits (either case) to 32 bytes; false on a bad digit or a
// short text.
bool HexToBytes(std::u16string_view text, std::array<uint8_t, 32>& out);

}  // namespace restore

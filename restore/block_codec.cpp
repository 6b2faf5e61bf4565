#include "restore/block_codec.h"

#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/blowfish.h>
#include <zlib.h>

#include <array>
#include <cstring>

#include "platform/core/little_endian.h"

namespace restore {

struct BlowfishKey::Schedule {
  BF_KEY key{};
};

BlowfishKey::BlowfishKey() : schedule_(std::make_unique<Schedule>()) {
  const uint8_t none[1] = {0};
  BF_set_key(&schedule_->key, 1, none);
}
BlowfishKey::~BlowfishKey() = default;

void BlowfishKey::set_key(std::span<const uint8_t> key) {
  BF_set_key(&schedule_->key, static_cast<int>(key.size()), key.data());
}

void BlowfishKey::encrypt_block(uint32_t& left, uint32_t& right) const {
  BF_LONG data[2] = {left, right};
  BF_encrypt(data, &schedule_->key);
  left = static_cast<uint32_t>(data[0]);
  right = static_cast<uint32_t>(data[1]);
}

void BlowfishKey::decrypt_block(uint32_t& left, uint32_t& right) const {
  BF_LONG data[2] = {left, right};
  BF_decrypt(data, &schedule_->key);
  left = static_cast<uint32_t>(data[0]);
  right = static_cast<uint32_t>(data[1]);
}

namespace {

template <typename Step>
void each_group(const uint8_t* src, uint8_t* dst, size_t n, Step step) {
  const size_t whole = n - n % 8;
  for (size_t i = 0; i < whole; i += 8) {
    uint32_t left = platform::ReadLe32(src + i), right = platform::ReadLe32(src + i + 4);
    step(left, right);
    platform::WriteLe32(dst + i, left);
    platform::WriteLe32(dst + i + 4, right);
  }
  if (dst != src) std::memmove(dst + whole, src + whole, n - whole);
}

}  // namespace

void BlowfishKey::decrypt_buffer(const uint8_t* src, uint8_t* dst, size_t n) const {
  each_group(src, dst, n, [this](uint32_t& l, uint32_t& r) { decrypt_block(l, r); });
}

void BlowfishKey::encrypt_buffer(const uint8_t* src, uint8_t* dst, size_t n) const {
  each_group(src, dst, n, [this](uint32_t& l, uint32_t& r) { encrypt_block(l, r); });
}

std::array<uint8_t, 16> PasskeyKey(std::u16string_view passkey) {
  std::array<uint8_t, 16> key;
  key.fill(0x20);
  for (size_t i = 0; i < key.size() && i < passkey.size(); ++i) key[i] = static_cast<uint8_t>(passkey[i] & 0xFF);
  return key;
}

bool VerifyPasskey(std::u16string_view passkey, const ArchiveHeader& header, BlowfishKey& key) {
  const auto bytes = PasskeyKey(passkey);
  key.set_key(bytes);
  uint8_t plain[8];
  key.decrypt_buffer(header.passkey_check.data(), plain, 8);
  return std::memcmp(plain, kPasskeyCheckText.data(), 8) == 0;
}

RleResult DecodeRle(std::span<const uint8_t> in, std::vector<uint8_t>& out, size_t limit) {
  out.clear();
  const size_t n = in.size();
  size_t i = 0;
  auto emit = [&](uint8_t v, size_t count) {
    if (count > limit - out.size()) return false;
    out.insert(out.end(), count, v);
    return true;
  };
  while (i + 1 < n) {
    const uint8_t c = in[i++];
    if (c != 0xFE) {
      if (!emit(c, 1)) return RleResult::Overflow;
      continue;
    }
    const uint8_t k = in[i++];
    if (k == 0xFE) {
      if (!emit(0xFE, 1)) return RleResult::Overflow;
      continue;
    }
    if (i >= n) return RleResult::EndsInEscape;
    const uint8_t v = in[i++];
    if (!emit(v, k)) return RleResult::Overflow;
  }
  if (i + 1 == n && !emit(in[i], 1)) return RleResult::Overflow;
  return RleResult::Ok;
}

std::vector<uint8_t> EncodeRle(std::span<const uint8_t> in) {
  std::vector<uint8_t> out;
  out.reserve(in.size() + in.size() / 8);
  size_t i = 0;
  while (i < in.size()) {
    size_t run = 1;
    while (i + run < in.size() && in[i + run] == in[i] && run < 0xFD) ++run;
    if (run >= 4) {
      out.insert(out.end(), {0xFE, static_cast<uint8_t>(run), in[i]});
    } else {
      run = 1;
      if (in[i] == 0xFE) out.insert(out.end(), {0xFE, 0xFE});
      else out.push_back(in[i]);
    }
    i += run;
  }
  return out;
}

const char* DecodeResultText(DecodeResult r) {
  switch (r) {
    case DecodeResult::Ok: return "ok";
    case DecodeResult::BadLength: return "the stored block is empty or longer than 0x8000 bytes";
    case DecodeResult::RleOverflow: return "the run-length code yields more than one block of data";
    case DecodeResult::RleTruncated: return "the run-length code ends inside an escape sequence";
    case DecodeResult::ZlibFailed: return "the zlib data are damaged";
    case DecodeResult::WrongSize: return "the block decodes to a different length than its item needs";
  }
  return "unknown";
}

DecodeResult DecodeBlock(std::vector<uint8_t>& stored, uint8_t compression, const BlowfishKey* key,
                         size_t expected, std::vector<uint8_t>& decoded) {
  if (stored.empty() || stored.size() > kMaxStoredBlock || expected > kBlockBytes) return DecodeResult::BadLength;
  if (key) key->decrypt_buffer(stored.data(), stored.data(), stored.size());
  if (compression == static_cast<uint8_t>(Compression::Zlib)) {
    decoded.resize(kBlockBytes);
    uLongf length = kBlockBytes;
    if (uncompress(decoded.data(), &length, stored.data(), static_cast<uLong>(stored.size())) != Z_OK)
      return DecodeResult::ZlibFailed;
    decoded.resize(length);
  } else if (compression == static_cast<uint8_t>(Compression::Rle) && stored.size() < kBlockBytes) {
    switch (DecodeRle(stored, decoded, kBlockBytes)) {
      case RleResult::Ok: break;
      case RleResult::Overflow: return DecodeResult::RleOverflow;
      case RleResult::EndsInEscape: return DecodeResult::RleTruncated;
    }
  } else {
    // No compression, an RLE block of 0x7E00 bytes or more, and any other
    // code: the stored bytes are the data.
    decoded = stored;
  }
  return decoded.size() == expected ? DecodeResult::Ok : DecodeResult::WrongSize;
}

bool HexToBytes(std::u16string_view text, std::array<uint8_t, 32>& out) {
  if (text.size() < 64) return false;
  auto digit = [](char16_t c) -> int {
    const unsigned low = c & 0xFF;
    if (low >= '0' && low <= '9') return static_cast<int>(low - '0');
    if (low >= 'A' && low <= 'F') return static_cast<int>(low - 'A' + 10);
    if (low >= 'a' && low <= 'f') return static_cast<int>(low - 'a' + 10);
    return -1;
  };
  for (size_t i = 0; i < 32; ++i) {
    const int hi = digit(text[2 * i]), lo = digit(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    out[i] = static_cast<uint8_t>(hi * 16 + lo);
  }
  return true;
}

}  // namespace restore

// Block decoding: the run-length code's rules and bounds, Blowfish against
// OpenSSL's command-line cipher (each 32-bit half byte-swapped, since the
// archive loads halves little-endian), zlib against zlib-flate, and the
// writer's stored blocks decoded by those tools.
#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "restore/block_codec.h"
#include "storage/oracle.h"
#include "tools/archive_writer/archive_writer.h"

namespace {

using restore::DecodeResult;
using storage_test::RunTool;

std::vector<uint8_t> bytes(std::initializer_list<int> v) {
  std::vector<uint8_t> out;
  for (int b : v) out.push_back(static_cast<uint8_t>(b));
  return out;
}

std::string hex(const std::vector<uint8_t>& v) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  for (uint8_t b : v) {
    s += digits[b >> 4];
    s += digits[b & 15];
  }
  return s;
}

// Runs `command` with `input` on its standard input; its standard output.
std::vector<uint8_t> filter(const std::string& command, const std::vector<uint8_t>& input, int& status) {
  char dir_pattern[] = "/tmp/codec-test-XXXXXX";
  const std::string dir = mkdtemp(dir_pattern);
  {
    std::ofstream(dir + "/in", std::ios::binary).write(reinterpret_cast<const char*>(input.data()),
                                                       static_cast<std::streamsize>(input.size()));
  }
  status = RunTool(command + " < " + dir + "/in > " + dir + "/out").exit_code;
  std::ifstream in(dir + "/out", std::ios::binary);
  std::vector<uint8_t> out((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::filesystem::remove_all(dir);
  return out;
}

// Each 4-byte half reversed: the archive's little-endian halves become the
// big-endian ones of the standard cipher, and back.
std::vector<uint8_t> swap_halves(std::vector<uint8_t> v) {
  for (size_t i = 0; i + 4 <= v.size(); i += 4) std::reverse(v.begin() + i, v.begin() + i + 4);
  return v;
}

std::vector<uint8_t> random_bytes(size_t n, uint32_t seed, int alphabet = 256) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng() % alphabet);
  return v;
}

TEST(Rle, DecodingRules) {
  struct Case {
    std::vector<uint8_t> in;
    restore::RleResult result;
    std::vector<uint8_t> out;
  };
  const Case cases[] = {
      {bytes({0xFE, 0xFE, 0x41}), restore::RleResult::Ok, bytes({0xFE, 0x41})},
      {bytes({0xFE, 0x05, 0x00, 0x41}), restore::RleResult::Ok, bytes({0, 0, 0, 0, 0, 0x41})},
      {bytes({0xFE, 0x00, 0x07, 0x41}), restore::RleResult::Ok, bytes({0x41})},
      {bytes({0x41, 0x42}), restore::RleResult::Ok, bytes({0x41, 0x42})},
      {bytes({0x41, 0xFE}), restore::RleResult::Ok, bytes({0x41, 0xFE})},  // a last lone byte is copied
      {bytes({0xFE, 0x03, 0x41}), restore::RleResult::Ok, bytes({0x41, 0x41, 0x41})},
      {bytes({0x41, 0xFE, 0x03}), restore::RleResult::EndsInEscape, {}},
      {bytes({}), restore::RleResult::Ok, {}},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> out;
    EXPECT_EQ(restore::DecodeRle(c.in, out, 0x7E00), c.result) << hex(c.in);
    if (c.result == restore::RleResult::Ok) {
      EXPECT_EQ(out, c.out) << hex(c.in);
    }
  }
  // Output is bounded: 200 runs of 255 bytes would be 51000 bytes.
  std::vector<uint8_t> bomb;
  for (int i = 0; i < 200; ++i) bomb.insert(bomb.end(), {0xFE, 0xFF, 0x00});
  std::vector<uint8_t> out;
  EXPECT_EQ(restore::DecodeRle(bomb, out, 0x7E00), restore::RleResult::Overflow);
  EXPECT_LE(out.size(), 0x7E00u);
}

TEST(Rle, EncoderRoundTripsThroughDecoder) {
  for (uint32_t seed = 1; seed <= 20; ++seed) {
    // Small alphabets give runs; 0xFE appears often.
    auto data = random_bytes(1 + seed * 997 % 0x7E00, seed, seed % 2 ? 3 : 256);
    for (auto& b : data)
      if (b == 2) b = 0xFE;
    const auto encoded = restore::EncodeRle(data);
    std::vector<uint8_t> decoded;
    ASSERT_EQ(restore::DecodeRle(encoded, decoded, 0x7E00), restore::RleResult::Ok) << seed;
    EXPECT_EQ(decoded, data) << seed;
  }
}

TEST(Blowfish, MatchesOpensslWithSwappedHalves) {
  if (!storage_test::HaveTool("openssl")) GTEST_SKIP() << "openssl is not installed";
  // A passkey of 6 characters is keyed as those bytes and 10 blanks.
  const auto key = restore::PasskeyKey(u"secret");
  EXPECT_EQ(std::string(key.begin(), key.end()), "secret          ");
  const auto long_key = restore::PasskeyKey(u"abcdefghijklmnopqrst");
  EXPECT_EQ(std::string(long_key.begin(), long_key.end()), "abcdefghijklmnop");
  EXPECT_EQ(restore::PasskeyKey(u"")[0], 0x20);
  EXPECT_EQ(restore::PasskeyKey(u"\u3042")[0], 0x42);  // only the low byte

  const auto plain = random_bytes(8 * 40 + 5, 7);
  restore::BlowfishKey bf;
  bf.set_key(key);
  std::vector<uint8_t> ours(plain.size());
  bf.encrypt_buffer(plain.data(), ours.data(), ours.size());
  // The last 5 bytes are copied unchanged.
  EXPECT_TRUE(std::equal(ours.end() - 5, ours.end(), plain.end() - 5));
  EXPECT_NE(std::vector<uint8_t>(ours.begin(), ours.begin() + 8), std::vector<uint8_t>(plain.begin(), plain.begin() + 8));

  const std::string cipher = "openssl enc -bf-ecb -nopad -provider legacy -provider default -K " +
                             hex(std::vector<uint8_t>(key.begin(), key.end()));
  std::vector<uint8_t> whole(plain.begin(), plain.end() - 5);
  int status = 0;
  auto theirs = swap_halves(filter(cipher + " -e", swap_halves(whole), status));
  ASSERT_EQ(status, 0);
  EXPECT_EQ(theirs, std::vector<uint8_t>(ours.begin(), ours.end() - 5));
  // And decryption undoes theirs.
  std::vector<uint8_t> back(ours.size());
  bf.decrypt_buffer(ours.data(), back.data(), back.size());
  EXPECT_EQ(back, plain);
}

TEST(Blowfish, PasskeyCheckBlock) {
  restore::ArchiveHeader h;
  restore::BlowfishKey writer;
  writer.set_key(restore::PasskeyKey(u"right"));
  writer.encrypt_buffer(reinterpret_cast<const uint8_t*>("Corvelwr"), h.passkey_check.data(), 8);
  restore::BlowfishKey reader;
  EXPECT_FALSE(restore::VerifyPasskey(u"wrong", h, reader));
  EXPECT_FALSE(restore::VerifyPasskey(u"Right", h, reader));
  EXPECT_TRUE(restore::VerifyPasskey(u"right", h, reader));
  // Trailing blanks are the padding itself: the same key.
  EXPECT_TRUE(restore::VerifyPasskey(u"right   ", h, reader));
}

TEST(DecodeBlockTest, ZlibAgainstZlibFlate) {
  if (!storage_test::HaveTool("zlib-flate")) GTEST_SKIP() << "zlib-flate (qpdf) is not installed";
  const auto raw = random_bytes(0x7E00, 3, 4);
  int status = 0;
  auto stored = filter("zlib-flate -compress", raw, status);
  ASSERT_EQ(status, 0);
  std::vector<uint8_t> decoded;
  auto copy = stored;
  EXPECT_EQ(restore::DecodeBlock(copy, 2, nullptr, 0x7E00, decoded), DecodeResult::Ok);
  EXPECT_EQ(decoded, raw);
  // A damaged stream is an error, never stale bytes.
  copy = stored;
  copy[copy.size() / 2] ^= 0x55;
  copy.resize(copy.size() - 4);
  EXPECT_EQ(restore::DecodeBlock(copy, 2, nullptr, 0x7E00, decoded), DecodeResult::ZlibFailed);
  // A stream that inflates past one block fails too.
  auto big = filter("zlib-flate -compress", std::vector<uint8_t>(0x7E01, 0), status);
  EXPECT_EQ(restore::DecodeBlock(big, 2, nullptr, 0x7E00, decoded), DecodeResult::ZlibFailed);
  // The right stream for a shorter item is refused by length.
  copy = stored;
  EXPECT_EQ(restore::DecodeBlock(copy, 2, nullptr, 0x200, decoded), DecodeResult::WrongSize);
}

TEST(DecodeBlockTest, RleAndPlainLengths) {
  std::vector<uint8_t> decoded;
  // An RLE block of exactly 0x7E00 stored bytes is used without decoding.
  auto full = random_bytes(0x7E00, 5);
  full[0] = 0xFE;
  full[1] = 0x40;
  auto copy = full;
  EXPECT_EQ(restore::DecodeBlock(copy, 1, nullptr, 0x7E00, decoded), DecodeResult::Ok);
  EXPECT_EQ(decoded, full);
  auto run = bytes({0xFE, 0xC8, 0x33, 0x01});
  EXPECT_EQ(restore::DecodeBlock(run, 1, nullptr, 201, decoded), DecodeResult::Ok);
  EXPECT_EQ(decoded.size(), 201u);
  run = bytes({0xFE, 0xC8, 0x33, 0x01});
  EXPECT_EQ(restore::DecodeBlock(run, 1, nullptr, 512, decoded), DecodeResult::WrongSize);
  auto cut = bytes({0x01, 0xFE, 0x05});
  EXPECT_EQ(restore::DecodeBlock(cut, 1, nullptr, 6, decoded), DecodeResult::RleTruncated);
  std::vector<uint8_t> empty;
  EXPECT_EQ(restore::DecodeBlock(empty, 0, nullptr, 0, decoded), DecodeResult::BadLength);
  std::vector<uint8_t> too_long(0x8001, 0);
  EXPECT_EQ(restore::DecodeBlock(too_long, 0, nullptr, 0x7E00, decoded), DecodeResult::BadLength);
}

// The writer's blocks, checked by tools that share no code with it: the
// stored bytes are decrypted by openssl and inflated by zlib-flate.
TEST(WriterBlocks, DecodedByIndependentTools) {
  if (!storage_test::HaveTool("openssl") || !storage_test::HaveTool("zlib-flate"))
    GTEST_SKIP() << "openssl or zlib-flate is not installed";
  const auto raw = random_bytes(0x7E00, 11, 5);
  const std::u16string passkey = u"Tuesday-passkey!";  // 16 characters: openssl keys it as given
  std::vector<uint8_t> stored;
  ASSERT_TRUE(archive_writer::EncodeBlock(raw, restore::Compression::Zlib, passkey, stored));
  const auto key = restore::PasskeyKey(passkey);
  const std::string decrypt = "openssl enc -d -bf-ecb -nopad -provider legacy -provider default -K " +
                              hex(std::vector<uint8_t>(key.begin(), key.end()));
  const size_t whole = stored.size() - stored.size() % 8;
  int status = 0;
  auto plain = swap_halves(filter(decrypt, swap_halves(std::vector<uint8_t>(stored.begin(), stored.begin() + whole)), status));
  ASSERT_EQ(status, 0);
  plain.insert(plain.end(), stored.begin() + whole, stored.end());
  EXPECT_EQ(filter("zlib-flate -uncompress", plain, status), raw);
  EXPECT_EQ(status, 0);
  // Without encryption the stored block is zlib's own format.
  ASSERT_TRUE(archive_writer::EncodeBlock(raw, restore::Compression::Zlib, std::nullopt, stored));
  EXPECT_EQ(filter("zlib-flate -uncompress", stored, status), raw);
  // RLE: a partial block whose code would reach 0x7E00 bytes cannot be framed.
  std::vector<uint8_t> escapes(0x7000, 0xFE);
  for (size_t i = 1; i < escapes.size(); i += 2) escapes[i] = 0;
  EXPECT_FALSE(archive_writer::EncodeBlock(escapes, restore::Compression::Rle, std::nullopt, stored));
  EXPECT_TRUE(archive_writer::EncodeBlock(std::vector<uint8_t>(0x7E00, 0xFE), restore::Compression::Rle,
                                          std::nullopt, stored));
}

TEST(HexDigits, EitherCase) {
  std::array<uint8_t, 32> out{};
  std::u16string text;
  for (int i = 0; i < 32; ++i) text += i % 2 ? u"aB" : u"Ab";
  ASSERT_TRUE(restore::HexToBytes(text, out));
  EXPECT_EQ(out[0], 0xAB);
  EXPECT_EQ(out[31], 0xAB);
  EXPECT_FALSE(restore::HexToBytes(u"12", out));
  text[5] = u'g';
  EXPECT_FALSE(restore::HexToBytes(text, out));
}

}  // namespace

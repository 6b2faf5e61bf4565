#include "program_support/settings_record.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using shell::DecodeSettingsRecord;
using shell::EncodeSettingsRecord;
using shell::SettingsFields;

// Stores `units` as plain little-endian units at `offset`, then scrambles the
// field by hand: exchange the bytes of each unit, XOR with the pair's mask.
void PutScrambled(std::vector<uint8_t>& file, size_t offset, const std::vector<uint16_t>& units, size_t pairs) {
  for (size_t i = 0; i < units.size(); ++i) {
    uint16_t v = units[i];
    if (i / 2 < pairs) {
      v = static_cast<uint16_t>((v << 8) | (v >> 8));
      v ^= (i % 2 == 0) ? 0x5E19 : 0xC3A7;
    }
    file[offset + i * 2] = static_cast<uint8_t>(v & 0xFF);
    file[offset + i * 2 + 1] = static_cast<uint8_t>(v >> 8);
  }
}

TEST(SettingsRecord, KnownScrambledBytesOfAPair) {
  // "Ab": 'A' 0x0041 -> 0x4100 ^ 0x5E19 = 0x1F19; 'b' 0x0062 -> 0x6200 ^ 0xC3A7 = 0xA1A7.
  SettingsFields fields;
  fields.text1 = u"Ab";
  fields.language = u"English";
  std::vector<uint8_t> record;
  ASSERT_TRUE(EncodeSettingsRecord(fields, record, nullptr));
  ASSERT_EQ(record.size(), 530u);
  EXPECT_EQ(record[0], 0x19);
  EXPECT_EQ(record[1], 0x1F);
  EXPECT_EQ(record[2], 0xA7);
  EXPECT_EQ(record[3], 0xA1);
  // The pair after the text starts with the terminator and stays zero.
  EXPECT_EQ(record[4], 0);
  EXPECT_EQ(record[5], 0);
  uint8_t field[4] = {0x19, 0x1F, 0xA7, 0xA1};
  shell::UnscrambleWords(field, 4);
  EXPECT_EQ(field[0], 0x41);
  EXPECT_EQ(field[1], 0x00);
  EXPECT_EQ(field[2], 0x62);
  EXPECT_EQ(field[3], 0x00);
}

TEST(SettingsRecord, RoundTripsTextsOfEveryLength) {
  struct Case {
    std::u16string text;
    std::u16string number;
  };
  const Case cases[] = {
      {u"", u""},
      {u"a", u"1"},
      {u"Corvelware Ltd.", u"12345"},
      {u"日本語の設定", u"87654321"},
      {std::u16string(63, u'x'), u"7"},
  };
  for (const Case& c : cases) {
    SettingsFields in;
    in.text1 = c.text;
    in.text2 = c.text;
    in.text3 = c.text;
    in.language = u"Japanese";
    in.number = c.number;
    std::vector<uint8_t> record;
    ASSERT_TRUE(EncodeSettingsRecord(in, record, nullptr)) << c.text.size();
    SettingsFields out = DecodeSettingsRecord(record);
    EXPECT_EQ(out.text1, c.text);
    EXPECT_EQ(out.text2, c.text);
    EXPECT_EQ(out.text3, c.text);
    EXPECT_EQ(out.language, u"Japanese");
    EXPECT_EQ(out.number, c.number);
  }
}

TEST(SettingsRecord, LineBreaksOnlyInTheFirstTwoFields) {
  SettingsFields in;
  in.text1 = u"a\\nb";
  in.text2 = u"\\n\\nc\\";
  in.text3 = u"a\\nb";
  in.language = u"English";
  std::vector<uint8_t> record;
  ASSERT_TRUE(EncodeSettingsRecord(in, record, nullptr));
  SettingsFields out = DecodeSettingsRecord(record);
  EXPECT_EQ(out.text1, u"a\nb");
  EXPECT_EQ(out.text2, u"\n\nc\\");
  EXPECT_EQ(out.text3, u"a\\nb");
}

TEST(SettingsRecord, FieldsAreReadWithinTheirOwnSize) {
  std::vector<uint8_t> file(530, 0);
  // Field 1: 64 units, none zero: no terminator inside the field. Field 2
  // follows directly; field 1 must not run into it.
  PutScrambled(file, 0, std::vector<uint16_t>(64, u'p'), 32);
  PutScrambled(file, 128, {u'q', u'r'}, 32);
  // Field 5: nine units; only four pairs are scrambled, the ninth stays as stored.
  PutScrambled(file, 512, {u'1', u'2', u'3', u'4', u'5', u'6', u'7', u'8', u'9'}, 4);
  SettingsFields out = DecodeSettingsRecord(file);
  EXPECT_EQ(out.text1, std::u16string(64, u'p'));
  EXPECT_EQ(out.text2, u"qr");
  EXPECT_EQ(out.number, u"123456789");
}

TEST(SettingsRecord, ZeroFirstUnitAndShortFilesGiveEmptyTexts) {
  std::vector<uint8_t> file(530, 0);
  // First stored unit 0: the walk stops, the rest stays as stored -> empty text.
  file[2] = 0x55;
  file[3] = 0x66;
  SettingsFields out = DecodeSettingsRecord(file);
  EXPECT_EQ(out.text1, u"");

  SettingsFields in;
  in.text1 = u"first";
  in.language = u"English";
  std::vector<uint8_t> record;
  ASSERT_TRUE(EncodeSettingsRecord(in, record, nullptr));
  // A short file leaves zero bytes where nothing was read; a pair whose
  // first unit is missing ends its field there.
  struct Cut {
    size_t length;
    std::u16string text1;
    std::u16string language;
  };
  const Cut cuts[] = {
      {0, u"", u""}, {8, u"firs", u""}, {130, u"first", u""}, {392, u"first", u"Engl"}, {529, u"first", u"English"},
  };
  for (const Cut& c : cuts) {
    std::vector<uint8_t> shortFile(record.begin(), record.begin() + static_cast<std::ptrdiff_t>(c.length));
    SettingsFields got = DecodeSettingsRecord(shortFile);
    EXPECT_EQ(got.text1, c.text1) << c.length;
    EXPECT_EQ(got.language, c.language) << c.length;
  }
}

TEST(SettingsRecord, EncoderRefusesTextsThatDoNotFit) {
  struct Case {
    int field;
    std::u16string text;
    bool ok;
  };
  const Case cases[] = {
      {1, std::u16string(63, u'a'), true}, {1, std::u16string(64, u'a'), false},
      {4, std::u16string(64, u'a'), false}, {5, u"12345678", true},
      {5, u"123456789", false},             {3, std::u16string(u"a\0b", 3), false},
  };
  for (const Case& c : cases) {
    SettingsFields in;
    in.language = u"English";
    std::u16string* target[] = {&in.text1, &in.text2, &in.text3, &in.language, &in.number};
    *target[c.field - 1] = c.text;
    std::vector<uint8_t> record{1, 2, 3};
    std::string error;
    EXPECT_EQ(EncodeSettingsRecord(in, record, &error), c.ok) << c.field << " " << c.text.size();
    EXPECT_EQ(record.empty(), !c.ok);
    EXPECT_EQ(error.empty(), c.ok);
  }
}

}  // namespace

// The disk health page on the wipe fixture's PC with S.M.A.R.T. pages in
// machine.ini: disk 1 reports every attribute the page shows, one of them at
// its failure threshold; disk 0 lacks attribute 198; disk 2 offers no
// S.M.A.R.T. at all. Each disk item is selected in turn and the property
// list and detail lines are compared with the pages' bytes. The temperature
// verdicts and the unique device id are checked on a table of cases.
#include <gtest/gtest.h>

#include <QImage>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "disk/disk_context.h"
#include "fixture_wipe_pc.h"
#include "mainapp/records/clone_settings.h"
#include "mainapp/wipe/disk_health_page.h"
#include "mainapp/wipe/smart_attributes_dialog.h"
#include "program_support/language_table.h"
#include "platform/process/process_context.h"
#include "platform/ui/resources.h"

#include <filesystem>
#include "platform/core/text.h"

namespace {

using wipe_fixture::WipePc;

// 512-byte pages as machine.ini takes them: hex bytes, 16 to a line.
void WriteHexPage(const std::string& path, const std::vector<uint8_t>& page) {
  std::ofstream out(path);
  char byte[4];
  for (size_t i = 0; i < page.size(); ++i) {
    std::snprintf(byte, sizeof byte, "%02x", page[i]);
    out << byte << (i % 16 == 15 ? "\n" : " ");
  }
}

// Attribute and threshold pages from (id, current, worst, threshold) rows.
struct Attr {
  uint8_t id, current, worst, threshold;
  uint32_t raw = 0;  // the low 4 of the 6 raw bytes
};
void WriteSmart(WipePc& w, int disk, const std::vector<Attr>& attrs) {
  std::vector<uint8_t> identify(512, 0), values(512, 0), limits(512, 0);
  // A serial that fills the whole 20-byte field.
  const std::string serial = "WS" + std::to_string(disk) + "-SERIAL-012345678";
  for (size_t i = 0; i < 20; i += 2) {  // ATA text: the bytes of each word exchanged
    identify[20 + i] = static_cast<uint8_t>(serial[i + 1]);
    identify[21 + i] = static_cast<uint8_t>(serial[i]);
  }
  values[0] = limits[0] = 0x10;
  for (size_t k = 0; k < attrs.size(); ++k) {
    uint8_t* v = &values[2 + k * 12];
    v[0] = attrs[k].id;
    v[3] = attrs[k].current;
    v[4] = attrs[k].worst;
    for (int b = 0; b < 4; ++b) v[5 + b] = static_cast<uint8_t>(attrs[k].raw >> (8 * b));
    limits[2 + k * 12] = attrs[k].id;
    limits[3 + k * 12] = attrs[k].threshold;
  }
  const std::string base = w.pc.folder() + "/smart" + std::to_string(disk);
  WriteHexPage(base + "-id.hex", identify);
  WriteHexPage(base + "-at.hex", values);
  WriteHexPage(base + "-th.hex", limits);
  const std::string section = "disk " + std::to_string(disk);
  w.pc.SetIni(section, "smart_identify", base + "-id.hex");
  w.pc.SetIni(section, "smart_attributes", base + "-at.hex");
  w.pc.SetIni(section, "smart_thresholds", base + "-th.hex");
}

// What the page showed for one disk.
struct Shown {
  std::vector<std::vector<std::string>> rows;
  std::map<int, std::string> lines;
};

// The page's headings and labels, and its list's column names.
constexpr int kHeadings[] = {CDiskDiagnose::kListHeading, CDiskDiagnose::kDetailHeading,
                             CDiskDiagnose::kTemperatureLabel, CDiskDiagnose::kReliabilityLabel,
                             CDiskDiagnose::kPerformanceLabel};

class ProbeHealth : public CDiskDiagnose {
 public:
  std::map<int32_t, Shown> shown;  // by physical disk
  std::vector<std::string> headings, columns;
  BOOL OnInitDialog() override {
    BOOL r = CDiskDiagnose::OnInitDialog();
    for (int id : kHeadings) headings.push_back(platform::to_utf8(GetDlgItemText(id).GetString()));
    if (auto* list = platform::ui::ModelOf<platform::ui::ListViewModel>(GetDlgItem(kList)->m_hWnd))
      for (const auto& column : list->columns) columns.push_back(platform::to_utf8(column.text));
    auto* tree = dynamic_cast<CTreeCtrl*>(GetDlgItem(kTree));
    for (HTREEITEM disk = tree->GetRootItem(); disk; disk = tree->GetNextSiblingItem(disk)) {
      tree->SelectItem(disk);
      Shown s;
      auto* list = dynamic_cast<CListCtrl*>(GetDlgItem(kList));
      for (int i = 0; i < list->GetItemCount(); ++i)
        s.rows.push_back({platform::to_utf8(list->GetItemText(i, 0).GetString()),
                          platform::to_utf8(list->GetItemText(i, 1).GetString()),
                          platform::to_utf8(list->GetItemText(i, 2).GetString())});
      for (int id : {kDiskName, kTypeLine, kModelLine, kUniqueIdLine, kPowerOnLine, kCapacityLine, kUsedSpaceLine,
                     kVerdict, kVerdictNote, kTemperature, kReliability, kPerformance})
        s.lines[id] = platform::to_utf8(GetDlgItemText(id).GetString());
      shown[HealthDiskNumber] = s;
      // A partition item changes nothing.
      if (HTREEITEM child = tree->GetChildItem(disk)) tree->SelectItem(child);
      EXPECT_EQ(platform::to_utf8(GetDlgItemText(kTemperature).GetString()), s.lines[kTemperature]);
    }
    return r;
  }
};

// Power-on time and temperature come from the raw values the drive serves
// (hours; degrees Celsius in the low byte, its lowest and highest above),
// never from the normalised ones (95 and 60 here), and the serial is shown
// whole: the expectations are read off the pages written above.
TEST(DiskHealthPage, ShowsEachDisksAttributesAFailingOneAndADiskWithout) {
  WipePc w;
  WriteSmart(w, 1, {{1, 100, 99, 6}, {2, 80, 70, 10}, {9, 95, 90, 0, 1234}, {194, 60, 50, 0, 0x3C122A}, {198, 50, 40, 60}});
  WriteSmart(w, 0, {{9, 30, 30, 0, 50000}, {1, 101, 100, 6}, {194, 100, 90, 0, 70}});
  w.pc.Boot();
  // Every text of the page follows the language; only the drive's own
  // values (numbers, serial, bus and model) stay as they are.
  const struct {
    const char* language;
    const char* disk;
    const char *good, *goodNote, *attention, *attentionNote, *unknown, *unknownNote;
    std::vector<std::string> headings, columns, properties;
    const char *enabled, *notEnabled;
    const char *type, *powerOnOne, *powerOnZero, *temperatureOne, *temperatureZero;
  } languages[] = {
      {"English", "Disk 1", "GOOD", "This device reports good status. No action is required to prevent data loss.",
       "ATTENTION", "An attribute of this device has reached its failure threshold. Back up its data now.", "UNKNOWN",
       "This device reports no S.M.A.R.T. status.",
       {"   Disk and Partition List", "SMART Detail Information", "Temperature", "Reliability", "Performance"},
       {"Property", "Value", "Range", "Remarks"},
       {"SMART Enabled", "SMART Version", "Serial", "Capacity", "Used Space", "Free Space", "Running Days",
        "Reliability", "Performance", "Error"},
       "Diaginfo Enabled", "Diaginfo Not Enabled", "Type: SATA", "Power On Time: 51 days (1234 hours)",
       "Power On Time: 2083 days (50000 hours)", "42C/107F (Good)", "70C/158F (Need Attention)"},
      {"Japanese", "ディスク 1", "良好",
       "このデバイスは正常な状態を報告しています。データ損失を防ぐための操作は必要ありません。", "要注意",
       "このデバイスの属性が障害のしきい値に達しました。今すぐデータをバックアップしてください。", "不明",
       "このデバイスは S.M.A.R.T. の状態を報告していません。",
       {"   ディスクとパーティションの一覧", "S.M.A.R.T. 詳細情報", "温度", "信頼性", "性能"},
       {"項目", "値", "範囲", "備考"},
       {"S.M.A.R.T. 有効", "S.M.A.R.T. バージョン", "シリアル番号", "容量", "使用領域", "空き領域", "稼働日数",
        "信頼性", "性能", "エラー"},
       "診断情報あり", "診断情報なし", "種類: SATA", "通電時間: 51 日 (1234 時間)", "通電時間: 2083 日 (50000 時間)",
       "42C/107F (良好)", "70C/158F (要注意)"},
  };
  for (const auto& l : languages) {
    SCOPED_TRACE(l.language);
    w.UseLanguage(l.language);
    platform::ui::Script s;
    s.expect_dialog(CDiskDiagnose::IDD).click(CDiskDiagnose::kClose);
    ProbeHealth page;
    ASSERT_EQ(wipe_fixture::RunPage(page, s), "");
    ASSERT_EQ(page.shown.size(), 3u);
    EXPECT_EQ(page.headings, l.headings);
    EXPECT_EQ(page.columns, l.columns);

    const Shown& one = page.shown[1];
    ASSERT_EQ(one.rows.size(), 10u);
    std::vector<std::string> properties;
    for (const auto& row : one.rows) properties.push_back(row[0]);
    EXPECT_EQ(properties, l.properties);
    EXPECT_EQ(one.rows[0], (std::vector<std::string>{l.properties[0], l.enabled, ""}));
    EXPECT_EQ(one.rows[2][1], "WS1-SERIAL-012345678") << "all 20 characters of the field";
    EXPECT_EQ(one.rows[3][1], std::to_string(DiskContext.listedDiskSize[2]));
    EXPECT_EQ(one.rows[6], (std::vector<std::string>{l.properties[6], "51", "90"}));
    EXPECT_EQ(one.rows[7], (std::vector<std::string>{l.properties[7], "50", "40"}));
    EXPECT_EQ(one.rows[8], (std::vector<std::string>{l.properties[8], "80", "70"}));
    EXPECT_EQ(one.rows[9], (std::vector<std::string>{l.properties[9], "100", "99"}));
    EXPECT_EQ(one.lines.at(CDiskDiagnose::kDiskName), l.disk);
    EXPECT_EQ(one.lines.at(CDiskDiagnose::kTypeLine), l.type);
    EXPECT_EQ(one.lines.at(CDiskDiagnose::kPowerOnLine), l.powerOnOne);
    EXPECT_EQ(one.lines.at(CDiskDiagnose::kTemperature), l.temperatureOne) << "the low byte 0x2A, not the 18 and 60 above it";
    EXPECT_EQ(one.lines.at(CDiskDiagnose::kVerdict), l.attention) << "attribute 198 is below its threshold";
    EXPECT_EQ(one.lines.at(CDiskDiagnose::kVerdictNote), l.attentionNote);
    // Each identity line begins with its label in the page's language.
    for (int id : {CDiskDiagnose::kTypeLine, CDiskDiagnose::kModelLine, CDiskDiagnose::kUniqueIdLine, CDiskDiagnose::kPowerOnLine, CDiskDiagnose::kCapacityLine, CDiskDiagnose::kUsedSpaceLine}) {
      const std::string& line = one.lines.at(id);
      const std::string label = line.substr(0, line.find(": "));
      ASSERT_NE(label, line) << id << ": " << line;
      const bool japanese = std::any_of(label.begin(), label.end(), [](char c) { return (c & 0x80) != 0; });
      EXPECT_EQ(japanese, std::string(l.language) == "Japanese") << id << ": " << line;
    }

    const Shown& zero = page.shown[0];
    EXPECT_EQ(zero.rows[7], (std::vector<std::string>{l.properties[7], "", ""})) << "not the values of entry 0";
    EXPECT_EQ(zero.lines.at(CDiskDiagnose::kReliability), "-");
    EXPECT_EQ(zero.lines.at(CDiskDiagnose::kTemperature), l.temperatureZero);
    EXPECT_EQ(zero.lines.at(CDiskDiagnose::kPowerOnLine), l.powerOnZero);
    EXPECT_EQ(zero.rows[2][1], "WS0-SERIAL-012345678");
    EXPECT_EQ(zero.lines.at(CDiskDiagnose::kVerdict), l.good);
    EXPECT_EQ(zero.lines.at(CDiskDiagnose::kVerdictNote), l.goodNote);

    const Shown& two = page.shown[2];
    EXPECT_EQ(two.rows[0][1], l.notEnabled);
    EXPECT_EQ(two.rows[1][1], "");
    EXPECT_EQ(two.rows[6][1], "");
    EXPECT_EQ(two.lines.at(CDiskDiagnose::kTemperature), "-");
    EXPECT_EQ(two.lines.at(CDiskDiagnose::kVerdict), l.unknown);
    EXPECT_EQ(two.lines.at(CDiskDiagnose::kVerdictNote), l.unknownNote);
  }
}

// The page's looks: its own picture tiled behind it, its twelve name,
// identity and value statics drawn transparently over it, each in its own
// colour, and every text colour readable on every pixel of the picture.
constexpr UINT kStaticColourRequest = 6;  // what WM_CTLCOLORSTATIC passes on

struct Paint {
  COLORREF text;
  int mode;
  bool null_brush;
};

// The tree item of a disk of the wipe fixture's PC (62.75 MB each).
std::string TreeItemText(int disk) {
  return platform::to_utf8(LookupString(u"IDS_Drive").GetString()) + std::to_string(disk) + " SATA 62.75 MB";
}

// Every text the page colours, with its colour: white name, identity and
// verdict lines, pale blue labels and headings, blue values.
constexpr COLORREF kWhite = RGB(255, 255, 255), kLabel = RGB(190, 208, 226), kBlue = RGB(57, 158, 236);
constexpr std::pair<int, COLORREF> kColours[] = {
    {CDiskDiagnose::kDiskName, kWhite},          {CDiskDiagnose::kTypeLine, kWhite},
    {CDiskDiagnose::kModelLine, kWhite},         {CDiskDiagnose::kUniqueIdLine, kWhite},
    {CDiskDiagnose::kPowerOnLine, kWhite},       {CDiskDiagnose::kCapacityLine, kWhite},
    {CDiskDiagnose::kUsedSpaceLine, kWhite},     {CDiskDiagnose::kVerdict, kWhite},
    {CDiskDiagnose::kVerdictNote, kWhite},       {CDiskDiagnose::kTemperatureLabel, kLabel},
    {CDiskDiagnose::kReliabilityLabel, kLabel},  {CDiskDiagnose::kPerformanceLabel, kLabel},
    {CDiskDiagnose::kListHeading, kLabel},       {CDiskDiagnose::kDetailHeading, kLabel},
    {CDiskDiagnose::kTemperature, kBlue},        {CDiskDiagnose::kReliability, kBlue},
    {CDiskDiagnose::kPerformance, kBlue},
};

class LooksProbe : public CDiskDiagnose {
 public:
  bool background = false;
  int transparent_statics = 0;
  std::map<int, Paint> paints;
  BOOL OnInitDialog() override {
    BOOL r = CDiskDiagnose::OnInitDialog();
    background = has_background();
    for (int id : kTransparentStatics)
      if (CWnd* w = GetDlgItem(id); w && dynamic_cast<CTransparentStatic2*>(CWnd::FromHandlePermanent(w->m_hWnd)))
        ++transparent_statics;
    HDC hdc = ::CreateCompatibleDC(nullptr);
    for (const auto& [id, colour] : kColours) {
      ::SetTextColor(hdc, RGB(1, 2, 3));
      ::SetBkMode(hdc, OPAQUE);
      HBRUSH brush = OnCtlColor(CDC::FromHandle(hdc), GetDlgItem(id), kStaticColourRequest);
      Paint p;
      p.text = ::SetTextColor(hdc, RGB(1, 2, 3));
      p.mode = ::SetBkMode(hdc, OPAQUE);
      p.null_brush = brush == static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH));
      paints[id] = p;
    }
    ::DeleteDC(hdc);
    // The first disk shown, so that the detail texts are filled.
    if (auto* tree = dynamic_cast<CTreeCtrl*>(GetDlgItem(kTree)))
      if (HTREEITEM disk = tree->GetNextSiblingItem(tree->GetRootItem())) tree->SelectItem(disk);
    return r;
  }
};

TEST(DiskHealthPage, TilesItsBitmapAndDrawsItsTextsTransparentlyInTheirColours) {
  WipePc w;
  WriteSmart(w, 1, {{1, 100, 99, 6}, {2, 80, 70, 10}, {9, 95, 90, 0, 1234}, {194, 60, 50, 0, 42}, {198, 50, 40, 60}});
  WriteSmart(w, 0, {{9, 30, 30, 0, 50000}, {1, 101, 100, 6}, {194, 100, 90, 0, 35}});
  w.pc.Boot();
  for (const char* language : {"Japanese", "English"}) {
    w.UseLanguage(language);
    platform::ui::Script s;
    s.expect_dialog(CDiskDiagnose::IDD)
        .screenshot(::testing::TempDir() + "disk-health-" + language + ".png")
        .click(CDiskDiagnose::kClose);
    LooksProbe shown;
    ASSERT_EQ(wipe_fixture::RunPage(shown, s), "") << language;
    // The user picks one disk after the other on the painted page: each
    // verdict and note replaces the one before.
    platform::ui::Script picks;
    picks.expect_dialog(CDiskDiagnose::IDD).screenshot(::testing::TempDir() + "disk-health-none-" + language + ".png");
    for (int disk : {0, 1, 2}) {
      picks.select_text(CDiskDiagnose::kTree, TreeItemText(disk))
          .wait(100)
          .screenshot(::testing::TempDir() + "disk-health-" + std::to_string(disk) + "-" + language + ".png");
    }
    picks.click(CDiskDiagnose::kClose);
    CDiskDiagnose page;
    ASSERT_EQ(wipe_fixture::RunPage(page, picks), "") << language;
    // Disk 1 (ATTENTION) picked on the painted page, after disk 0 (GOOD),
    // looks exactly as the page opened on disk 1 (the probe above picks it
    // before the page first paints): no other verdict shows through.
    const QImage picked(QString::fromStdString(::testing::TempDir() + "disk-health-1-" + language + ".png"));
    const QImage opened(QString::fromStdString(::testing::TempDir() + "disk-health-" + language + ".png"));
    ASSERT_FALSE(picked.isNull());
    EXPECT_TRUE(picked == opened) << "an earlier verdict shows through disk 1's";
  }
  platform::ui::Script s;
  s.expect_dialog(CDiskDiagnose::IDD).click(CDiskDiagnose::kClose);
  LooksProbe page;
  ASSERT_EQ(wipe_fixture::RunPage(page, s), "");
  EXPECT_TRUE(page.background) << "the background picture did not load";
  EXPECT_EQ(page.background_mode(), CBDialog::kTile);
  EXPECT_EQ(page.transparent_statics, 12);
  for (auto [id, colour] : kColours) {
    SCOPED_TRACE(id);
    const Paint& p = page.paints.at(id);
    EXPECT_EQ(p.text, colour);
    EXPECT_EQ(p.mode, TRANSPARENT);
    EXPECT_TRUE(p.null_brush);
  }

  // The pixels of the page's picture, read from the BMP resource's bytes (24
  // bits per pixel, rows bottom up, each padded to 4 bytes), and the contrast
  // ratio of each text colour on the worst of them.
  const auto* bmp = platform::ui::FindBinaryResource(platform::ui::kBitmapResource,
                                                     static_cast<int>(CDiskDiagnose::kBackground));
  ASSERT_NE(bmp, nullptr);
  ASSERT_GE(bmp->size, 54u);
  auto u32 = [&](size_t at) {
    return static_cast<uint32_t>(bmp->data[at] | (bmp->data[at + 1] << 8) | (bmp->data[at + 2] << 16) |
                                 (static_cast<uint32_t>(bmp->data[at + 3]) << 24));
  };
  const uint32_t offset = u32(10), width = u32(18), height = u32(22), bits = bmp->data[28];
  ASSERT_EQ(bits, 24u);
  ASSERT_EQ(width, 240u);
  ASSERT_EQ(height, 60u);
  const size_t stride = (width * 3 + 3) / 4 * 4;
  ASSERT_LE(offset + stride * height, bmp->size);
  // Relative luminance of an sRGB colour and the contrast ratio of two.
  auto luminance = [](int r, int g, int b) {
    auto channel = [](int v) {
      const double c = v / 255.0;
      return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(r) + 0.7152 * channel(g) + 0.0722 * channel(b);
  };
  auto contrast = [](double a, double b) { return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05); };
  EXPECT_NEAR(contrast(luminance(255, 255, 255), luminance(0, 0, 0)), 21.0, 1e-9);
  std::set<uint32_t> pixels;
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      const unsigned char* p = bmp->data + offset + y * stride + x * 3;  // blue, green, red
      pixels.insert(p[2] << 16 | p[1] << 8 | p[0]);
    }
  EXPECT_GT(pixels.size(), 2u) << "a picture, not a flat colour";
  for (auto [id, colour] : kColours) {
    const double text = luminance(GetRValue(colour), GetGValue(colour), GetBValue(colour));
    double worst = 21;
    for (uint32_t rgb : pixels) worst = std::min(worst, contrast(text, luminance(rgb >> 16, (rgb >> 8) & 0xFF, rgb & 0xFF)));
    EXPECT_GE(worst, 4.5) << "text " << id << " on the page's picture";
  }
}

// The rows of a list view, columns joined by '|'.
std::vector<std::string> Rows(CWnd& page, int id, int columns) {
  std::vector<std::string> out;
  auto* list = dynamic_cast<CListCtrl*>(page.GetDlgItem(id));
  for (int i = 0; list && i < list->GetItemCount(); ++i) {
    std::string row;
    for (int c = 0; c < columns; ++c) row += (c ? "|" : "") + platform::to_utf8(list->GetItemText(i, c).GetString());
    out.push_back(row);
  }
  return out;
}

class ProbeDiag : public CDiag {
 public:
  std::vector<std::string> properties, attributes;
  void OnCancel() override {
    properties = Rows(*this, kProperties, 3);
    attributes = Rows(*this, kAttributes, 6);
    CDiag::OnCancel();
  }
};

TEST(SmartAttributeDialog, ListsCataloguedAttributesInIdOrderWithCriticalMarks) {
  WipePc w;
  // Reported out of order; 200 has no catalogue entry in this catalogue.
  WriteSmart(w, 1, {{198, 50, 40, 60}, {9, 120, 110, 0}, {1, 100, 99, 6}, {200, 90, 90, 1}, {194, 212, 200, 0}});
  w.pc.Boot();
  std::ofstream(w.ProgramFolder() + "/Drummetworks.ini")
      << "[General]\r\nMax Attributes=4\r\n"
         "[Attrib0]\r\nId=198\r\nCritical=1\r\nName=Uncorrectable\r\n"
         "[Attrib1]\r\nId=9\r\nCritical=0\r\nName=Power-On Hours\r\n"
         "[Attrib2]\r\nId=1\r\nCritical=1\r\nName=Read Errors\r\n"
         "[Attrib3]\r\nId=194\r\nName=Temperature\r\n";
  platform::process::SetProgramImage(u"P:\\Drummetworks.exe", u"Drummetworks.exe");
  CloneSettings.sourceDisk = ListedDiskIndex{1};  // listed index of physical disk 1
  // The property list speaks the page's language; the drive's values stay.
  const struct {
    const char* language;
    const char *enabled, *runningDays, *performance, *temperature, *uniqueId;
  } languages[] = {
      {"English", "SMART Enabled|Diaginfo Enabled|", "Running Days|120|110", "Performance||", "Temperature|212|200",
       "Unique Device ID|"},
      {"Japanese", "S.M.A.R.T. 有効|診断情報あり|", "稼働日数|120|110", "性能||", "温度|212|200", "固有デバイス ID|"},
  };
  std::vector<std::string> attributes;  // the English run's
  for (const auto& l : languages) {
    SCOPED_TRACE(l.language);
    w.UseLanguage(l.language);
    platform::ui::Script s;
    s.expect_dialog(CDiag::IDD).click(IDOK).click(IDCANCEL);
    ProbeDiag shown;
    ASSERT_EQ(wipe_fixture::RunPage(shown, s), "");
    ASSERT_EQ(shown.properties.size(), 14u);
    EXPECT_EQ(shown.properties[0], l.enabled);
    EXPECT_EQ(shown.properties[5].substr(0, std::string(l.uniqueId).size()), l.uniqueId);
    EXPECT_EQ(shown.properties[9], l.runningDays);
    EXPECT_EQ(shown.properties[11], l.performance) << "attribute 2 is not reported";
    EXPECT_EQ(shown.properties[13], l.temperature);
    if (std::string(l.language) == "English") attributes = shown.attributes;
  }
  platform::process::SetProgramImage(u"", u"");
  // Disk 1's block: heading, three identity rows, the catalogued attributes
  // in ascending id order, an empty row.
  std::vector<std::string> block;
  bool in = false;
  for (const std::string& row : attributes) {
    if (row.find("Drive 1 ") != std::string::npos) in = true;
    else if (in && row == "|||||") break;
    else if (in && row.rfind("|Model", 0) != 0 && row.rfind("|Serial", 0) != 0 && row.rfind("|Cache", 0) != 0)
      block.push_back(row);
  }
  EXPECT_EQ(block, (std::vector<std::string>{"001 (CR)|Read Errors|100|99|0|6", "009|Power-On Hours|120|110|0|0",
                                             "194|Temperature|212|200|0|0", "198 (CR)|Uncorrectable|50|40|0|60"}));
}

// diag1: the attribute table alone. It opens empty with the six columns,
// Refresh fills it with the same rows as CDiag's table on the same PC, and
// Exit closes it.
class ProbeDiag1 : public diag1 {
 public:
  std::vector<std::string> opened, refreshed, columns;
  BOOL OnInitDialog() override {
    BOOL r = diag1::OnInitDialog();
    opened = Rows(*this, kAttributes, 6);
    if (auto* model = platform::ui::ModelOf<platform::ui::ListViewModel>(::GetDlgItem(m_hWnd, kAttributes)))
      for (const auto& c : model->columns) columns.push_back(platform::to_utf8(c.text));
    return r;
  }
  void OnRefresh() {
    diag1::OnRefresh();
    refreshed = Rows(*this, kAttributes, 6);
  }
  BOOL OnCommand(WPARAM w, LPARAM l) override {
    if (LOWORD(w) == kRefresh && HIWORD(w) == BN_CLICKED) {
      OnRefresh();
      return TRUE;
    }
    return diag1::OnCommand(w, l);
  }
};

TEST(SmartAttributeDialog, TheTableAloneFillsOnRefreshAndExitCloses) {
  WipePc w;
  WriteSmart(w, 1, {{198, 50, 40, 60}, {9, 120, 110, 0}, {1, 100, 99, 6}});
  w.pc.Boot();
  std::ofstream(w.ProgramFolder() + "/Drummetworks.ini")
      << "[General]\r\nMax Attributes=2\r\n"
         "[Attrib0]\r\nId=198\r\nCritical=1\r\nName=Uncorrectable\r\n"
         "[Attrib1]\r\nId=9\r\nCritical=0\r\nName=Power-On Hours\r\n";
  platform::process::SetProgramImage(u"P:\\Drummetworks.exe", u"Drummetworks.exe");
  CloneSettings.sourceDisk = ListedDiskIndex{1};
  platform::ui::Script first;
  first.expect_dialog(CDiag::IDD).click(IDOK).click(IDCANCEL);
  ProbeDiag full;
  ASSERT_EQ(wipe_fixture::RunPage(full, first), "");
  platform::ui::Script s;
  s.expect_dialog(diag1::IDD)
      .click(diag1::kRefresh)
      .expect_dialog(diag1::IDD)
      .screenshot(::testing::TempDir() + "diag1.png")
      .click(diag1::kExit);
  ProbeDiag1 dialog;
  const std::string failure = wipe_fixture::RunPage(dialog, s);
  platform::process::SetProgramImage(u"", u"");
  ASSERT_EQ(failure, "");
  EXPECT_EQ(dialog.columns, (std::vector<std::string>{"AttibId", "Name", "Value", "Worst", "RAW", "Threshold"}));
  EXPECT_TRUE(dialog.opened.empty());
  EXPECT_EQ(dialog.refreshed, full.attributes);
  EXPECT_NE(std::find(dialog.refreshed.begin(), dialog.refreshed.end(), "198 (CR)|Uncorrectable|50|40|0|60"),
            dialog.refreshed.end());
  EXPECT_EQ(dialog.GetSafeHwnd(), nullptr);
}

TEST(DiskHealthTexts, TemperatureVerdictsAndUniqueDeviceIds) {
  WipePc w;
  const std::pair<int, const char*> temperatures[] = {{149, "65C/149F (Good)"}, {150, "65C/150F (Need Attention)"},
                                                      {151, "66C/151F (Need Attention)"}, {250, "121C/250F (Need Attention)"},
                                                      {251, "121C/251F (Bad)"}, {212, "100C/212F (Need Attention)"},
                                                      {32, "0C/32F (Good)"}, {0, "-17C/0F (Good)"}};
  for (auto [f, text] : temperatures) EXPECT_EQ(platform::to_utf8(TemperatureText(f).GetString()), text) << f;
  // Raw values of attribute 194: degrees Celsius in the low byte.
  const std::pair<uint64_t, const char*> raws[] = {{42, "42C/107F (Good)"},
                                                   {0x14'3C'2A, "42C/107F (Good)"},
                                                   {0, "0C/32F (Good)"},
                                                   {100, "100C/212F (Need Attention)"},
                                                   {0xF6, "-10C/14F (Good)"}};
  for (auto [raw, text] : raws) EXPECT_EQ(platform::to_utf8(TemperatureTextOfRaw(raw).GetString()), text) << raw;
  EXPECT_EQ(platform::to_utf8(PowerOnTimeText(1234).GetString()), "51 days (1234 hours)");
  EXPECT_EQ(platform::to_utf8(PowerOnTimeText(23).GetString()), "0 days (23 hours)");
  // The verdicts and the time's words in Japanese.
  w.UseLanguage("Japanese");
  const std::pair<int, const char*> japanese[] = {
      {149, "65C/149F (良好)"}, {150, "65C/150F (要注意)"}, {251, "121C/251F (危険)"}};
  for (auto [f, text] : japanese) EXPECT_EQ(platform::to_utf8(TemperatureText(f).GetString()), text) << f;
  EXPECT_EQ(platform::to_utf8(PowerOnTimeText(1234).GetString()), "51 日 (1234 時間)");
  const std::pair<const char16_t*, const char*> ids[] = {
      {u"IDE\\DiskX\\5&2b35e7d4&0&0.0.0", "2b35e7d4"},
      {u"SCSI\\Disk\\0123456789ABCDEF&0", "0123456789ABCDEF"},
      {u"USBSTOR\\Disk\\NOAMPERSAND", ""},
      {u"", ""}};
  for (auto [value, id] : ids) EXPECT_EQ(platform::to_utf8(UniqueDeviceId(value).GetString()), id);
}

}  // namespace

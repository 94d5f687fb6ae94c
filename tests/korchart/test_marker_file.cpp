// Marker preset files and the formula library: what is written reads back,
// the file on disk is windows-1251, defaults and out-of-range ids of a sparse
// file, files that do not parse, and the library's add/remove/load.
#include <gtest/gtest.h>
#include <libxml/tree.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>

#include "TestHome.h"
#include "VKXml.h"
#include "markers/MarkerFile.h"
#include "platform/Report.h"
#include "platform/TextCodec.h"

using namespace korchart;

namespace {

class MarkerFileTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::path(TestHome()) /
           testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::string Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(Path(name), std::ios::binary) << bytes;
    return Path(name);
  }
  static std::string Read(const std::string& path) {
    std::ostringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    return s.str();
  }
  std::filesystem::path dir_;
};

// A set where every saved field differs from its default, marker by marker.
TMarkerSet FullSet() {
  TMarkerSet s;
  for (int i = 0; i < kMarkerCount; ++i) {
    SMarkParams& m = s.markers[i];
    m.enabled = i % 2 == 0;
    m.parked = m.extremeMode = m.showStatistics = m.deltaMeasure = m.divergenceRight = true;
    m.tracking = false;
    m.framePos = 7 + i;
    m.position = 1234.5 + i / 3.0;
    m.action = static_cast<EMarkAction>(i % 4);
    m.limitMin = -10.25 - i;
    m.limitMax = 9999.75 + i;
    m.divergence = -3.5 * (i + 1);
    m.argumentDigits = i % 7;
    m.valueDigits = 5;
    m.linkTrace = 4;  // numbers are not saved
    s.linkTitles[i] = "S21 канал " + std::to_string(i);
    s.deltaTitles[i] = "Опорный \"S11\"";
    s.lineTitles[i] = {{"Мощность", 5}, {"КСВН", 1}};
    if (i % 3 == 1) m.readingLimits = {i % 2 == 0, true, i > 4, -3.25 * i, 1.0 / 3};
  }
  for (int k = 0; k < 3; ++k) {
    SLinkParams& l = s.links[k];
    l.used = true;
    l.markerA = k;
    l.markerB = 9 - k;
    l.framePos = 40 + k;
    l.description = "Полоса 'по уровню' -3 дБ";
    l.expression = "(а.арг-б.арг)^2^0.5*" + std::to_string(k);
    l.print = "Δf = %зн МГц";  // Δ is not in windows-1251
    if (k > 0) l.limits = {k == 1, k == 1, true, 95, 105.125};
  }
  return s;
}

// Every field a file keeps, as one comparable tuple per marker and link.
auto Saved(const TMarkerSet& s, int i) {
  const SMarkParams& m = s.markers[i];
  return std::tuple(m.enabled, m.parked, m.extremeMode, m.showStatistics, m.deltaMeasure,
                    m.divergenceRight, m.tracking, m.framePos, m.position, m.action, m.limitMin,
                    m.limitMax, m.divergence, m.argumentDigits, m.valueDigits, s.linkTitles[i],
                    s.deltaTitles[i], s.lineTitles[i], m.readingLimits);
}
auto Saved(const SLinkParams& l) {
  return std::tuple(l.used, l.markerA, l.markerB, l.framePos, l.description, l.expression,
                    l.print, l.limits);
}

void ExpectSameSet(const TMarkerSet& a, const TMarkerSet& b) {
  for (int i = 0; i < kMarkerCount; ++i) EXPECT_TRUE(Saved(a, i) == Saved(b, i)) << "marker " << i;
  for (int k = 0; k < kLinkMarkerCount; ++k)
    EXPECT_TRUE(Saved(a.links[k]) == Saved(b.links[k])) << "link " << k;
}

}  // namespace

TEST_F(MarkerFileTest, EverySavedFieldRoundTripsThroughAWindows1251File) {
  const TMarkerSet saved = FullSet();
  const std::string f = Path("набор.mrk");
  ASSERT_EQ(SaveMarkerFile(f, saved), 0);

  const std::string bytes = Read(f);
  EXPECT_EQ(bytes.rfind("<?xml version=\"1.0\" encoding=\"windows-1251\"?>", 0), 0u) << bytes;
  EXPECT_NE(bytes.find(vkplatform::Utf8ToCp1251("Мощность")), std::string::npos);
  EXPECT_EQ(bytes.find("Мощность"), std::string::npos);  // not UTF-8 bytes

  TMarkerSet loaded;
  ASSERT_EQ(LoadMarkerFile(f, loaded), 0);
  ExpectSameSet(loaded, saved);
  EXPECT_EQ(loaded.markers[0].linkTrace, 0);  // series numbers come from the caller
}

TEST_F(MarkerFileTest, InMemoryNodeIsRewrittenInPlace) {
  VKCore::CXMLDocument doc(false);
  ASSERT_EQ(OpenMarkerTemplate(doc), 0);
  ASSERT_EQ(WriteMarksToXMLNode(doc.Root(), FullSet()), 0);
  TMarkerSet fewer;
  fewer.links[0].used = true;
  ASSERT_EQ(WriteMarksToXMLNode(doc.Root(), fewer), 0);  // replaces, never appends
  std::vector<xmlNode*> nodes;
  VKCore::SelectNodes(doc.Root(), "markerList/marker", nodes);
  EXPECT_EQ(nodes.size(), 10u);
  VKCore::SelectNodes(doc.Root(), "relationList/relation", nodes);
  EXPECT_EQ(nodes.size(), 1u);

  TMarkerSet back = FullSet();
  ASSERT_EQ(ReadMarksFromXMLNode(reinterpret_cast<xmlNode*>(doc.Doc()), back), 0);
  ExpectSameSet(back, fewer);

  // Anything but a markerPreset is refused and leaves the set alone.
  back.markers[2].framePos = 55;
  EXPECT_NE(ReadMarksFromXMLNode(VKCore::GetElement(doc.Root(), "markerList"), back), 0);
  EXPECT_NE(ReadMarksFromXMLNode(nullptr, back), 0);
  EXPECT_NE(WriteMarksToXMLNode(nullptr, fewer), 0);
  EXPECT_EQ(back.markers[2].framePos, 55);
}

TEST_F(MarkerFileTest, SparseFileReadsDefaultsAndIgnoresBadIds) {
  const std::string f = Write("sparse.mrk",
      "<markerPreset><markerList>"
      "<marker id='3' enabled='true'><action value='sideways'><divergence direction='up'/>"
      "</action><lineList><line sourceTrace='S21'/><line sourceTrace='S11' fraction='-4'/>"
      "<line fraction='99'/></lineList></marker>"
      "<marker id='3'/>"  // a second marker 3 does not undo the first
      "<marker enabled='true'/><marker id='10' enabled='true'/><marker id='-1' enabled='true'/>"
      "<marker id='x' enabled='true'/></markerList><relationList>"
      "<relation markerA='12' markerB='1'/><relation markerA='2' markerB='5'>"
      "<description value='" + std::string(400, 'd') + "'/></relation>"
      "</relationList></markerPreset>");
  TMarkerSet s;
  ASSERT_EQ(LoadMarkerFile(f, s), 0);
  const TMarkerSet def;
  for (int i = 0; i < kMarkerCount; ++i) EXPECT_EQ(s.markers[i].enabled, i == 3) << i;
  const SMarkParams& m = s.markers[3];
  EXPECT_EQ(m.action, EMarkAction::Free);
  EXPECT_FALSE(m.divergenceRight);
  EXPECT_TRUE(m.tracking);
  EXPECT_EQ(m.framePos, 100);
  EXPECT_EQ(m.limitMax, 20000);
  EXPECT_EQ(m.argumentDigits, 3);  // 99 digits is no use
  EXPECT_EQ(m.valueDigits, 2);
  EXPECT_EQ(s.lineTitles[3], (std::vector<std::pair<std::string, int>>{{"S21", 2}, {"S11", 2}}));

  // The relation naming marker 12 is skipped; the next one is link marker 0.
  EXPECT_TRUE(s.links[0].used);
  EXPECT_EQ(s.links[0].markerA, 2);
  EXPECT_EQ(s.links[0].markerB, 5);
  EXPECT_EQ(s.links[0].expression, def.links[0].expression);
  EXPECT_EQ(s.links[0].description, std::string(300, 'd'));
  EXPECT_FALSE(s.links[1].used);
}

TEST_F(MarkerFileTest, BrokenFilesChangeNothingAndSaySo) {
  TMarkerSet s = FullSet();
  for (const char* bad : {"<markerPreset><markerList>", "<chart><markerList/></chart>", ""}) {
    vkplatform::ReportCapture cap;
    EXPECT_NE(LoadMarkerFile(Write("bad.mrk", bad), s), 0) << bad;
    ASSERT_EQ(cap.Count(), 1u) << bad;
    EXPECT_EQ(cap.Reports()[0].text, "Ошибка загрузки XML");
    EXPECT_EQ(cap.Reports()[0].caption, "Ошибка");
    EXPECT_EQ(cap.Reports()[0].icon, vkplatform::MsgIcon::Error);
  }
  ExpectSameSet(s, FullSet());
  EXPECT_NE(SaveMarkerFile(Path("no-such-dir/a.mrk"), s), 0);
}

TEST_F(MarkerFileTest, CyrillicTextIsCutByCharactersNotBytes) {
  TMarkerSet s;
  s.links[0].used = true;
  std::string longText;
  for (int i = 0; i < 350; ++i) longText += "ж";
  s.links[0].print = longText;
  ASSERT_EQ(SaveMarkerFile(Path("long.mrk"), s), 0);
  ASSERT_EQ(LoadMarkerFile(Path("long.mrk"), s), 0);
  EXPECT_EQ(s.links[0].print, longText.substr(0, 600));  // 300 two-byte letters
}

TEST_F(MarkerFileTest, PresetLibraryAddsRemovesAndLoads) {
  const std::string f = Path("RelationPreset.xml");
  std::vector<SRelationPreset> out{{"stale", "", ""}};
  EXPECT_NE(LoadRelationPresets(f, out), 0);
  EXPECT_TRUE(out.empty());
  EXPECT_NE(RemoveRelationPreset(f, "x"), 0);

  const std::string quoted = "Полоса \"3 дБ\" и 'по уровню'";
  ASSERT_EQ(AddRelationPreset(f, {"Разность частот", "(а.арг-б.арг)^2^0.5", "Δf = %зн"}), 0);
  ASSERT_EQ(AddRelationPreset(f, {quoted + ", узкая", "", ""}), 0);
  ASSERT_EQ(AddRelationPreset(f, {quoted, "б.арг-а.арг", ""}), 0);
  EXPECT_NE(Read(f).find("encoding=\"windows-1251\""), std::string::npos);
  ASSERT_EQ(LoadRelationPresets(f, out), 0);
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0].print, "Δf = %зн");
  EXPECT_EQ(out[2].description, quoted);

  EXPECT_EQ(RemoveRelationPreset(f, quoted), 0);
  const std::string after = Read(f);
  EXPECT_NE(RemoveRelationPreset(f, quoted), 0);
  EXPECT_EQ(Read(f), after);  // nothing found, nothing written
  ASSERT_EQ(LoadRelationPresets(f, out), 0);
  ASSERT_EQ(out.size(), 2u);  // the exact description only
  EXPECT_EQ(out[0].description, "Разность частот");
  EXPECT_EQ(out[1].description, quoted + ", узкая");
}

TEST_F(MarkerFileTest, BrokenLibraryIsNeverOverwritten) {
  const std::string f = Write("RelationPreset.xml", "<markerPreset><relationList>");
  vkplatform::ReportCapture cap;
  EXPECT_NE(AddRelationPreset(f, {"a", "b", "c"}), 0);
  EXPECT_NE(RemoveRelationPreset(f, "a"), 0);
  EXPECT_EQ(Read(f), "<markerPreset><relationList>");
  EXPECT_EQ(cap.CountText("Ошибка загрузки XML"), 2u);
}

TEST_F(MarkerFileTest, ShippedLibraryReads) {
  std::vector<SRelationPreset> out;
  const std::string shipped = std::string(VK_TEST_DATA_DIR) + "/../../data/RelationPreset.xml";
  ASSERT_EQ(LoadRelationPresets(shipped, out), 0);
  EXPECT_GE(out.size(), 5u);
  for (const auto& p : out) EXPECT_FALSE(p.description.empty() || p.expression.empty());
}

// XML helpers: typed readers and writers, element helpers and CXMLDocument.
#include <clocale>
#include <cmath>
#include <string>

#include "CoreTestSupport.h"
#include "VKXml.h"
#include "platform/Report.h"
#include "platform/TextCodec.h"

namespace {

using namespace VKCore;
using vktest::Attr;
using vktest::XmlDoc;

TEST(XmlReaders, TypedValuesFallBackToTheDefault) {
  XmlDoc doc(
      "<r n='12' pad=' 7 ' bad='12x' f='2.5' e='1e3' comma='2,5' t='TRUE' off='False' one='1'"
      " s='текст'><child>42</child></r>");
  xmlNode* r = doc.root();
  EXPECT_EQ(GetNodeIntValue(r, "@n", 7), 12);
  EXPECT_EQ(GetNodeIntValue(r, "@missing", 7), 7);
  EXPECT_EQ(GetNodeIntValue(r, "@pad", -1), 7);
  EXPECT_EQ(GetNodeIntValue(r, "@bad", -1), -1);
  EXPECT_EQ(GetNodeIntValue(r, "@f", -1), -1);
  EXPECT_EQ(GetNodeIntValue(r, "child", -1), 42);
  EXPECT_EQ(GetNodeIntValue(r, "count(child)", -1), 1);  // any XPath expression

  EXPECT_EQ(GetNodeDoubleValue(r, "@f", 0), 2.5);
  EXPECT_EQ(GetNodeDoubleValue(r, "@e", 0), 1000.0);
  EXPECT_EQ(GetNodeDoubleValue(r, "@comma", -1), -1.0);
  EXPECT_EQ(GetNodeDoubleValue(r, "@bad", -1), -1.0);
  EXPECT_EQ(GetNodeDoubleValue(r, "@missing", 0.5), 0.5);

  for (bool def : {false, true}) {
    EXPECT_TRUE(GetNodeBoolValue(r, "@t", def));
    EXPECT_FALSE(GetNodeBoolValue(r, "@off", def));
    EXPECT_EQ(GetNodeBoolValue(r, "@one", def), def);
    EXPECT_EQ(GetNodeBoolValue(r, "@missing", def), def);
  }

  EXPECT_EQ(GetNodeStringValue(r, "@s", ""), "текст");
  EXPECT_EQ(GetNodeStringValue(r, "@missing", "def"), "def");
  EXPECT_EQ(GetNodeStringValue(r, "child", ""), "42");
  EXPECT_EQ(GetNodeStringValue(nullptr, "@s", "def"), "def");
  EXPECT_EQ(GetNodeStringValue(r, "@@[", "def"), "def");  // not an expression
}

TEST(XmlWriters, AttributesReadBack) {
  XmlDoc doc;
  xmlNode* r = doc.root();
  AddAttribute(r, "b", true);
  EXPECT_EQ(Attr(r, "b"), "true");
  AddAttribute(r, "b", false);  // replaces, never duplicates
  EXPECT_EQ(Attr(r, "b"), "false");
  int count = 0;
  for (xmlAttr* a = r->properties; a; a = a->next) ++count;
  EXPECT_EQ(count, 1);

  AddAttribute(r, "i", -5);
  AddAttribute(r, "u", 4000000000u);
  AddAttribute(r, "s", AnsiString("Схема \"1\" & <2>"));
  EXPECT_EQ(GetNodeIntValue(r, "@i", 0), -5);
  EXPECT_EQ(Attr(r, "u"), "4000000000");
  EXPECT_EQ(GetNodeStringValue(r, "@s", ""), "Схема \"1\" & <2>");
  for (double x : {2.5, 0.1, 1.0 / 3, -1e20, 5e-324}) {
    AddAttribute(r, "d", x);
    EXPECT_EQ(GetNodeDoubleValue(r, "@d", 0), x) << Attr(r, "d");
  }
}

TEST(XmlNumbers, PointDecimalUnderCommaLocale) {
  vktest::CommaLocale locale;
  if (!locale.active()) GTEST_SKIP() << "ru_RU.UTF-8 is not installed";
  ASSERT_STREQ(std::localeconv()->decimal_point, ",");
  XmlDoc doc("<r f='2.5' comma='2,5'/>");
  xmlNode* r = doc.root();
  EXPECT_EQ(GetNodeDoubleValue(r, "@f", 0), 2.5);
  EXPECT_EQ(GetNodeDoubleValue(r, "@comma", -1), -1.0);
  AddAttribute(r, "w", 1234.5);
  EXPECT_EQ(Attr(r, "w"), "1234.5");
  AddAttribute(r, "i", 1234567);
  EXPECT_EQ(Attr(r, "i"), "1234567");
  // Numbers for tables: plain decimals while readable, read back exactly.
  std::string text;
  for (double v : {100000.0, 0.1, -2.25, 1e15, 1.5e-7, 0.0}) {
    vkcore::AppendNumberText(text, v);
    text += ';';
  }
  vkcore::AppendNumberText(text, std::nan(""));
  EXPECT_EQ(text, "100000;0.1;-2.25;1e+15;1.5e-07;0;");
}

TEST(XmlElements, GetElementOrCreateFindsBeforeCreating) {
  XmlDoc doc("<r a='1'><x/></r>");
  xmlNode* r = doc.root();
  xmlNode* first = GetElementOrCreate(r, "parameters");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetElementOrCreate(r, "parameters"), first);
  EXPECT_EQ(xmlChildElementCount(r), 2u);
  EXPECT_EQ(xmlLastElementChild(r), first);
  EXPECT_EQ(GetElement(r, "parameters"), first);
  EXPECT_EQ(GetElement(r, "@a"), nullptr);  // an attribute is not an element
  EXPECT_EQ(GetElement(r, "nothing"), nullptr);
}

TEST(XmlElements, CopyAndRename) {
  XmlDoc doc("<r><old a='1' b='x'><c1/>text<c2 z='2'/></old><next/></r>");
  xmlNode* old = doc.child("old");

  xmlNode* copy = copyElementToName(old, "new");
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(reinterpret_cast<const char*>(copy->name), "new");
  EXPECT_EQ(copy->parent, nullptr);
  EXPECT_EQ(copy->doc, old->doc);
  EXPECT_EQ(Attr(copy, "a"), "1");
  EXPECT_EQ(Attr(copy, "b"), "x");
  EXPECT_EQ(GetNodeStringValue(copy, "c2/@z", ""), "2");
  EXPECT_EQ(GetNodeStringValue(copy, "text()", ""), "text");
  AddAttribute(GetElement(copy, "c2"), "z", 3);  // a deep copy
  EXPECT_EQ(GetNodeStringValue(old, "c2/@z", ""), "2");
  xmlFreeNode(copy);

  {
    vkplatform::ReportCapture cap;
    EXPECT_EQ(copyElementToName(nullptr, "x"), nullptr);
    EXPECT_EQ(cap.CountExpression("element"), 1u);
  }

  xmlNode* renamed = old;
  EXPECT_EQ(renameElementToName(renamed, "renamed"), 0);
  EXPECT_STREQ(reinterpret_cast<const char*>(renamed->name), "renamed");
  EXPECT_EQ(renamed->parent, nullptr);
  EXPECT_EQ(GetElement(doc.root(), "old"), nullptr);
  EXPECT_EQ(xmlChildElementCount(doc.root()), 1u);
  EXPECT_EQ(Attr(renamed, "b"), "x");
  xmlAddChild(doc.root(), renamed);
}

class XmlDocumentFile : public testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& bytes) {
    std::string path = dir / name;
    vktest::WriteFile(path, bytes);
    return path;
  }
  vktest::ScratchDir dir;
  vkplatform::ReportCapture cap;
};

TEST_F(XmlDocumentFile, OpenAndCloseResults) {
  CXMLDocument doc;
  EXPECT_EQ(doc.Open(""), 1);
  EXPECT_EQ(doc.Close(), 2);
  EXPECT_EQ(cap.Count(), 0u);

  const std::string good = Write("good.xml", "<r a='1'/>");
  ASSERT_EQ(doc.Open(good.c_str()), 0);
  EXPECT_TRUE(doc.IsOpen());
  EXPECT_EQ(doc.GetFileName(), good);
  EXPECT_EQ(GetNodeIntValue(doc.Root(), "@a", 0), 1);

  // A failed open closes what was open and tells the user which file it was.
  const std::string missing = dir / "missing.xml";
  EXPECT_EQ(doc.Open(missing.c_str()), 1);
  EXPECT_FALSE(doc.IsOpen());
  EXPECT_EQ(doc.GetFileName(), "");
  ASSERT_EQ(cap.Count(), 1u);
  const vkplatform::Report r = cap.Reports()[0];
  EXPECT_EQ(r.text, "Невозможно открыть файл \"" + missing + "\".");
  EXPECT_EQ(r.caption, "Ошибка");
  EXPECT_EQ(r.icon, vkplatform::MsgIcon::Error);

  int n = 0;
  for (const char* bad : {"", "<r>", "<a/><b/>", "not xml", "<?xml version='1.0'?>\n"}) {
    const std::string f = Write("bad" + std::to_string(n++) + ".xml", bad);
    EXPECT_EQ(doc.Open(f.c_str()), 1) << bad;
    EXPECT_FALSE(doc.IsOpen()) << bad;
  }
  EXPECT_EQ(cap.Count(), 1u + n);

  CXMLDocument quiet(false);
  EXPECT_EQ(quiet.Open(missing.c_str()), 1);
  EXPECT_EQ(cap.Count(), 1u + n);
  ASSERT_EQ(quiet.Open(good.c_str()), 0);
  EXPECT_EQ(quiet.Close(), 0);
  EXPECT_EQ(quiet.Close(), 2);
  EXPECT_EQ(quiet.GetFileName(), "");
}

TEST_F(XmlDocumentFile, ReadsAWindows1251File) {
  const std::string text =
      "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n"
      "<r name=\"Прибор №1\"><d>Ёлка</d></r>\n";
  const std::string bytes = vkplatform::Utf8ToCp1251(text);
  ASSERT_NE(bytes, text);
  const std::string f = Write("cp1251.xml", bytes);
  CXMLDocument doc;
  ASSERT_EQ(doc.Open(f.c_str()), 0);
  EXPECT_EQ(GetNodeStringValue(doc.Root(), "@name", ""), "Прибор №1");
  EXPECT_EQ(GetNodeStringValue(doc.Root(), "d", ""), "Ёлка");
}

TEST_F(XmlDocumentFile, SavesInWindows1251AndReopens) {
  const std::string f = dir / "saved.xml";
  CXMLDocument doc;
  ASSERT_EQ(doc.New("scheme"), 0);
  AddAttribute(doc.Root(), "title", AnsiString("Схема ёмкости"));
  AddAttribute(AddElement(doc.Root(), "node"), "name", "漢字");  // not in 1251
  ASSERT_EQ(doc.SaveAs(f.c_str(), "windows-1251"), 0);
  EXPECT_EQ(doc.GetFileName(), f);

  const std::string bytes = vktest::ReadFile(f);
  EXPECT_NE(bytes.find("encoding=\"windows-1251\""), std::string::npos) << bytes;
  EXPECT_NE(bytes.find(vkplatform::Utf8ToCp1251("Схема ёмкости")), std::string::npos);
  EXPECT_EQ(bytes.find("Схема"), std::string::npos);

  CXMLDocument back;
  ASSERT_EQ(back.Open(f.c_str()), 0);
  EXPECT_EQ(GetNodeStringValue(back.Root(), "@title", ""), "Схема ёмкости");
  EXPECT_EQ(GetNodeStringValue(back.Root(), "node/@name", ""), "漢字");

  // Save keeps the encoding the file was read in.
  AddAttribute(back.Root(), "extra", "Ещё");
  ASSERT_EQ(back.Save(), 0);
  EXPECT_NE(vktest::ReadFile(f).find(vkplatform::Utf8ToCp1251("Ещё")), std::string::npos);
  EXPECT_EQ(cap.Count(), 0u);
}

TEST_F(XmlDocumentFile, FailedSaveLeavesTheFileIntact) {
  const std::string original = "<r v=\"1\"/>\n";
  const std::string f = Write("doc.xml", original);
  CXMLDocument doc;
  EXPECT_LT(doc.Save(), 0);  // nothing open
  ASSERT_EQ(doc.Open(f.c_str()), 0);
  AddAttribute(doc.Root(), "v", 2);
  EXPECT_LT(doc.SaveAs((dir / "no-such-dir/doc.xml").c_str()), 0);
  EXPECT_EQ(doc.GetFileName(), f);
  EXPECT_EQ(vktest::ReadFile(f), original);

  // A name that leaves no room for the temporary file beside it: the write
  // fails even for a privileged user, and the file keeps its contents.
  const std::string longName = Write(std::string(250, 'n') + ".xml", original);
  CXMLDocument longDoc;
  ASSERT_EQ(longDoc.Open(longName.c_str()), 0);
  AddAttribute(longDoc.Root(), "v", 2);
  EXPECT_LT(longDoc.Save(), 0);
  EXPECT_EQ(vktest::ReadFile(longName), original);
  EXPECT_EQ(dir.EntryCount(), 2u);  // no temporary file left behind

  ASSERT_EQ(doc.Save(), 0);
  CXMLDocument back;
  ASSERT_EQ(back.Open(f.c_str()), 0);
  EXPECT_EQ(GetNodeIntValue(back.Root(), "@v", 0), 2);
}

}  // namespace

// Data packets: construction, copies, XML forms and the matrix text file.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "CoreTestSupport.h"
#include "PacketTypes.h"
#include "VKXml.h"
#include "platform/Report.h"

namespace {

using vktest::Attr;
using vktest::NewVector;
using vktest::XmlDoc;

const char kSizeCheck[] = "columns.empty() || (columns[0]->Size() == column->Size())";

std::vector<double> Values(const CDoubleVector* v) {
  return v ? std::vector<double>(v->Data(), v->Data() + v->Size()) : std::vector<double>{};
}

std::unique_ptr<CDoubleVector> ReadVector(const char* xml) {
  XmlDoc doc(xml);
  auto v = std::unique_ptr<CDoubleVector>(NewVector({9, 9, 9, 9}));
  EXPECT_EQ(v->DeserializeData(doc.root()), 0);
  return v;
}

TEST(VectorXml, WritesTheShortestTextThatReadsBackTheSameValue) {
  XmlDoc doc;
  std::unique_ptr<CDoubleVector> v(NewVector({1, 2.5, 0.125}));
  EXPECT_EQ(v->SerializeData(doc.root()), 0);
  EXPECT_EQ(Attr(doc.root(), "vector"), "1 2.5 0.125");
  CDoubleVector back;
  back.DeserializeData(doc.root());
  EXPECT_EQ(Values(&back), Values(v.get()));

  // What six significant digits hold is written as printf's "%g" writes it,
  // so older files and readers see no change; the rest keeps every digit it
  // needs (a reference trace's frequencies must not move).
  const double samples[] = {100, 1e-5, 1e6, 123456, 1e-4, -0.5, 0, 1e300, 1.5e6, 100000};
  std::string expected;
  v.reset(new CDoubleVector(std::size(samples) + 4));
  for (unsigned i = 0; i < std::size(samples); ++i) {
    (*v)[i] = samples[i];
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", samples[i]);
    expected += (i ? " " : "") + std::string(buf);
  }
  const unsigned n = std::size(samples);
  (*v)[n] = 749999.75;
  (*v)[n + 1] = 1083.125;
  (*v)[n + 2] = 1.23456789;
  (*v)[n + 3] = 0.1 + 0.2;
  v->SerializeData(doc.root());
  EXPECT_EQ(Attr(doc.root(), "vector"), expected + " 749999.75 1083.125 1.23456789 0.30000000000000004");
  back.DeserializeData(doc.root());
  EXPECT_EQ(Values(&back), Values(v.get()));

  CDoubleVector empty;
  empty.SerializeData(doc.root());
  EXPECT_EQ(Attr(doc.root(), "vector"), "");
}

TEST(VectorXml, ReadsNumbersUpToTheFirstOtherToken) {
  EXPECT_EQ(Values(ReadVector("<r vector='1 2 x 3'/>").get()), (std::vector<double>{1, 2}));
  EXPECT_EQ(Values(ReadVector("<r vector=' -1.5e3&#9;+2&#10;.5 '/>").get()),
            (std::vector<double>{-1500, 2, 0.5}));
  EXPECT_EQ(Values(ReadVector("<r vector='1,5 2'/>").get()), (std::vector<double>{1}));
  EXPECT_EQ(ReadVector("<r vector='x 1'/>")->Size(), 0u);
  EXPECT_EQ(ReadVector("<r vector=''/>")->Size(), 0u);
  EXPECT_EQ(ReadVector("<r/>")->Size(), 0u);
  EXPECT_EQ(ReadVector("<r/>")->Data(), nullptr);

  vkplatform::ReportCapture cap;
  CDoubleVector v;
  v.SerializeData(nullptr);
  v.DeserializeData(nullptr);
  EXPECT_EQ(cap.CountExpression("ANode"), 2u);
}

TEST(ScalarPackets, ReadFromXml) {
  XmlDoc doc("<r><a value='7'/><b value='2.5'/><c/><d value='abc'/><s value='Привет'/></r>");
  CDoublePacket p(5);
  const std::pair<const char*, double> cases[] = {{"a", 7}, {"b", 2.5}, {"c", 0}, {"d", 0}};
  for (auto [name, value] : cases) {
    p.SetValue(5);
    EXPECT_EQ(p.DeserializeData(doc.child(name)), 0);
    EXPECT_EQ(p.GetValue(), value) << name;
  }
  CStringPacket s("old");
  EXPECT_EQ(s.DeserializeData(doc.child("s")), 0);
  EXPECT_STREQ(s.GetString(), "Привет");
  s.DeserializeData(doc.child("c"));
  EXPECT_STREQ(s.GetString(), "");
}

TEST(Blocks, StringsAndBufferReuse) {
  CStringPacket none(static_cast<const char*>(nullptr));
  EXPECT_EQ(none.Size(), 1u);
  EXPECT_STREQ(none.GetString(), "");
  CStringPacket s("Привет");
  EXPECT_EQ(s.Size(), std::strlen("Привет") + 1);
  EXPECT_STREQ(s.GetString(), "Привет");

  // A block from elsewhere without a terminator reads as its whole content,
  // and reading it changes nothing.
  CDataBlock raw(3);
  std::memcpy(raw.Block(), "xyz", 3);
  CStringPacket fromRaw(&raw);
  EXPECT_EQ(fromRaw.Size(), 3u);
  EXPECT_STREQ(fromRaw.GetString(), "xyz");
  EXPECT_EQ(std::memcmp(fromRaw.Block(), "xyz", 3), 0);
  std::unique_ptr<CBasePacket> copy(fromRaw.CopyPacket());
  EXPECT_STREQ(static_cast<CStringPacket*>(copy.get())->GetString(), "xyz");

  unsigned char* block = raw.Block();
  EXPECT_EQ(raw.SetBlockSize(3), 0);
  EXPECT_EQ(raw.Block(), block);
  EXPECT_EQ(std::memcmp(raw.Block(), "xyz", 3), 0);
  raw.SetBlockSize(0);
  EXPECT_EQ(raw.Size(), 0u);

  CDoubleVector v(4);
  double* data = v.Data();
  v.SetSize(4);
  EXPECT_EQ(v.Data(), data);
  v.SetSize(0);
  EXPECT_EQ(v.Data(), nullptr);
}

TEST(VectorPart, ConstructorChecksTheWindow) {
  vkplatform::ReportCapture cap;
  CDoubleVectorPart whole(10, 0, 0);
  EXPECT_EQ(whole.FullSize(), 10u);
  EXPECT_EQ(whole.Offset(), 0u);
  CDoubleVectorPart tail(10, 15, 5);
  EXPECT_EQ(cap.Count(), 0u);

  CDoubleVectorPart past(10, 15, 6);
  EXPECT_EQ(cap.CountExpression("Offset+VecSize<=FullSize"), 1u);
  CDoubleVectorPart shifted(4, 0, 1);  // the full size is the size here
  CDoubleVectorPart wrapping(10, 20, 0xFFFFFFFFu);
  EXPECT_EQ(cap.CountExpression("Offset+VecSize<=FullSize"), 3u);
}

TEST(CopyPacket, KeepsClassAndContents) {
  vktest::EnsurePacketTypes();
  vkplatform::ReportCapture cap;
  CStringPacket text("текст");
  std::unique_ptr<CBasePacket> c(text.CopyPacket());
  ASSERT_EQ(typeid(*c), typeid(CStringPacket));
  EXPECT_STREQ(static_cast<CStringPacket*>(c.get())->GetString(), "текст");
  EXPECT_NE(static_cast<CStringPacket*>(c.get())->Block(), text.Block());

  CDataBlock block(3);
  c.reset(block.CopyPacket());
  EXPECT_EQ(typeid(*c), typeid(CDataBlock));  // not a string

  CDoubleVectorPart part(3, 10, 4);
  for (unsigned i = 0; i < 3; ++i) part[i] = i + 0.5;
  c.reset(part.CopyPacket());
  auto* partCopy = dynamic_cast<CDoubleVectorPart*>(c.get());
  ASSERT_NE(partCopy, nullptr);
  EXPECT_STREQ(partCopy->ClassName(), "CDoubleVectorPart");
  EXPECT_EQ(partCopy->FullSize(), 10u);
  EXPECT_EQ(partCopy->Offset(), 4u);
  EXPECT_EQ(Values(partCopy), Values(&part));

  auto matrix = std::make_unique<CDoubleMatrix>();
  matrix->InsertColumn(NewVector({1, 2, 3}));
  auto* col = new CDoubleVectorPart(3, 6, 3);
  for (unsigned i = 0; i < 3; ++i) (*col)[i] = 10 + i;
  matrix->InsertColumn(col);
  std::unique_ptr<CBasePacket> mc(matrix->CopyPacket());
  auto* m = dynamic_cast<CDoubleMatrix*>(mc.get());
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(m->Columns(), 2u);
  EXPECT_NE(m->Column(0), matrix->Column(0));
  ASSERT_NE(dynamic_cast<CDoubleVectorPart*>(m->Column(1)), nullptr);
  EXPECT_EQ(static_cast<CDoubleVectorPart*>(m->Column(1))->FullSize(), 6u);
  (*matrix->Column(0))[0] = 99;
  matrix.reset();  // the copy owns its own columns
  EXPECT_EQ(Values(m->Column(0)), (std::vector<double>{1, 2, 3}));
  EXPECT_EQ(Values(m->Column(1)), (std::vector<double>{10, 11, 12}));
  EXPECT_EQ(cap.Count(), 0u);
}

TEST(Matrix, ColumnOperationsCheckTheirArguments) {
  vkplatform::ReportCapture cap;
  CDoubleMatrix m;
  m.InsertColumn(nullptr);
  EXPECT_EQ(cap.CountExpression("column != NULL"), 1u);
  EXPECT_EQ(m.Columns(), 0u);
  m.InsertColumn(NewVector({1, 2, 3}));
  m.InsertColumn(NewVector({4, 5, 6}), 0);
  EXPECT_EQ((*m.Column(0))[0], 4.0);
  EXPECT_EQ(m.Rows(), 3u);
  EXPECT_EQ(cap.Count(), 1u);

  CDoubleVector* shortColumn = new CDoubleVector(2);
  m.InsertColumn(shortColumn);  // reported, still inserted
  EXPECT_EQ(cap.CountExpression(kSizeCheck), 1u);
  EXPECT_EQ(m.Columns(), 3u);

  EXPECT_EQ(m.Column(3), nullptr);
  EXPECT_EQ(m.RemoveColumn(7), nullptr);
  EXPECT_EQ(cap.CountExpression("index < columns.size()"), 2u);

  std::unique_ptr<CDoubleVector> removed(m.RemoveColumn(2));
  EXPECT_EQ(removed.get(), shortColumn);
  EXPECT_EQ(m.DeleteColumn(0), 0);
  EXPECT_EQ(Values(m.Column(0)), (std::vector<double>{1, 2, 3}));
  m.DeleteColumn(0);
  EXPECT_EQ(m.Columns(), 0u);
  EXPECT_EQ(m.Rows(), 0u);
}

TEST(MatrixXml, WritesOneColumnElementPerColumn) {
  XmlDoc doc("<params><other/></params>");
  CDoubleMatrix m;
  m.InsertColumn(NewVector({1, 2, 3}));
  m.InsertColumn(NewVector({4.5, 5, 6}));
  EXPECT_EQ(m.SerializeData(doc.root()), 0);
  std::vector<xmlNode*> columns;
  ASSERT_TRUE(VKCore::SelectNodes(doc.root(), "column", columns));
  ASSERT_EQ(columns.size(), 2u);
  EXPECT_EQ(Attr(columns[0], "vector"), "1 2 3");
  EXPECT_EQ(Attr(columns[1], "vector"), "4.5 5 6");
  EXPECT_TRUE(xmlStrEqual(xmlFirstElementChild(doc.root())->name, BAD_CAST "other"));

  CDoubleMatrix back;
  back.InsertColumn(NewVector({7}));
  EXPECT_EQ(back.DeserializeData(doc.root()), 0);
  ASSERT_EQ(back.Columns(), 2u);
  EXPECT_EQ(Values(back.Column(1)), (std::vector<double>{4.5, 5, 6}));
}

TEST(MatrixXml, ReadingKeepsTheMatrixRectangular) {
  vkplatform::ReportCapture cap;
  XmlDoc doc(
      "<p><column vector='1 2'/><column vector=''/><column vector='3 4'/><column/>"
      "<column vector='5 6 7'/><other vector='8 9'/></p>");
  CDoubleMatrix m;
  m.DeserializeData(doc.root());
  ASSERT_EQ(m.Columns(), 2u);
  EXPECT_EQ(Values(m.Column(0)), (std::vector<double>{1, 2}));
  EXPECT_EQ(Values(m.Column(1)), (std::vector<double>{3, 4}));
  EXPECT_EQ(cap.CountExpression("DV->Size()!=0"), 2u);
  EXPECT_EQ(cap.CountExpression(kSizeCheck), 1u);

  m.DeserializeData(nullptr);  // no selection: unchanged
  EXPECT_EQ(m.Columns(), 2u);
  XmlDoc none("<p><other/></p>");
  m.DeserializeData(none.root());  // an empty selection empties the matrix
  EXPECT_EQ(m.Columns(), 0u);
}

class MatrixFile : public testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& text) {
    std::string path = dir / name;
    vktest::WriteFile(path, text);
    return path;
  }
  vktest::ScratchDir dir;
  vkplatform::ReportCapture cap;
};

TEST_F(MatrixFile, SaveWritesRowsEndingInTab) {
  CDoubleMatrix m;
  m.InsertColumn(NewVector({1, 2, 3}));
  m.InsertColumn(NewVector({4.5, 5, 1e-5}));
  const std::string f = dir / "m.txt";
  ASSERT_EQ(m.SaveToFile(f), 0);
  EXPECT_EQ(vktest::ReadFile(f), "1\t4.5\t\n2\t5\t\n3\t1e-05\t\n");

  CDoubleMatrix back;
  ASSERT_EQ(back.LoadFromFile(f), 0);
  ASSERT_EQ(back.Columns(), 2u);
  EXPECT_EQ(Values(back.Column(1)), (std::vector<double>{4.5, 5, 1e-5}));

  EXPECT_EQ(CDoubleMatrix().SaveToFile(dir / "empty.txt"), 0);
  EXPECT_EQ(vktest::ReadFile(dir / "empty.txt"), "");
  EXPECT_EQ(m.SaveToFile(dir / "no-such-dir/m.txt"), -1);

  // Columns of unequal length cannot be written as rows.
  m.InsertColumn(new CDoubleVector(2));
  EXPECT_EQ(m.SaveToFile(f), -1);
  EXPECT_EQ(vktest::ReadFile(f), "1\t4.5\t\n2\t5\t\n3\t1e-05\t\n");
}

TEST_F(MatrixFile, LoadSkipsLinesWithoutNumbers) {
  CDoubleMatrix m;
  ASSERT_EQ(m.LoadFromFile(Write("m.txt", "header\n\n  \r\n1 2\r\n\r\n3\t4 end\r\n\n5 6")), 0);
  ASSERT_EQ(m.Columns(), 2u);
  EXPECT_EQ(Values(m.Column(0)), (std::vector<double>{1, 3, 5}));
  EXPECT_EQ(Values(m.Column(1)), (std::vector<double>{2, 4, 6}));

  // The longest accepted line.
  ASSERT_EQ(m.LoadFromFile(Write("long.txt", "7" + std::string(299998, ' ') + "\n")), 0);
  EXPECT_EQ(Values(m.Column(0)), (std::vector<double>{7}));
  EXPECT_EQ(cap.Count(), 0u);
}

TEST_F(MatrixFile, FailedLoadLeavesTheMatrixUnchanged) {
  CDoubleMatrix m;
  m.InsertColumn(NewVector({1, 2}));
  m.InsertColumn(NewVector({3, 4}));
  std::string tooLong;
  for (int i = 0; i < 150001; ++i) tooLong += "1 ";
  const std::string files[] = {
      Write("ragged.txt", "1 2 3\n4 5 6\n7 8\n"),
      Write("garbage.txt", "abc\nx y\n"),
      Write("empty.txt", ""),
      Write("long.txt", "1 2\n" + tooLong + "\n3 4\n"),
      dir / "missing.txt",
      dir.path(),
  };
  for (const std::string& f : files) {
    EXPECT_EQ(m.LoadFromFile(f), -1) << f;
    ASSERT_EQ(m.Columns(), 2u) << f;
    EXPECT_EQ(Values(m.Column(0)), (std::vector<double>{1, 2})) << f;
    EXPECT_EQ(Values(m.Column(1)), (std::vector<double>{3, 4})) << f;
  }
  EXPECT_EQ(cap.Count(), 0u);
}

TEST_F(MatrixFile, ReloadOfTheSameShapeKeepsTheColumns) {
  CDoubleMatrix m;
  m.InsertColumn(NewVector({1, 2, 3}));
  m.InsertColumn(NewVector({4, 5, 6}));
  CDoubleVector* c0 = m.Column(0);
  CDoubleVector* c1 = m.Column(1);
  ASSERT_EQ(m.LoadFromFile(Write("same.txt", "10 40\n20 50\n30 60\n")), 0);
  EXPECT_EQ(m.Column(0), c0);
  EXPECT_EQ(m.Column(1), c1);
  EXPECT_EQ(Values(c1), (std::vector<double>{40, 50, 60}));

  ASSERT_EQ(m.LoadFromFile(Write("other.txt", "1 2 3\n")), 0);
  EXPECT_EQ(m.Columns(), 3u);
  EXPECT_EQ(m.Rows(), 1u);
}

TEST_F(MatrixFile, ReloadIntoARaggedMatrixResizesEveryColumn) {
  CDoubleMatrix m;
  m.InsertColumn(NewVector({1, 2, 3}));
  m.InsertColumn(NewVector({4, 5}));  // reported, still inserted
  ASSERT_EQ(m.LoadFromFile(Write("m.txt", "10 40\n20 50\n30 60\n")), 0);
  ASSERT_EQ(m.Columns(), 2u);
  EXPECT_EQ(Values(m.Column(0)), (std::vector<double>{10, 20, 30}));
  EXPECT_EQ(Values(m.Column(1)), (std::vector<double>{40, 50, 60}));
}

TEST_F(MatrixFile, NumbersUseAPointUnderACommaLocale) {
  vktest::CommaLocale locale;
  if (!locale.active()) GTEST_SKIP() << "ru_RU.UTF-8 is not installed";
  CDoubleMatrix m;
  m.InsertColumn(NewVector({0.5, 1.25}));
  ASSERT_EQ(m.SaveToFile(dir / "m.txt"), 0);
  EXPECT_EQ(vktest::ReadFile(dir / "m.txt"), "0.5\t\n1.25\t\n");
  ASSERT_EQ(m.LoadFromFile(Write("in.txt", "2.5\n3.75\n")), 0);
  EXPECT_EQ(Values(m.Column(0)), (std::vector<double>{2.5, 3.75}));

  XmlDoc doc("<r value='2.5'/>");
  m.Column(0)->SerializeData(doc.root());
  EXPECT_EQ(Attr(doc.root(), "vector"), "2.5 3.75");
  CDoublePacket p;
  p.DeserializeData(doc.root());
  EXPECT_EQ(p.GetValue(), 2.5);
  XmlDoc big("<r vector='0.5 1.5e999 2.5e-400 4'/>");
  CDoubleVector v;
  v.DeserializeData(big.root());
  EXPECT_EQ(Values(&v), (std::vector<double>{0.5, HUGE_VAL, 0, 4}));
}

}  // namespace

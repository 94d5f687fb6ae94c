// The matrix keeper: the editor's table rules, the file-name rules across
// load, edit, save and restore, the inline state when the file is gone, and
// a scheme where a matrix arrives, is edited and is sent on.
#include <gtest/gtest.h>

#include <QAction>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QTableView>
#include <QTest>

#include <filesystem>
#include <fstream>

#include "Diagnostics.h"
#include "FormEditMatrix.h"
#include "GuiPlugin.h"
#include "MatrixGrid.h"
#include "MatrixVault.h"
#include "PacketQueue.h"
#include "SchemeRunner.h"
#include "Screenshot.h"
#include "TestApp.h"
#include "TestHome.h"
#include "VKPaths.h"
#include "platform/Report.h"

using namespace matrixvault;
namespace fs = std::filesystem;

namespace {

CDoubleMatrix* Matrix(std::initializer_list<std::initializer_list<double>> columns) {
  auto* m = new CDoubleMatrix;
  for (const auto& column : columns) {
    auto* v = new CDoubleVector(static_cast<unsigned>(column.size()));
    unsigned i = 0;
    for (double x : column) (*v)[i++] = x;
    m->InsertColumn(v);
  }
  return m;
}

QString Cell(TMatrixGrid& g, int row, int column) { return g.data(g.index(row, column), Qt::DisplayRole).toString(); }

struct TAppFirst {
  TAppFirst() { TestApp(); }
};

// A keeper on a host window, its output read by the test.
struct TVault : TAppFirst {
  explicit TVault(const char* parameters = "<parameters caption=\"Поправки\"><column title=\"Частота\"/></parameters>") {
    auto* bar = new QMenuBar(&host);
    bar->setObjectName("MainMenu");
    host.setMenuBar(bar);
    vault.SetName("vault");
    vault.Register();
    vault.GetOutLinkPoint(AnsiString("matrix"))->SetDispatcher(&out);
    reader.AddSubscription(&out);
    for (auto* in : {"edit", "loadfile", "savefile", "matrix"}) vault.GetInLinkPoint(AnsiString(in))->AddSubscription(&feed);
    VKCore::CXMLDocument doc(false);
    doc.OpenFromText(parameters);
    vault.DoInitialize(&host, doc.Root());
  }
  ~TVault() { vault.DoFinalize(); }
  void To(const char* input, CBasePacket* p) {
    CPacketQueue q(4);
    CInLinkPoint* in = vault.GetInLinkPoint(AnsiString(input));
    in->AddSubscription(&q);
    q.AddPacket(p);
    q.NotifySubscribers();
    in->RemoveSubscription(&q);
  }
  std::unique_ptr<CDoubleMatrix> Sent() {
    vault.Process();
    return std::unique_ptr<CDoubleMatrix>(dynamic_cast<CDoubleMatrix*>(reader.GetPacketCopyAndRelease()));
  }
  QMainWindow host;
  CPacketQueue out{4}, feed{4};
  CInLinkPoint reader{"r", {MetaClassOf<CDoubleMatrix>()}, lptDefault};
  TMatrixVault vault;
};

}  // namespace

// One empty row always ends the table; it takes a new row when typed into
// and goes when the row before it is emptied; rows move, insert and delete;
// what is no number counts as 0.
TEST(MatrixGrid, TheTrailingRowAndTheRowActions) {
  TestApp();
  TMatrixGrid g;
  std::unique_ptr<CDoubleMatrix> m(Matrix({{1, 2}, {10, 20}}));
  g.Fill(*m, {"Частота"});
  EXPECT_EQ(g.rowCount(), 3);
  EXPECT_EQ(g.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), "Частота");
  EXPECT_EQ(g.headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), "2");
  EXPECT_EQ(Cell(g, 1, 1), "20");
  EXPECT_EQ(Cell(g, 2, 0), "");
  g.setData(g.index(2, 0), "3", Qt::EditRole);
  EXPECT_EQ(g.rowCount(), 4);
  g.setData(g.index(2, 1), "x", Qt::EditRole);
  g.setData(g.index(2, 0), "", Qt::EditRole);
  EXPECT_EQ(g.rowCount(), 4);  // "x" keeps the row
  g.setData(g.index(2, 1), "", Qt::EditRole);
  EXPECT_EQ(g.rowCount(), 3);  // all empty: it is the trailing row now
  EXPECT_FALSE(g.MoveUp(0));
  EXPECT_FALSE(g.MoveDown(1));  // the last row of data stays above the trailing row
  EXPECT_TRUE(g.MoveDown(0));
  EXPECT_EQ(Cell(g, 0, 0), "2");
  g.InsertRow(1);
  EXPECT_EQ(Cell(g, 1, 0), "");
  EXPECT_FALSE(g.DeleteRow(3));  // the trailing row
  g.setData(g.index(1, 0), "1,5", Qt::EditRole);
  g.setData(g.index(1, 1), "abc", Qt::EditRole);
  CDoubleMatrix taken;
  g.Take(taken);
  ASSERT_EQ(taken.Rows(), 3u);
  EXPECT_EQ((*taken.Column(0))[1], 1.5);
  EXPECT_EQ((*taken.Column(1))[1], 0);
}

// A table opened in the editor and accepted unchanged keeps every digit
// (a correction at 749999.75 Hz must not move to 750000).
TEST(MatrixGrid, AcceptingTheEditorKeepsEveryDigit) {
  TestApp();
  TMatrixGrid g;
  std::unique_ptr<CDoubleMatrix> m(Matrix({{749999.75, 1083.125, 0.1 + 0.2}, {-1.23456789, 1e-7, 2.5}}));
  g.Fill(*m, {});
  EXPECT_EQ(Cell(g, 0, 0), "749999.75");
  CDoubleMatrix taken;
  g.Take(taken);
  ASSERT_EQ(taken.Columns(), 2u);
  for (unsigned c = 0; c < 2; ++c)
    for (unsigned r = 0; r < 3; ++r) EXPECT_EQ((*taken.Column(c))[r], (*m->Column(c))[r]) << c << "," << r;
}

// The file name follows the matrix: a load sets it, an incoming matrix or
// an edit of the table clears it, a save in the editor sets it; the saved
// state names the file, or holds the matrix when there is none (or when the
// file has gone by the time it is restored).
TEST(MatrixVault, FileNamesAcrossLoadEditSaveAndRestore) {
  const std::string dir = TestHome() + "/matrices";
  fs::create_directories(dir);
  std::unique_ptr<CDoubleMatrix> m(Matrix({{1, 2, 3}, {4, 5, 6}}));
  ASSERT_EQ(m->SaveToFile(dir + "/table.txt"), 0);
  TVault v;
  vkplatform::ReportCapture cap;
  v.To("loadfile", new CStringPacket((dir + "/table.txt").c_str()));
  EXPECT_EQ(v.vault.FileName(), dir + "/table.txt");
  auto sent = v.Sent();
  ASSERT_TRUE(sent);
  EXPECT_EQ(sent->Rows(), 3u);
  VKCore::CXMLDocument state(false);
  state.New("parameters");
  v.vault.DoSerialize(state.Root(), "params");
  EXPECT_EQ(VKCore::GetNodeStringValue(state.Root(), "@filename", ""), UnformatPath(dir + "/table.txt"));

  // The editor: a typed cell detaches the table from the file; saving it
  // there again (after one refused place) gives it back a file.
  v.vault.Edit();
  TFormEditMatrix* e = v.vault.Editor();
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->windowTitle(), "Поправки (table.txt)");
  e->Grid->setData(e->Grid->index(0, 0), "7", Qt::EditRole);
  EXPECT_EQ(e->windowTitle(), "Поправки");
  std::vector<QString> answers = {QString::fromStdString(dir + "/no/such/dir/x.txt"), QString::fromStdString(dir + "/saved.txt")};
  auto previous = SetFileDialogHook([&](const TFileDialogRequest& r) {
    EXPECT_TRUE(r.save);
    QString a = answers.front();
    answers.erase(answers.begin());
    return a;
  });
  e->ActionSave->trigger();
  SetFileDialogHook(previous);
  EXPECT_EQ(cap.CountText("Ошибка при создании файла"), 1u);
  EXPECT_EQ(e->windowTitle(), "Поправки (saved.txt)");
  MaybeScreenshot(e, "matrixvault-editor");
  e->Button1->click();
  QCoreApplication::processEvents();
  EXPECT_EQ(v.vault.FileName(), dir + "/saved.txt");
  EXPECT_EQ((*v.vault.Matrix().Column(0))[0], 7);
  ASSERT_TRUE(v.Sent());

  // An incoming matrix has no file: the state holds it inline.
  v.To("matrix", Matrix({{9, 8}}));
  EXPECT_EQ(v.vault.FileName(), "");
  ASSERT_TRUE(v.Sent());
  VKCore::CXMLDocument inline_(false);
  inline_.New("parameters");
  v.vault.DoSerialize(inline_.Root(), nullptr);
  EXPECT_EQ(VKCore::GetNodeStringValue(inline_.Root(), "@filename", "-"), "-");
  EXPECT_EQ(VKCore::GetNodeStringValue(inline_.Root(), "column/@vector", ""), "9 8");

  // A scheme's parameters: "column" children give the titles, and those
  // with values the first matrix (titles alone are no matrix).
  TVault titled("<parameters><column title=\"a\"/><column title=\"b\"/></parameters>");
  VKCore::CXMLDocument titles(false);
  titles.OpenFromText("<parameters><column title=\"a\"/><column title=\"b\"/></parameters>");
  titled.vault.DoDeserialize(titles.Root(), nullptr);
  EXPECT_EQ(titled.vault.Matrix().Columns(), 0u);
  EXPECT_EQ(cap.Count(), 1u);  // only the refused save place above

  // Restoring a file that has gone: reported, and the inline matrix taken.
  VKCore::CXMLDocument both(false);
  both.OpenFromText("<parameters filename=\"" + dir + "/gone.txt\"><column vector=\"5 6\"/></parameters>");
  v.vault.DoDeserialize(both.Root(), "params");
  EXPECT_EQ(cap.CountText("Ошибка при открытии файла \"" + dir + "/gone.txt\""), 1u);
  EXPECT_EQ(v.vault.FileName(), "");
  EXPECT_EQ((*v.vault.Matrix().Column(0))[1], 6);
  // A cancelled save dialog changes nothing.
  auto cancel = SetFileDialogHook([](const TFileDialogRequest&) { return QString(); });
  v.To("savefile", new CStringPacket(""));
  SetFileDialogHook(cancel);
  EXPECT_EQ(v.vault.FileName(), "");

  // A save that fails is said and keeps the file the table had; a file the
  // editor cannot read is said and leaves the table as it was.
  v.To("loadfile", new CStringPacket((dir + "/table.txt").c_str()));
  v.To("savefile", new CStringPacket((dir + "/no/such/dir/y.txt").c_str()));
  EXPECT_EQ(cap.CountText("Ошибка при создании файла " + dir + "/no/such/dir/y.txt"), 1u);
  EXPECT_EQ(v.vault.FileName(), dir + "/table.txt");
  std::ofstream(dir + "/broken.txt") << "1 2\n3 x\n";
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);  // the first editor goes
  v.vault.Edit();
  TFormEditMatrix* again = v.vault.Editor();
  ASSERT_NE(again, nullptr);
  auto broken = SetFileDialogHook([&](const TFileDialogRequest&) { return QString::fromStdString(dir + "/broken.txt"); });
  again->ActionOpen->trigger();
  SetFileDialogHook(broken);
  EXPECT_EQ(cap.CountText("Ошибка чтения данных из файла " + dir + "/broken.txt"), 1u);
  EXPECT_EQ(again->windowTitle(), "Поправки (table.txt)");
  EXPECT_EQ(again->Grid->data(again->Grid->index(0, 0), Qt::DisplayRole).toString(), "1");
  again->Button2->click();
}

// A keeper with column titles and no matrix opens its editor with those
// columns and the first cell current, so the operator types at once; and
// Ctrl+Insert inserts a row also while a cell is being edited (a cell's
// editor would take it as "copy"), keeping what was typed there.
TEST(MatrixVault, TheEditorIsReadyToTypeAndInsertsRowsWhileEditing) {
  TVault v("<parameters caption=\"Поправки\"><column title=\"Частота\"/><column title=\"Поправка\"/></parameters>");
  v.vault.Edit();
  TFormEditMatrix* e = v.vault.Editor();
  ASSERT_NE(e, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowActive(e));
  ASSERT_EQ(e->Grid->columnCount(), 2);
  EXPECT_EQ(e->Grid->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), "Поправка");
  EXPECT_EQ(e->StringGrid1->currentIndex(), e->Grid->index(0, 0));
  QTest::keyClick(e->StringGrid1, Qt::Key_5, Qt::NoModifier);
  QWidget* cell = e->StringGrid1->indexWidget(e->Grid->index(0, 0));
  ASSERT_NE(cell, nullptr);  // being edited
  QTest::keyClick(cell, Qt::Key_0, Qt::NoModifier);
  QTest::keyClick(cell, Qt::Key_Insert, Qt::ControlModifier);
  ASSERT_EQ(e->Grid->DataRows(), 2);
  EXPECT_EQ(Cell(*e->Grid, 0, 0), "");
  EXPECT_EQ(Cell(*e->Grid, 1, 0), "50");
  EXPECT_EQ(e->StringGrid1->currentIndex().row(), 0);
  e->Button1->click();
  QCoreApplication::processEvents();
  ASSERT_EQ(v.vault.Matrix().Columns(), 2u);
  ASSERT_EQ(v.vault.Matrix().Rows(), 2u);
  EXPECT_EQ((*v.vault.Matrix().Column(0))[1], 50);

  // Titles alone, taken untouched, are still no matrix.
  TVault empty("<parameters><column title=\"a\"/></parameters>");
  empty.vault.Edit();
  ASSERT_NE(empty.vault.Editor(), nullptr);
  empty.vault.Editor()->Button1->click();
  QCoreApplication::processEvents();
  EXPECT_EQ(empty.vault.Matrix().Columns(), 0u);
}

// A reader that never takes the matrix does not hold the window: the newer
// matrix supersedes the one waiting, and that is reported.
TEST(MatrixVault, AFullOutputNeverHoldsTheWindow) {
  TVault v;
  v.out.SetQueueSize(1);
  std::vector<AnsiString> log;
  LogHook previous = SetLogHook([&](const AnsiString& m, bool) { log.push_back(m); });
  for (double x : {1.0, 2.0, 3.0}) {
    v.To("matrix", Matrix({{x}}));
    v.vault.Process();
  }
  SetLogHook(previous);
  EXPECT_EQ(v.out.QueueLen(), 1u);
  EXPECT_EQ(log.size(), 1u);
}

namespace {

std::string PluginsDir() {
  static const std::string dir = [] {
    const fs::path d = fs::path(TestHome()) / "plugins";
    fs::create_directories(d);
    fs::copy_file(fs::path(VK_PLUGINS_DIR) / "MatrixVault.so", d / "MatrixVault.so", fs::copy_options::overwrite_existing);
    return d.string();
  }();
  return dir;
}

}  // namespace

TEST(MatrixVaultScheme, AMatrixArrivesIsEditedAndSentOn) {
  TAppFirst app;
  const std::string file = TestHome() + "/vault.vms";
  // A keeper whose state holds a matrix sends it at start.
  std::ofstream(file) << R"(<scheme name="v">
    <node name="src" class="TMatrixVault"><parameters><column vector="1 2"/><column vector="3 4"/></parameters>
      <output name="matrix"><link node="vault" linkpoint="matrix"/></output></node>
    <node name="vault" class="TMatrixVault"><parameters caption="Таблица" menu="Таблица поправок..."/>
      <output name="matrix"><link node="sink" linkpoint="matrix" queue="4"/></output></node>
    <node name="sink" class="TMatrixVault"/></scheme>)";
  CSchemeRunner runner(PluginsDir());
  ASSERT_EQ(runner.Open(file), 0);
  fs::remove(runner.Scheme().DefaultProfileFileName());
  ASSERT_EQ(runner.Start(), 0);
  auto sinkState = [&] {
    VKCore::CXMLDocument doc(false);
    doc.New("p");
    CBasePlugin* sink = nullptr;
    runner.Scheme().GetPlugin(sink, "sink");
    sink->DoSerialize(doc.Root(), nullptr);
    return VKCore::GetNodeStringValue(doc.Root(), "column/@vector", "");
  };
  ASSERT_TRUE(runner.RunUntil([&] { return sinkState() == "1 2"; }, 5000));
  // Edited through the menu item: the first value becomes 10, sent on.
  QAction* item = nullptr;
  for (QAction* a : runner.Host()->menuBar()->findChildren<QAction*>())
    if (a->text() == QString::fromUtf8("Таблица поправок...")) item = a;
  ASSERT_NE(item, nullptr);
  item->trigger();
  auto* editor = runner.Host()->findChild<QDialog*>("FormEditMatrix");
  ASSERT_NE(editor, nullptr);
  auto* view = editor->findChild<QTableView*>("StringGrid1");
  view->model()->setData(view->model()->index(0, 0), "10", Qt::EditRole);
  editor->findChild<QPushButton*>("Button1")->click();
  EXPECT_TRUE(runner.RunUntil([&] { return sinkState() == "10 2"; }, 5000));
  runner.Stop();
}

// The connection dialog: the stored list and its editing, auto-connect, the
// 500 ms rule, errors; and with the instrument link: the simulator, a
// refused connection and a silent peer.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTest>

#include <filesystem>
#include <fstream>

#include "AddressList.h"
#include "FormConnect.h"
#include "GuiPlugin.h"
#include "InstrumentSim.h"
#include "LinkDialog.h"
#include "PacketQueue.h"
#include "SchemeRunner.h"
#include "Screenshot.h"
#include "TestApp.h"
#include "TestHome.h"
#include "VKPaths.h"
#include "platform/Report.h"

using namespace linkdialog;
namespace fs = std::filesystem;

namespace {

struct TAppFirst {
  TAppFirst() { TestApp(); }
};

const char* kConfig = R"(<?xml version="1.0" encoding="UTF-8"?>
<Vektra>
  <Other keep="1"/>
  <AddressList>
    <Group Type="q5l" AutoConnect="false" LastHost="">
      <Address Name="Симулятор" Host="sim"/>
      <Address Name="Стенд" Host="10.0.0.7:5025"/>
    </Group>
    <Group Type="other" AutoConnect="true" LastHost="x">
      <Address Name="Чужой" Host="1.2.3.4:1"/>
    </Group>
  </AddressList>
</Vektra>
)";

void WriteConfig(const std::string& text) {
  fs::create_directories(fs::path(GetConfigFileName()).parent_path());
  std::ofstream(GetConfigFileName(), std::ios::binary | std::ios::trunc) << text;
}

// A dialog plug-in on a host window, its address output read by the test
// and its command input fed by it.
struct TDialog : TAppFirst {
  explicit TDialog(const char* parameters = nullptr) {
    auto* bar = new QMenuBar(&host);
    bar->setObjectName("MainMenu");
    host.setMenuBar(bar);
    bar->addMenu(QString::fromUtf8("&Файл"));
    plugin.SetName("connect");
    plugin.Register();
    plugin.GetInLinkPoint(AnsiString("command"))->AddSubscription(&commands);
    plugin.GetOutLinkPoint(AnsiString("address"))->SetDispatcher(&addresses);
    reader.AddSubscription(&addresses);
    plugin.SetClock([this] { return now; });
    VKCore::CXMLDocument doc(false);
    if (parameters) doc.OpenFromText(parameters);
    plugin.DoInitialize(&host, doc.Root());
  }
  ~TDialog() { plugin.DoFinalize(); }
  TFormConnect& Form() { return *plugin.Form(); }
  QTableWidget& Grid() { return *Form().Address->StringGrid1; }
  QString Cell(int row, int column) { return Grid().item(row, column) ? Grid().item(row, column)->text() : "-"; }
  std::string Sent() {
    std::unique_ptr<CBasePacket> p(reader.GetPacketCopyAndRelease());
    auto* s = dynamic_cast<CStringPacket*>(p.get());
    return s ? s->GetString() : "<none>";
  }

  QMainWindow host;
  CPacketQueue commands{16};
  CPacketQueue addresses{4};
  CInLinkPoint reader{"r", {MetaClassOf<CStringPacket>()}, lptDefault};
  double now = 0;
  TLinkDialog plugin;
};

// Answers the entry editor with a name and an address.
struct TAnswerEditor {
  TAnswerEditor(const QString& name, const QString& host) {
    previous = SetModalDialogHook([=, this](QDialog* d) {
      captions << d->windowTitle();
      d->findChild<QLineEdit*>("Edit1")->setText(name);
      d->findChild<QLineEdit*>("Edit2")->setText(host);
      return int(QDialog::Accepted);
    });
  }
  ~TAnswerEditor() { SetModalDialogHook(previous); }
  TModalDialogHook previous;
  QStringList captions;
};

}  // namespace

TEST(LinkDialog, TheListIsEditedAndSavedOthersUntouched) {
  WriteConfig(kConfig);
  vkplatform::ReportCapture cap;
  TDialog d;
  EXPECT_EQ(d.Form().windowTitle(), "Подключение к прибору К5Л");
  EXPECT_EQ(d.Form().width(), 400);
  ASSERT_NE(d.plugin.MenuItem(), nullptr);
  EXPECT_EQ(d.plugin.MenuItem()->text(), "Подключение к прибору");
  EXPECT_EQ(d.Grid().rowCount(), 2);
  EXPECT_EQ(d.Cell(1, 0), "2");
  EXPECT_EQ(d.Cell(1, 2), "10.0.0.7:5025");
  {
    TAnswerEditor editor("Новый", "192.168.0.2:5025");
    d.Form().Address->ActionAdd->trigger();
    d.Grid().selectRow(0);
    d.Form().Address->ActionChange->trigger();
    EXPECT_EQ(editor.captions, QStringList({"Добавить запись", "Изменить запись"}));
  }
  EXPECT_EQ(d.Cell(2, 0), "3");
  EXPECT_EQ(d.Cell(0, 1), "Новый");
  d.Grid().selectRow(2);
  d.Form().Address->ActionUp->trigger();
  EXPECT_EQ(d.Cell(1, 2), "192.168.0.2:5025");
  EXPECT_EQ(d.Cell(2, 0), "3");
  TAddressList saved;
  ASSERT_TRUE(LoadAddressList(GetConfigFileName(), "q5l", saved));
  ASSERT_EQ(saved.entries.size(), 3u);
  EXPECT_EQ(saved.entries[1].host, "192.168.0.2:5025");

  // Deleting asks first, with the entry's name; "No" keeps it.
  vkplatform::SetReportHook([](const vkplatform::Report&) { return vkplatform::MsgAnswer::No; });
  d.Form().Address->ActionDelete->trigger();
  vkplatform::SetReportHook(nullptr);
  EXPECT_EQ(d.Grid().rowCount(), 3);
  vkplatform::ReportCapture yes;
  for (int i = 0; i < 3; ++i) d.Form().Address->ActionDelete->trigger();
  ASSERT_EQ(yes.Count(), 3u);
  EXPECT_EQ(yes.Reports()[0].text, "Удалить запись \"Новый\"?");
  EXPECT_EQ(d.Grid().rowCount(), 0);  // the header row only
  ASSERT_TRUE(LoadAddressList(GetConfigFileName(), "q5l", saved));
  EXPECT_TRUE(saved.entries.empty());

  // The other device type and everything else in the file are as they were.
  TAddressList other;
  ASSERT_TRUE(LoadAddressList(GetConfigFileName(), "other", other));
  EXPECT_TRUE(other.autoConnect);
  ASSERT_EQ(other.entries.size(), 1u);
  EXPECT_EQ(other.entries[0].name, "Чужой");
  VKCore::CXMLDocument config(false);
  ASSERT_EQ(config.Open(GetConfigFileName().c_str()), 0);
  EXPECT_EQ(VKCore::GetNodeStringValue(config.Root(), "Other/@keep", ""), "1");
}

// The list's keys act where its focus is: Space on the auto-connect check
// box toggles it (and the list keeps it); on the list it changes the entry.
TEST(LinkDialog, SpaceTogglesTheAutoConnectCheckBox) {
  WriteConfig(kConfig);
  TDialog d;
  d.Form().show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&d.Form()));
  QCheckBox* box = d.Form().Address->CheckBoxAutoConnect;
  ASSERT_FALSE(box->isChecked());
  TAnswerEditor editor("Симулятор", "sim");
  box->setFocus();
  QTest::keyClick(box, Qt::Key_Space);
  EXPECT_TRUE(box->isChecked());
  EXPECT_TRUE(editor.captions.isEmpty());
  TAddressList saved;
  ASSERT_TRUE(LoadAddressList(GetConfigFileName(), "q5l", saved));
  EXPECT_TRUE(saved.autoConnect);
  d.Grid().setFocus();
  QTest::keyClick(&d.Grid(), Qt::Key_Space);
  EXPECT_EQ(editor.captions, QStringList({"Изменить запись"}));
  EXPECT_TRUE(box->isChecked());
  d.Form().hide();
}

// A fresh configuration without the group: the first entry makes it.
TEST(LinkDialog, AMissingGroupIsMadeWhenTheListIsSaved) {
  WriteConfig("<Vektra><Settings a=\"1\"/></Vektra>");
  TDialog d("<parameters devicetype=\"r4m\" name=\"Р4М\"/>");
  EXPECT_EQ(d.Grid().rowCount(), 1);  // one empty row
  EXPECT_EQ(d.Form().ActionConnect->text(), "Подключение к Р4М");
  {
    TAnswerEditor editor("Первый", "sim");
    d.Form().Address->ActionAdd->trigger();
  }
  EXPECT_EQ(d.Grid().rowCount(), 1);  // it took the empty row's place
  TAddressList saved;
  ASSERT_TRUE(LoadAddressList(GetConfigFileName(), "r4m", saved));
  ASSERT_EQ(saved.entries.size(), 1u);
  EXPECT_EQ(saved.entries[0].host, "sim");
}

TEST(LinkDialog, AutoConnectEmptyRowErrorsAndTheConnectionRule) {
  WriteConfig(R"(<Vektra><AddressList><Group Type="q5l" AutoConnect="true" LastHost="10.0.0.9:1">
      <Address Name="a" Host="10.0.0.9:1"/></Group></AddressList></Vektra>)");
  {
    TDialog d;
    EXPECT_EQ(d.Form().CurrentFrame(), d.Form().Connection);  // connecting at once
    EXPECT_FALSE(d.Form().Button1->isEnabled());
    d.plugin.Process();
    EXPECT_EQ(d.Sent(), "10.0.0.9:1");
    QCoreApplication::processEvents();
    EXPECT_TRUE(d.Form().isVisible());  // shown at the first cycle

    // The rule: 500 ms after the first packet, at a cycle with none waiting.
    d.commands.AddPacket(new CDevCommand(MI_RESET));
    d.plugin.Process();
    QCoreApplication::processEvents();
    EXPECT_EQ(d.Form().Connection->Message->text(), "Инициализация прибора...");
    d.now = 300;
    d.commands.AddPacket(new CDevCommand(MI_SET));
    d.plugin.Process();
    d.now = 600;
    d.commands.AddPacket(new CDevCommand(MI_SET));
    d.plugin.Process();  // one waiting: not yet
    QCoreApplication::processEvents();
    EXPECT_TRUE(d.Form().isVisible());
    d.plugin.Process();  // none waiting
    QCoreApplication::processEvents();
    EXPECT_FALSE(d.Form().isVisible());
    EXPECT_EQ(d.Form().CurrentFrame(), d.Form().Address);
    EXPECT_TRUE(d.Form().Button1->isEnabled());
  }
  WriteConfig("<Vektra/>");
  TDialog d;
  // OK on the single empty row sends an empty address; the link's error
  // text shows the error frame; OK leads back.
  d.Form().Button1->click();
  d.plugin.Process();
  EXPECT_EQ(d.Sent(), "");
  CPacketQueue messages(4);
  d.plugin.GetInLinkPoint(AnsiString("message"))->AddSubscription(&messages);
  messages.AddPacket(new CStringPacket("Невозможно подключиться"));
  messages.NotifySubscribers();
  EXPECT_EQ(d.Form().CurrentFrame(), d.Form().Error);
  EXPECT_EQ(d.Form().Error->LabelError->text(), "Невозможно подключиться");
  d.Form().show();
  MaybeScreenshot(&d.Form(), "linkdialog-error");
  d.Form().Button1->click();
  EXPECT_EQ(d.Form().CurrentFrame(), d.Form().Address);
  // A connection lost brings the dialog up with the error; the link saying
  // it is back takes it away again, never shown as an error itself.
  d.Form().hide();
  messages.AddPacket(new CStringPacket("связь потеряна"));
  messages.NotifySubscribers();
  EXPECT_TRUE(d.Form().isVisible());
  EXPECT_EQ(d.Form().Error->LabelError->text(), "связь потеряна");
  messages.AddPacket(new CStringPacket("связь восстановлена"));
  messages.NotifySubscribers();
  EXPECT_FALSE(d.Form().isVisible());
  EXPECT_NE(d.Form().Error->LabelError->text(), "связь восстановлена");
  messages.AddPacket(new CStringPacket("связь установлена"));  // with the dialog closed: nothing comes up
  messages.NotifySubscribers();
  EXPECT_FALSE(d.Form().isVisible());
  // The progress line grows a pixel a tick and starts again past the device.
  TFrameConnection& c = *d.Form().Connection;
  const int before = c.LineWidth();
  c.Tick();
  EXPECT_EQ(c.LineWidth(), before + 1);
  for (int i = 0; i < 400; ++i) c.Tick();
  EXPECT_LE(c.Shape1->x() + c.LineWidth(), c.Image1->x() + 10);
}

namespace {

std::string SchemeWithLink(const std::string& linkParameters) {
  static const std::string plugins = [] {
    const fs::path dir = fs::path(TestHome()) / "plugins";
    fs::create_directories(dir);
    for (const char* p : {"LinkDialog.so", "InstrumentLink.so"})
      fs::copy_file(fs::path(VK_PLUGINS_DIR) / p, dir / p, fs::copy_options::overwrite_existing);
    return dir.string();
  }();
  const std::string file = TestHome() + "/connect.vms";
  std::ofstream(file) << "<scheme name=\"c\"><node name=\"dialog\" class=\"TLinkDialog\">"
                         "<output name=\"address\"><link node=\"link\" linkpoint=\"address\"/></output></node>"
                         "<node name=\"link\" class=\"TInstrumentLink\"><parameters " + linkParameters + "/>"
                         "<output name=\"message\"><link node=\"dialog\" linkpoint=\"message\" queue=\"8\"/></output>"
                         "<output name=\"command\"><link node=\"dialog\" linkpoint=\"command\" queue=\"8\"/></output>"
                         "</node></scheme>";
  return plugins;
}

// The dialog as the package made it: its parts are found by their names
// and Qt's own classes (the package's classes are its own copies).
struct TSeen {
  explicit TSeen(QWidget* host) : form(host->findChild<QDialog*>("FormConnect")) {}
  QString Frame() const {
    auto* frames = form->findChild<QStackedWidget*>();
    return frames && frames->currentWidget() ? frames->currentWidget()->objectName() : QString();
  }
  QString Error() const { return form->findChild<QLabel*>("LabelError")->text(); }
  QPushButton* Ok() const { return form->findChild<QPushButton*>("Button1"); }
  QDialog* form;
};

// Picks the row with `host` and presses OK; waits until `done`.
bool ConnectTo(CSchemeRunner& runner, TSeen& seen, const QString& host, const std::function<bool()>& done) {
  auto* grid = seen.form->findChild<QTableWidget*>("StringGrid1");
  for (int r = 0; r < grid->rowCount(); ++r)
    if (grid->item(r, 2) && grid->item(r, 2)->text() == host) grid->selectRow(r);
  seen.Ok()->click();
  return runner.RunUntil(done, 8000);
}

}  // namespace

TEST(LinkDialogScheme, SimulatorRefusedAndSilentPeers) {
  vkinstrument::TSimSettings silentSettings;
  silentSettings.faults.silent = true;
  vkinstrument::CInstrumentSimulator silent(silentSettings);
  ASSERT_GT(silent.Start(0), 0);
  WriteConfig(R"(<Vektra><AddressList><Group Type="q5l" AutoConnect="false" LastHost="">
      <Address Name="Симулятор" Host="sim"/><Address Name="Никого" Host="127.0.0.1:1"/>
      <Address Name="Молчун" Host="127.0.0.1:)" + std::to_string(silent.Port()) + R"("/>
      </Group></AddressList></Vektra>)");
  TAppFirst app;
  vkplatform::ReportCapture cap;
  const std::string plugins = SchemeWithLink("timeout=\"400\"");
  CSchemeRunner runner(plugins);
  ASSERT_EQ(runner.Open(TestHome() + "/connect.vms"), 0);
  fs::remove(runner.Scheme().DefaultProfileFileName());
  ASSERT_EQ(runner.Start(), 0);
  TSeen seen(runner.Host());
  ASSERT_NE(seen.form, nullptr);
  EXPECT_TRUE(runner.RunUntil([&] { return seen.form->isVisible(); }, 3000));

  auto errorIs = [&](const char* text) {
    return [&seen, text] { return seen.Frame() == "FrameError" && seen.Error() == QString::fromUtf8(text); };
  };
  EXPECT_TRUE(ConnectTo(runner, seen, "127.0.0.1:1", errorIs("Невозможно подключиться")));
  seen.Ok()->click();  // back to the list
  EXPECT_EQ(seen.Frame(), "FrameAddress");
  EXPECT_TRUE(ConnectTo(runner, seen, "127.0.0.1:" + QString::number(silent.Port()), errorIs("Прибор не отвечает")));
  seen.Ok()->click();
  EXPECT_TRUE(ConnectTo(runner, seen, "sim", [&] { return !seen.form->isVisible(); }));
  EXPECT_EQ(seen.Frame(), "FrameAddress");
  runner.Stop();
}

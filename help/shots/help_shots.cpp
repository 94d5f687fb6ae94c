// vk-help-shots: takes the pictures of the help pages from the program
// itself. It runs the launcher's main window offscreen, in a home of its own,
// with the demo schemes and the built-in simulated instrument, opens every
// window an operator meets and saves each as a PNG into the folder given.
// Usage: vk-help-shots OUTPUT_DIR
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

#include "AboutForm.h"
#include "GuiPlugin.h"
#include "MainForm.h"
#include "Startup.h"
#include "chart/KorChart.h"
#include "chart/MarkersManager.h"
#include "markers/MarksManager.h"
#include "markers/Metka.h"
#include "platform/Report.h"

namespace {

QString g_out;
int g_failures = 0;

bool RunUntil(const std::function<bool()>& done, int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) {
    if (done()) return true;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return done();
}

void Settle(int ms) { RunUntil([] { return false; }, ms); }

void Shot(QWidget* widget, const char* name) {
  const QString file = g_out + "/" + name + ".png";
  if (!widget || !widget->grab().save(file)) {
    std::fprintf(stderr, "vk-help-shots: no picture of %s\n", name);
    ++g_failures;
    return;
  }
  std::printf("%s\n", file.toLocal8Bit().constData());
}

// The shown dialog of that name, once it is there (null after 5 s).
QDialog* ShownDialog(const char* name) {
  QDialog* found = nullptr;
  RunUntil([&] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* d = qobject_cast<QDialog*>(w); d && d->isVisible() && d->objectName() == name) found = d;
    return found != nullptr;
  }, 5000);
  return found;
}

QAction* ToolAction(QMainWindow& form, const char* name) {
  for (QToolBar* bar : form.findChildren<QToolBar*>())
    for (QAction* a : bar->actions())
      if (a->objectName() == name) return a;
  return nullptr;
}

// Dialogs that plug-ins run modally are pictured and closed.
void PictureModalDialogs() {
  SetModalDialogHook([](QDialog* d) -> int {
    const QString name = d->objectName();
    d->show();
    Settle(300);
    if (name == "frmReportManager") Shot(d, "report");
    else if (name == "MarkProperties") Shot(d, "markers");
    d->hide();
    return QDialog::Rejected;
  });
}

std::unique_ptr<TMainForm> Launcher(const QString& bin, const QString& scheme) {
  TLauncherOptions o;
  o.schemeFile = scheme;
  o.pluginsDir = bin + "/Plugins";
  o.helpFile = bin + "/help/vektra.qch";
  o.configDefault = bin + "/data/config.xml";
  auto form = std::make_unique<TMainForm>(o);
  form->setGeometry(0, 0, 1280, 800);
  form->show();
  return form;
}

void Bench(const QString& bin) {
  auto form = Launcher(bin, bin + "/schemes/bench.vms");
  auto* dialog = form->findChild<QDialog*>("FormConnect");
  auto* chart = form->findChild<QWidget*>("chart");
  if (!dialog || !chart) {
    std::fprintf(stderr, "vk-help-shots: the bench scheme did not open\n");
    ++g_failures;
    return;
  }
  // The connection dialog, as it shows at the start.
  RunUntil([&] { return dialog->isVisible(); }, 5000);
  Shot(dialog, "linkdialog");
  RunUntil([&] { return !dialog->isVisible() && chart->property("sweepsTaken").toULongLong() >= 5; }, 20000);
  Settle(1500);
  Shot(form.get(), "mainwindow");
  Shot(chart, "chartpanel");
  Shot(form->findChild<QWidget*>("DiagramArea"), "diagram");
  Shot(form->findChild<QDockWidget*>("sweep"), "constpanel");
  if (auto* button = chart->findChild<QAbstractButton*>("ButtonReport")) button->click();
  // The properties of the first marker, as its menu opens them.
  if (auto* korChart = qobject_cast<korchart::TKorChart*>(chart))
    korChart->Markers()->GetMarksManager()->Mark(0)->ShowProperties();
  TfrmAbout about(form->Plugins(), form.get());
  about.show();
  Settle(200);
  Shot(&about, "about");
}

void Calibration(const QString& bin) {
  auto form = Launcher(bin, bin + "/schemes/calibration.vms");
  QAction* wizard = ToolAction(*form, "ActionWizard");
  if (!wizard || !RunUntil([&] { return wizard->isEnabled(); }, 15000)) {
    std::fprintf(stderr, "vk-help-shots: the wizard never became ready\n");
    ++g_failures;
    return;
  }
  wizard->trigger();
  auto* page = form->findChild<QDialog*>("FrmRunWizard");
  RunUntil([&] { return page && page->isVisible(); }, 5000);
  Settle(500);
  Shot(page, "runguide");
  if (page) page->reject();
}

void Matrix(const QString& bin) {
  auto form = Launcher(bin, bin + "/schemes/matrix.vms");
  Settle(500);
  QAction* open = FindMenuItem(form.get(), "Управление", "Таблица поправок...");
  if (open) open->trigger();
  QDialog* editor = ShownDialog("FormEditMatrix");
  Settle(300);
  Shot(editor, "matrixvault");
  if (editor) editor->reject();
}

// The production station: one good unit, then one with the pass band cut
// by the sweep's start, the results window with both.
void Production(const QString& bin) {
  auto form = Launcher(bin, bin + "/schemes/production.vms");
  auto* station = form->findChild<QWidget*>("Station");
  QWidget* chart = form->findChild<QWidget*>("chart");
  if (!station || !chart || !RunUntil([&] { return chart->property("sweepsTaken").toULongLong() >= 3; }, 15000)) {
    std::fprintf(stderr, "vk-help-shots: the production scheme did not run\n");
    ++g_failures;
    return;
  }
  auto* serial = station->findChild<QLineEdit*>("SerialEdit");
  auto* operatorName = station->findChild<QLineEdit*>("OperatorEdit");
  auto* verdict = station->findChild<QLabel*>("VerdictLabel");
  auto scan = [&](const char* number) {
    serial->setText(QString::fromUtf8(number));
    Q_EMIT serial->returnPressed();
    RunUntil([&] { return verdict->text() != QString::fromUtf8("Измерение..."); }, 10000);
  };
  operatorName->setText(QString::fromUtf8("Смирнова Е. В."));
  scan("ФП-2026-0417");
  Settle(300);
  Shot(form.get(), "production");
  auto* start = form->findChild<QDockWidget*>("sweep")->findChild<QLineEdit*>("Edit1");
  if (start) {
    start->setFocus();
    start->selectAll();
    QTest::keyClicks(start, "580");
    QTest::keyClick(start, Qt::Key_Return);
    Settle(1500);
  }
  scan("ФП-2026-0418");
  Settle(300);
  Shot(form->findChild<QDockWidget*>("results"), "station");
  if (auto* button = station->findChild<QAbstractButton*>("ResultsButton")) button->click();
  QDialog* window = ShownDialog("ResultsWindow");
  Settle(500);
  Shot(window, "results");
  if (window) window->close();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "Usage: vk-help-shots OUTPUT_DIR\n");
    return 2;
  }
  // A home of its own: the first start's configuration, the profiles and
  // the window layouts of these runs stay out of the user's folders.
  QTemporaryDir home;
  if (!home.isValid()) return 1;
  const QByteArray h = home.path().toLocal8Bit();
  setenv("HOME", h.constData(), 1);
  setenv("XDG_CONFIG_HOME", (h + "/.config").constData(), 1);
  setenv("XDG_DATA_HOME", (h + "/.local/share").constData(), 1);
  setenv("XDG_CACHE_HOME", (h + "/.cache").constData(), 1);
  setenv("XDG_RUNTIME_DIR", h.constData(), 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  QCoreApplication::setApplicationName("Vektra Launcher");
  QCoreApplication::setOrganizationName("Korvan");
  QApplication::setWindowIcon(QIcon(":/vektra/vektra.svg"));
  vklauncher::InstallRussianTranslations(app);
  const QString bin = QCoreApplication::applicationDirPath();
  vklauncher::RegisterBundledComponents(bin);
  g_out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
  QDir().mkpath(g_out);
  // Messages are printed, never shown: nobody is there to close a box.
  // (The help file these pictures go into does not exist yet.)
  vkplatform::ReportCapture reports;
  PictureModalDialogs();
  Bench(bin);
  Calibration(bin);
  Matrix(bin);
  Production(bin);
  SetModalDialogHook(TModalDialogHook());
  for (const auto& r : reports.Reports())
    if (r.text.find("файл справки") == std::string::npos)
      std::fprintf(stderr, "vk-help-shots: message: %s\n", r.text.c_str());
  // The help is built all the same: a picture that could not be taken is
  // said above and left out of the page.
  return 0;
}

#include "SchemeRunner.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QMenuBar>
#include <QThread>

#include "GuiPlugin.h"

CSchemeRunner::CSchemeRunner(const AnsiString& pluginsDir)
    : plugins(std::make_unique<CPluginsManager>(pluginsDir.c_str())),
      scheme(std::make_unique<CSchemeManager>(plugins.get())),
      host(std::make_unique<QMainWindow>()) {
  host->setObjectName("SchemeRunnerHost");
  host->resize(800, 600);
  // What a launcher's window offers the plug-ins: the menu bar, the named
  // docks and the main panel.
  auto* bar = new QMenuBar(host.get());
  bar->setObjectName(vkgui::kMainMenu);
  host->setMenuBar(bar);
  bar->addMenu(QString::fromUtf8("&Файл"));
  new TDockArea(host.get(), "DockTop", Qt::TopDockWidgetArea);
  new TDockArea(host.get(), "DockLeft", Qt::LeftDockWidgetArea);
  new TDockArea(host.get(), "DockRight", Qt::RightDockWidgetArea);
  new TDockArea(host.get(), "DockBottom", Qt::BottomDockWidgetArea);
  auto* panel = new QWidget(host.get());
  panel->setObjectName("MainPanel");
  host->setCentralWidget(panel);
}

CSchemeRunner::~CSchemeRunner() {
  // The scheme goes first (it stops and closes), then the packages.
  scheme.reset();
  host.reset();
  plugins.reset();
}

int CSchemeRunner::Open(const AnsiString& schemeFile) { return scheme->Open(schemeFile, schemeName); }

int CSchemeRunner::Start() { return scheme->Start(host.get()); }

bool CSchemeRunner::RunUntil(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer timer;
  timer.start();
  for (;;) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    if (done && done()) return true;
    if (timer.elapsed() >= timeoutMs) return false;
    QThread::msleep(1);
  }
}

void CSchemeRunner::RunFor(int ms) { RunUntil(nullptr, ms); }

int CSchemeRunner::Stop() { return scheme->Stop(); }

int CSchemeRunner::Close() { return scheme->Close(); }

std::map<AnsiString, AnsiString> CSchemeRunner::ModuleState(const AnsiString& name) {
  std::map<AnsiString, AnsiString> state;
  CBasePlugin* plugin = nullptr;
  if (scheme->GetPlugin(plugin, name) != VKT_OK) return state;
  VKCore::CXMLDocument doc(false);
  doc.New("parameters");
  if (plugin->DoSerialize(doc.Root(), nullptr) != 0) return state;
  for (xmlAttr* a = doc.Root()->properties; a; a = a->next) {
    xmlChar* v = xmlNodeGetContent(reinterpret_cast<xmlNode*>(a));
    state[reinterpret_cast<const char*>(a->name)] = v ? reinterpret_cast<const char*>(v) : "";
    xmlFree(v);
  }
  return state;
}

double CSchemeRunner::ModuleValue(const AnsiString& name, const AnsiString& attribute,
                                  double fallback) {
  const auto state = ModuleState(name);
  auto it = state.find(attribute);
  double v = fallback;
  if (it != state.end()) vkcore::ParseXmlDouble(it->second, v);
  return v;
}

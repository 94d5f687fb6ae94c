#include "HelpManager.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QHelpEngineCore>
#include <QHelpLink>
#include <QKeyEvent>
#include <QStandardPaths>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <QWidget>

#include "../platform/Report.h"

namespace vkhelp {

// The help window: a text browser that reads its pages out of the help file.
class THelpBrowser : public QTextBrowser {
 public:
  THelpBrowser(QHelpEngineCore* engine, QWidget* parent) : QTextBrowser(parent), engine_(engine) {}
  QVariant loadResource(int type, const QUrl& url) override {
    if (url.scheme() == QLatin1String("qthelp") && engine_) return engine_->fileData(url);
    return QTextBrowser::loadResource(type, url);
  }

 private:
  QHelpEngineCore* engine_;
};

class THelpWindow : public QWidget {
 public:
  explicit THelpWindow(QHelpEngineCore* engine) : QWidget(nullptr, Qt::Window) {
    setObjectName("HelpWindow");
    setWindowTitle(QString::fromUtf8("Справка Vektra"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    resize(720, 560);
    browser = new THelpBrowser(engine, this);
    browser->setObjectName("HelpBrowser");
    browser->setOpenExternalLinks(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(browser);
  }
  THelpBrowser* browser;
};

}  // namespace vkhelp

namespace {
CHelpManager* g_current = nullptr;

void PlainMessage(const AnsiString& text) {
  vkplatform::MessageBox(text, "Vektra", vkplatform::MsgIcon::None);
}
}  // namespace

CHelpManager::CHelpManager(const char*) {
  previous = g_current;
  g_current = this;
  if (QCoreApplication::instance()) QCoreApplication::instance()->installEventFilter(this);
}

CHelpManager::~CHelpManager() {
  if (QCoreApplication::instance()) QCoreApplication::instance()->removeEventFilter(this);
  if (g_current == this) g_current = previous;
  CloseHtmlHelp();
}

CHelpManager* CHelpManager::Current() { return g_current; }

QWidget* CHelpManager::HelpWindow() const { return window.data(); }

bool CHelpManager::LoadHtmlHelp() {
  if (engine) return true;
  // The collection that lists the help file lives in the user's cache, so an
  // installation on a read-only disk still has help.
  QString dir = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
  if (dir.isEmpty()) dir = QDir::tempPath();
  dir += QStringLiteral("/korvan");
  QDir().mkpath(dir);
  auto e = std::make_unique<QHelpEngineCore>(dir + QStringLiteral("/vektra-help.qhc"));
  // The collection is ours to write: it records where the help file is.
  e->setReadOnly(false);
  if (!e->setupData()) {
    qWarning("help engine: %s", qPrintable(e->error()));
    return false;
  }
  engine = std::move(e);
  return true;
}

bool CHelpManager::CloseHtmlHelp() {
  if (window) {
    delete window.data();
    window = nullptr;
  }
  engine.reset();
  return true;
}

int CHelpManager::SetHtmlHelpFile(const AnsiString& file) {
  if (!QFileInfo::exists(QString::fromStdString(file))) {
    PlainMessage("Не найден файл справки\n" + file);
    return -1;
  }
  if (!LoadHtmlHelp()) {
    PlainMessage("Не установлен HTML Help");
    return -2;
  }
  const QString path = QFileInfo(QString::fromStdString(file)).absoluteFilePath();
  const QString ns = QHelpEngineCore::namespaceName(path);
  if (ns.isEmpty()) {
    PlainMessage("Не установлен HTML Help");
    return -2;
  }
  // A collection left by another installation may name another file.
  if (engine->registeredDocumentations().contains(ns) && engine->documentationFileName(ns) != path)
    engine->unregisterDocumentation(ns);
  if (!engine->registeredDocumentations().contains(ns) && !engine->registerDocumentation(path)) {
    qWarning("help engine: %s", qPrintable(engine->error()));
    PlainMessage("Не установлен HTML Help");
    return -2;
  }
  helpFile = file;
  nameSpace = ns;
  return 0;
}

QUrl CHelpManager::UrlForTopic(const QString& topic) const {
  return QUrl(QStringLiteral("qthelp://%1/doc/%2").arg(nameSpace, topic));
}

void CHelpManager::Show(const QUrl& url) {
  lastUrl = url;
  if (!engine || !qobject_cast<QApplication*>(QCoreApplication::instance())) return;
  if (!window) window = new vkhelp::THelpWindow(engine.get());
  window->browser->setSource(url);
  window->show();
  window->raise();
  window->activateWindow();
}

int CHelpManager::ShowTopic(const AnsiString& topic) {
  if (!nameSpace.isEmpty()) Show(UrlForTopic(QString::fromStdString(topic)));
  return 0;
}

int CHelpManager::ShowContext(int id) {
  if (!engine || nameSpace.isEmpty()) return 0;
  // Context numbers are the identifiers "context-<n>" of the help file's
  // keywords.
  const QList<QHelpLink> links =
      engine->documentsForIdentifier(QStringLiteral("context-%1").arg(id));
  if (!links.isEmpty()) Show(links.first().url);
  return 0;
}

bool CHelpManager::OnHelpEvent(int command, long data, bool& callHelp) {
  if (command == HELP_CONTEXT || command == HELP_CONTEXTPOPUP) {
    ShowContext(static_cast<int>(data));
    callHelp = false;
  }
  return true;
}

bool CHelpManager::eventFilter(QObject* watched, QEvent* event) {
  if (g_current != this || event->type() != QEvent::KeyPress) return false;
  auto* key = static_cast<QKeyEvent*>(event);
  if (key->key() != Qt::Key_F1 || key->modifiers() != Qt::NoModifier) return false;
  // The nearest widget, from the one that got the key outwards, that has a
  // context.
  QWidget* w = qobject_cast<QWidget*>(watched);
  if (!w) w = QApplication::focusWidget();
  for (; w; w = w->parentWidget()) {
    const QVariant ctx = w->property(kHelpContextProperty);
    if (ctx.isValid() && ctx.toInt() != 0) {
      bool callHelp = true;
      OnHelpEvent(HELP_CONTEXT, ctx.toInt(), callHelp);
      return true;
    }
  }
  return false;
}

#include "Startup.h"

#include "interpreter/KorvanInterpreter.h"
#include "platform/Com.h"
#include "platform/ComRegistry.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTranslator>

#include <dlfcn.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace vklauncher {

namespace {

// Connects to the X server of `display` through the X client library that
// Qt's own platform uses (loaded here, so that the launcher does not link
// it). A server that takes no connection within the time allowed (a remote
// host that drops packets) counts as unreachable. Where the library cannot
// be loaded, a local display is checked by its socket and a remote one is
// left to Qt.
bool XServerAnswers(const QString& display) {
  using Connect = void* (*)(const char*, int*);
  using HasError = int (*)(void*);
  using Disconnect = void (*)(void*);
  void* xcb = dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
  auto connect = xcb ? reinterpret_cast<Connect>(dlsym(xcb, "xcb_connect")) : nullptr;
  auto hasError = xcb ? reinterpret_cast<HasError>(dlsym(xcb, "xcb_connection_has_error")) : nullptr;
  auto disconnect = xcb ? reinterpret_cast<Disconnect>(dlsym(xcb, "xcb_disconnect")) : nullptr;
  if (!connect || !hasError || !disconnect) {
    if (!display.startsWith(QLatin1Char(':'))) return true;
    const QString number = display.mid(1).section(QLatin1Char('.'), 0, 0);
    return QFileInfo::exists(QLatin1String("/tmp/.X11-unix/X") + number);
  }
  struct TProbe {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false, answered = false;
  };
  auto probe = std::make_shared<TProbe>();
  const std::string name = display.toStdString();
  std::thread([probe, name, connect, hasError, disconnect] {
    void* connection = connect(name.c_str(), nullptr);
    const bool answered = connection && hasError(connection) == 0;
    if (connection) disconnect(connection);
    std::lock_guard<std::mutex> hold(probe->lock);
    probe->answered = answered;
    probe->finished = true;
    probe->done.notify_all();
  }).detach();
  std::unique_lock<std::mutex> hold(probe->lock);
  probe->done.wait_for(hold, std::chrono::seconds(10), [&] { return probe->finished; });
  // The library stays loaded: a probe that has not finished still runs in it.
  return probe->finished && probe->answered;
}

}  // namespace

bool DisplayAvailable(QString* why) {
  const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
  const bool wayland = platform.startsWith(QLatin1String("wayland"));
  if (!platform.isEmpty() && !platform.startsWith(QLatin1String("xcb")) && !wayland)
    return true;  // offscreen, minimal, vnc ...: they need no screen
  if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && (wayland || platform.isEmpty())) return true;
  const QString display = qEnvironmentVariable("DISPLAY");
  if (display.isEmpty()) {
    if (why) *why = QString::fromUtf8("не задан дисплей (переменная DISPLAY пуста)");
    return false;
  }
  // The X server is asked for a connection before Qt is: Qt ends the
  // process with an abort when the display named cannot be reached (a
  // stale socket, a broken forwarding such as "localhost:99").
  if (!XServerAnswers(display)) {
    if (why) *why = QString::fromUtf8("дисплей %1 недоступен").arg(display);
    return false;
  }
  return true;
}

bool InstallRussianTranslations(QCoreApplication& app) {
  const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  bool any = false;
  for (const char* name : {"qtbase_ru", "qt_help_ru"}) {
    auto* translator = new QTranslator(&app);
    if (translator->load(QLatin1String(name), dir)) {
      QCoreApplication::installTranslator(translator);
      any = true;
    } else {
      delete translator;
    }
  }
  return any;
}

QFont LauncherFont() {
  QFont font;
  font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(11);
  return font;
}

bool RegisterBundledComponents(const QString& applicationDir) {
  const std::string key = "CLSID/" + vkplatform::GuidToString(CLSID_Interpreter) + "/InprocServer32";
  const std::string registered = vkplatform::ComRegistry().Value(key);
  if (!registered.empty() && QFileInfo::exists(QString::fromStdString(registered))) return true;
  const QString bundled = applicationDir + "/KorvanInterpreter.so";
  if (!QFileInfo::exists(bundled)) return false;
  return SUCCEEDED(vkplatform::ComRegisterServer(bundled.toStdString()));
}

}  // namespace vklauncher

#include "Startup.h"

#include "interpreter/KorvanInterpreter.h"
#include "platform/Com.h"
#include "platform/ComRegistry.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTranslator>

#include <cstdlib>

namespace vklauncher {

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
  // A local display ":N" is a socket of the X server; a remote one is tried
  // by Qt itself.
  if (display.startsWith(QLatin1Char(':'))) {
    const QString number = display.mid(1).section(QLatin1Char('.'), 0, 0);
    if (!QFileInfo::exists(QLatin1String("/tmp/.X11-unix/X") + number)) {
      if (why) *why = QString::fromUtf8("дисплей %1 недоступен").arg(display);
      return false;
    }
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

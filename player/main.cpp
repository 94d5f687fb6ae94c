// Player: the launcher of measurement schemes.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <exception>

#include "../platform/Affinity.h"
#include "../platform/Report.h"
#include "MainForm.h"
#include "ProgramInfo.h"
#include "../platform/SysPaths.h"
#include "VKPaths.h"

namespace {

int Run(int argc, char** argv) {
  vkplatform::BindToFirstProcessor();
  QApplication app(argc, argv);
  QApplication::setApplicationName("Vektra Launcher");
  QApplication::setOrganizationName("Korvan");
  CProgramInfo info;
  info.OpenInfo(vkplatform::ExecutablePath());
  QApplication::setApplicationVersion(QString::fromStdString(info.GetVersion()));

  QCommandLineParser parser;
  parser.setApplicationDescription(QString::fromUtf8("Среда исполнения измерительных схем Vektra"));
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addPositionalArgument("scheme", QString::fromUtf8("файл схемы (.vms), который открыть"));
  QCommandLineOption quitAfter("quit-after", QString::fromUtf8("закрыть программу через N секунд"),
                               "seconds");
  QCommandLineOption screenshot("screenshot",
                                QString::fromUtf8("перед закрытием сохранить снимок окна в файл"),
                                "file");
  parser.addOption(quitAfter);
  parser.addOption(screenshot);
  parser.process(app);

  TLauncherOptions options;
  if (!parser.positionalArguments().isEmpty())
    options.schemeFile = QFileInfo(parser.positionalArguments().first()).absoluteFilePath();
  TMainForm form(options);
  if (form.TerminateRequested()) return 1;
  form.showMaximized();

  if (parser.isSet(quitAfter)) {
    const int ms = static_cast<int>(parser.value(quitAfter).toDouble() * 1000);
    QTimer::singleShot(ms, &form, [&] {
      if (parser.isSet(screenshot)) {
        const QString file = QFileInfo(parser.value(screenshot)).absoluteFilePath();
        QDir().mkpath(QFileInfo(file).absolutePath());
        if (form.grab().save(file))
          std::printf("Screenshot of the main window: %s\n", file.toLocal8Bit().constData());
        else
          std::fprintf(stderr, "Cannot write the screenshot %s\n", file.toLocal8Bit().constData());
        std::fflush(stdout);
      }
      form.close();
    });
  }
  return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    vkplatform::MessageBox(e.what(), "Vektra Launcher", vkplatform::MsgIcon::Error);
  } catch (...) {
    vkplatform::MessageBox("", "Vektra Launcher", vkplatform::MsgIcon::Error);
  }
  return 1;
}

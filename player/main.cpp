// Player: the launcher of measurement schemes.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <memory>

#include "../platform/Affinity.h"
#include "../platform/Report.h"
#include "../platform/SysPaths.h"
#include "MainForm.h"
#include "ProgramInfo.h"
#include "Startup.h"
#include "VKPaths.h"
#include "remote/RemoteControl.h"

namespace {

const char* kTitle = "Vektra Launcher";

// The command line: a scheme file, then options for automation. Further
// arguments are ignored (with a warning), as are options it does not know.
struct TCommandLine {
  QCommandLineParser parser;
  QCommandLineOption quitAfter{"quit-after", QString::fromUtf8("закрыть программу через N секунд"),
                               "seconds"};
  QCommandLineOption screenshot{
      "screenshot", QString::fromUtf8("вместе с --quit-after: перед закрытием сохранить снимок главного окна в файл (PNG)"),
      "file"};
  QCommandLineOption help = QCommandLineOption({"h", "help"}, QString::fromUtf8("показать эту справку"));
  QCommandLineOption version =
      QCommandLineOption({"v", "version"}, QString::fromUtf8("показать версию программы"));
  vkremote::TRemoteCommandLine remote;

  TCommandLine() {
    parser.setApplicationDescription(
        QString::fromUtf8("Среда исполнения измерительных схем Vektra.\n"
                          "Открывает схему (.vms) и запускает её; без файла схемы открывает "
                          "диалог выбора схемы."));
    parser.addOption(help);
    parser.addOption(version);
    parser.addPositionalArgument("scheme", QString::fromUtf8("файл схемы (.vms), который открыть"),
                                 "[scheme.vms]");
    parser.addOption(quitAfter);
    parser.addOption(screenshot);
    remote.AddTo(parser);
  }
  // Parses; what it cannot take is said on standard error and left out.
  void Parse(const QStringList& arguments) {
    if (!parser.parse(arguments))
      std::fprintf(stderr, "Vektra Launcher: %s (пропущено)\n", parser.errorText().toLocal8Bit().constData());
    if (parser.positionalArguments().size() > 1)
      std::fprintf(stderr, "Vektra Launcher: лишние аргументы пропущены: %s\n",
                   parser.positionalArguments().mid(1).join(' ').toLocal8Bit().constData());
  }
  QString Scheme() const {
    const QStringList files = parser.positionalArguments();
    return files.isEmpty() ? QString() : QFileInfo(files.first()).absoluteFilePath();
  }
};

QStringList Arguments(int argc, char** argv) {
  QStringList list;
  for (int i = 0; i < argc; ++i) list << QString::fromLocal8Bit(argv[i]);
  return list;
}

void SetIdentity() {
  QCoreApplication::setApplicationName(kTitle);
  QCoreApplication::setOrganizationName("Korvan");
  CProgramInfo info;
  info.OpenInfo(vkplatform::ExecutablePath());
  QCoreApplication::setApplicationVersion(QString::fromStdString(info.GetVersion()));
}

// --help and --version need no window: they are answered before any
// display is looked for.
int AnswerWithoutWindow(int argc, char** argv, bool& answered) {
  TCommandLine line;
  line.parser.parse(Arguments(argc, argv));
  answered = line.parser.isSet(line.help) || line.parser.isSet(line.version);
  if (!answered) return 0;
  QCoreApplication app(argc, argv);
  SetIdentity();
  vklauncher::InstallRussianTranslations(app);
  if (line.parser.isSet(line.help)) {
    std::printf("%s", line.parser.helpText().toLocal8Bit().constData());
    std::printf(
        "\nПримеры:\n"
        "  vektra /opt/vektra/bin/schemes/bench.vms\n"
        "  vektra схема.vms --quit-after 10 --screenshot снимок.png\n"
        "  vektra схема.vms --remote 5025     (команды: docs/remote.md)\n"
        "\nФайлы:\n"
        "  ~/.config/korvan/vektra/config.xml   настройки; при первом запуске копируется из data/\n"
        "                                       рядом с программой, как и библиотека формул\n"
        "                                       RelationPreset.xml\n"
        "  ~/.config/korvan/vektra/defprofiles/ профили схем по умолчанию (сохраняются при закрытии\n"
        "                                       схемы и восстанавливаются при открытии)\n"
        "  Plugins/, schemes/, data/, help/     модули, схемы, шаблоны и справка рядом с программой\n"
        "  Интерпретатор выражений регистрируется для пользователя при первом запуске.\n"
        "\nПеременные окружения:\n"
        "  VEKTRA_LOG=1              журнал загрузки модулей в stderr\n"
        "  VEKTRA_REMOTE_TOKEN=ключ  ключ удалённого управления (вместо --remote-token)\n"
        "  QT_QPA_PLATFORM=offscreen работа без экрана (окна рисуются в памяти)\n"
        "\nКоды завершения: 0 — программа закрыта; 1 — схему из командной строки открыть не\n"
        "удалось, нет настроек или нет экрана (причина выводится).\n"
        "Параметры Qt (например, -platform, -style) также принимаются.\n");
  } else {
    std::printf("%s %s\n", kTitle, QCoreApplication::applicationVersion().toLocal8Bit().constData());
  }
  return 0;
}

int Run(int argc, char** argv) {
  bool answered = false;
  const int rc = AnswerWithoutWindow(argc, argv, answered);
  if (answered) return rc;

  TCommandLine line;
  line.parser.parse(Arguments(argc, argv));
  const QString scheme = line.Scheme();
  vkremote::TRemoteOptions remoteOptions;
  std::string remoteError;
  if (!line.remote.Read(line.parser, remoteOptions, remoteError)) {
    std::fprintf(stderr, "Vektra Launcher: %s\n", remoteError.c_str());
    return 1;
  }
  QString why;
  if (!vklauncher::DisplayAvailable(&why)) {
    // Without a screen the application could not even be created: say so
    // instead of ending with the platform's abort.
    if (!scheme.isEmpty() && !QFileInfo::exists(scheme))
      std::fprintf(stderr, "Vektra Launcher: файл схемы \"%s\" не найден.\n", scheme.toLocal8Bit().constData());
    std::fprintf(stderr,
                 "Vektra Launcher: %s. Окна показать негде; для работы без экрана задайте "
                 "QT_QPA_PLATFORM=offscreen.\n",
                 why.toLocal8Bit().constData());
    return 1;
  }

  vkplatform::BindToFirstProcessor();
  QApplication app(argc, argv);
  SetIdentity();
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/vektra/vektra.svg")));
  vklauncher::InstallRussianTranslations(app);
  vklauncher::RegisterBundledComponents(QCoreApplication::applicationDirPath());
  line.Parse(QApplication::arguments());

  // An exception that leaves start-up or the message loop is shown while
  // the application can still show it.
  try {
    TLauncherOptions options;
    options.schemeFile = scheme;
    TMainForm form(options);
    if (form.TerminateRequested()) return 1;
    // Maximised; without a window manager to do it (a bare X server) the
    // window is given the screen all the same.
    if (QScreen* screen = QGuiApplication::primaryScreen()) form.setGeometry(screen->availableGeometry());
    form.showMaximized();

    std::unique_ptr<vkremote::CRemoteControl> remote;
    if (remoteOptions.port >= 0) {
      remote = std::make_unique<vkremote::CRemoteControl>(&form);
      const int port = remote->Start(remoteOptions, remoteError);
      if (port < 0) {
        std::fprintf(stderr, "Vektra Launcher: удалённое управление: %s\n", remoteError.c_str());
        return 1;
      }
      std::printf("Удалённое управление: %s:%d\n", remoteOptions.bind.c_str(), port);
      std::fflush(stdout);
    }

    if (line.parser.isSet(line.quitAfter)) {
      // Whole milliseconds a timer can wait (about 24 days at most); a value
      // that is no number closes at once, as 0 does.
      bool ok = false;
      const double seconds = line.parser.value(line.quitAfter).toDouble(&ok);
      const int ms = !ok || !(seconds > 0) ? 0 : static_cast<int>(std::min(seconds * 1000, 2147483647.0));
      QTimer::singleShot(ms, &form, [&] {
        if (line.parser.isSet(line.screenshot)) {
          const QString file = QFileInfo(line.parser.value(line.screenshot)).absoluteFilePath();
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
  } catch (const std::exception& e) {
    vkplatform::MessageBox(e.what(), TMainForm::ApplicationTitle(), vkplatform::MsgIcon::Error);
  } catch (...) {
    vkplatform::MessageBox("", TMainForm::ApplicationTitle(), vkplatform::MsgIcon::Error);
  }
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Vektra Launcher: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "Vektra Launcher: неизвестное исключение\n");
  }
  return 1;
}

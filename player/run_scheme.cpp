// vk-run-scheme: runs a scheme without windows, for servers and scheduled
// jobs. The launcher's own window runs offscreen (nothing is shown); what
// would be said in a message box goes to standard error. It ends with a
// non-zero status and the message when the scheme cannot be opened or a
// module reports an error, and with 0 after --for seconds (or on SIGINT or
// SIGTERM), closing the scheme as the launcher does (its profile is saved),
// unless an instrument of the scheme is not answering at that moment (lost,
// or never reached): that is said and ends it with 4.
#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "../platform/Report.h"
#include "../platform/SysPaths.h"
#include "MainForm.h"
#include "ProgramInfo.h"
#include "SchemeManager.h"
#include "Startup.h"
#include "remote/RemoteControl.h"

namespace {

constexpr const char* kName = "vk-run-scheme";

// Exit statuses.
constexpr int kDone = 0, kCannotOpen = 1, kUsage = 2, kModuleError = 3, kNoInstrument = 4;

std::atomic<bool> g_stopRequested{false};
void OnSignal(int) { g_stopRequested = true; }

const char* IconName(vkplatform::MsgIcon icon) {
  switch (icon) {
    case vkplatform::MsgIcon::Error: return "ошибка";
    case vkplatform::MsgIcon::Warning: return "предупреждение";
    case vkplatform::MsgIcon::Question: return "вопрос";
    default: return "сообщение";
  }
}

// Says each instrument link of the scheme that is not answering now;
// true when there is one.
bool InstrumentMissing(CSchemeManager& scheme) {
  bool missing = false;
  for (unsigned i = 0; i < scheme.GetPluginCount(); ++i) {
    CBasePlugin* module = nullptr;
    AnsiString state;
    if (scheme.GetPlugin(module, i) != 0 || !module || module->Query("connection", state) != VKT_OK) continue;
    const char* why = state == "lost" ? "связь с прибором потеряна и не восстановлена"
                      : state == "never" ? "прибор так и не ответил"
                                         : nullptr;
    if (!why) continue;
    std::fprintf(stderr, "%s: модуль \"%s\": %s\n", kName, module->Name().c_str(), why);
    missing = true;
  }
  return missing;
}

}  // namespace

int main(int argc, char** argv) {
  // No screen is needed: the windows are drawn in memory.
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  QCoreApplication::setApplicationName("Vektra Launcher");
  QCoreApplication::setOrganizationName("Korvan");
  {
    CProgramInfo info;
    info.OpenInfo(vkplatform::ExecutablePath());
    QCoreApplication::setApplicationVersion(QString::fromStdString(info.GetVersion()));
  }
  vklauncher::InstallRussianTranslations(app);

  QCommandLineParser parser;
  parser.setApplicationDescription(QString::fromUtf8(
      "Выполняет измерительную схему Vektra без окон (для серверов и заданий по расписанию).\n"
      "Коды завершения: 0 — схема отработала заданное время или остановлена сигналом;\n"
      "1 — схему не удалось открыть; 2 — неверные параметры; 3 — модуль сообщил об ошибке;\n"
      "4 — к концу работы связь с прибором потеряна или прибор так и не ответил."));
  const QCommandLineOption help = parser.addHelpOption();
  const QCommandLineOption version = parser.addVersionOption();
  parser.addPositionalArgument("scheme", QString::fromUtf8("файл схемы (.vms)"), "scheme.vms");
  QCommandLineOption forSeconds("for", QString::fromUtf8("остановить схему через N секунд (без него — до сигнала)"),
                                "seconds");
  parser.addOption(forSeconds);
  vkremote::TRemoteCommandLine remoteLine;
  remoteLine.AddTo(parser);
  // Wrong options are this program's status 2 (process() would end with 1).
  if (!parser.parse(QCoreApplication::arguments())) {
    std::fprintf(stderr, "%s: %s См. --help.\n", kName, parser.errorText().toLocal8Bit().constData());
    return kUsage;
  }
  if (parser.isSet(help)) parser.showHelp(kDone);
  if (parser.isSet(version)) parser.showVersion();
  vkremote::TRemoteOptions remoteOptions;
  std::string remoteError;
  if (!remoteLine.Read(parser, remoteOptions, remoteError)) {
    std::fprintf(stderr, "%s: %s\n", kName, remoteError.c_str());
    return kUsage;
  }
  const QStringList files = parser.positionalArguments();
  if (files.size() != 1) {
    std::fprintf(stderr, "%s: укажите один файл схемы (см. --help)\n", kName);
    return kUsage;
  }
  double seconds = -1;
  if (parser.isSet(forSeconds)) {
    bool ok = false;
    seconds = parser.value(forSeconds).toDouble(&ok);
    if (!ok || !(seconds >= 0)) {
      std::fprintf(stderr, "%s: --for ждёт число секунд, а не \"%s\"\n", kName,
                   parser.value(forSeconds).toLocal8Bit().constData());
      return kUsage;
    }
  }
  const QString scheme = QFileInfo(files.first()).absoluteFilePath();
  if (!QFileInfo::exists(scheme)) {
    std::fprintf(stderr, "%s: файл схемы \"%s\" не найден\n", kName, scheme.toLocal8Bit().constData());
    return kCannotOpen;
  }

  // Every message goes to standard error; an error ends the run.
  int status = kDone;
  bool opening = true;
  vkplatform::SetReportHook([&](const vkplatform::Report& r) {
    std::fprintf(stderr, "%s: %s%s%s: %s\n", kName, IconName(r.icon), r.caption.empty() ? "" : " — ",
                 r.caption.c_str(), r.text.c_str());
    std::fflush(stderr);
    if (r.icon == vkplatform::MsgIcon::Error || r.assertion) {
      if (status == kDone) status = opening ? kCannotOpen : kModuleError;
      QMetaObject::invokeMethod(&app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    }
    return r.defaultAnswer;
  });
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);

  vklauncher::RegisterBundledComponents(QCoreApplication::applicationDirPath());
  TLauncherOptions options;
  options.schemeFile = scheme;
  auto form = std::make_unique<TMainForm>(options);
  if (form->TerminateRequested() || !form->Scheme()) {
    std::fprintf(stderr, "%s: схему \"%s\" открыть не удалось\n", kName, scheme.toLocal8Bit().constData());
    vkplatform::SetReportHook(vkplatform::ReportHook());
    return kCannotOpen;
  }
  opening = false;
  form->setGeometry(0, 0, 1280, 800);
  form->show();
  std::fprintf(stderr, "%s: схема \"%s\" запущена\n", kName, scheme.toLocal8Bit().constData());
  std::unique_ptr<vkremote::CRemoteControl> remote;
  if (remoteOptions.port >= 0) {
    remote = std::make_unique<vkremote::CRemoteControl>(form.get());
    const int port = remote->Start(remoteOptions, remoteError);
    if (port < 0) {
      std::fprintf(stderr, "%s: удалённое управление: %s\n", kName, remoteError.c_str());
      form.reset();
      vkplatform::SetReportHook(vkplatform::ReportHook());
      return kUsage;
    }
    std::printf("Удалённое управление: %s:%d\n", remoteOptions.bind.c_str(), port);
    std::fflush(stdout);
  }

  // The end is looked for every 100 ms (a single timer could not wait the
  // days a run may be given).
  QElapsedTimer running;
  running.start();
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, &app, [&] {
    if (g_stopRequested || (seconds >= 0 && running.elapsed() >= seconds * 1000)) QCoreApplication::exit(0);
  });
  watch.start(100);
  if (status == kDone) QApplication::exec();
  // Whether the instrument is there is judged before the scheme closes.
  if (status == kDone && form->Scheme() && InstrumentMissing(*form->Scheme())) status = kNoInstrument;
  // Closed as the launcher closes it: the scheme stops and saves its profile.
  remote.reset();
  form.reset();
  vkplatform::SetReportHook(vkplatform::ReportHook());
  if (status == kDone || status == kNoInstrument) std::fprintf(stderr, "%s: схема остановлена\n", kName);
  return status;
}

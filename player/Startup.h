#pragma once
// What the launcher settles before and just after its application object
// exists: whether there is a screen to show windows on, the Russian texts of
// Qt's own dialogs and menus, and the main window's font.
#include <QFont>
#include <QString>

class QCoreApplication;

namespace vklauncher {

// Whether a window can be shown: false (with the reason in `why`) when the
// platform is the X server or Wayland and none can be reached, where
// creating the application would end the program.
bool DisplayAvailable(QString* why);

// Installs the Russian translations of Qt's own texts (file dialogs, message
// box buttons, edit menus, command-line help) into `app`. False when the
// translation files are missing (the texts then stay English).
bool InstallRussianTranslations(QCoreApplication& app);

// Components the launcher brings (the expression interpreter) are registered
// for the user who runs it when they are not, or when the file registered is
// gone: the component registry is per user here, where an installer would
// have registered them for the whole machine. True when the interpreter is
// registered afterwards.
bool RegisterBundledComponents(const QString& applicationDir);

// The main window's font: a metric equivalent of Arial at 11 pixels, or the
// default sans font where it is not installed.
QFont LauncherFont();

}  // namespace vklauncher

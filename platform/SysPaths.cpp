#include "SysPaths.h"

#include <QDir>
#include <QStandardPaths>

#include <unistd.h>

#include <climits>

namespace vkplatform {
namespace {

std::string Clean(const QString& path) {
  if (path.isEmpty()) return std::string();
  QString p = QDir::cleanPath(path);
  if (p.size() > 1 && p.endsWith(QLatin1Char('/'))) p.chop(1);
  return p.toStdString();
}

}  // namespace

std::string ExecutablePath() {
  char buf[PATH_MAX + 1];
  ssize_t n = readlink("/proc/self/exe", buf, PATH_MAX);
  if (n <= 0) return std::string();
  return std::string(buf, static_cast<size_t>(n));
}

std::string ExecutableDir() {
  const std::string exe = ExecutablePath();
  std::string::size_type slash = exe.rfind('/');
  if (slash == std::string::npos) return std::string();
  if (slash == 0) return "/";
  return exe.substr(0, slash);
}

std::string UserConfigDir() {
  return Clean(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
}

std::string SharedDataDir() {
  const QStringList dirs = QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
  // The first entry is the user's own data folder; the next ones are system-wide.
  if (dirs.size() >= 2) return Clean(dirs.at(1));
  return "/usr/local/share";
}

std::string DocumentsDir() {
  return Clean(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
}

}  // namespace vkplatform

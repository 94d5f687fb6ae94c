#pragma once
// What the benchmarks that run the launcher's window share: a home of their
// own (the first start's configuration and the profiles stay out of the
// user's folders), the clock, the resident memory, and waiting in the
// application's own event loop.
#include <unistd.h>

#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

namespace vkbench {

inline double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

inline double ResidentMiB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * static_cast<double>(::sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// The private home of this process ("vk-bench-<name>-<pid>" in the
// temporary folder).
inline const std::filesystem::path& Home(const char* name = nullptr) {
  static const std::filesystem::path home =
      std::filesystem::temp_directory_path() /
      ("vk-bench-" + std::string(name ? name : "run") + "-" + std::to_string(::getpid()));
  return home;
}

// Makes the private home and points HOME and the XDG folders at it; call
// before the application exists.
inline void UsePrivateHome(const char* name) {
  const std::filesystem::path& home = Home(name);
  std::filesystem::create_directories(home);
  std::filesystem::permissions(home, std::filesystem::perms::owner_all, std::filesystem::perm_options::replace);
  setenv("HOME", home.c_str(), 1);
  setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
  setenv("XDG_CACHE_HOME", (home / ".cache").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", home.c_str(), 1);
}

// The application's own event loop runs (it sleeps while nothing is to be
// done, as the launcher's does), looking at `done` every `pollMs`.
inline bool RunUntil(const std::function<bool()>& done, double seconds, int pollMs = 1) {
  const double end = Now() + seconds;
  if (done()) return true;
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done() || Now() >= end) loop.quit();
  });
  poll.start(pollMs);
  loop.exec();
  return done();
}

}  // namespace vkbench

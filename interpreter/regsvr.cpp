// vk-regsvr: registers a component library in the user's component registry
// (or removes it with -u). The build runs it on the freshly built
// interpreter, and installation on the installed one.
//   vk-regsvr [--warn] [-u] LIBRARY
// --warn: a failure is reported but the exit status stays 0 (the build goes
// on where the user's configuration folder cannot be written).
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/Com.h"
#include "platform/ComRegistry.h"

int main(int argc, char** argv) {
  bool unregister = false, warnOnly = false;
  const char* library = nullptr;
  int libraries = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-u") == 0) unregister = true;
    else if (std::strcmp(argv[i], "--warn") == 0) warnOnly = true;
    else library = argv[i], ++libraries;
  }
  if (libraries != 1) {
    std::fprintf(stderr, "usage: vk-regsvr [--warn] [-u] LIBRARY\n");
    return 2;
  }
  // An absolute path, so that the loader does not search its own folders.
  const std::string path = std::filesystem::absolute(library).string();
  const HRESULT hr = unregister ? vkplatform::ComUnregisterServer(path) : vkplatform::ComRegisterServer(path);
  if (FAILED(hr)) {
    std::fprintf(stderr, "vk-regsvr: %s: %s of %s failed (0x%08X)\n", warnOnly ? "warning" : "error",
                 unregister ? "unregistration" : "registration", path.c_str(), static_cast<unsigned>(hr));
    return warnOnly ? 0 : 1;
  }
  std::printf("vk-regsvr: %s %s (%s)\n", unregister ? "unregistered" : "registered", path.c_str(),
              vkplatform::ComRegistry::FilePath().c_str());
  return 0;
}

// The main of every test program: tests run offscreen, with a private home
// and configuration folders in the build tree, so that nothing a test saves
// lands in the user's real folders. Each process has its own home (ctest runs
// tests of one program in parallel processes), removed when it ends.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

const std::string& TestHome() {
  static const std::string home = std::string(VK_TEST_HOME) + "/" + std::to_string(::getpid());
  return home;
}

int main(int argc, char** argv) {
  const std::string home = TestHome();
  std::filesystem::remove_all(home);
  std::filesystem::create_directories(home);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("HOME", home.c_str(), 1);
  setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
  setenv("XDG_DATA_HOME", (home + "/.local/share").c_str(), 1);
  setenv("XDG_CACHE_HOME", (home + "/.cache").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", (home + "/runtime").c_str(), 1);
  setenv("VK_TEST_DATA", VK_TEST_DATA_DIR, 1);
  std::system(("mkdir -p '" + home + "/runtime' && chmod 700 '" + home + "/runtime'").c_str());
  ::testing::InitGoogleTest(&argc, argv);
  const int rc = RUN_ALL_TESTS();
  std::error_code ignored;
  std::filesystem::remove_all(home, ignored);
  return rc;
}

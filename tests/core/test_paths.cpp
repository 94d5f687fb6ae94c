// File-name splitting, the standard directories, path macros and
// case-insensitive replacement.
#include <cstdlib>
#include <filesystem>
#include <utility>

#include "CoreTestSupport.h"
#include "VKPaths.h"

namespace {

TEST(PathSplitting, NameExtensionAndFullName) {
  struct Case {
    const char* path;
    const char* name;
    const char* ext;
    const char* full;
  } cases[] = {
      {"C:\\a\\scheme.xml", "scheme", "xml", "scheme.xml"},
      {"/home/u/scheme.xml", "scheme", "xml", "scheme.xml"},
      {"C:\\dir\\file", "file", "", "file."},
      {"dir/sub\\mixed.name.vms", "mixed.name", "vms", "mixed.name.vms"},
      {"dir.d/file", "file", "", "file."},  // a dot in a directory is no extension
      {"C:file.txt", "file", "txt", "file.txt"},
      {"noext", "noext", "", "noext."},
      {"", "", "", "."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(stdex::ExtractFileName(c.path), c.name) << c.path;
    EXPECT_EQ(stdex::ExtractFileExt(c.path), c.ext) << c.path;
    EXPECT_EQ(stdex::ExtractFullFileName(c.path), c.full) << c.path;
    EXPECT_EQ(ExExtractFileName(c.path), c.name) << c.path;
    EXPECT_EQ(ExExtractFileExt(c.path), c.ext) << c.path;
    EXPECT_EQ(ExExtractFullFileName(c.path), c.full) << c.path;
  }
}

// Points HOME and XDG_CONFIG_HOME at a scratch folder while it lives.
class PrivateHome {
 public:
  PrivateHome() : home_(Save("HOME")), config_(Save("XDG_CONFIG_HOME")) {
    setenv("HOME", dir_.path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", (dir_ / "cfg").c_str(), 1);
  }
  ~PrivateHome() {
    Restore("HOME", home_);
    Restore("XDG_CONFIG_HOME", config_);
  }
  const vktest::ScratchDir& dir() const { return dir_; }

 private:
  static std::pair<bool, std::string> Save(const char* name) {
    const char* v = std::getenv(name);
    return {v != nullptr, v ? v : ""};
  }
  static void Restore(const char* name, const std::pair<bool, std::string>& v) {
    if (v.first) setenv(name, v.second.c_str(), 1);
    else unsetenv(name);
  }
  vktest::ScratchDir dir_;
  std::pair<bool, std::string> home_, config_;
};

TEST(StandardDirectories, AllValues) {
  PrivateHome home;
  const std::string config = home.dir() / "cfg/korvan/vektra";
  const std::string docs = home.dir() / "Documents";
  const std::string app = std::filesystem::read_symlink("/proc/self/exe").parent_path().string();

  EXPECT_EQ(GetVKDir(dirApplication), app);
  EXPECT_EQ(GetVKDir(dirConfig), config);
  EXPECT_EQ(GetVKDir(dirWork), docs + "/korvan vektra");
  EXPECT_EQ(GetVKDir(dirUser), docs + "/korvan vektra");
  const std::string shared = GetVKDir(dirShared);
  EXPECT_EQ(shared.rfind("/korvan shared"), shared.size() - 14) << shared;
  EXPECT_EQ(GetVKDir(dirDetectors), shared + "/detectors");
  EXPECT_EQ(GetVKDir(dirMarkers), config + "/markers");
  EXPECT_EQ(GetVKDir(dirSchemes), app + "/schemes");
  EXPECT_EQ(GetVKDir(dirResources), app + "/schemes/resources");
  EXPECT_EQ(GetVKDir(dirPlugins), app + "/Plugins");
  EXPECT_EQ(GetVKDir(dirHelp), app + "/help");
  EXPECT_EQ(GetVKDir(dirProfiles), config + "/profiles");
  EXPECT_EQ(GetVKDir(dirDefProfiles), config + "/defprofiles");
  EXPECT_EQ(GetConfigFileName(), config + "/config.xml");
  EXPECT_EQ(GetVKDir(static_cast<EVektraDirectories>(13)), "");
  EXPECT_EQ(GetVKDir(static_cast<EVektraDirectories>(-1)), "");
  for (int k = dirApplication; k <= dirDefProfiles; ++k) {
    const std::string d = GetVKDir(static_cast<EVektraDirectories>(k));
    EXPECT_EQ(d.find('\\'), std::string::npos) << d;
    EXPECT_NE(d.back(), '/') << d;
  }
  EXPECT_EQ(home.dir().EntryCount(), 0u);  // nothing is created
}

TEST(PathMacros, StoredPathsUseTheDeepestMacro) {
  EXPECT_EQ(UnformatPath(GetVKDir(dirResources) + "/a.bmp"), "[resources]/a.bmp");
  EXPECT_EQ(FormatPath("[resources]/a.bmp"), GetVKDir(dirResources) + "/a.bmp");
  EXPECT_EQ(UnformatPath(GetVKDir(dirUser) + "/m.txt"), "[user]/m.txt");
  EXPECT_EQ(FormatPath("[work]/m.txt"), GetVKDir(dirUser) + "/m.txt");
  EXPECT_EQ(UnformatPath(GetConfigFileName()), "[config]/config.xml");
  EXPECT_EQ(UnformatPath(GetVKDir(dirPlugins) + "/Chart.so"), "[plugins]/Chart.so");

  // Every macro survives a round trip ("[work]" comes back as "[user]").
  for (int k = dirApplication; k <= dirDefProfiles; ++k) {
    const auto kind = static_cast<EVektraDirectories>(k);
    const std::string stored = GetVKDirMacro(kind) + "/f.txt";
    const std::string expanded = FormatPath(stored);
    EXPECT_EQ(expanded, GetVKDir(kind) + "/f.txt") << stored;
    EXPECT_EQ(UnformatPath(expanded), kind == dirWork ? "[user]/f.txt" : stored) << expanded;
  }

  EXPECT_EQ(FormatPath("[SCHEMES]/x.vms"), GetVKDir(dirSchemes) + "/x.vms");
  EXPECT_EQ(FormatPath("[help]/a;[help]/b"), GetVKDir(dirHelp) + "/a;" + GetVKDir(dirHelp) + "/b");
  EXPECT_EQ(FormatPath(""), "");
  EXPECT_EQ(UnformatPath(""), "");
  EXPECT_EQ(FormatPath("[unknown]/x"), "[unknown]/x");
  EXPECT_EQ(UnformatPath("/elsewhere/x"), "/elsewhere/x");
}

std::string Replaced(std::string text, const std::string& what, const std::string& with) {
  EXPECT_EQ(ReplaceString(text, what, with), 0);
  return text;
}

TEST(ReplaceString, CaseInsensitiveAndTerminating) {
  EXPECT_EQ(Replaced("[Schemes]\\x", "[SCHEMES]", "D:"), "D:\\x");
  EXPECT_EQ(Replaced("прибор и Прибор", "ПРИБОР", "device"), "device и device");
  EXPECT_EQ(Replaced("Ёлка ёлка", "ё", "е"), "елка елка");
  EXPECT_EQ(Replaced("ÉCOLE", "école", "school"), "school");
  EXPECT_EQ(Replaced("abcABC", "b", ""), "acAC");
  EXPECT_EQ(Replaced("abc", "", "x"), "abc");
  EXPECT_EQ(Replaced("abc", "x", "y"), "abc");
  // After each replacement the search starts again, so text brought
  // together by a replacement is replaced too.
  EXPECT_EQ(Replaced("aab", "ab", "b"), "b");
  EXPECT_EQ(Replaced("AAAB", "ab", "b"), "b");
  EXPECT_EQ(Replaced("aab", "ab", "B"), "B");
  EXPECT_EQ(Replaced(std::string(100000, 'a') + "b", "ab", "b"), "b");
  // A replacement that contains what it replaces is not searched again
  // (that would never end); it keeps its own case.
  EXPECT_EQ(Replaced("aaa", "a", "aa"), "aaaaaa");
  EXPECT_EQ(Replaced("xX", "x", "Xx"), "XxXx");
  EXPECT_EQ(Replaced("путь/к/файлу", "/", "//"), "путь//к//файлу");
}

}  // namespace

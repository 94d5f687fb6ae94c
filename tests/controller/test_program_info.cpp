// Program information read from our binaries' version blocks.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "ProgramInfo.h"

namespace {
const std::string kBin = VK_BIN_DIR;
const std::string kPlugins = VK_TEST_PLUGINS_DIR;
}  // namespace

TEST(ProgramInfo, EveryBuiltBinaryCarriesItsBlock) {
  struct Expect {
    std::string file, description;
  };
  for (const Expect& e :
       {Expect{kBin + "/libLinkCore.so", "Ядро Vektra"},
        Expect{kBin + "/libController.so", "Управление схемами Vektra"},
        Expect{kBin + "/libKorvanComponents.so", "Компоненты интерфейса Korvan"},
        Expect{kBin + "/KorvanInterpreter.so", "Интерпретатор арифметических выражений Vektra"},
        Expect{kBin + "/Player", "Среда исполнения измерительных схем Vektra"},
        Expect{kBin + "/Plugins/InstrumentLink.so", "Связь с прибором"},
        Expect{kBin + "/Plugins/ConstPanel.so", "Панель параметров прибора"},
        Expect{kBin + "/Plugins/LinkDialog.so", "Подключение к прибору"},
        Expect{kBin + "/Plugins/RunGuide.so", "Мастер измерений и калибровки"},
        Expect{kBin + "/Plugins/MatrixVault.so", "Хранитель матрицы"},
        Expect{kBin + "/vk-instrument-sim", "Имитатор прибора Vektra"},
        Expect{kBin + "/vk-corecheck", "Проверка ядра Vektra"},
        Expect{kPlugins + "/TestSink.so", "Тестовый пакет TestSink"}}) {
    CProgramInfo info;
    ASSERT_TRUE(info.OpenInfo(e.file)) << e.file;
    EXPECT_EQ(info.GetDescription(), e.description);
    EXPECT_EQ(info.GetVersion(), VK_PROJECT_VERSION);
    EXPECT_EQ(info.GetProductVersion(), VK_PROJECT_VERSION);
    EXPECT_EQ(info.GetProductName(), "Vektra");
    EXPECT_FALSE(info.GetCopyright().empty());
    EXPECT_EQ(info.GetValue("NoSuchKey"), "");
    info.Close();
    EXPECT_EQ(info.GetVersion(), "");
  }
}

TEST(ProgramInfo, FilesWithoutABlockGiveEmptyValues) {
  const std::string dir = std::filesystem::temp_directory_path() / "vk-programinfo";
  std::filesystem::create_directories(dir);
  std::ofstream(dir + "/text.so") << "not an ELF file";
  std::ofstream(dir + "/empty.so");
  // A truncated ELF header must not be read past its end.
  std::ofstream(dir + "/short.so", std::ios::binary) << std::string("\x7f" "ELF\x02\x01\x01", 7);
  for (const std::string& f : {std::string("/bin/sh"), dir + "/text.so", dir + "/empty.so",
                              dir + "/short.so", dir + "/missing.so",
                              kPlugins + "/TestNoGetClass.so"}) {
    CProgramInfo info;
    EXPECT_FALSE(info.OpenInfo(f)) << f;
    EXPECT_EQ(info.GetVersion(), "") << f;
    EXPECT_EQ(info.GetDescription(), "") << f;
  }
  std::filesystem::remove_all(dir);
}

// A block whose only table is not the Russian/1251 one gives "" for every
// value; nothing else is tried.
__attribute__((section(".vk_version"), used)) static const char kForeignBlock[] =
    "VKVERSION\0"
    "040904B0\0"
    "FileVersion\0"
    "9.9\0";

TEST(ProgramInfo, OnlyTheRussianTableIsRead) {
  CProgramInfo info;
  ASSERT_TRUE(info.OpenInfo("/proc/self/exe"));
  EXPECT_EQ(info.GetVersion(), "");
}

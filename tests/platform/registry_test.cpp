#include "platform/registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/win32.h"
#include "tests/platform/test_env.h"

namespace {

using platform::GetRegistryValue;
using platform::SetRegistryValue;

constexpr char kKey[] = "Software\\Varnel\\Q\\Install";

class Registry : public ConfigDirTest {
 protected:
  void SetUp() override {
    ConfigDirTest::SetUp();
    WriteConfig("registry",
                "# per-user values\r\n"
                "[Software\\Varnel\\Q\\Install]\r\n"
                "Path = \"Z:\\opt\\mosalin\"\r\n"
                "Map=D:\\\xE5\x9C\xB0\xE5\x9B\xBE\n"  // D:\地图, UTF-8 in the file
                "@=default\n"
                "[Other]\n"
                "Path=not this one\n");
  }
  void TearDown() override {
    if (key_) RegCloseKey(key_);
    ConfigDirTest::TearDown();
  }
  HKEY Open(const char* sub = kKey) {
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, sub, 0, KEY_READ, &key_), (LSTATUS)ERROR_SUCCESS);
    return key_;
  }
  std::string ReadFile() {
    std::ifstream in(ConfigFile("registry"));
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  HKEY key_ = nullptr;
};

TEST_F(Registry, QuerySizeRules) {
  HKEY key = Open();
  const DWORD needed = sizeof("Z:\\opt\\mosalin");  // with the terminator
  DWORD type = 0, size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "Path", nullptr, &type, nullptr, &size), (LSTATUS)ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, needed);

  char buf[64];
  std::memset(buf, 'x', sizeof buf);
  size = needed - 1;
  EXPECT_EQ(RegQueryValueExA(key, "Path", nullptr, nullptr, (LPBYTE)buf, &size), (LSTATUS)ERROR_MORE_DATA);
  EXPECT_EQ(size, needed);
  EXPECT_EQ(buf[0], 'x');

  size = needed;
  EXPECT_EQ(RegQueryValueExA(key, "Path", nullptr, nullptr, (LPBYTE)buf, &size), (LSTATUS)ERROR_SUCCESS);
  EXPECT_EQ(size, needed);
  EXPECT_STREQ(buf, "Z:\\opt\\mosalin");

  size = 259;  // what the launcher passes
  EXPECT_EQ(RegQueryValueExA(key, "Map", nullptr, nullptr, (LPBYTE)buf, &size), (LSTATUS)ERROR_SUCCESS);
  EXPECT_STREQ(buf, "D:\\\xB5\xD8\xCD\xBC");  // handed out in code page 936
  EXPECT_EQ(size, 8u);

  EXPECT_EQ(RegQueryValueExA(key, nullptr, nullptr, nullptr, (LPBYTE)buf, &size), (LSTATUS)ERROR_SUCCESS);
  EXPECT_STREQ(buf, "default");
  EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, nullptr, nullptr, &size), (LSTATUS)ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueExA(key, "Path", nullptr, nullptr, (LPBYTE)buf, nullptr),
            (LSTATUS)ERROR_INVALID_PARAMETER);
}

TEST_F(Registry, KeysAndNamesIgnoreCaseAndParentsExist) {
  HKEY key = Open("software\\VARNEL\\q\\install\\");
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "PATH", nullptr, nullptr, nullptr, &size), (LSTATUS)ERROR_SUCCESS);

  HKEY parent = nullptr, child = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Varnel", 0, KEY_READ, &parent), (LSTATUS)ERROR_SUCCESS);
  ASSERT_EQ(RegOpenKeyExA(parent, "Q\\Install", 0, KEY_READ, &child), (LSTATUS)ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExA(child, "Path", nullptr, nullptr, nullptr, &size), (LSTATUS)ERROR_SUCCESS);
  EXPECT_EQ(size, sizeof("Z:\\opt\\mosalin"));
  EXPECT_EQ(RegCloseKey(child), (LSTATUS)ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(parent), (LSTATUS)ERROR_SUCCESS);
}

TEST_F(Registry, MissingKeysAndBadHandlesFail) {
  HKEY key = reinterpret_cast<HKEY>(1);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Varnel\\Q\\Other", 0, KEY_READ, &key),
            (LSTATUS)ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Varn", 0, KEY_READ, &key), (LSTATUS)ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key), (LSTATUS)ERROR_FILE_NOT_FOUND);

  std::filesystem::remove(ConfigFile("registry"));
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key), (LSTATUS)ERROR_FILE_NOT_FOUND);

  int notAKey = 0;
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(reinterpret_cast<HKEY>(&notAKey), "Path", nullptr, nullptr, nullptr, &size),
            (LSTATUS)ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(&notAKey)), (LSTATUS)ERROR_INVALID_HANDLE);
}

TEST_F(Registry, WriterKeepsTheRestOfTheFile) {
  ASSERT_TRUE(SetRegistryValue(kKey, "PATH", "Z:\\new place\\"));
  ASSERT_TRUE(SetRegistryValue("Software\\Varnel\\Q\\Install", "Extra", "  padded \"quoted\"  "));
  ASSERT_TRUE(SetRegistryValue("New\\Key", "", "fresh"));
  ASSERT_TRUE(SetRegistryValue("", "AtRoot", "r"));

  const std::string file = ReadFile();
  EXPECT_NE(file.find("# per-user values"), std::string::npos);
  EXPECT_NE(file.find("Path=\"Z:\\new place\\\""), std::string::npos);  // stored spelling kept
  EXPECT_EQ(GetRegistryValue(kKey, "path"), "Z:\\new place\\");
  EXPECT_EQ(GetRegistryValue(kKey, "Extra"), "  padded \"quoted\"  ");
  EXPECT_EQ(GetRegistryValue(kKey, "Map"), "D:\\\xE5\x9C\xB0\xE5\x9B\xBE");
  EXPECT_EQ(GetRegistryValue("Other", "Path"), "not this one");
  EXPECT_EQ(GetRegistryValue("New\\Key", "@"), "fresh");
  EXPECT_EQ(GetRegistryValue("", "AtRoot"), "r");

  char buf[64];
  DWORD size = sizeof buf;
  EXPECT_EQ(RegQueryValueExA(HKEY_CURRENT_USER, "AtRoot", nullptr, nullptr, (LPBYTE)buf, &size),
            (LSTATUS)ERROR_SUCCESS);
  EXPECT_STREQ(buf, "r");

  EXPECT_FALSE(SetRegistryValue(kKey, "Two\nLines", "x"));
  EXPECT_FALSE(SetRegistryValue(kKey, "a=b", "x"));
  EXPECT_FALSE(SetRegistryValue(kKey, "#x", "x"));
  EXPECT_FALSE(SetRegistryValue(kKey, "Path", "line\nbreak"));
  EXPECT_EQ(GetRegistryValue(kKey, "Path"), "Z:\\new place\\");
}

TEST_F(Registry, WriterCreatesTheFileAndItsDirectory) {
  std::filesystem::remove_all(ConfigFile(""));
  ASSERT_TRUE(SetRegistryValue(kKey, "Path", "Z:\\opt"));
  EXPECT_EQ(ReadFile(), "[Software\\Varnel\\Q\\Install]\nPath=\"Z:\\opt\"\n");
}

}  // namespace

// A private configuration directory per test: XDG_CONFIG_HOME points into a
// fresh temporary directory that is removed afterwards.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

class ConfigDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "mosalin-platform-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    setenv("XDG_CONFIG_HOME", root_.c_str(), 1);
    std::filesystem::create_directories(ConfigFile(""));
  }
  void TearDown() override { std::filesystem::remove_all(root_); }

  std::filesystem::path ConfigFile(const std::string& name) const { return root_ / "mosalin" / name; }
  void WriteConfig(const std::string& name, const std::string& content) const {
    std::ofstream(ConfigFile(name), std::ios::binary) << content;
  }
  const std::filesystem::path& Root() const { return root_; }

 private:
  std::filesystem::path root_;
};

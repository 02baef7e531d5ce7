#ifndef TESTS_FILEHANDLER_TEMPFILES_H_
#define TESTS_FILEHANDLER_TEMPFILES_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace varnel {

// A fresh folder per test for the files it writes and reads; removed with
// everything in it when the test ends.
class TempFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::filesystem::temp_directory_path() /
           (std::string("varnel-") + info->test_suite_name() + "-" + info->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  std::string Write(const std::string& name, const std::string& text) const {
    std::ofstream(Path(name), std::ios::binary) << text;
    return Path(name);
  }

  std::string Read(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  // How many files the folder holds, to see that no temporary was left.
  int FileCount() const {
    return static_cast<int>(std::distance(std::filesystem::directory_iterator(dir_),
                                          std::filesystem::directory_iterator()));
  }

 private:
  std::filesystem::path dir_;
};

}  // namespace varnel

#endif  // TESTS_FILEHANDLER_TEMPFILES_H_

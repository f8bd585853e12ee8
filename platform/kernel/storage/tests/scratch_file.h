// A per-test image path in the system's temporary folder, removed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace vh::storage::testing {

class ScratchFile {
 public:
  explicit ScratchFile(const std::string& tag) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name =
        std::string("vh-") + tag + "-" + info->test_suite_name() + "-" + info->name();
    for (auto& c : name) {
      if (c == '/') c = '_';
    }
    path_ = (std::filesystem::temp_directory_path() / (name + ".img")).string();
  }
  ~ScratchFile() {
    std::error_code ignored;  // a left-over image is only clutter
    std::filesystem::remove(path_, ignored);
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace vh::storage::testing

#pragma once
// A fresh folder per test under the system's temporary folder, removed when the test ends.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>

namespace cleavix::sampler::testkit {

class TempFolder {
public:
    explicit TempFolder(const std::string& prefix)
        : path_(std::filesystem::temp_directory_path() /
                (prefix + "-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name())) {
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

} // namespace cleavix::sampler::testkit

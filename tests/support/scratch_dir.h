// A scratch working directory for the settings-file tests: a new directory
// under the system's temporary directory, entered for the test's life, then
// left and removed, so nothing is ever written into the source tree.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace tv::test {

class ScratchDir {
 public:
  ScratchDir() {
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    std::random_device random;
    for (int attempt = 0; path_.empty(); ++attempt) {
      if (attempt == 100) throw std::runtime_error("cannot make a scratch directory");
      const std::filesystem::path candidate = base / ("tarvelin-files-" + std::to_string(random()));
      if (std::filesystem::create_directory(candidate)) path_ = candidate.string();
    }
    oldCwd_ = std::filesystem::current_path();
    std::filesystem::current_path(path_);
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::current_path(oldCwd_, ec);
    std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& Path() const { return path_; }

  static void Write(const std::string& name, const std::string& bytes) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  static std::string Read(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  static bool Exists(const std::string& name) { return std::filesystem::exists(name); }
  // Every entry of the directory, hidden ones included.
  static std::vector<std::string> Entries() {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator("."))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::string path_;
  std::filesystem::path oldCwd_;
};

}  // namespace tv::test

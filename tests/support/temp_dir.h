// A temporary folder for one test: made new and empty, removed with all it holds when the
// object goes, whatever the test left in it.
#pragma once

#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <system_error>

namespace korawin::test {

class TempDir {
 public:
  // Makes "BASE/korawin-STEM-NNNN", BASE being the system's temporary folder when empty; throws
  // std::filesystem::filesystem_error when no folder can be made there.
  explicit TempDir(std::string_view stem = "test", const std::filesystem::path& base = {}) {
    namespace fs = std::filesystem;
    fs::path root = base.empty() ? fs::temp_directory_path() : base;
    std::random_device seed;
    std::mt19937_64 random((static_cast<uint64_t>(seed()) << 32) ^ seed());
    std::error_code ec;
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string name = "korawin-";
      name += stem;
      name += '-';
      name += std::to_string(random() % 1000000000);
      fs::path p = root / name;
      if (fs::create_directory(p, ec)) {
        path_ = p.string();
        return;
      }
      if (ec) break;  // not a name taken by another folder: trying others will not help
    }
    throw fs::filesystem_error("cannot make a temporary folder", root,
                               ec ? ec : std::make_error_code(std::errc::file_exists));
  }
  ~TempDir() {
    std::error_code ec;  // a folder already gone, or half removed, is no failure of the test
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder's path, without a trailing slash.
  const std::string& path() const { return path_; }
  // The path of name inside the folder.
  std::string File(std::string_view name) const {
    std::string p = path_;
    p += '/';
    p += name;
    return p;
  }

 private:
  std::string path_;
};

}  // namespace korawin::test

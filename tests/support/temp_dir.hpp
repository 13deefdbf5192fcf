#pragma once

#include "util/bytes.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tolvane::test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
  public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tolvane-test-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("cannot create a temporary folder");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& relative) const {
        return path_ / relative;
    }

  private:
    std::filesystem::path path_;
};

// Writes a file, creating its folders.
inline void writeFile(const std::filesystem::path& path, std::string_view contents) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::string toString(const Bytes& bytes) {
    return {bytes.begin(), bytes.end()};
}

// Points XDG_DATA_HOME, where runs are recorded, at a fresh temporary folder while it lives,
// so that no test ever records into the real home.
class ScopedJournalHome {
  public:
    ScopedJournalHome() {
        if (const char* old = std::getenv("XDG_DATA_HOME"))
            old_ = old;
        ::setenv("XDG_DATA_HOME", dir_.path().c_str(), 1);
    }
    ~ScopedJournalHome() {
        old_ ? ::setenv("XDG_DATA_HOME", old_->c_str(), 1) : ::unsetenv("XDG_DATA_HOME");
    }
    ScopedJournalHome(const ScopedJournalHome&) = delete;
    ScopedJournalHome& operator=(const ScopedJournalHome&) = delete;

    const std::filesystem::path& path() const { return dir_.path(); }
    std::string setting() const { return "XDG_DATA_HOME=" + dir_.path().string(); }

  private:
    TempDir dir_;
    std::optional<std::string> old_;
};

} // namespace tolvane::test

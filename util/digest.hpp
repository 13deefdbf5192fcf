#pragma once

#include "util/bytes.hpp"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

struct evp_md_ctx_st; // OpenSSL's EVP_MD_CTX

namespace tolvane {

// An MD5 computation fed in pieces. A copy goes on independently from the same state, so
// files that agree up to a point can share the digest of their common start.
class Md5Hasher {
  public:
    Md5Hasher();
    Md5Hasher(const Md5Hasher& other);
    Md5Hasher& operator=(const Md5Hasher& other);
    Md5Hasher(Md5Hasher&&) noexcept = default;
    Md5Hasher& operator=(Md5Hasher&&) noexcept = default;
    ~Md5Hasher() = default;

    void reset();
    void update(ByteView data);
    // 32 lowercase hexadecimal digits; the hasher must be reset before further use.
    std::string finish();

  private:
    struct Free {
        void operator()(evp_md_ctx_st* ctx) const;
    };
    std::unique_ptr<evp_md_ctx_st, Free> ctx_;
};

// MD5 of every byte as 32 lowercase hexadecimal digits.
std::string md5(ByteView data);
inline std::string md5(std::string_view text) {
    return md5(asBytes(text));
}

// MD5 of a regular file's contents, read in chunks so memory stays flat for any size.
// Absent for a missing file, a folder, or a file that cannot be read to its end.
std::optional<std::string> MD5(const std::filesystem::path& path);

// As MD5(), and also counts the bytes read into *bytesRead (for progress display).
std::optional<std::string> MD5(const std::filesystem::path& path, std::uint64_t* bytesRead);

} // namespace tolvane

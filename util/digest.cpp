#include "util/digest.hpp"
#include "util/file_chunks.hpp"

#include <array>
#include <memory>
#include <openssl/evp.h>
#include <stdexcept>

namespace tolvane {

namespace {

struct MdCtxDeleter {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxDeleter>;

std::string toHex(const unsigned char* digest, unsigned int length) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string hex(2 * length, '0');
    for (unsigned int i = 0; i < length; ++i) {
        hex[2 * i] = digits[digest[i] >> 4];
        hex[2 * i + 1] = digits[digest[i] & 0x0f];
    }
    return hex;
}

// One MD5 context per thread, fetched once: EVP_MD_fetch per call is costly.
class Md5 {
  public:
    Md5() : ctx_(EVP_MD_CTX_new()) {
        if (!ctx_)
            throw std::bad_alloc();
    }
    void begin() {
        if (EVP_DigestInit_ex(ctx_.get(), EVP_md5(), nullptr) != 1)
            throw std::runtime_error("MD5 unavailable");
    }
    void update(ByteView data) { EVP_DigestUpdate(ctx_.get(), data.data(), data.size()); }
    std::string finish() {
        std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
        unsigned int length = 0;
        EVP_DigestFinal_ex(ctx_.get(), digest.data(), &length);
        return toHex(digest.data(), length);
    }

  private:
    MdCtx ctx_;
};

Md5& threadMd5() {
    thread_local Md5 md5;
    return md5;
}

} // namespace

std::string md5(ByteView data) {
    Md5& hasher = threadMd5();
    hasher.begin();
    hasher.update(data);
    return hasher.finish();
}

std::optional<std::string> MD5(const std::filesystem::path& path, std::uint64_t* bytesRead) {
    try {
        Md5& hasher = threadMd5();
        hasher.begin();
        const std::error_code failure = forEachChunk(path, [&](ByteView chunk) {
            hasher.update(chunk);
            if (bytesRead)
                *bytesRead += chunk.size();
            return true;
        });
        if (failure)
            return std::nullopt;
        return hasher.finish();
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<std::string> MD5(const std::filesystem::path& path) { return MD5(path, nullptr); }

} // namespace tolvane

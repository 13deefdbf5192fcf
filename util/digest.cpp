#include "util/digest.hpp"
#include "util/file_chunks.hpp"

#include <array>
#include <openssl/evp.h>
#include <stdexcept>

namespace tolvane {

namespace {

std::string toHex(const unsigned char* digest, unsigned int length) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string hex(2 * length, '0');
    for (unsigned int i = 0; i < length; ++i) {
        hex[2 * i] = digits[digest[i] >> 4];
        hex[2 * i + 1] = digits[digest[i] & 0x0f];
    }
    return hex;
}

// One hasher per thread: creating an EVP context per call is costly.
Md5Hasher& threadMd5() {
    thread_local Md5Hasher md5;
    md5.reset();
    return md5;
}

} // namespace

void Md5Hasher::Free::operator()(evp_md_ctx_st* ctx) const {
    EVP_MD_CTX_free(ctx);
}

Md5Hasher::Md5Hasher() : ctx_(EVP_MD_CTX_new()) {
    if (!ctx_)
        throw std::bad_alloc();
    reset();
}

Md5Hasher::Md5Hasher(const Md5Hasher& other) : ctx_(EVP_MD_CTX_new()) {
    if (!ctx_ || EVP_MD_CTX_copy_ex(ctx_.get(), other.ctx_.get()) != 1)
        throw std::runtime_error("MD5 unavailable");
}

Md5Hasher& Md5Hasher::operator=(const Md5Hasher& other) {
    if (this != &other && EVP_MD_CTX_copy_ex(ctx_.get(), other.ctx_.get()) != 1)
        throw std::runtime_error("MD5 unavailable");
    return *this;
}

void Md5Hasher::reset() {
    if (EVP_DigestInit_ex(ctx_.get(), EVP_md5(), nullptr) != 1)
        throw std::runtime_error("MD5 unavailable");
}

void Md5Hasher::update(ByteView data) {
    EVP_DigestUpdate(ctx_.get(), data.data(), data.size());
}

std::string Md5Hasher::finish() {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    EVP_DigestFinal_ex(ctx_.get(), digest.data(), &length);
    return toHex(digest.data(), length);
}

std::string md5(ByteView data) {
    Md5Hasher& hasher = threadMd5();
    hasher.update(data);
    return hasher.finish();
}

std::optional<std::string> MD5(const std::filesystem::path& path, std::uint64_t* bytesRead) {
    try {
        Md5Hasher& hasher = threadMd5();
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

std::optional<std::string> MD5(const std::filesystem::path& path) {
    return MD5(path, nullptr);
}

} // namespace tolvane

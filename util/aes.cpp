#include "util/aes.hpp"
#include "util/file_chunks.hpp"
#include "util/file_io.hpp"

#include <algorithm>
#include <array>
#include <memory>
#include <openssl/evp.h>

namespace tolvane {

namespace {

constexpr std::size_t keySize = 32;
constexpr std::size_t blockSize = 16;

struct CipherCtxDeleter {
    void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};

// The passphrase's UTF-8 bytes, zero-padded to 32; a longer one keeps its first 32 bytes.
std::array<unsigned char, keySize> keyFor(std::string_view passphrase) {
    std::array<unsigned char, keySize> key{};
    std::copy_n(passphrase.begin(), std::min(passphrase.size(), keySize), key.begin());
    return key;
}

enum class Direction { Encrypt = 1, Decrypt = 0 };

// One AES-256-CBC pass, fed in pieces; finish() checks the padding when decrypting.
class Cipher {
  public:
    Cipher(Direction direction, std::string_view passphrase) : ctx_(EVP_CIPHER_CTX_new()) {
        const auto key = keyFor(passphrase);
        const std::array<unsigned char, blockSize> iv{};
        ok_ = ctx_ && EVP_CipherInit_ex(ctx_.get(), EVP_aes_256_cbc(), nullptr, key.data(),
                                        iv.data(), static_cast<int>(direction)) == 1;
    }

    bool ok() const { return ok_; }

    // Appends the output of `in` to `out`.
    bool update(ByteView in, Bytes& out) {
        if (!ok_)
            return false;
        const std::size_t start = out.size();
        out.resize(start + in.size() + blockSize);
        int produced = 0;
        ok_ = EVP_CipherUpdate(ctx_.get(), out.data() + start, &produced, in.data(),
                               static_cast<int>(in.size())) == 1;
        out.resize(start + (ok_ ? static_cast<std::size_t>(produced) : 0));
        return ok_;
    }

    bool finish(Bytes& out) {
        if (!ok_)
            return false;
        const std::size_t start = out.size();
        out.resize(start + blockSize);
        int produced = 0;
        ok_ = EVP_CipherFinal_ex(ctx_.get(), out.data() + start, &produced) == 1;
        out.resize(start + (ok_ ? static_cast<std::size_t>(produced) : 0));
        return ok_;
    }

  private:
    std::unique_ptr<EVP_CIPHER_CTX, CipherCtxDeleter> ctx_;
    bool ok_ = false;
};

std::optional<Bytes> cipherBuffer(Direction direction, ByteView input,
                                  std::string_view passphrase) {
    Cipher cipher(direction, passphrase);
    Bytes out;
    out.reserve(input.size() + blockSize);
    // EVP takes int lengths: feed large buffers in pieces.
    constexpr std::size_t piece = 1 << 30;
    for (std::size_t offset = 0; offset < input.size(); offset += piece) {
        if (!cipher.update(input.subspan(offset, std::min(piece, input.size() - offset)), out))
            return std::nullopt;
    }
    if (!cipher.finish(out))
        return std::nullopt;
    return out;
}

bool cipherFile(Direction direction, const std::filesystem::path& source,
                const std::filesystem::path& destination, std::string_view passphrase) {
    Cipher cipher(direction, passphrase);
    if (!cipher.ok())
        return false;
    AtomicFileWriter writer(destination);
    Bytes out;
    const std::error_code readFailure = forEachChunk(source, [&](ByteView chunk) {
        out.clear();
        return cipher.update(chunk, out) && writer.write(out);
    });
    if (readFailure)
        return false; // the writer's destructor removes the temporary file
    out.clear();
    if (!cipher.finish(out) || !writer.write(out))
        return false;
    return writer.commit();
}

} // namespace

std::optional<Bytes> AES256EncryptWithKey(ByteView plain, std::string_view passphrase) {
    return cipherBuffer(Direction::Encrypt, plain, passphrase);
}

std::optional<Bytes> AES256DecryptWithKey(ByteView cipher, std::string_view passphrase) {
    return cipherBuffer(Direction::Decrypt, cipher, passphrase);
}

bool AESEncryptFile(const std::filesystem::path& source, const std::filesystem::path& destination,
                    std::string_view passphrase) {
    return cipherFile(Direction::Encrypt, source, destination, passphrase);
}

bool AESDecryptFile(const std::filesystem::path& source, const std::filesystem::path& destination,
                    std::string_view passphrase) {
    return cipherFile(Direction::Decrypt, source, destination, passphrase);
}

std::optional<Bytes> AESDecryptFile(const std::filesystem::path& source,
                                    std::string_view passphrase) {
    const std::optional<Bytes> contents = readWholeFile(source);
    if (!contents)
        return std::nullopt;
    return AES256DecryptWithKey(*contents, passphrase);
}

} // namespace tolvane

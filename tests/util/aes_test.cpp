#include "support/temp_dir.hpp"
#include "util/aes.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>

namespace tolvane {
namespace {

using test::readFile;
using test::TempDir;
using test::toString;
using test::writeFile;

std::string hex(const Bytes& bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    for (const unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

// Vectors written by `openssl enc -aes-256-cbc -K <key> -iv 0` with the key made from the
// passphrase as documented (UTF-8 bytes, first 32, zero-padded).
TEST(Aes, MatchesOpensslEncVectors) {
    struct Vector {
        std::string plain, passphrase, cipherHex;
    };
    const Vector vectors[] = {
        {"", "", "1f788fe6d86c317549697fbf0c07fa43"},
        {"Tolvane", "", "24be9f4936582ddc39404e37169dbf8c"},
        {"0123456789abcdef", "secret",
         "04dc430e4845bd4a9ddede73248dab158ea0aca02c86999fb1c2ceeb8325883b"},
        {"hello", "0123456789abcdef0123456789ABCDEF", "c7a117314c7a68412b3db9b12fa5902d"},
        // Longer than 32 bytes: only the first 32 count, so this equals the line above.
        {"hello", "0123456789abcdef0123456789ABCDEFtrailing", "c7a117314c7a68412b3db9b12fa5902d"},
        {"hello", "Grüße, Åsa", "d8750e64ac627cbebd5059e5c035dacb"},
    };
    for (const auto& v : vectors) {
        const auto cipher = AES256EncryptWithKey(asBytes(v.plain), v.passphrase);
        ASSERT_TRUE(cipher) << v.passphrase;
        EXPECT_EQ(hex(*cipher), v.cipherHex) << v.passphrase;
        const auto plain = AES256DecryptWithKey(*cipher, v.passphrase);
        ASSERT_TRUE(plain);
        EXPECT_EQ(toString(*plain), v.plain);
    }
}

TEST(Aes, LengthsDeterminismAndSharedPrefixBlocks) {
    for (const auto& [in, out] : {std::pair{0u, 16u}, {15u, 16u}, {16u, 32u}, {17u, 32u}}) {
        const auto cipher = AES256EncryptWithKey(asBytes(std::string(in, 'x')), "k");
        ASSERT_TRUE(cipher);
        EXPECT_EQ(cipher->size(), out) << in;
    }
    const std::string a = std::string(32, 'A') + "tail one";
    const std::string b = std::string(32, 'A') + "other tail";
    const auto ca = AES256EncryptWithKey(asBytes(a), "pass");
    const auto cb = AES256EncryptWithKey(asBytes(b), "pass");
    ASSERT_TRUE(ca && cb);
    EXPECT_EQ(*ca, *AES256EncryptWithKey(asBytes(a), "pass"));
    EXPECT_TRUE(std::equal(ca->begin(), ca->begin() + 32, cb->begin()));
    EXPECT_FALSE(std::equal(ca->begin() + 32, ca->begin() + 48, cb->begin() + 32));
}

TEST(Aes, DecryptRejectsPartialBlocksAndMostWrongKeys) {
    const auto cipher = AES256EncryptWithKey(asBytes(std::string(100, 'z')), "right");
    ASSERT_TRUE(cipher);
    Bytes truncated(cipher->begin(), cipher->end() - 1);
    EXPECT_FALSE(AES256DecryptWithKey(truncated, "right"));
    EXPECT_FALSE(AES256DecryptWithKey(Bytes{}, "right"));
    // No integrity check exists, only the padding of the last block: a wrong key gives no
    // result most of the time, other bytes about once in 256 (about 16 of these 4096 keys;
    // the inputs are fixed, so the count is too).
    constexpr std::size_t tries = 4096;
    std::size_t taken = 0;
    for (std::size_t i = 0; i < tries; ++i) {
        const auto wrong = AES256DecryptWithKey(*cipher, "wrong " + std::to_string(i));
        if (!wrong)
            continue;
        ++taken;
        EXPECT_NE(toString(*wrong), std::string(100, 'z')) << i;
        EXPECT_LT(wrong->size(), cipher->size()) << i;
    }
    EXPECT_GT(taken, 0u);
    EXPECT_LT(taken, tries / 64);
}

TEST(AesFile, RoundTripThroughFiles) {
    TempDir dir;
    std::string data(1024 * 1024 + 7, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 31 + (i >> 9));
    writeFile(dir / "plain.bin", data);
    ASSERT_TRUE(AESEncryptFile(dir / "plain.bin", dir / "cipher.bin", "Grüße"));
    const std::string cipher = readFile(dir / "cipher.bin");
    EXPECT_EQ(cipher, toString(*AES256EncryptWithKey(asBytes(data), "Grüße")));
    ASSERT_TRUE(AESDecryptFile(dir / "cipher.bin", dir / "back.bin", "Grüße"));
    EXPECT_EQ(readFile(dir / "back.bin"), data);
    const auto inMemory = AESDecryptFile(dir / "cipher.bin", "Grüße");
    ASSERT_TRUE(inMemory);
    EXPECT_EQ(toString(*inMemory), data);
}

TEST(AesFile, FailuresReportFalseAndLeaveDestinationAlone) {
    TempDir dir;
    writeFile(dir / "dest.bin", "precious");
    writeFile(dir / "plain.txt", "some plain text");
    ASSERT_TRUE(AESEncryptFile(dir / "plain.txt", dir / "cipher.bin", "right"));
    std::string truncated = readFile(dir / "cipher.bin");
    truncated.pop_back();
    writeFile(dir / "truncated.bin", truncated);

    EXPECT_FALSE(AESEncryptFile(dir / "missing", dir / "dest.bin", "k"));
    EXPECT_FALSE(AESEncryptFile(dir.path(), dir / "dest.bin", "k")); // a folder is no source
    EXPECT_FALSE(AESDecryptFile(dir / "truncated.bin", dir / "dest.bin", "right"));
    EXPECT_FALSE(AESDecryptFile(dir / "plain.txt", dir / "dest.bin", "right"));
    EXPECT_EQ(readFile(dir / "dest.bin"), "precious");
    // The write fails: the destination's folder does not exist.
    EXPECT_FALSE(AESEncryptFile(dir / "plain.txt", dir / "no" / "dest.bin", "k"));
    EXPECT_FALSE(std::filesystem::exists(dir / "no"));
    EXPECT_FALSE(AESDecryptFile(dir / "missing", "k"));

    // Nothing but the files written above is left in the folder: no temporary files.
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path()))
        ++entries;
    EXPECT_EQ(entries, 4u);
}

} // namespace
} // namespace tolvane

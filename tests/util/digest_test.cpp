#include "support/temp_dir.hpp"
#include "util/digest.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <utility>

namespace tolvane {
namespace {

using test::TempDir;
using test::writeFile;

// The test suite of RFC 1321, appendix A.5.
const std::pair<std::string, std::string> rfc1321[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
     "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"1234567890123456789012345678901234567890"
     "1234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
};

TEST(Digest, MatchesRfc1321ForBuffersAndFiles) {
    TempDir dir;
    int i = 0;
    for (const auto& [message, expected] : rfc1321) {
        EXPECT_EQ(md5(message), expected) << '"' << message << '"';
        const auto file = dir / ("m" + std::to_string(i++));
        writeFile(file, message);
        EXPECT_EQ(MD5(file), expected) << '"' << message << '"';
    }
}

TEST(Digest, KeepsLeadingZerosAndLowercase) {
    // The digest of "jk8ssl" begins with a zero byte: every byte must still give two digits.
    const std::string digest = md5(std::string("jk8ssl"));
    EXPECT_EQ(digest, "0000000018e6137ac2caab16074784a6");
    EXPECT_EQ(digest.find_first_not_of("0123456789abcdef"), std::string::npos);
}

TEST(Digest, FileReadInChunksEqualsWholeBuffer) {
    TempDir dir;
    // Longer than one read chunk, and not a multiple of it.
    std::string data(1024 * 1024 + 12345, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>((i * 2654435761u) >> 13);
    writeFile(dir / "big.bin", data);
    std::uint64_t counted = 0;
    EXPECT_EQ(MD5(dir / "big.bin", &counted), md5(data));
    EXPECT_EQ(counted, data.size());
}

TEST(Digest, AbsentForFolderMissingAndNonRegularFiles) {
    TempDir dir;
    EXPECT_FALSE(MD5(dir.path()).has_value());
    EXPECT_FALSE(MD5(dir / "missing.png").has_value());
    const auto fifo = dir / "pipe.png";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(MD5(fifo).has_value()); // and does not hang waiting for a writer
}

TEST(Digest, SameBytesSameDigestWhateverTheName) {
    TempDir dir;
    writeFile(dir / "a" / "logo.png", "same bytes");
    writeFile(dir / "b" / "other name.PNG", "same bytes");
    writeFile(dir / "c" / "logo.png", "same byteZ");
    EXPECT_EQ(MD5(dir / "a" / "logo.png"), MD5(dir / "b" / "other name.PNG"));
    EXPECT_NE(MD5(dir / "a" / "logo.png"), MD5(dir / "c" / "logo.png"));
}

} // namespace
} // namespace tolvane

// Known answers for the digest and the cipher, the text rules every later stage relies on, and
// the writes that replace a file only when the new bytes are whole.
#include "support/temp_dir.hpp"
#include "util/aes.hpp"
#include "util/digest.hpp"
#include "util/file_io.hpp"
#include "util/log_line.hpp"
#include "util/text.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <optional>
#include <string>

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using test::readFile;
using test::TempDir;
using test::toString;
using test::writeFile;

std::string hex(const Bytes& bytes) {
    std::string out;
    for (const unsigned char b : bytes)
        out += "0123456789abcdef"[b >> 4], out += "0123456789abcdef"[b & 15];
    return out;
}

std::size_t entriesIn(const fs::path& folder) {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

TEST(Digest, KnownAnswersForBuffersAndFiles) {
    // RFC 1321, appendix A.5, and a digest that starts with zero bytes.
    const std::pair<std::string, std::string> answers[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"1234567890123456789012345678901234567890"
         "1234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
        {std::string(8, '\0') + "1234567890", "f143166d0670f7e3315253074a252fc6"},
        {"jk8ssl", "0000000018e6137ac2caab16074784a6"},
    };
    TempDir dir;
    for (const auto& [message, expected] : answers) {
        EXPECT_EQ(md5(message), expected) << message;
        writeFile(dir / "m", message);
        EXPECT_EQ(MD5(dir / "m"), expected) << message;
    }
    // Longer than one read, and no multiple of it: the file is read in pieces, counted.
    std::string big(1024 * 1024 + 12345, '\0');
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>((i * 2654435761u) >> 13);
    writeFile(dir / "big", big);
    std::uint64_t counted = 0;
    EXPECT_EQ(MD5(dir / "big", &counted), md5(big));
    EXPECT_EQ(counted, big.size());
    // No digest for a folder, a missing file or a FIFO (which must not hang the reader).
    ASSERT_EQ(::mkfifo((dir / "pipe.png").c_str(), 0600), 0);
    for (const fs::path& none : {dir.path(), dir / "missing", dir / "pipe.png"})
        EXPECT_FALSE(MD5(none)) << none;
}

// Vectors written by `openssl enc -aes-256-cbc -K <key> -iv 0`, the key being the
// passphrase's UTF-8 bytes, the first 32 of them, padded with zeros.
TEST(Aes, KnownAnswersRoundTripsAndRefusals) {
    const struct {
        std::string plain, passphrase, cipher;
    } vectors[] = {
        {"", "", "1f788fe6d86c317549697fbf0c07fa43"},
        {"Tolvane", "", "24be9f4936582ddc39404e37169dbf8c"},
        {"0123456789abcdef", "secret",
         "04dc430e4845bd4a9ddede73248dab158ea0aca02c86999fb1c2ceeb8325883b"},
        {"hello", "0123456789abcdef0123456789ABCDEF", "c7a117314c7a68412b3db9b12fa5902d"},
        {"hello", "0123456789abcdef0123456789ABCDEFtrailing", "c7a117314c7a68412b3db9b12fa5902d"},
        {"hello", "Grüße, Åsa", "d8750e64ac627cbebd5059e5c035dacb"},
    };
    for (const auto& v : vectors) {
        const Bytes cipher = AES256EncryptWithKey(asBytes(v.plain), v.passphrase).value_or(Bytes{});
        EXPECT_EQ(hex(cipher), v.cipher) << v.passphrase;
        EXPECT_EQ(AES256DecryptWithKey(cipher, v.passphrase),
                  Bytes(v.plain.begin(), v.plain.end()));
    }
    const auto cipher = AES256EncryptWithKey(asBytes(std::string(100, 'z')), "right");
    ASSERT_TRUE(cipher);
    EXPECT_FALSE(AES256DecryptWithKey(Bytes(cipher->begin(), cipher->end() - 1), "right"));
    EXPECT_FALSE(AES256DecryptWithKey(Bytes{}, "right"));
    // Only the padding of the last block is checked: a wrong key is refused most of the time
    // and gives other bytes about once in 256, never the plain text.
    std::size_t taken = 0;
    for (int i = 0; i < 4096; ++i) {
        if (const auto wrong = AES256DecryptWithKey(*cipher, "wrong " + std::to_string(i))) {
            ++taken;
            EXPECT_NE(toString(*wrong), std::string(100, 'z')) << i;
        }
    }
    EXPECT_GT(taken, 0u);
    EXPECT_LT(taken, 64u);
}

TEST(AtomicWrite, ReplacesWholeKeepsModeAndLeavesNothingOnFailure) {
    TempDir dir;
    const auto page = dir / "page.html";
    writeFile(page, "old contents, longer than the new ones");
    ASSERT_EQ(::chmod(page.c_str(), 0640), 0);
    EXPECT_FALSE(writeFileAtomically(page, asBytes("new")));
    EXPECT_EQ(readFile(page), "new");
    EXPECT_EQ(fs::status(page).permissions(), static_cast<fs::perms>(0640));
    // A non-empty folder in the way, a missing folder: refused, nothing left behind.
    writeFile(dir / "taken/inside", "x");
    EXPECT_TRUE(writeFileAtomically(dir / "taken", asBytes("new")));
    EXPECT_TRUE(writeFileAtomically(dir / "missing/file", asBytes("new")));
    EXPECT_TRUE(fs::is_directory(dir / "taken"));
    EXPECT_EQ(entriesIn(dir.path()), 2u);
    {
        AtomicFileWriter writer(page);
        ASSERT_TRUE(writer.write(asBytes("half of the new")));
        EXPECT_TRUE(isWriterTemporaryName(writer.temporary().filename().string()));
        EXPECT_EQ(entriesIn(dir.path()), 3u);
    } // never committed
    EXPECT_EQ(readFile(page), "new");
    EXPECT_EQ(entriesIn(dir.path()), 2u);

    std::error_code error;
    EXPECT_EQ(toString(readWholeFile(page, &error).value_or(Bytes{})), "new");
    EXPECT_FALSE(readWholeFile(dir.path(), &error));
    EXPECT_EQ(error, std::make_error_code(std::errc::is_a_directory));
    EXPECT_FALSE(readWholeFile(dir / "none", &error));
    EXPECT_EQ(error, std::make_error_code(std::errc::no_such_file_or_directory));
}

TEST(Text, LogLinesShowEveryControlCharacterEscaped) {
    const std::pair<std::string, std::string> rows[] = {
        {"Removing duplicate file: a.png from /s", "Removing duplicate file: a.png from /s"},
        {"two\nlines", "two\\nlines"},
        {"a\r\nb", "a\\r\\nb"},
        {"tab\tstays, \\n as typed", "tab\tstays, \\n as typed"},
        {"bell\a esc\x1b[31m del\x7f", "bell\\x07 esc\\x1b[31m del\\x7f"},
        {"nul\0end"s, "nul\\x00end"},
        {"caf\xC3\xA9 stray \xE9", "caf\xC3\xA9 stray \xE9"},
    };
    for (const auto& [line, shown] : rows)
        EXPECT_EQ(printableLogLine(line), shown) << line;
    for (int value = 0; value < 256; ++value) {
        const char byte = static_cast<char>(value);
        const bool kept = value == '\t' || (value >= 0x20 && value != 0x7f);
        const std::size_t size = kept ? 3 : value == '\n' || value == '\r' ? 4 : 6;
        EXPECT_EQ(printableLogLine("x"s + byte + "y").size(), size) << value;
    }
}

TEST(Text, Utf8WideTextAndTheDecodingOfReferences) {
    for (const std::string& good :
         {""s, "\357\273\277caf\303\251 \342\200\231 \360\237\230\200"s, "a\0b"s})
        EXPECT_TRUE(isUtf8(good)) << good;
    for (const char* bad : {"caf\xE9", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80",
                            "\xF4\x90\x80\x80", "\xE2\x80", "\x80"})
        EXPECT_FALSE(isUtf8(bad)) << bad;
    const std::string mixed = "a\xC3\xA9\xE2\x80\x99\xF0\x9F\x98\x80\xFF";
    for (const auto& [at, length] : {std::pair{0, 1}, {1, 2}, {3, 3}, {6, 4}, {10, 0}})
        EXPECT_EQ(utf8SequenceLength(mixed, at), std::size_t(length)) << at;

    // UTF-16 and UTF-32, by their mark or by where the NULs stand, are never taken for UTF-8.
    const std::pair<std::string, std::optional<std::string>> wide[] = {
        {"\377\376a\0.\0"s, "a."},
        {"\376\377\0a\0."s, "a."},
        {"\377\376\0\0a\0\0\0"s, "a"},
        {"\0\0\376\377\0\0\0a"s, "a"},
        {"\377\376=\330\0\336"s, "\360\237\230\200"},      // a pair
        {"\377\376\0\336a\0"s, "\357\277\275a"},           // a lone one
        {"\377\376\0\330a\0\377\333\0\334\377\337\0\340"s, // each end
         "\357\277\275a\364\217\260\200\357\277\275\356\200\200"},
        {"a\0.\0p\0"s, "a.p"},
        {"\0a\0.\0p"s, "a.p"},
        {"a\0\0b"s, "ab"},
        {"plain <img src=\"a.png\">", std::nullopt},
    };
    for (const auto& [bytes, text] : wide) {
        EXPECT_EQ(wideTextAsUtf8(bytes), text) << testing::PrintToString(bytes);
        EXPECT_EQ(isUtf8Text(bytes), !text) << testing::PrintToString(bytes);
    }

    const std::tuple<std::string, std::string, std::size_t> references[] = {
        {"&amp;rest", "&", 5},
        {"&#32;", " ", 5},
        {"&#x20;", " ", 6},
        {"&#X4a;", "J", 6},
        {"&rsquo;s", "\xE2\x80\x99", 7},
        {"&eacute;", "\xC3\xA9", 8},
        {"&#128512;", "\xF0\x9F\x98\x80", 9},
    };
    for (const auto& [text, bytes, length] : references)
        EXPECT_EQ(decodeCharacterReference(text), std::pair(bytes, length)) << text;
    for (const char* bad :
         {"&amp", "&nosuchname;", "&#;", "&#0;", "&#xD800;", "&#x110000;", "& amp;", "amp;"})
        EXPECT_FALSE(decodeCharacterReference(bad)) << bad;

    for (int c = 0; c < 256; ++c) {
        const int expected = c >= '0' && c <= '9'   ? c - '0'
                             : c >= 'a' && c <= 'f' ? c - 'a' + 10
                             : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                    : -1;
        EXPECT_EQ(hexValue(static_cast<char>(c)), expected) << c;
    }
    EXPECT_EQ(percentDecode("%aA%Ff%09a%20b%2fc%E2%80%99"), "\xAA\xFF\ta b/c\xE2\x80\x99"s);
    for (const char* bad : {"%2z", "%z2", "%g0", "x%", "%%41", "50%", "a%2"})
        EXPECT_FALSE(percentDecode(bad)) << bad;
    EXPECT_EQ(lenientPercentDecode("50% a%2 logo%2Epng %zz%41%"), "50% a%2 logo.png %zzA%");
}

} // namespace
} // namespace tolvane

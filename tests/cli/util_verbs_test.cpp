#include "support/process.hpp"
#include "support/temp_dir.hpp"
#include "util/aes.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace tolvane {
namespace {

using test::ProcessResult;
using test::readFile;
using test::runProcess;
using test::TempDir;
using test::writeFile;

const std::string cli = TOLVANE_CLI;

// setsid detaches from any controlling terminal, so the passphrase can only come from the
// environment, as in CI.
ProcessResult tolvane(const TempDir& dir, std::vector<std::string> args,
                      std::vector<std::string> env = {}) {
    args.insert(args.begin(), {"setsid", "-w", cli});
    return runProcess(dir.path(), args, env);
}

ProcessResult shell(const TempDir& dir, const std::string& command) {
    return runProcess(dir.path(), {"sh", "-c", command});
}

std::string keyHex(const std::string& passphrase) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string key = passphrase.substr(0, 32);
    key.resize(32, '\0');
    std::string hex;
    for (const unsigned char b : key) {
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    return hex;
}

TEST(Md5Verb, AgreesWithMd5sum) {
    TempDir dir;
    const std::vector<std::string> messages = {
        "",
        "a",
        "abc",
        "message digest",
        "abcdefghijklmnopqrstuvwxyz",
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
        "12345678901234567890123456789012345678901234567890123456789012345678901234567890",
        "jk8ssl", // its digest starts with zero bytes
    };
    std::vector<std::string> args = {"md5"};
    std::string md5sum = "cd " + test::shellQuote(dir.path().string()) + " && md5sum";
    for (std::size_t i = 0; i < messages.size(); ++i) {
        const std::string name = "m" + std::to_string(i);
        writeFile(dir / name, messages[i]);
        args.push_back(name);
        md5sum += " " + name;
    }
    // Names that md5sum escapes.
    writeFile(dir / "back\\slash.png", "x");
    writeFile(dir / "new\nline.png", "y");
    args.insert(args.end(), {"back\\slash.png", "new\nline.png"});
    md5sum += " 'back\\slash.png' 'new\nline.png'";
    // A sparse file of 1 GiB.
    ASSERT_EQ(shell(dir, "truncate -s 1G " + (dir / "sparse").string()).exitCode, 0);
    args.push_back("sparse");
    md5sum += " sparse";

    const ProcessResult expected = shell(dir, md5sum);
    ASSERT_EQ(expected.exitCode, 0) << expected.err;
    // Run from the folder so both print the same relative names.
    std::string ours =
        "cd " + test::shellQuote(dir.path().string()) + " && " + test::shellQuote(cli) + " md5";
    for (std::size_t i = 1; i < args.size(); ++i)
        ours += " " + test::shellQuote(args[i]);
    const ProcessResult actual = shell(dir, ours);
    EXPECT_EQ(actual.exitCode, 0) << actual.err;
    EXPECT_EQ(actual.out, expected.out);
    EXPECT_EQ(actual.err, "");
}

TEST(Md5Verb, ReportsUnreadableFilesAndGoesOn) {
    TempDir dir;
    writeFile(dir / "ok.png", "abc");
    const ProcessResult r = tolvane(dir, {"md5", (dir / "missing.png").string(),
                                          dir.path().string(), (dir / "ok.png").string()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "900150983cd24fb0d6963f7d28e17f72  " + (dir / "ok.png").string() + "\n");
    EXPECT_NE(r.err.find("missing.png"), std::string::npos);
    EXPECT_NE(r.err.find(dir.path().string() + ":"), std::string::npos);
}

TEST(CryptVerbs, EncryptEqualsOpensslAndDecryptGivesInputBack) {
    TempDir dir;
    const std::vector<std::string> passphrases = {
        "", "0123456789abcdef0123456789abcdef",     // exactly 32 bytes
        "0123456789abcdef0123456789abcdef01234567", // 40 bytes: the first 32 count
        "Grüße aus Åre, 東京",                      // non-ASCII
    };
    for (const std::size_t size : {0u, 15u, 16u, 17u, 1024u * 1024u}) {
        std::string data(size, '\0');
        for (std::size_t i = 0; i < size; ++i)
            data[i] = static_cast<char>((i * 7919) >> 3);
        const auto plain = dir / ("plain" + std::to_string(size));
        writeFile(plain, data);
        for (std::size_t p = 0; p < passphrases.size(); ++p) {
            const std::string label = std::to_string(size) + "/" + std::to_string(p);
            const auto ours = dir / "ours";
            const ProcessResult enc = tolvane(dir, {"encrypt", plain.string(), ours.string()},
                                              {"TOLVANE_PASSPHRASE=" + passphrases[p]});
            ASSERT_EQ(enc.exitCode, 0) << label << enc.err;
            const auto theirs = dir / "theirs";
            const ProcessResult ref = runProcess(
                dir.path(), {"openssl", "enc", "-aes-256-cbc", "-K", keyHex(passphrases[p]), "-iv",
                             "00000000000000000000000000000000", "-in", plain.string(), "-out",
                             theirs.string()});
            ASSERT_EQ(ref.exitCode, 0) << ref.err;
            EXPECT_EQ(readFile(ours), readFile(theirs)) << label;

            const auto back = dir / "back";
            const ProcessResult dec = tolvane(dir, {"decrypt", ours.string(), back.string()},
                                              {"TOLVANE_PASSPHRASE=" + passphrases[p]});
            ASSERT_EQ(dec.exitCode, 0) << label << dec.err;
            EXPECT_EQ(readFile(back), data) << label;
        }
    }
}

TEST(CryptVerbs, WrongPassphraseOrDamagedInputFailsCleanly) {
    TempDir dir;
    writeFile(dir / "plain", std::string(100, 'p'));
    ASSERT_EQ(tolvane(dir, {"encrypt", (dir / "plain").string(), (dir / "cipher").string()},
                      {"TOLVANE_PASSPHRASE=right"})
                  .exitCode,
              0);
    std::string truncated = readFile(dir / "cipher");
    truncated.resize(truncated.size() - 5);
    writeFile(dir / "truncated", truncated);
    writeFile(dir / "existing", "keep me");

    // Encryption is deterministic (a zero IV, the key from the passphrase), so this wrong
    // passphrase fails the padding check of this input every time; not every one would.
    for (const auto& [input, passphrase] :
         {std::pair{"cipher", "wrong passphrase"}, {"truncated", "right"}}) {
        const ProcessResult fresh =
            tolvane(dir, {"decrypt", (dir / input).string(), (dir / "fresh").string()},
                    {std::string("TOLVANE_PASSPHRASE=") + passphrase});
        EXPECT_EQ(fresh.exitCode, 1) << input;
        EXPECT_NE(fresh.err.find("cannot decrypt"), std::string::npos);
        EXPECT_FALSE(std::filesystem::exists(dir / "fresh"));
        const ProcessResult existing =
            tolvane(dir, {"decrypt", (dir / input).string(), (dir / "existing").string()},
                    {std::string("TOLVANE_PASSPHRASE=") + passphrase});
        EXPECT_EQ(existing.exitCode, 1);
        EXPECT_EQ(readFile(dir / "existing"), "keep me");
    }
    // Without the variable and without a terminal there is no passphrase to be had.
    const ProcessResult none =
        tolvane(dir, {"encrypt", (dir / "plain").string(), (dir / "other").string()});
    EXPECT_EQ(none.exitCode, 2);
    EXPECT_NE(none.err.find("TOLVANE_PASSPHRASE"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir / "other"));
}

TEST(CryptVerbs, AWrongPassphraseThatPassesThePaddingCheckGoesUnnoticed) {
    TempDir dir;
    const std::string plain(100, 'p');
    writeFile(dir / "plain", plain);
    ASSERT_EQ(tolvane(dir, {"encrypt", (dir / "plain").string(), (dir / "cipher").string()},
                      {"TOLVANE_PASSPHRASE=right"})
                  .exitCode,
              0);
    // About one wrong passphrase in 256 leaves a last block whose padding checks out.
    const std::string cipher = readFile(dir / "cipher");
    std::string unnoticed;
    for (int i = 0; i < 4096 && unnoticed.empty(); ++i) {
        const std::string candidate = "wrong " + std::to_string(i);
        if (AES256DecryptWithKey(asBytes(cipher), candidate))
            unnoticed = candidate;
    }
    ASSERT_FALSE(unnoticed.empty());
    const ProcessResult r =
        tolvane(dir, {"decrypt", (dir / "cipher").string(), (dir / "out").string()},
                {"TOLVANE_PASSPHRASE=" + unnoticed});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    ASSERT_TRUE(std::filesystem::exists(dir / "out"));
    EXPECT_NE(readFile(dir / "out"), plain);
}

TEST(CommandLine, HelpVersionAndUsageErrors) {
    TempDir dir;
    for (const char* verb : {"md5", "encrypt", "decrypt"}) {
        const ProcessResult help = tolvane(dir, {verb, "--help"});
        EXPECT_EQ(help.exitCode, 0) << verb;
        EXPECT_NE(help.out.find("Usage"), std::string::npos) << verb;
    }
    const ProcessResult version = tolvane(dir, {"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out.rfind("tolvane-cli ", 0), 0u);
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"frobnicate"}, {"md5", "--no-such-option", "x"}, {"md5"}, {}}) {
        const ProcessResult r = tolvane(dir, bad);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_FALSE(r.err.empty());
        EXPECT_EQ(r.out, "");
    }
}

} // namespace
} // namespace tolvane

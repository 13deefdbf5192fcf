#pragma once

#include "util/bytes.hpp"

#include <filesystem>
#include <optional>
#include <string_view>

namespace tolvane {

// AES-256-CBC with PKCS#7 padding and an all-zero IV. The key is the passphrase's UTF-8
// bytes padded with zero bytes to 32; a longer passphrase uses its first 32 bytes.
// The encrypted form is the bare ciphertext, with no header: what
// `openssl enc -aes-256-cbc -K <key hex> -iv 0...0` writes.

std::optional<Bytes> AES256EncryptWithKey(ByteView plain, std::string_view passphrase);
// Absent when the input is not whole blocks or its padding does not check out. There is no
// integrity check: a wrong passphrase passes the padding check about once in 256 and then
// gives other bytes, not an absent result.
std::optional<Bytes> AES256DecryptWithKey(ByteView cipher, std::string_view passphrase);

// File to file, streamed in chunks. True only when the source was read, the cipher
// succeeded and the destination was written; otherwise an existing destination is left
// exactly as it was and no temporary file remains.
bool AESEncryptFile(const std::filesystem::path& source, const std::filesystem::path& destination,
                    std::string_view passphrase);
bool AESDecryptFile(const std::filesystem::path& source, const std::filesystem::path& destination,
                    std::string_view passphrase);

// File to bytes. Absent for an unreadable source or a failed decryption.
std::optional<Bytes> AESDecryptFile(const std::filesystem::path& source,
                                    std::string_view passphrase);

} // namespace tolvane

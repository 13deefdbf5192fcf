#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

// Byte-level text rules shared by the scan, the reference index, the rewriter and the command
// line: one definition of valid UTF-8, of a hex digit and of percent and character-reference
// decoding.
namespace tolvane {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isUtf8(std::string_view text);

// Text a browser takes for UTF-8: valid UTF-8 without NUL bytes. A file saved as UTF-16 or
// UTF-32 is not (its byte-order mark is invalid, its ASCII letters come with NUL bytes).
bool isUtf8Text(std::string_view text);

// The UTF-8 text of a file saved as UTF-16 or UTF-32: by its byte-order mark, or, with NUL
// bytes and no mark, as UTF-16 of the byte order its NUL bytes suggest (or with the NUL bytes
// left out). Absent for a file with neither. Units that decode to nothing become U+FFFD.
std::optional<std::string> wideTextAsUtf8(std::string_view bytes);

// The length of the valid UTF-8 sequence that starts at text[at], or 0 when none starts there.
std::size_t utf8SequenceLength(std::string_view text, std::size_t at);

// The UTF-8 bytes of one code point.
std::string utf8(char32_t codePoint);

// ASCII only, so no locale can change a file name's meaning.
char lowerAscii(char c);
bool isAsciiAlpha(char c);
// Whether text ends in suffix, which is given in lower case, with text in any letter case.
bool endsWithNoCase(std::string_view text, std::string_view lowerSuffix);

// The value of a hex digit (either case), or -1.
int hexValue(char c);

// Decodes %XX escapes. Absent when a % is not followed by two hex digits.
std::optional<std::string> percentDecode(std::string_view text);
// The same, keeping a % that starts no escape as it is.
std::string lenientPercentDecode(std::string_view text);

// One character reference at the start of text ("&amp;", "&#32;", "&#x20;"): its UTF-8
// bytes and the number of bytes it takes. Absent when text does not start with one that is
// known and well formed.
std::optional<std::pair<std::string, std::size_t>> decodeCharacterReference(std::string_view text);

} // namespace tolvane

#pragma once

#include <filesystem>
#include <string>
#include <system_error>
#include <type_traits>

namespace tolvane {

// Why a run keeps a copy it would otherwise remove; also the error of its sheet.
enum class KeepErrc {
    unreadableText = 1, // a text file or folder that could not be read may refer to it
    notUtf8,            // a file that refers to it is not valid UTF-8 text
    notWritable,        // a file that refers to it cannot be written back
    unresolved,         // a file refers to it in a form or from a base that cannot be rewritten
    chosen,             // the user chose to leave it where it is
};
const std::error_category& keepErrorCategory();
std::error_code make_error_code(KeepErrc e);

// Why the references to a copy cannot all be rewritten, naming the file.
struct KeepReason {
    KeepErrc kind = KeepErrc::unresolved;
    std::filesystem::path file;
    std::string reason; // for people
};

} // namespace tolvane

template <> struct std::is_error_code_enum<tolvane::KeepErrc> : std::true_type {};

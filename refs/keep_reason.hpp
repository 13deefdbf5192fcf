#pragma once

#include <cstddef>
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

// Why a URL that names an image cannot be followed, or leads nowhere.
enum class UrlProblem {
    none,
    absolute,       // where it leads on the published site is not known
    rootRelative,   // where the site lies on the server is not known
    badPercent,     // malformed: a % not followed by two hex digits
    encodedSlash,   // malformed: an encoded / or NUL inside a name
    backslash,      // malformed: a backslash inside the path
    baseOutside,    // the file's base is not known: detail, its <base href>, leads outside
    scriptOfNoPage, // the file's base is not known: a script outside every page folder, unloaded
    scriptOfPages,  // the file's base is not known: a script loaded by pages in different folders
    leadsToNothing, // a script may complete it at run time
    nameInside,     // detail: an image's name standing in a form not recognised
    unexaminable,   // error: why its path cannot be examined
};

// Why the references to a copy cannot all be rewritten, naming the file: data only, the command
// line and the window each word it.
struct KeepReason {
    enum class Cause {
        unreadable,        // error: why the text file or folder could not be read
        wideText,          // UTF-16, UTF-32 or NUL bytes: it may show the image
        notUtf8,           // not valid UTF-8 text
        throughLink,       // reached through a symbolic link, never written through one
        unexaminable,      // cannot be written back: error, why it cannot be examined
        readOnly,          // cannot be written back: the file is read-only
        folderNotWritable, // cannot be written back: error, why its folder cannot be written
        changed,           // line: the file changed since it was read, and was left as it is
        noRelativePath,    // detail: no relative path from the file's base to the kept file
        reference,         // line, text: a reference that cannot be followed; problem, detail: why
        chosen,            // the user chose to leave it where it is
    };
    KeepErrc kind = KeepErrc::unresolved;
    std::filesystem::path file;
    Cause cause = Cause::reference;
    std::size_t line = 0;
    std::string text; // the reference as written
    UrlProblem problem = UrlProblem::none;
    std::error_code error;
    std::string detail;
};

} // namespace tolvane

template <> struct std::is_error_code_enum<tolvane::KeepErrc> : std::true_type {};

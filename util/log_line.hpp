#pragma once

#include <string>
#include <string_view>

namespace tolvane {

// A log line as it may be written out: a file name can hold any byte but "/" and NUL, and
// a raw line break in one would split the line or fake another. "\n" becomes the two
// characters \n, "\r" becomes \r, every other control character (bytes 0x00 to 0x1f but
// the tab, and 0x7f) becomes \xNN in lowercase hex. Tabs, backslashes and every byte from
// 0x80 up (UTF-8 or not) are kept as they are.
std::string printableLogLine(std::string_view line);

} // namespace tolvane

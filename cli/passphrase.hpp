#pragma once

#include <optional>
#include <string>

namespace tolvane::cli {

// The passphrase from TOLVANE_PASSPHRASE, otherwise asked on the terminal without echo.
// Absent when neither is available.
std::optional<std::string> readPassphrase(bool confirm);

} // namespace tolvane::cli

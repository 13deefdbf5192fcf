// Every test program that links this records runs and keeps the window's settings below a
// temporary folder of its own, never in the user's home, even in tests that do not set a
// folder themselves.
#include "support/temp_dir.hpp"

#include <cstdlib>
#include <memory>

namespace {

struct IsolatedDataHome {
    IsolatedDataHome() : dir(std::make_unique<tolvane::test::TempDir>()) {
        ::setenv("XDG_DATA_HOME", dir->path().c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (dir->path() / "config").c_str(), 1);
    }
    std::unique_ptr<tolvane::test::TempDir> dir;
};

const IsolatedDataHome isolatedDataHome;

} // namespace

// `optimize --yes` killed with SIGKILL at moments of each phase of a real run: the site stays
// whole after every kill, and a second run finishes it to exactly what an uninterrupted run
// makes, with no temporary file left.
#include "bench/sitegen/sitegen.hpp"
#include "run/run_support.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const std::string cli = TOLVANE_CLI;
// The log lines that open the phases after the scan: placing, rewriting, removing, re-scan.
const std::vector<std::string> phaseLines = {
    "Moving image file: ", "Updating file: ", "Removing duplicate file: ", "Run complete: "};

struct Watched {
    bool killed = false;
    int exitCode = -1;
    std::vector<double> phaseStart = std::vector<double>(phaseLines.size(), -1.0); // seconds
    double ended = 0;
};

// Runs `tolvane-cli optimize --yes site`, reading its output as it comes, and kills it
// `after` seconds after the first line of phase `anchor` (timed in this run, so that a slower
// or faster machine still kills in the phase meant), unless it ended first.
Watched runAndKill(const fs::path& site, const fs::path& dataHome,
                   std::optional<std::pair<std::size_t, double>> at) {
    int fds[2];
    if (::pipe(fds) != 0)
        throw std::runtime_error("pipe failed");
    const std::string data = "XDG_DATA_HOME=" + dataHome.string(), root = site.string();
    const auto started = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0), ::dup2(fds[1], 1), ::dup2(null, 2), ::close(fds[0]);
        ::putenv(const_cast<char*>(data.c_str()));
        const char* argv[] = {cli.c_str(), "optimize", "--yes", root.c_str(), nullptr};
        ::execv(cli.c_str(), const_cast<char* const*>(argv));
        ::_exit(127);
    }
    ::close(fds[1]);
    Watched w;
    int status = 0;
    bool reaped = false;
    const auto since = [&] {
        return std::chrono::duration<double>(Clock::now() - started).count();
    };
    std::string pending;
    char buffer[65536];
    for (bool open = true; open;) {
        int timeout = -1;
        if (at && w.phaseStart[at->first] >= 0) {
            const double left = w.phaseStart[at->first] + at->second - since();
            if (left <= 0) {
                reaped = ::waitpid(pid, &status, WNOHANG) == pid;
                if (!reaped)
                    ::kill(pid, SIGKILL);
                break;
            }
            timeout = static_cast<int>(left * 1000) + 1;
        }
        pollfd fd{fds[0], POLLIN, 0};
        if (::poll(&fd, 1, timeout) <= 0)
            continue;
        const ssize_t got = ::read(fds[0], buffer, sizeof buffer);
        open = got > 0;
        pending.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
        for (std::size_t nl; (nl = pending.find('\n')) != std::string::npos;
             pending.erase(0, nl + 1))
            for (std::size_t p = 0; p < phaseLines.size(); ++p)
                if (w.phaseStart[p] < 0 && pending.rfind(phaseLines[p], 0) == 0)
                    w.phaseStart[p] = since();
    }
    if (!reaped)
        ::waitpid(pid, &status, 0);
    ::close(fds[0]);
    w.ended = since();
    w.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    if (WIFEXITED(status))
        w.exitCode = WEXITSTATUS(status);
    return w;
}

TEST(OptimizeKill, ASiteKilledInAnyPhaseStaysWholeAndASecondRunFinishesIt) {
    test::TempDir dir;
    const fs::path original = dir / "original", whole = dir / "whole", data = dir / "data";
    sitegen::generateSite(original, {.seed = 11,
                                     .pages = 200,
                                     .imagesPerPage = 2,
                                     .sharedImages = 150,
                                     .sharedPerPage = 16,
                                     .nestedShare = 0.3,
                                     .minImageSize = 64,
                                     .maxImageSize = 2048,
                                     .assetCopies = 3});
    const auto before = test::snapshot(original);
    const auto references = test::referenceTargets(original);

    fs::copy(original, whole, fs::copy_options::recursive);
    const Watched full = runAndKill(whole, data, std::nullopt);
    ASSERT_EQ(full.exitCode, 0);
    for (std::size_t p = 0; p < phaseLines.size(); ++p)
        ASSERT_GE(full.phaseStart[p], 0) << "no line " << phaseLines[p];
    const auto expected = test::snapshot(whole);
    const auto& t = full.phaseStart;
    const std::pair<std::size_t, double> kills[] = {
        {0, (t[1] - t[0]) * 0.5}, {1, (t[2] - t[1]) * 0.15}, {1, (t[2] - t[1]) * 0.6},
        {2, (t[3] - t[2]) * 0.2}, {2, (t[3] - t[2]) * 0.7},  {3, (full.ended - t[3]) * 0.5},
    };
    for (std::size_t k = 0; k < std::size(kills); ++k) {
        SCOPED_TRACE("kill " + std::to_string(kills[k].second) + " s after the first \"" +
                     phaseLines[kills[k].first] + "\" line");
        const fs::path site = dir / ("killed-" + std::to_string(k));
        fs::copy(original, site, fs::copy_options::recursive);
        const Watched cut = runAndKill(site, data, kills[k]);
        EXPECT_TRUE(cut.killed || cut.exitCode == 0);
        EXPECT_EQ(test::brokenReferences(references, site), std::vector<std::string>{});
        EXPECT_EQ(test::lostFiles(before, site), std::vector<std::string>{});
        const auto check = test::runProcess(dir.path(), {cli, "check", site.string()},
                                            {"XDG_DATA_HOME=" + data.string()});
        EXPECT_EQ(check.exitCode, 0) << check.out << check.err;

        EXPECT_EQ(runAndKill(site, data, std::nullopt).exitCode, 0);
        EXPECT_EQ(test::leftoverTemporaries(site), std::vector<std::string>{});
        const auto after = test::snapshot(site);
        std::vector<std::string> differing;
        for (const auto& [path, bytes] : expected)
            if (!after.count(path) || after.at(path) != bytes)
                differing.push_back(path);
        for (const auto& [path, bytes] : after)
            if (!expected.count(path))
                differing.push_back(path);
        EXPECT_EQ(differing, std::vector<std::string>{});
        fs::remove_all(site);
    }
}

} // namespace
} // namespace tolvane

// `optimize --yes` killed with SIGKILL at several moments of a real run: the site must stay
// whole after every kill, and a second run must finish it to exactly what an uninterrupted run
// makes.
#include "bench/sitegen/sitegen.hpp"
#include "run/run_support.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

const std::string cli = TOLVANE_CLI;

// Log lines that open each phase of the run, in the order the run takes them.
const std::vector<std::string> phaseLines = {
    "Moving image file: ", "Updating file: ", "Removing duplicate file: ", "Run complete: "};
const std::vector<std::string> phaseNames = {"scan", "placing", "rewriting", "removing", "re-scan"};

// What one started run did before it ended or was killed.
struct Watched {
    bool killed = false; // the signal reached a running process
    int exitCode = -1;   // when it ended by itself
    // When the first line of each phase came, from the start; negative when it never came.
    std::vector<double> phaseStart = std::vector<double>(phaseLines.size(), -1.0);
    double ended = 0;          // when it exited or was killed
    std::size_t lastPhase = 0; // index into phaseNames of the phase it was in at the end
    std::string out;
};

// When to kill a run: `after` seconds after the first line of phase `anchor` (an index into
// phaseLines; none: after the start). Measured in the run itself, so that a machine slower or
// faster than during the timed run still puts the kill in the phase meant.
struct KillAt {
    std::optional<std::size_t> anchor;
    double after = 0;
};

// Starts `tolvane-cli optimize --yes site` with XDG_DATA_HOME set to dataHome, reads its
// output as it comes (so that a full pipe never slows it), and kills it with SIGKILL at the
// moment given unless it ended first (none: waits for the end).
Watched runAndKill(const fs::path& site, const fs::path& dataHome, const fs::path& errFile,
                   std::optional<KillAt> at) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        throw std::runtime_error("pipe failed");
    const std::string dataSetting = "XDG_DATA_HOME=" + dataHome.string();
    const std::string siteArg = site.string();
    const auto started = Clock::now();
    const pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(pipeFds[1], 1) < 0 ||
            ::dup2(err, 2) < 0)
            ::_exit(127);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        ::putenv(const_cast<char*>(dataSetting.c_str()));
        const char* argv[] = {cli.c_str(), "optimize", "--yes", siteArg.c_str(), nullptr};
        ::execv(cli.c_str(), const_cast<char* const*>(argv));
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    Watched watched;
    std::string pending;
    auto since = [&] { return Seconds(Clock::now() - started).count(); };
    auto take = [&](const char* data, std::size_t size) {
        pending.append(data, size);
        for (std::size_t newline; (newline = pending.find('\n')) != std::string::npos;) {
            const std::string line = pending.substr(0, newline);
            pending.erase(0, newline + 1);
            for (std::size_t p = 0; p < phaseLines.size(); ++p) {
                if (watched.phaseStart[p] < 0 && line.rfind(phaseLines[p], 0) == 0) {
                    watched.phaseStart[p] = since();
                    watched.lastPhase = p + 1;
                }
            }
            watched.out += line + '\n';
        }
    };
    bool open = true;
    char buffer[65536];
    while (open) {
        int timeout = -1;
        const double from = !at ? -1 : !at->anchor ? 0 : watched.phaseStart[*at->anchor];
        if (from >= 0) {
            const double left = from + at->after - since();
            if (left <= 0)
                break;
            timeout = static_cast<int>(left * 1000) + 1;
        }
        pollfd fd{pipeFds[0], POLLIN, 0};
        const int ready = ::poll(&fd, 1, timeout);
        if (ready < 0 && errno != EINTR)
            throw std::runtime_error("poll failed");
        if (ready > 0) {
            const ssize_t got = ::read(pipeFds[0], buffer, sizeof buffer);
            if (got > 0)
                take(buffer, static_cast<std::size_t>(got));
            else if (got == 0)
                open = false;
        }
    }
    int status = 0;
    if (open) {
        // Still running as far as its output tells: kill it, unless it has just exited.
        if (::waitpid(pid, &status, WNOHANG) == 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            watched.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
        }
    } else {
        ::waitpid(pid, &status, 0);
    }
    watched.ended = since();
    // What it wrote before it died still counts for the phase it was in.
    for (ssize_t got; (got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        take(buffer, static_cast<std::size_t>(got));
    ::close(pipeFds[0]);
    if (WIFEXITED(status))
        watched.exitCode = WEXITSTATUS(status);
    return watched;
}

// Paths only on one side and paths whose bytes differ, with the start of both texts.
std::string describeDifference(const std::map<std::string, std::string>& expected,
                               const std::map<std::string, std::string>& actual) {
    std::ostringstream text;
    auto head = [](const std::string& bytes) {
        std::string shown = bytes.substr(0, 300);
        for (auto& c : shown)
            if (static_cast<unsigned char>(c) < 32 && c != '\n')
                c = '.';
        return shown + (bytes.size() > 300 ? "..." : "");
    };
    std::size_t shown = 0;
    for (const auto& [path, bytes] : expected) {
        const auto other = actual.find(path);
        if (other == actual.end())
            text << "  only after the uninterrupted run: " << path << '\n';
        else if (other->second != bytes && shown++ < 5)
            text << "  differs: " << path << "\n    uninterrupted: " << head(bytes)
                 << "\n    after the kill and a second run: " << head(other->second) << '\n';
        else if (other->second != bytes)
            text << "  differs: " << path << '\n';
    }
    for (const auto& [path, bytes] : actual) {
        if (!expected.count(path))
            text << "  only after the kill and a second run: " << path << '\n';
    }
    return text.str();
}

TEST(OptimizeKill, ASiteKilledInAnyPhaseStaysWholeAndASecondRunFinishesIt) {
    test::TempDir dir;
    sitegen::SiteShape shape;
    shape.seed = 11;
    shape.pages = 200;
    shape.imagesPerPage = 2;
    shape.sharedImages = 150;
    shape.sharedPerPage = 16;
    shape.nestedShare = 0.3;
    shape.minImageSize = 64;
    shape.maxImageSize = 2048;
    shape.assetCopies = 3;
    const fs::path original = dir / "original";
    sitegen::generateSite(original, shape);
    const auto before = test::snapshot(original);
    const auto references = test::referenceTargets(original);
    const fs::path dataHome = dir / "data";
    const fs::path errFile = dir / "err";

    // The uninterrupted run, timed phase by phase: the kills below are placed from it.
    const fs::path whole = dir / "whole";
    fs::copy(original, whole, fs::copy_options::recursive);
    const Watched full = runAndKill(whole, dataHome, errFile, std::nullopt);
    ASSERT_EQ(full.exitCode, 0) << test::readFile(errFile);
    for (std::size_t p = 0; p < phaseLines.size(); ++p)
        ASSERT_GE(full.phaseStart[p], 0) << "no line " << phaseLines[p] << '\n' << full.out;
    const auto expected = test::snapshot(whole);
    ASSERT_TRUE(test::brokenReferences(references, whole).empty());

    const double place = full.phaseStart[0], rewrite = full.phaseStart[1],
                 remove = full.phaseStart[2], done = full.phaseStart[3];
    const std::vector<KillAt> kills = {
        {0, (rewrite - place) * 0.5},                                   // placing the kept files
        {1, (remove - rewrite) * 0.15},                                 // early in the rewriting
        {1, (remove - rewrite) * 0.6},                                  // late in the rewriting
        {2, (done - remove) * 0.2},                                     // removing the copies
        {2, (done - remove) * 0.7},     {3, (full.ended - done) * 0.5}, // the re-scan at the end
    };
    std::ostringstream timing;
    timing << "uninterrupted run: placing at " << place << " s, rewriting at " << rewrite
           << " s, removing at " << remove << " s, done at " << done << " s, exit at " << full.ended
           << " s";
    RecordProperty("timing", timing.str());
    std::cout << timing.str() << '\n';

    for (std::size_t k = 0; k < kills.size(); ++k) {
        const std::string when = std::to_string(kills[k].after) + " s after the first \"" +
                                 phaseLines[*kills[k].anchor] + "\" line";
        SCOPED_TRACE("kill " + when);
        const fs::path site = dir / ("killed-" + std::to_string(k));
        fs::copy(original, site, fs::copy_options::recursive);
        const Watched cut = runAndKill(site, dataHome, errFile, kills[k]);
        std::cout << "kill " << when << ": "
                  << (cut.killed ? "killed in the " + phaseNames[cut.lastPhase] + " phase"
                                 : "the run had already ended")
                  << '\n';
        if (!cut.killed) {
            EXPECT_EQ(cut.exitCode, 0) << test::readFile(errFile);
        }

        // (a) Every reference still leads to the bytes it led to, nothing is lost, and the
        // site's own check finds nothing broken.
        EXPECT_EQ(test::brokenReferences(references, site), std::vector<std::string>{});
        EXPECT_EQ(test::lostFiles(before, site), std::vector<std::string>{});
        const auto check = test::runProcess(dir.path(), {cli, "check", site.string()},
                                            {"XDG_DATA_HOME=" + dataHome.string()});
        EXPECT_EQ(check.exitCode, 0) << check.out << check.err;

        // (b) A second run completes, and the site is then the uninterrupted run's result,
        // file for file, with no temporary file of the writer left.
        const Watched second = runAndKill(site, dataHome, errFile, std::nullopt);
        EXPECT_EQ(second.exitCode, 0) << second.out << test::readFile(errFile);
        EXPECT_EQ(test::leftoverTemporaries(site), std::vector<std::string>{});
        const auto after = test::snapshot(site);
        EXPECT_TRUE(after == expected)
            << "killed in the " << phaseNames[cut.lastPhase] << " phase; differences:\n"
            << describeDifference(expected, after);
        fs::remove_all(site);
    }
}

} // namespace
} // namespace tolvane

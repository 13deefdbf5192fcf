#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

namespace tolvane {

// One run or undo per site at a time: an advisory lock (flock) held on the site root folder
// itself for as long as the object lives. Nothing is written into the site for it.
class SiteLock {
  public:
    // Takes the lock without waiting. Absent when it cannot: error is
    // std::errc::resource_unavailable_try_again while another process (or another SiteLock of
    // this process) holds it, else the reason the folder could not be opened.
    static std::optional<SiteLock> tryAcquire(const std::filesystem::path& root,
                                              std::error_code& error);

    SiteLock(SiteLock&& other) noexcept;
    SiteLock& operator=(SiteLock&& other) noexcept;
    SiteLock(const SiteLock&) = delete;
    SiteLock& operator=(const SiteLock&) = delete;
    ~SiteLock();

  private:
    explicit SiteLock(int fd) : fd_(fd) {}
    int fd_ = -1;
};

} // namespace tolvane

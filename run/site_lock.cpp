#include "run/site_lock.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace tolvane {

std::optional<SiteLock> SiteLock::tryAcquire(const std::filesystem::path& root,
                                             std::error_code& error) {
    error.clear();
    const int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        error = {errno, std::generic_category()};
        return std::nullopt;
    }
    // flock locks belong to the open file description, so a second open of the same folder,
    // even in this process, is refused while the first holds it.
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        error = errno == EWOULDBLOCK
                    ? std::make_error_code(std::errc::resource_unavailable_try_again)
                    : std::error_code(errno, std::generic_category());
        ::close(fd);
        return std::nullopt;
    }
    return SiteLock(fd);
}

SiteLock::SiteLock(SiteLock&& other) noexcept : fd_(other.fd_) {
    other.fd_ = -1;
}

SiteLock& SiteLock::operator=(SiteLock&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

SiteLock::~SiteLock() {
    if (fd_ >= 0)
        ::close(fd_); // closing the last descriptor releases the lock
}

} // namespace tolvane

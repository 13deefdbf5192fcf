#pragma once

#include <climits>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tolvane::test {

// A chain of folders below parent whose path is longer than PATH_MAX, holding one file. It is
// made and removed one step at a time, relative to each folder, since no path to it can be
// given to the system.
class DeepFolder {
  public:
    DeepFolder(const std::filesystem::path& parent, const std::string& fileName,
               const std::string& contents)
        : fileName_(fileName) {
        int fd = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            throw std::runtime_error("cannot open " + parent.string());
        for (std::size_t length = parent.native().size(); length < PATH_MAX + name_.size();
             length += name_.size() + 1) {
            fds_.push_back(fd);
            if (::mkdirat(fd, name_.c_str(), 0755) != 0)
                throw std::runtime_error("cannot make a deep folder");
            fd = ::openat(fd, name_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (fd < 0)
                throw std::runtime_error("cannot open a deep folder");
        }
        fds_.push_back(fd);
        const int file = ::openat(fd, fileName.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        const bool written = file >= 0 && ::write(file, contents.data(), contents.size()) ==
                                              static_cast<ssize_t>(contents.size());
        if (file >= 0)
            ::close(file);
        if (!written)
            throw std::runtime_error("cannot write the deep file");
    }
    ~DeepFolder() {
        ::unlinkat(fds_.back(), fileName_.c_str(), 0);
        ::close(fds_.back());
        for (std::size_t i = fds_.size() - 1; i-- > 0;) {
            ::unlinkat(fds_[i], name_.c_str(), AT_REMOVEDIR);
            ::close(fds_[i]);
        }
    }
    DeepFolder(const DeepFolder&) = delete;
    DeepFolder& operator=(const DeepFolder&) = delete;

    // The first folder of the chain, below parent.
    const std::string& folderName() const { return name_; }

  private:
    const std::string name_ = std::string(200, 'd');
    std::string fileName_;
    std::vector<int> fds_; // parent, then each folder of the chain
};

} // namespace tolvane::test

#include "site/site_walk.hpp"

#include "util/file_io.hpp"

#include <cerrno>
#include <climits>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvane {

namespace fs = std::filesystem;

namespace {

// An open folder of the walk.
struct Frame {
    DIR* dir;
    std::uint32_t folder;
    bool linked; // reached through a symbolic link: read, never grouped
    bool deep;   // its path is too long to be given to the system: no text file is read below
};

class Walker {
  public:
    // walked, when given, is advanced once per entry of the site's own folders; cancel is
    // looked at once per entry. Without images, image files are neither listed nor examined.
    Walker(const fs::path& root, Progress* walked, const Progress* cancel, bool images)
        : rootLength_(root.native().size() + 1), walked_(walked), cancel_(cancel), images_(images) {
        // A file last changed well before the walk (the system stamps changes with a coarse
        // clock) cannot have changed after the walk read its mark unless the mark changed.
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        settledBefore_ = now.tv_sec - 1;
    }

    SiteListing walk(const fs::path& root) {
        const int rootFd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        DIR* rootDir = rootFd < 0 ? nullptr : ::fdopendir(rootFd);
        if (!rootDir) {
            listing_.unreadable.push_back(
                {"", std::error_code(errno, std::generic_category()), false, true});
            if (rootFd >= 0)
                ::close(rootFd);
            return std::move(listing_);
        }
        listing_.folders.emplace_back();
        stack_.push_back({rootDir, 0, false, false});
        while (!stack_.empty()) {
            const Frame top = stack_.back();
            errno = 0;
            const dirent* entry = ::readdir(top.dir);
            if (!entry) {
                if (errno)
                    unreadable(folderPath(top.folder), errno, false, !top.deep);
                ::closedir(top.dir);
                stack_.pop_back();
                continue;
            }
            const std::string_view name(entry->d_name);
            if (name == "." || name == "..")
                continue;
            if (!top.linked) {
                ++listing_.entries;
                if (walked_)
                    walked_->advance();
            }
            if (cancel_ && cancel_->cancelled()) {
                for (const Frame& frame : stack_)
                    ::closedir(frame.dir);
                stack_.clear();
                listing_.cancelled = true;
                break;
            }
            visit(top, *entry);
        }
        return std::move(listing_);
    }

  private:
    std::string folderPath(std::uint32_t folder) const {
        const std::string& path = listing_.folders[folder];
        return path.empty() ? path : path.substr(0, path.size() - 1);
    }

    void unreadable(std::string path, int error, bool forImages, bool forText) {
        if (forImages || forText)
            listing_.unreadable.push_back({std::move(path),
                                           std::error_code(error, std::generic_category()),
                                           forImages, forText});
    }

    SiteListing::Entry entryOf(std::uint32_t folder, std::string_view name) {
        SiteListing::Entry entry;
        entry.folder = folder;
        entry.nameOffset = static_cast<std::uint32_t>(listing_.names.size());
        entry.nameLength = static_cast<std::uint32_t>(name.size());
        listing_.names += name;
        return entry;
    }

    bool tooLong(const Frame& top, std::string_view name) const {
        return rootLength_ + listing_.folders[top.folder].size() + name.size() >= PATH_MAX;
    }

    // Opens the folder name inside the folder of top (through a link when linked) and
    // pushes it; a folder that cannot be opened is listed as unreadable.
    void enter(const Frame& top, std::string_view name, bool linked) {
        const std::string relative = listing_.folders[top.folder] + std::string(name);
        const int childFd =
            ::openat(::dirfd(top.dir), std::string(name).c_str(),
                     O_RDONLY | O_DIRECTORY | O_CLOEXEC | (linked ? 0 : O_NOFOLLOW));
        DIR* child = childFd < 0 ? nullptr : ::fdopendir(childFd);
        if (!child) {
            const int error = errno;
            if (childFd >= 0)
                ::close(childFd);
            unreadable(relative, error, !linked, !top.deep);
            return;
        }
        // A reader of text files names each file by its path: below a folder whose path is
        // too long, nothing can be read.
        bool deep = top.deep;
        if (!deep && tooLong(top, name)) {
            unreadable(relative, ENAMETOOLONG, false, true);
            deep = true;
        }
        listing_.folders.push_back(relative + '/');
        stack_.push_back(
            {child, static_cast<std::uint32_t>(listing_.folders.size() - 1), linked, deep});
    }

    void visit(const Frame& top, const dirent& entry) {
        const std::string_view name(entry.d_name);
        const int dirFd = ::dirfd(top.dir);
        unsigned char type = entry.d_type;
        const bool imageName = images_ && !top.linked && hasImageExtension(name);
        const bool eligible = imageName && isEligibleImageName(name);
        struct stat info {};
        bool haveInfo = false;
        if (type == DT_UNKNOWN || (type == DT_REG && eligible)) {
            haveInfo = ::fstatat(dirFd, entry.d_name, &info, AT_SYMLINK_NOFOLLOW) == 0;
            if (!haveInfo && type == DT_UNKNOWN)
                return;
        }
        if (haveInfo) {
            type = S_ISDIR(info.st_mode)   ? DT_DIR
                   : S_ISREG(info.st_mode) ? DT_REG
                   : S_ISLNK(info.st_mode) ? DT_LNK
                                           : DT_UNKNOWN;
        }
        if (type == DT_DIR) {
            enter(top, name, top.linked);
        } else if (type == DT_REG) {
            if (const TextKind kind = textKindOf(name); kind != TextKind::none) {
                if (!top.deep)
                    text(top, name, kind, top.linked);
            } else if (imageName) {
                image(top, name, eligible && haveInfo, info);
            } else if (images_ && !top.linked && isWriterTemporaryName(name)) {
                listing_.leftovers.push_back(listing_.folders[top.folder] + std::string(name));
            }
        } else if (type == DT_LNK) {
            followLink(top, name);
        }
    }

    void text(const Frame& top, std::string_view name, TextKind kind, bool linked) {
        SiteListing::TextFile file;
        static_cast<SiteListing::Entry&>(file) = entryOf(top.folder, name);
        file.kind = kind;
        file.linked = linked;
        listing_.textFiles.push_back(file);
    }

    void image(const Frame& top, std::string_view name, bool sized, const struct stat& info) {
        SiteListing::Image image;
        static_cast<SiteListing::Entry&>(image) = entryOf(top.folder, name);
        if (sized) {
            image.size = static_cast<std::uint64_t>(info.st_size);
            if (info.st_ctim.tv_sec < settledBefore_)
                image.settled = changeMark(info);
            image.tooLong = tooLong(top, name);
            image.eligible = !image.tooLong;
            // Every later step names files by their path: this one cannot be read or removed.
            if (image.tooLong)
                unreadable(listing_.relativePath(image), ENAMETOOLONG, true, false);
        }
        listing_.images.push_back(image);
    }

    // A link is followed for reading only: to a text file, or into a folder not entered
    // through a link before (against loops).
    void followLink(const Frame& top, std::string_view name) {
        struct stat info {};
        if (::fstatat(::dirfd(top.dir), std::string(name).c_str(), &info, 0) != 0)
            return; // a link to nothing
        if (S_ISDIR(info.st_mode)) {
            if (linkedFolders_.insert({info.st_dev, info.st_ino}).second)
                enter(top, name, true);
        } else if (S_ISREG(info.st_mode) && !top.deep) {
            if (const TextKind kind = textKindOf(name); kind != TextKind::none)
                text(top, name, kind, true);
        }
    }

    const std::size_t rootLength_;
    Progress* walked_;
    const Progress* cancel_;
    const bool images_;
    std::time_t settledBefore_ = 0;
    SiteListing listing_;
    std::vector<Frame> stack_;
    std::set<std::pair<dev_t, ino_t>> linkedFolders_;
};

} // namespace

SiteListing listSite(const fs::path& root, Progress* progress) {
    return Walker(root, progress, progress, true).walk(root);
}

SiteListing listTextFiles(const fs::path& root) {
    return Walker(root, nullptr, nullptr, false).walk(root);
}

SiteFiles siteFilesOf(const fs::path& root, const SiteListing& listing, bool images) {
    SiteFiles files;
    files.cancelled = listing.cancelled;
    files.textFiles.reserve(listing.textFiles.size());
    for (const SiteListing::TextFile& file : listing.textFiles) {
        files.textFiles.emplace_back(root / listing.relativePath(file), file.kind);
        if (file.linked)
            files.linked.insert(files.textFiles.back().first.string());
    }
    if (images) {
        files.imageFiles.reserve(listing.images.size());
        for (const SiteListing::Image& image : listing.images)
            files.imageFiles.push_back((root / listing.relativePath(image)).native());
    }
    for (const SiteListing::Unreadable& place : listing.unreadable) {
        if (place.forText)
            files.unreadable.push_back({SiteListing::under(root, place.path), place.error});
    }
    return files;
}

SiteFiles walkSite(const fs::path& root, bool images, const Progress* cancel) {
    return siteFilesOf(root, Walker(root, nullptr, cancel, images).walk(root), images);
}

std::vector<std::size_t> pagesFirst(const SiteFiles& files) {
    std::vector<std::size_t> order;
    order.reserve(files.textFiles.size());
    for (std::size_t i = 0; i < files.textFiles.size(); ++i) {
        if (files.textFiles[i].second == TextKind::page)
            order.push_back(i);
    }
    for (std::size_t i = 0; i < files.textFiles.size(); ++i) {
        if (files.textFiles[i].second != TextKind::page)
            order.push_back(i);
    }
    return order;
}

} // namespace tolvane

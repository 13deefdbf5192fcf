#include "site/site_walk.hpp"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace tolvane {

namespace fs = std::filesystem;

namespace {

void walk(const fs::path& folder, SiteFiles& files, bool images, const Progress* cancel,
          bool throughLink) {
    if (cancel && cancel->cancelled()) {
        files.cancelled = true;
        return;
    }
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
        files.unreadable.push_back({folder, std::error_code(errno, std::generic_category())});
        return;
    }
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (!entry) {
            if (errno)
                files.unreadable.push_back(
                    {folder, std::error_code(errno, std::generic_category())});
            break;
        }
        const std::string_view name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        // The type the listing gives (d_type) spares a stat.
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat info {};
            if (::fstatat(::dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            type = S_ISDIR(info.st_mode)   ? DT_DIR
                   : S_ISREG(info.st_mode) ? DT_REG
                   : S_ISLNK(info.st_mode) ? DT_LNK
                                           : DT_UNKNOWN;
        }
        bool link = throughLink;
        if (type == DT_LNK) {
            struct stat info {};
            if (::fstatat(::dirfd(dir), entry->d_name, &info, 0) != 0)
                continue; // a link to nothing
            if (S_ISDIR(info.st_mode) &&
                !files.foldersEntered.insert({info.st_dev, info.st_ino}).second)
                continue; // a folder already entered through a link: a loop
            type = S_ISDIR(info.st_mode) ? DT_DIR : S_ISREG(info.st_mode) ? DT_REG : DT_UNKNOWN;
            link = true;
        }
        if (type == DT_DIR) {
            walk(folder / name, files, images, cancel, link);
        } else if (type == DT_REG) {
            if (const TextKind kind = textKindOf(name); kind != TextKind::none) {
                files.textFiles.emplace_back(folder / name, kind);
                if (link)
                    files.linked.insert((folder / name).string());
            } else if (images && !link && hasImageExtension(name)) {
                files.imageFiles.push_back(folder / name);
            }
        }
    }
    ::closedir(dir);
}

} // namespace

SiteFiles walkSite(const fs::path& root, bool images, const Progress* cancel) {
    SiteFiles files;
    walk(root, files, images, cancel, false);
    return files;
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

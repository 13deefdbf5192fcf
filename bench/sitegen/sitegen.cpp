#include "bench/sitegen/sitegen.hpp"

#include "util/digest.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <map>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <unistd.h>
#include <unordered_map>

namespace tolvane::sitegen {
namespace fs = std::filesystem;

namespace {

// SplitMix64: tiny, fast, and good enough to fill image bodies and make choices.
class Rng {
  public:
    explicit Rng(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    // Uniform in [lo, hi].
    std::uint64_t between(std::uint64_t lo, std::uint64_t hi) {
        return lo + next() % (hi - lo + 1);
    }
    double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

  private:
    std::uint64_t state_;
};

std::uint64_t mix(std::uint64_t a, std::uint64_t b) {
    Rng rng(a ^ (b * 0xd6e8feb86659fd93ULL));
    rng.next();
    return rng.next();
}

enum class Format { Png, Jpeg, Gif };

Format formatOf(std::string_view name) {
    std::string lower(name);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower.ends_with(".jpg") || lower.ends_with(".jpeg"))
        return Format::Jpeg;
    if (lower.ends_with(".gif"))
        return Format::Gif;
    return Format::Png;
}

// The first bytes real files of each format start with, so that files of one format do not
// differ in their first block.
std::string_view headerOf(Format format) {
    static constexpr unsigned char png[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n',
                                            0,    0,   0,   13,  'I',  'H',  'D',  'R'};
    static constexpr unsigned char jpeg[] = {0xff, 0xd8, 0xff, 0xe0, 0, 16,   'J', 'F',
                                             'I',  'F',  0,    1,    1, 0x48, 0,   0x48};
    static constexpr unsigned char gif[] = {'G', 'I', 'F', '8', '9', 'a'};
    switch (format) {
    case Format::Jpeg:
        return {reinterpret_cast<const char*>(jpeg), sizeof jpeg};
    case Format::Gif:
        return {reinterpret_cast<const char*>(gif), sizeof gif};
    case Format::Png:
        break;
    }
    return {reinterpret_cast<const char*>(png), sizeof png};
}

// Bytes of one content: the format's header, the content id (so distinct ids never give
// equal bytes), then a pseudo-random body. A pure function of its arguments.
void fillContent(std::string& out, std::uint64_t seed, std::uint64_t contentId, std::uint64_t size,
                 Format format) {
    out.resize(size);
    std::string_view header = headerOf(format);
    std::size_t pos = std::min<std::size_t>(header.size(), size);
    std::memcpy(out.data(), header.data(), pos);
    for (int i = 0; i < 8 && pos < size; ++i, ++pos)
        out[pos] = static_cast<char>((contentId >> (8 * i)) & 0xff);
    Rng rng(mix(seed, contentId));
    for (; pos + 8 <= size; pos += 8) {
        std::uint64_t word = rng.next();
        std::memcpy(out.data() + pos, &word, 8);
    }
    std::uint64_t word = rng.next();
    for (int i = 0; pos < size; ++i, ++pos)
        out[pos] = static_cast<char>((word >> (8 * i)) & 0xff);
}

void writeWholeFile(const fs::path& path, std::string_view data) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throw std::system_error(errno, std::generic_category(), "cannot create " + path.string());
    const char* p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            int err = errno;
            ::close(fd);
            throw std::system_error(err, std::generic_category(), "cannot write " + path.string());
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0)
        throw std::system_error(errno, std::generic_category(), "cannot close " + path.string());
}

// What the generator knows about every image it wrote.
struct FileInfo {
    std::uint64_t contentId;
    std::uint64_t size;
};

struct SharedImage {
    std::string name;
    std::vector<std::uint64_t> sizes; // one per variant
};

std::string pageImageName(int index, std::uint64_t seed, bool upperCase) {
    Rng rng(mix(seed, 0x1000 + static_cast<std::uint64_t>(index)));
    std::uint64_t kind = rng.next() % 20;
    char buffer[64];
    if (kind < 12)
        std::snprintf(buffer, sizeof buffer, "shapeimage_%d.png", index);
    else if (kind < 17)
        std::snprintf(buffer, sizeof buffer, "IMG_%04d.%s", 1000 + 7 * index,
                      upperCase && kind == 16 ? "JPG" : "jpg");
    else if (kind < 19)
        std::snprintf(buffer, sizeof buffer, "droppedImage_%d.%s", index,
                      upperCase && kind == 18 ? "PNG" : "png");
    else
        std::snprintf(buffer, sizeof buffer, "animation_%d.gif", index);
    return buffer;
}

std::string sharedImageName(int index, bool upperCase) {
    static constexpr std::array<const char*, 6> stems = {"navbar", "bullet",  "header_bg",
                                                         "logo",   "divider", "footer"};
    static constexpr std::array<const char*, 6> extensions = {"png", "gif", "jpg",
                                                              "png", "png", "jpg"};
    const auto slot = static_cast<std::size_t>(index) % stems.size();
    const char* extension = extensions[slot];
    if (upperCase && index % 7 == 3)
        extension = "PNG";
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%s_%d.%s", stems[slot], index, extension);
    return buffer;
}

const std::array<const char*, 7> nestedFolders = {
    "Blog",   "Blog/2019",         "Blog/2020",     "Blog/2021/Archive",
    "Photos", "Photos/Trips/2018", "Old_Site/Pages"};

bool isEligible(const std::string& name) {
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const bool image = lower.ends_with(".png") || lower.ends_with(".jpg") ||
                       lower.ends_with(".jpeg") || lower.ends_with(".gif") ||
                       lower.ends_with(".tiff");
    return image && name.find("_rollover_") == std::string::npos &&
           name.find("_link_") == std::string::npos;
}

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char buffer[8];
                std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
                out += buffer;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    out += '"';
    return out;
}

class Generator {
  public:
    Generator(fs::path root, const SiteShape& shape) : root_(std::move(root)), shape_(shape) {}

    GeneratedSite run() {
        validate();
        fs::create_directories(root_);
        if (!fs::is_empty(root_))
            throw std::runtime_error("the site folder must be empty: " + root_.string());
        result_.root = fs::absolute(root_).lexically_normal();
        if (!result_.root.has_filename())
            result_.root = result_.root.parent_path();

        planShared();
        Rng rng(mix(shape_.seed, 0x5eed));
        std::vector<std::pair<std::string, std::string>> links; // (href, title)
        for (int page = 1; page <= shape_.pages; ++page) {
            fs::path folder;
            std::string name;
            char buffer[32];
            if (rng.unit() < shape_.nestedShare) {
                folder = nestedFolders[rng.next() % nestedFolders.size()];
                std::snprintf(buffer, sizeof buffer, "Entry_%04d", page);
            } else {
                std::snprintf(buffer, sizeof buffer, "Page_%04d", page);
            }
            name = buffer;
            writePage(folder, name, rng);
            links.emplace_back((folder / (name + ".html")).generic_string(), name);
        }
        writeAssets();
        writeIndex(links);
        computeExpectedGroups();
        return std::move(result_);
    }

  private:
    void validate() const {
        if (shape_.pages < 0 || shape_.imagesPerPage < 0 || shape_.sharedImages < 0 ||
            shape_.sharedPerPage < 0 || shape_.assetCopies < 0)
            throw std::runtime_error("counts must not be negative");
        if (shape_.sharedPerPage > shape_.sharedImages)
            throw std::runtime_error("shared images per page exceed the shared pool");
        if (shape_.assetCopies > shape_.sharedImages)
            throw std::runtime_error("asset copies exceed the shared pool");
        if (shape_.sharedVariants < 1)
            throw std::runtime_error("shared images need at least one variant");
        if (shape_.minImageSize < 64 || shape_.maxImageSize < shape_.minImageSize)
            throw std::runtime_error("image sizes must satisfy 64 <= min <= max");
        if (shape_.nestedShare < 0.0 || shape_.nestedShare > 1.0)
            throw std::runtime_error("the nested share must lie between 0 and 1");
    }

    std::uint64_t sizeFor(std::uint64_t key) {
        Rng rng(mix(shape_.seed, key));
        return rng.between(shape_.minImageSize, shape_.maxImageSize);
    }

    void planShared() {
        for (int j = 0; j < shape_.sharedImages; ++j) {
            SharedImage image{sharedImageName(j + 1, shape_.upperCaseExtensions), {}};
            for (int v = 0; v < shape_.sharedVariants; ++v)
                image.sizes.push_back(
                    sizeFor(shape_.uniformSizes ? 0x2000u + static_cast<std::uint64_t>(j)
                                                : 0x3000000u + static_cast<std::uint64_t>(j) * 64u +
                                                      static_cast<std::uint64_t>(v)));
            shared_.push_back(std::move(image));
        }
    }

    // Shared contents take ids 1..; page images and ineligible images take ids after them.
    std::uint64_t sharedContentId(int index, int variant) const {
        return 1 +
               static_cast<std::uint64_t>(index) *
                   static_cast<std::uint64_t>(shape_.sharedVariants) +
               static_cast<std::uint64_t>(variant);
    }

    void writeImage(const fs::path& relative, std::uint64_t contentId, std::uint64_t size) {
        fillContent(buffer_, shape_.seed, contentId, size, formatOf(relative.filename().string()));
        writeWholeFile(root_ / relative, buffer_);
        files_.emplace(relative.generic_string(), FileInfo{contentId, size});
        ++result_.imageFiles;
        result_.imageBytes += size;
    }

    void writePage(const fs::path& folder, const std::string& name, Rng& rng) {
        const std::string pageFolderName = name + "_files";
        const fs::path pageFolder = folder / pageFolderName;
        fs::create_directories(root_ / pageFolder);

        struct Shown {
            std::string name;
            std::uint64_t size;
        };
        std::vector<Shown> pageImages;
        for (int i = 1; i <= shape_.imagesPerPage; ++i) {
            std::string imageName = pageImageName(i, shape_.seed, shape_.upperCaseExtensions);
            const std::uint64_t size = shape_.uniformSizes
                                           ? sizeFor(0x1000000u + static_cast<std::uint64_t>(i))
                                           : rng.between(shape_.minImageSize, shape_.maxImageSize);
            writeImage(pageFolder / imageName, nextContentId_++, size);
            pageImages.push_back({std::move(imageName), size});
        }

        // A partial shuffle picks this page's shared images.
        std::vector<int> pool(static_cast<std::size_t>(shape_.sharedImages));
        for (std::size_t k = 0; k < pool.size(); ++k)
            pool[k] = static_cast<int>(k);
        std::vector<Shown> sharedShown;
        for (int k = 0; k < shape_.sharedPerPage; ++k) {
            const auto pick = static_cast<std::size_t>(
                rng.between(static_cast<std::uint64_t>(k), pool.size() - 1));
            std::swap(pool[static_cast<std::size_t>(k)], pool[pick]);
            const int index = pool[static_cast<std::size_t>(k)];
            const int variant =
                static_cast<int>(rng.next() % static_cast<std::uint64_t>(shape_.sharedVariants));
            const SharedImage& image = shared_[static_cast<std::size_t>(index)];
            const std::uint64_t size = image.sizes[static_cast<std::size_t>(variant)];
            writeImage(pageFolder / image.name, sharedContentId(index, variant), size);
            sharedShown.push_back({image.name, size});
        }

        if (shape_.rolloverImages) {
            // Navigation images are the same everywhere but never eligible.
            writeImage(pageFolder / "nav_link_1.png", rolloverBase_, 512);
            writeImage(pageFolder / "nav_rollover_1.png", rolloverBase_ + 1, 512);
        }

        const std::string prefix = pageFolderName + "/";
        const std::string escaped = pageFolderName + "\\/";
        std::string script = "// Page script of " + name + ".\n";
        script += "var sharedImages = [";
        for (std::size_t k = 0; k < sharedShown.size(); ++k)
            script += (k ? ", \"" : "\"") + escaped + sharedShown[k].name + "\"";
        script += "];\n";
        script += "function pageLoaded() {\n";
        std::string scripted;
        if (!pageImages.empty())
            scripted = pageImages.front().name;
        else if (!sharedShown.empty())
            scripted = sharedShown.front().name;
        if (!scripted.empty())
            script += "    document.getElementById('scripted_image').src = \"" + escaped +
                      scripted + "\";\n";
        script += "}\nwindow.addEventListener('load', pageLoaded);\n";
        writeWholeFile(root_ / pageFolder / (name + ".js"), script);

        std::string up;
        for (auto it = folder.begin(); it != folder.end(); ++it)
            if (!it->empty())
                up += "../";
        std::string html;
        html.reserve(4096);
        html += "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>" + name +
                "</title>\n<script type=\"text/javascript\" src=\"" + prefix + name +
                ".js\"></script>\n</head>\n<body>\n";
        if (shape_.rolloverImages)
            html += "<a href=\"" + up + "index.html\"><img src=\"" + prefix +
                    "nav_link_1.png\" onmouseover=\"this.src='" + prefix +
                    "nav_rollover_1.png'\" onmouseout=\"this.src='" + prefix +
                    "nav_link_1.png'\" width=\"80\" height=\"20\" alt=\"Home\"></a>\n";
        html += "<h1>" + name + "</h1>\n<p>Notes and pictures of " + name + ".</p>\n";
        if (!scripted.empty())
            html += "<img id=\"scripted_image\" width=\"120\" height=\"90\" alt=\"\">\n";
        // The image the script sets is not shown through <img src> as well.
        const bool scriptedIsPageImage = !pageImages.empty();
        std::size_t index = 0;
        auto showImage = [&](const Shown& image) {
            html += "<img id=\"image_" + std::to_string(++index) + "\" src=\"" + prefix +
                    image.name + "\" width=\"120\" height=\"90\" alt=\"\">\n";
        };
        for (std::size_t k = scriptedIsPageImage ? 1 : 0; k < pageImages.size(); ++k)
            showImage(pageImages[k]);
        for (std::size_t k = scriptedIsPageImage ? 0 : 1; k < sharedShown.size(); ++k)
            showImage(sharedShown[k]);
        html += "</body>\n</html>\n";
        writeWholeFile(root_ / folder / (name + ".html"), html);
        result_.pageFiles.push_back(folder / (name + ".html"));
    }

    void writeAssets() {
        if (shape_.assetCopies == 0)
            return;
        fs::create_directories(root_ / "assets");
        for (int j = 0; j < shape_.assetCopies; ++j) {
            const SharedImage& image = shared_[static_cast<std::size_t>(j)];
            writeImage(fs::path("assets") / image.name, sharedContentId(j, 0), image.sizes[0]);
        }
    }

    void writeIndex(const std::vector<std::pair<std::string, std::string>>& links) {
        std::string html = "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n"
                           "<title>Home</title>\n</head>\n<body>\n<h1>Home</h1>\n<ul>\n";
        for (const auto& [href, title] : links)
            html += "<li><a href=\"" + href + "\">" + title + "</a></li>\n";
        for (int j = 0; j < shape_.assetCopies; ++j)
            html += "<img src=\"assets/" + shared_[static_cast<std::size_t>(j)].name +
                    "\" width=\"60\" height=\"40\" alt=\"\">\n";
        html += "</ul>\n</body>\n</html>\n";
        writeWholeFile(root_ / "index.html", html);
    }

    // Walks the tree as the file system lists it and groups eligible regular files by name and
    // the content id the generator gave them.
    void computeExpectedGroups() {
        struct Copy {
            std::string name;
            std::uint64_t contentId;
            bool operator==(const Copy&) const = default;
        };
        struct CopyHash {
            std::size_t operator()(const Copy& c) const {
                return std::hash<std::string>()(c.name) ^ (c.contentId * 0x9e3779b97f4a7c15ULL);
            }
        };
        std::unordered_map<Copy, std::size_t, CopyHash> groupOf;
        std::unordered_map<Copy, fs::path, CopyHash> singles;
        for (auto it = fs::recursive_directory_iterator(root_);
             it != fs::recursive_directory_iterator(); ++it) {
            if (!fs::is_regular_file(it->symlink_status()))
                continue;
            const std::string name = it->path().filename().string();
            if (!isEligible(name))
                continue;
            const fs::path relative = it->path().lexically_relative(root_);
            const auto known = files_.find(relative.generic_string());
            if (known == files_.end())
                throw std::runtime_error("unexpected file in the generated site: " +
                                         relative.string());
            const Copy key{name, known->second.contentId};
            if (auto group = groupOf.find(key); group != groupOf.end()) {
                result_.groups[group->second].copies.push_back(relative);
            } else if (auto single = singles.find(key); single != singles.end()) {
                fillContent(buffer_, shape_.seed, key.contentId, known->second.size,
                            formatOf(name));
                result_.groups.push_back(
                    {name, md5(buffer_), known->second.size, {single->second, relative}});
                groupOf.emplace(key, result_.groups.size() - 1);
                singles.erase(single);
            } else {
                singles.emplace(key, relative);
            }
        }
    }

    fs::path root_;
    SiteShape shape_;
    GeneratedSite result_;
    std::vector<SharedImage> shared_;
    std::unordered_map<std::string, FileInfo> files_;
    std::string buffer_;
    // Two ids reserved for the navigation images, page images after them.
    std::uint64_t rolloverBase_ = 1ULL << 40;
    std::uint64_t nextContentId_ = (1ULL << 40) + 2;
};

} // namespace

SiteShape mediumBenchShape(std::uint64_t seed) {
    SiteShape shape;
    shape.seed = seed;
    shape.pages = 500;
    shape.imagesPerPage = 30;
    shape.sharedImages = 40;
    shape.sharedPerPage = 4;
    shape.nestedShare = 0.3;
    shape.minImageSize = 4096;
    shape.maxImageSize = 106 * 1024;
    shape.assetCopies = 4;
    return shape;
}

SiteShape largeBenchShape(std::uint64_t seed) {
    SiteShape shape;
    shape.seed = seed;
    shape.pages = 2000;
    shape.imagesPerPage = 40;
    shape.sharedImages = 60;
    shape.sharedPerPage = 5;
    shape.nestedShare = 0.3;
    shape.minImageSize = 2048;
    shape.maxImageSize = 60 * 1024;
    shape.assetCopies = 6;
    return shape;
}

GeneratedSite generateSite(const fs::path& root, const SiteShape& shape) {
    return Generator(root, shape).run();
}

std::string groupsToJson(const fs::path& root, const std::vector<ExpectedGroup>& groups) {
    std::string out = "{\"root\": " + jsonString(root.string()) + ", \"groups\": [";
    for (std::size_t g = 0; g < groups.size(); ++g) {
        const ExpectedGroup& group = groups[g];
        out += g ? ", " : "";
        out += "{\"name\": " + jsonString(group.name) + ", \"md5\": \"" + group.md5 +
               "\", \"size\": " + std::to_string(group.size) + ", \"copies\": [";
        for (std::size_t c = 0; c < group.copies.size(); ++c)
            out += (c ? ", " : "") + jsonString(group.copies[c].generic_string());
        out += "]}";
    }
    out += "]}\n";
    return out;
}

} // namespace tolvane::sitegen

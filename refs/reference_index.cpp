#include "refs/reference_index.hpp"

#include "util/text.hpp"

#include <algorithm>
#include <set>

namespace tolvane {

namespace fs = std::filesystem;

namespace {

// A file's references (or unresolved ones) while the site is read: those of one file, to be
// put in place by offset once every file is read.
// The text of each is held in its file's arena (Gathered::texts), not in a string of its own:
// a large site has hundreds of thousands of them, all held until the last file is read.
struct Pending {
    std::uint32_t offset;
    std::uint32_t length;
    std::uint32_t line;
    std::uint32_t target;
    std::uint32_t textAt; // in the file's arena; the text is length bytes long
    std::uint8_t skip;
};

} // namespace

// What reading the site gathered, per text file by its number in the walk.
struct ReferenceIndex::Gathered {
    explicit Gathered(std::size_t files) : references(files), texts(files), unresolved(files) {}
    std::vector<std::vector<Pending>> references;
    std::vector<std::string> texts; // per file, the texts of its references one after another
    std::vector<std::vector<UnresolvedReference>> unresolved;
};

ReferenceIndex ReferenceIndex::build(const fs::path& root, const std::vector<fs::path>& images,
                                     TextFileAccess* access, Progress* progress,
                                     const SiteListing* listing) {
    std::vector<std::string_view> paths;
    paths.reserve(images.size());
    for (const auto& image : images)
        paths.push_back(image.native());
    return build(root, paths, access, progress, listing);
}

ReferenceIndex ReferenceIndex::build(const fs::path& root,
                                     const std::vector<std::string_view>& images,
                                     TextFileAccess* access, Progress* progress,
                                     const SiteListing* listing, ImagePaths paths) {
    DiskTextFileAccess disk;
    TextFileAccess& io = access ? *access : disk;
    ReferenceIndex index;
    index.root_ = normalFolder(root);
    index.siteRoot_.emplace(index.root_);
    index.addImages(images, paths);
    const NameTable names(index.targets_);

    if (progress)
        progress->start(Phase::indexing);
    SiteFiles files = listing ? siteFilesOf(index.root_, *listing, false)
                              : walkSite(index.root_, false, progress);
    if (files.cancelled) {
        index.cancelled_ = true;
        return index;
    }
    index.takeFiles(files);
    if (progress)
        progress->setTotal(index.files_.size());
    Gathered gathered(index.files_.size());
    UrlReader reader(index.root_);
    for (const std::size_t i : pagesFirst(files)) {
        if (progress && progress->cancelled()) {
            index.cancelled_ = true;
            return index;
        }
        index.readFile(i, files.textFiles[i].second, io, reader, names, gathered);
        if (progress)
            progress->advance();
    }
    index.place(gathered);
    return index;
}

void ReferenceIndex::addImages(const std::vector<std::string_view>& images, ImagePaths paths) {
    // A path not yet absolute and normal is made so, and then always held here. The block is
    // sized first, so that the views into it stay put while it fills.
    std::vector<std::pair<std::size_t, std::string>> made; // by position, ascending
    std::size_t owned = 0;
    for (std::size_t i = 0; i < images.size(); ++i) {
        if (!isAbsoluteNormal(images[i])) {
            made.emplace_back(i, fs::absolute(fs::path(images[i])).lexically_normal().native());
            owned += made.back().second.size();
        } else if (paths == ImagePaths::copied) {
            owned += images[i].size();
        }
    }
    ownedPaths_.reserve(owned);
    targets_.reserve(images.size());
    targetIndex_.reserve(images.size());
    auto next = made.begin();
    for (std::size_t i = 0; i < images.size(); ++i) {
        const bool normalized = next != made.end() && next->first == i;
        std::string_view path = normalized ? std::string_view((next++)->second) : images[i];
        if (normalized || paths == ImagePaths::copied) {
            const std::size_t at = ownedPaths_.size();
            ownedPaths_.insert(ownedPaths_.end(), path.begin(), path.end());
            path = std::string_view(ownedPaths_.data() + at, path.size());
        }
        // A path given twice keeps both places; lookups find the first.
        targetIndex_.emplace(path, static_cast<std::uint32_t>(targets_.size()));
        targets_.push_back(path);
    }
    imageCount_ = targets_.size();
}

void ReferenceIndex::takeFiles(SiteFiles& files) {
    unreadable_ = std::move(files.unreadable);
    linked_ = std::move(files.linked);
    // Every text file has a number, its place in the walk; those not read have no references.
    files_.reserve(files.textFiles.size());
    for (const auto& entry : files.textFiles)
        files_.push_back(entry.first);
    fileBases_.resize(files_.size());
    notUtf8_.assign(files_.size(), false);
}

void ReferenceIndex::readFile(std::size_t i, TextKind kind, TextFileAccess& io, UrlReader& reader,
                              const NameTable& names, Gathered& gathered) {
    const fs::path& file = files_[i];
    std::error_code error;
    const auto text = readText(io, file, error);
    if (!text) {
        unreadable_.push_back({file, error});
        return;
    }
    ++textFilesRead_;
    if (!isUtf8Text(*text)) {
        if (const auto decoded = wideTextAsUtf8(*text)) {
            keepForWideText(i, kind, *decoded, reader, names);
            return;
        }
    }
    FileBase base;
    // Only a URL whose last segment names no image is looked through for names inside.
    const std::vector<FoundUrl> found =
        reader.read(file, kind, *text, base, [&](const ParsedUrl& url) {
            return names.withName(url.segments.back()) == nullptr;
        });
    if (base.folder)
        fileBases_[i] = *base.folder;
    const auto imageAt = [&](const std::string& path) { return targetAt(path); };
    auto& references = gathered.references[i];
    auto& unresolved = gathered.unresolved[i];
    for (const FoundUrl& f : found) {
        const std::string as = text->substr(f.offset, f.length);
        const auto* sameName = names.withName(f.url.segments.back());
        if (!sameName) {
            for (const std::string& name : names.namesInside(f.decoded))
                unresolved.push_back({file, f.offset, f.length, f.line, as, UrlProblem::nameInside,
                                      name, *names.withName(name)});
            continue;
        }
        UrlClass what = classifyUrl(f, base, imageAt, &*siteRoot_);
        if (what.kind == UrlClass::Kind::image) {
            std::string& texts = gathered.texts[i];
            references.push_back(
                {static_cast<std::uint32_t>(f.offset), static_cast<std::uint32_t>(f.length),
                 static_cast<std::uint32_t>(f.line), what.image,
                 static_cast<std::uint32_t>(texts.size()), static_cast<std::uint8_t>(f.skip)});
            texts += as;
            continue;
        }
        // Another file of that name is not ours. Nothing at all: the text may be a piece of a
        // URL that a script completes, so it could be ours.
        if (what.kind == UrlClass::Kind::otherFile || what.kind == UrlClass::Kind::unexaminable)
            continue;
        auto candidates = candidatesFor(f.url.segments, *sameName, targets_, root_);
        if (!candidates.empty())
            unresolved.push_back({file, f.offset, f.length, f.line, as, what.problem,
                                  std::move(what.detail), std::move(candidates)});
    }
    // Held until every file is read: no more than they need.
    references.shrink_to_fit();
    gathered.texts[i].shrink_to_fit();
    if ((!references.empty() || !unresolved.empty()) && !isUtf8Text(*text))
        notUtf8_[i] = true;
}

void ReferenceIndex::keepForWideText(std::size_t i, TextKind kind, const std::string& decoded,
                                     UrlReader& reader, const NameTable& names) {
    const fs::path& file = files_[i];
    std::set<std::size_t> images;
    FileBase base;
    const std::vector<FoundUrl> found =
        reader.read(file, kind, decoded, base, [&](const ParsedUrl& url) {
            return names.withName(url.segments.back()) == nullptr;
        });
    const auto imageAt = [&](const std::string& path) { return targetAt(path); };
    for (const FoundUrl& f : found) {
        const auto* sameName = names.withName(f.url.segments.back());
        if (!sameName) {
            for (const std::string& name : names.namesInside(f.decoded))
                images.insert(names.withName(name)->begin(), names.withName(name)->end());
            continue;
        }
        const UrlClass what = classifyUrl(f, base, imageAt, &*siteRoot_);
        if (what.kind == UrlClass::Kind::image)
            images.insert(what.image);
        else if (what.kind != UrlClass::Kind::otherFile)
            for (const std::size_t c : candidatesFor(f.url.segments, *sameName, targets_, root_))
                images.insert(c);
    }
    // A page shows what its page folder holds, whatever its text looks like once decoded.
    if (kind == TextKind::page) {
        const std::string folder =
            (file.parent_path() / (file.stem().string() + "_files")).native() + "/";
        for (std::size_t k = 0; k < imageCount_; ++k) {
            if (targets_[k].starts_with(folder))
                images.insert(k);
        }
    }
    for (const std::size_t image : images)
        wideTextFiles_[static_cast<std::uint32_t>(image)].push_back(static_cast<std::uint32_t>(i));
}

void ReferenceIndex::place(Gathered& gathered) {
    // In walk order of the files, then by place in the file.
    const std::size_t fileCount = files_.size();
    std::size_t referenceCount = 0, unresolvedCount = 0;
    for (std::size_t i = 0; i < fileCount; ++i) {
        referenceCount += gathered.references[i].size();
        unresolvedCount += gathered.unresolved[i].size();
    }
    references_.reserve(referenceCount);
    unresolved_.reserve(unresolvedCount);
    referencesInFile_.resize(fileCount);
    unresolvedInFile_.resize(fileCount);
    byTarget_.resize(targets_.size());
    unresolvedByImage_.resize(imageCount_);
    referenceTexts_ = std::move(gathered.texts);
    for (std::size_t i = 0; i < fileCount; ++i) {
        auto& mine = gathered.references[i];
        const std::string_view texts = referenceTexts_[i];
        std::stable_sort(mine.begin(), mine.end(),
                         [](const Pending& a, const Pending& b) { return a.offset < b.offset; });
        referencesInFile_[i].first = static_cast<std::uint32_t>(references_.size());
        for (Pending& p : mine) {
            byTarget_[p.target].push_back(static_cast<std::uint32_t>(references_.size()));
            references_.push_back({files_[i], p.offset, p.length, p.line, p.target,
                                   texts.substr(p.textAt, p.length), fileBases_[i], p.skip});
        }
        referencesInFile_[i].second = static_cast<std::uint32_t>(references_.size());
        std::vector<Pending>().swap(mine);

        auto& theirs = gathered.unresolved[i];
        std::stable_sort(theirs.begin(), theirs.end(),
                         [](const UnresolvedReference& a, const UnresolvedReference& b) {
                             return a.offset < b.offset;
                         });
        unresolvedInFile_[i].first = static_cast<std::uint32_t>(unresolved_.size());
        for (UnresolvedReference& u : theirs) {
            for (const std::size_t image : u.images)
                unresolvedByImage_[image].push_back(static_cast<std::uint32_t>(unresolved_.size()));
            unresolved_.push_back(std::move(u));
        }
        unresolvedInFile_[i].second = static_cast<std::uint32_t>(unresolved_.size());
        std::vector<UnresolvedReference>().swap(theirs);
    }
}

std::uint32_t ReferenceIndex::targetNumber(const fs::path& path) const {
    // A path already absolute and normal is found as it is; any other is made so first.
    if (const auto found = targetIndex_.find(path.native()); found != targetIndex_.end())
        return found->second;
    const auto found = targetIndex_.find(fs::absolute(path).lexically_normal().native());
    return found == targetIndex_.end() ? none : found->second;
}

std::optional<std::uint32_t> ReferenceIndex::targetAt(const std::string& path) const {
    const auto hit = targetIndex_.find(path);
    return hit == targetIndex_.end() ? std::nullopt : std::optional(hit->second);
}

std::vector<fs::path> ReferenceIndex::images() const {
    return {targets_.begin(), targets_.begin() + static_cast<long>(imageCount_)};
}

fs::path ReferenceIndex::targetOf(const Reference& reference) const {
    return targets_[reference.target];
}

std::optional<std::uint32_t> ReferenceIndex::imageNumber(const fs::path& image) const {
    const std::uint32_t target = targetNumber(image);
    if (target == none || target >= imageCount_)
        return std::nullopt;
    return target;
}

std::vector<const Reference*> ReferenceIndex::referencesTo(const fs::path& image) const {
    const std::uint32_t target = targetNumber(image);
    return target == none ? std::vector<const Reference*>{} : referencesTo(target);
}

std::vector<const Reference*> ReferenceIndex::referencesTo(std::uint32_t target) const {
    std::vector<const Reference*> result;
    if (target >= byTarget_.size())
        return result;
    result.reserve(byTarget_[target].size());
    for (const std::uint32_t i : byTarget_[target])
        result.push_back(&references_[i]);
    return result;
}

std::vector<const UnresolvedReference*> ReferenceIndex::unresolvedFor(const fs::path& image) const {
    std::vector<const UnresolvedReference*> result;
    const std::uint32_t target = targetNumber(image);
    if (target == none || target >= imageCount_)
        return result;
    for (const std::uint32_t i : unresolvedByImage_[target])
        result.push_back(&unresolved_[i]);
    return result;
}

std::vector<fs::path> ReferenceIndex::filesReferring(const std::vector<fs::path>& images) const {
    // The references are in walk order of their files, so their files' numbers are too.
    std::vector<std::uint32_t> numbers;
    for (const auto& image : images) {
        const std::uint32_t target = targetNumber(image);
        if (target == none)
            continue;
        for (const std::uint32_t i : byTarget_[target])
            numbers.push_back(static_cast<std::uint32_t>(&references_[i].file - files_.data()));
    }
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    std::vector<fs::path> result;
    result.reserve(numbers.size());
    for (const std::uint32_t n : numbers)
        result.push_back(files_[n]);
    return result;
}

std::vector<KeepReason> ReferenceIndex::reasonsToKeep(const fs::path& image,
                                                      TextFileAccess& access) const {
    return reasonsToKeep(targetNumber(image), access);
}

std::vector<KeepReason> ReferenceIndex::reasonsToKeep(std::uint32_t target,
                                                      TextFileAccess& access) const {
    using Cause = KeepReason::Cause;
    const auto reason = [](KeepErrc kind, const fs::path& file, Cause cause) {
        KeepReason r;
        r.kind = kind;
        r.file = file;
        r.cause = cause;
        return r;
    };
    std::vector<KeepReason> reasons;
    for (const auto& place : unreadable_) {
        reasons.push_back(reason(KeepErrc::unreadableText, place.path, Cause::unreadable));
        reasons.back().error = place.error;
    }
    if (target == none || target >= targets_.size())
        return reasons;
    if (target < imageCount_) {
        if (const auto wide = wideTextFiles_.find(target); wide != wideTextFiles_.end()) {
            for (const std::uint32_t file : wide->second)
                reasons.push_back(reason(KeepErrc::notUtf8, files_[file], Cause::wideText));
        }
        for (const std::uint32_t i : unresolvedByImage_[target]) {
            const UnresolvedReference& ref = unresolved_[i];
            KeepReason& r =
                reasons.emplace_back(reason(KeepErrc::unresolved, ref.file, Cause::reference));
            r.line = ref.line;
            r.text = ref.text;
            r.problem = ref.problem;
            r.detail = ref.detail;
        }
    }
    // An image's references are in the order of the index, so those of one file stand together.
    const fs::path* last = nullptr;
    for (const std::uint32_t i : byTarget_[target]) {
        const Reference& ref = references_[i];
        if (&ref.file == last)
            continue;
        last = &ref.file;
        if (notUtf8_[static_cast<std::size_t>(&ref.file - files_.data())])
            reasons.push_back(reason(KeepErrc::notUtf8, ref.file, Cause::notUtf8));
        else if (linked_.count(ref.file.string()))
            reasons.push_back(reason(KeepErrc::notWritable, ref.file, Cause::throughLink));
        else if (const auto why = access.whyNotWritable(ref.file)) {
            using Why = NotWritable::Why;
            reasons.push_back(reason(KeepErrc::notWritable, ref.file,
                                     why->why == Why::unexaminable ? Cause::unexaminable
                                     : why->why == Why::readOnly   ? Cause::readOnly
                                                                   : Cause::folderNotWritable));
            reasons.back().error = why->error;
        }
    }
    return reasons;
}

} // namespace tolvane

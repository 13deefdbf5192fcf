#include "refs/reference_rewrite.hpp"

#include "refs/url_find.hpp"
#include "util/text.hpp"

#include <algorithm>

namespace tolvane {

namespace fs = std::filesystem;

namespace {

// The URL each reference (sorted by offset) becomes when it leads to keptCopy, read again
// from the file's text as the index read it. Absent, with why, when the text no longer holds
// a reference at its offset.
// keptFor(i): the file the i-th reference leads to afterwards.
template <class KeptFor>
std::optional<std::vector<std::string>> replacementsFor(std::string_view text,
                                                        const std::vector<const Reference*>& sorted,
                                                        const KeptFor& keptFor, std::string* why) {
    std::optional<TextView> views[3]; // decoded as a script, as markup, as a stylesheet
    std::vector<std::string> replacements;
    replacements.reserve(sorted.size());
    std::size_t done = 0;
    for (std::size_t r = 0; r < sorted.size(); ++r) {
        const Reference* ref = sorted[r];
        const fs::path& keptCopy = keptFor(r);
        auto changed = [&] {
            if (why)
                *why =
                    "the file changed since it was read (line " + std::to_string(ref->line) + ")";
            return std::nullopt;
        };
        if (ref->offset < done || ref->offset + ref->length > text.size() ||
            text.substr(ref->offset, ref->length) != ref->text)
            return changed();
        const TextKind kind = textKindOf(ref->file.filename().string());
        const bool markup = isMarkup(kind);
        auto& view = views[kind == TextKind::stylesheet ? 2 : markup];
        if (!view)
            view = decodeText(text, markup, kind == TextKind::stylesheet);
        const auto& origin = view->origin;
        const auto at = [&](std::size_t offset) {
            return static_cast<std::size_t>(std::lower_bound(origin.begin(), origin.end(), offset) -
                                            origin.begin());
        };
        const std::size_t first = at(ref->offset);
        const std::size_t begin = first + ref->firstCharacterSkip;
        const std::size_t end = at(ref->offset + ref->length);
        if (first >= origin.size() || origin[first] != ref->offset || end >= origin.size() ||
            origin[end] != ref->offset + ref->length || begin > end)
            return changed();
        std::vector<std::string> segments;
        for (const auto& part : keptCopy.lexically_relative(ref->base))
            segments.push_back(part.string());
        if (segments.empty() || segments.back().empty() || segments.back() == ".") {
            if (why)
                *why = "no relative path from " + ref->base.string() + " to " + keptCopy.string();
            return std::nullopt;
        }
        replacements.push_back(respellUrl(parseUrl(*view, begin, end, text, markup), segments));
        done = ref->offset + ref->length;
    }
    return replacements;
}

std::vector<const Reference*> byOffset(std::vector<const Reference*> references) {
    std::stable_sort(references.begin(), references.end(),
                     [](const Reference* a, const Reference* b) { return a->offset < b->offset; });
    return references;
}

// Puts each replacement in place of the reference it belongs to (both sorted by offset).
std::string withReplacements(std::string_view text, const std::vector<const Reference*>& sorted,
                             const std::vector<std::string>& replacements) {
    std::string out;
    out.reserve(text.size() + 64 * sorted.size());
    std::size_t done = 0;
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        out.append(text.substr(done, sorted[i]->offset - done));
        out += replacements[i];
        done = sorted[i]->offset + sorted[i]->length;
    }
    out.append(text.substr(done));
    return out;
}

} // namespace

std::optional<std::string> rewrittenText(std::string_view text,
                                         const std::vector<const Reference*>& references,
                                         const fs::path& keptCopy, std::string* why) {
    const auto sorted = byOffset(references);
    const auto replacements = replacementsFor(
        text, sorted, [&](std::size_t) -> const fs::path& { return keptCopy; }, why);
    if (!replacements)
        return std::nullopt;
    return withReplacements(text, sorted, *replacements);
}

std::optional<std::string> rewrittenText(std::string_view text,
                                         const std::vector<const Reference*>& sorted,
                                         const std::vector<const fs::path*>& kept,
                                         std::string* why) {
    const auto replacements = replacementsFor(
        text, sorted, [&](std::size_t i) -> const fs::path& { return *kept[i]; }, why);
    if (!replacements)
        return std::nullopt;
    return withReplacements(text, sorted, *replacements);
}

std::optional<std::string> rewrittenReferencesTo(std::string_view text, const fs::path& file,
                                                 const fs::path& base, const fs::path& image,
                                                 const fs::path& keptCopy, std::string* why) {
    const TextKind kind = textKindOf(file.filename().string());
    const bool markup = isMarkup(kind);
    const TextView view = decodeText(text, markup, kind == TextKind::stylesheet);
    const std::string wanted = image.lexically_normal().native();
    std::vector<Reference> found;
    for (const UrlSpan& span : findImageUrls(view.text)) {
        const FoundUrl f = foundUrlAt(view, span, text, markup);
        if (f.url.kind == ParsedUrl::Kind::relative &&
            resolveSegmentsText(base.native(), f.url.segments) == wanted)
            found.push_back(
                {file, static_cast<std::uint32_t>(f.offset), static_cast<std::uint32_t>(f.length),
                 0, 0, text.substr(f.offset, f.length), base, static_cast<std::uint8_t>(f.skip)});
    }
    std::vector<const Reference*> references;
    for (const Reference& reference : found)
        references.push_back(&reference);
    return rewrittenText(text, references, keptCopy, why);
}

ReferenceIndex::FileRewrite
ReferenceIndex::rewrite(const fs::path& file, const std::vector<fs::path>& copies,
                        const fs::path& keptCopy, TextFileAccess& access, bool writeBackUnchanged) {
    FileRewrite result;
    using Failure = FileRewrite::Failure;
    const fs::path kept = fs::absolute(keptCopy).lexically_normal();
    const std::uint32_t keptNumber = targetNumber(kept);
    const std::uint32_t number = fileNumber(file);
    const auto sorted = byOffset(referencesIn(number, copies, keptNumber));
    if (sorted.empty() && !writeBackUnchanged)
        return result;
    const auto text = readText(access, file, result.error);
    if (!text) {
        result.failure = Failure::read;
        result.why = "could not be read: " + result.error.message();
        return result;
    }
    if (!isUtf8Text(*text)) {
        result.failure = Failure::notUtf8;
        result.error = std::make_error_code(std::errc::illegal_byte_sequence);
        result.why = "is not valid UTF-8 text";
        return result;
    }
    const auto replacements = replacementsFor(
        *text, sorted, [&](std::size_t) -> const fs::path& { return kept; }, &result.why);
    if (!replacements) {
        result.failure = Failure::changed;
        result.error = std::make_error_code(std::errc::invalid_argument);
        return result;
    }
    const std::string next = withReplacements(*text, sorted, *replacements);
    if ((result.error = access.write(file, asBytes(next)))) {
        result.failure = Failure::write;
        result.why = "could not be written back: " + result.error.message();
        return result;
    }
    result.written = true;
    result.replaced = sorted.size();
    if (!sorted.empty())
        keepInStep(number, sorted, *replacements,
                   keptNumber != none ? keptNumber : addTarget(kept.native()));
    return result;
}

std::vector<const Reference*> ReferenceIndex::referencesIn(std::uint32_t file,
                                                           const std::vector<fs::path>& copies,
                                                           std::uint32_t keptNumber) const {
    std::vector<std::uint32_t> targets;
    for (const auto& copy : copies) {
        if (const std::uint32_t target = targetNumber(copy); target != none)
            targets.push_back(target);
    }
    std::vector<const Reference*> chosen;
    if (file == none)
        return chosen;
    for (std::uint32_t i = referencesInFile_[file].first; i < referencesInFile_[file].second; ++i) {
        const Reference& ref = references_[i];
        if (std::find(targets.begin(), targets.end(), ref.target) != targets.end() &&
            ref.target != keptNumber)
            chosen.push_back(&ref);
    }
    return chosen;
}

void ReferenceIndex::keepInStep(std::uint32_t file, const std::vector<const Reference*>& sorted,
                                const std::vector<std::string>& replacements, std::uint32_t to) {
    // New texts and targets for the rewritten references, shifted offsets after them.
    if (to >= byTarget_.size())
        byTarget_.resize(to + 1);
    const auto [first, last] = referencesInFile_[file];
    std::vector<bool> rewritten(last - first, false);
    std::vector<std::pair<std::size_t, long long>> shifts; // old end offset -> change in length
    long long delta = 0;
    for (std::size_t k = 0; k < sorted.size(); ++k) {
        const auto index = static_cast<std::uint32_t>(sorted[k] - references_.data());
        Reference& ref = references_[index];
        rewritten[index - first] = true;
        const std::size_t oldEnd = ref.offset + ref.length;
        const std::string& written = replacements[k];
        ref.offset = static_cast<std::uint32_t>(static_cast<long long>(ref.offset) + delta);
        delta += static_cast<long long>(written.size()) - static_cast<long long>(ref.length);
        shifts.emplace_back(oldEnd, delta);
        ref.length = static_cast<std::uint32_t>(written.size());
        ref.text = rewrittenTexts_.emplace_back(written);
        ref.firstCharacterSkip = 0;
        auto& from = byTarget_[ref.target];
        from.erase(std::find(from.begin(), from.end(), index));
        auto& into = byTarget_[to];
        into.insert(std::upper_bound(into.begin(), into.end(), index), index);
        ref.target = to;
    }
    auto shifted = [&](std::size_t offset) {
        long long d = 0;
        for (const auto& [end, total] : shifts) {
            if (end <= offset)
                d = total;
        }
        return static_cast<std::size_t>(static_cast<long long>(offset) + d);
    };
    for (std::uint32_t i = first; i < last; ++i) {
        if (!rewritten[i - first])
            references_[i].offset = static_cast<std::uint32_t>(shifted(references_[i].offset));
    }
    for (std::uint32_t i = unresolvedInFile_[file].first; i < unresolvedInFile_[file].second; ++i)
        unresolved_[i].offset = shifted(unresolved_[i].offset);
}

} // namespace tolvane

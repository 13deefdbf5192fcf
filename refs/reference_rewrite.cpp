#include "refs/reference_rewrite.hpp"

#include "refs/url_find.hpp"
#include "util/text.hpp"

#include <algorithm>

namespace tolvane {

namespace fs = std::filesystem;

namespace {

KeepReason keepReason(const Reference& ref, KeepReason::Cause cause, std::string kept) {
    KeepReason reason;
    reason.file = ref.file;
    reason.cause = cause;
    reason.line = ref.line;
    reason.text = std::string(ref.text);
    reason.detail = std::move(kept);
    return reason;
}

// The URL each reference (sorted by offset) becomes when it leads to keptCopy, read again
// from the file's text as the index read it. Absent, with why, when the text no longer holds
// a reference at its offset.
// keptFor(i): the file the i-th reference leads to afterwards.
template <class KeptFor>
std::optional<std::vector<std::string>> replacementsFor(std::string_view text,
                                                        const std::vector<const Reference*>& sorted,
                                                        const KeptFor& keptFor, KeepReason* why) {
    std::optional<TextView> views[3]; // decoded as a script, as markup, as a stylesheet
    std::vector<std::string> replacements;
    replacements.reserve(sorted.size());
    std::size_t done = 0;
    for (std::size_t r = 0; r < sorted.size(); ++r) {
        const Reference* ref = sorted[r];
        const fs::path& keptCopy = keptFor(r);
        auto changed = [&] {
            if (why)
                *why = keepReason(*ref, KeepReason::Cause::changed, {});
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
                *why = keepReason(*ref, KeepReason::Cause::noRelativePath, keptCopy.string());
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
                                         const fs::path& keptCopy, KeepReason* why) {
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
                                         KeepReason* why) {
    const auto replacements = replacementsFor(
        text, sorted, [&](std::size_t i) -> const fs::path& { return *kept[i]; }, why);
    if (!replacements)
        return std::nullopt;
    return withReplacements(text, sorted, *replacements);
}

std::optional<std::string> rewrittenReferencesTo(std::string_view text, const fs::path& file,
                                                 const fs::path& base, const fs::path& image,
                                                 const fs::path& keptCopy, KeepReason* why) {
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

} // namespace tolvane

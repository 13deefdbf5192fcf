#include "app/path_text.hpp"

#include <QLocale>

namespace tolvane {

QString relativeText(const std::filesystem::path& path, const std::filesystem::path& root) {
    if (!root.empty()) {
        const std::filesystem::path relative = path.lexically_relative(root);
        if (!relative.empty() && *relative.begin() != "..")
            return toQString(relative.generic_string());
    }
    return toQString(path);
}

QString sizeText(std::uint64_t bytes) {
    return QLocale().formattedDataSize(static_cast<qint64>(bytes), 1,
                                       QLocale::DataSizeTraditionalFormat);
}

} // namespace tolvane

#pragma once

#include <QFile>
#include <QString>

#include <cstdint>
#include <filesystem>

namespace tolvane {

// File-system paths and the texts the window shows for them. Paths are bytes on this platform;
// Qt's file-name codec maps them to text and back without loss.
inline QString toQString(const std::filesystem::path& path) {
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
}

inline std::filesystem::path toPath(const QString& text) {
    return std::filesystem::path(QFile::encodeName(text).toStdString());
}

// path as seen from root ("Blog/Entry1_files/a.png"), or the whole path when it lies outside.
QString relativeText(const std::filesystem::path& path, const std::filesystem::path& root);

// A byte count for people: "512 bytes", "1.2 KB", "3.4 MB".
QString sizeText(std::uint64_t bytes);

} // namespace tolvane

#pragma once

#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <QString>

#include <cstddef>
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

// one when n is 1, else many with n in it ("%L1 copies").
inline QString counted(std::size_t n, const QString& one, const QString& many) {
    return n == 1 ? one : many.arg(n);
}

// The date and time now, as the window's language writes them.
inline QString nowText() {
    return QLocale().toString(QDateTime::currentDateTime(), QLocale::ShortFormat);
}

} // namespace tolvane

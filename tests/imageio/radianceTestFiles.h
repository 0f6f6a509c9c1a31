#pragma once
// Small helpers of the radiance reader and writer tests: writing hand-made files byte by byte.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <cstdint>
#include <string>
#include <vector>

namespace halvora::test {

inline bool writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

inline QByteArray readBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline QByteArray toBytes(const std::vector<uint8_t>& v) {
    return QByteArray(reinterpret_cast<const char*>(v.data()), qsizetype(v.size()));
}

} // namespace halvora::test

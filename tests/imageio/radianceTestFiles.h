#pragma once
// Small helpers of the radiance reader and writer tests: writing hand-made files byte by byte.

#include "support/testSupport.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <cstdint>
#include <string>
#include <vector>

namespace halvora::test {

inline QByteArray toBytes(const std::vector<uint8_t>& v) {
    return QByteArray(reinterpret_cast<const char*>(v.data()), qsizetype(v.size()));
}

} // namespace halvora::test

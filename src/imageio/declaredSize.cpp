#include "imageio/declaredSize.h"

#include "base/failure.h"

namespace halvora {

bool fileHoldsPicture(int64_t width, int64_t height, uint64_t leastBytes, uint64_t fileBytes,
                      const char* caller, const QString& fileName, QString* error) {
    if (fileBytes >= leastBytes) return true;
    return fail(error, caller, fileName,
                QStringLiteral("declares %1 × %2 pixels but holds only %3 bytes")
                    .arg(width)
                    .arg(height)
                    .arg(fileBytes));
}

} // namespace halvora

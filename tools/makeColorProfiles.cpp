// Writes the colour profiles the program ships ("sRGB.icm", "AdobeRGB1998.icc", …) into a folder,
// built with LittleCMS from the published definitions in src/color/standardProfiles.cpp. Run by the
// build, which places them in "color profiles" next to the program.
//
// Usage: makeColorProfiles <folder>

#include "color/standardProfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: makeColorProfiles <folder>\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "makeColorProfiles: cannot create the folder %s\n", argv[1]);
        return 1;
    }
    for (const halvora::standardProfile_t& definition : halvora::standardProfiles()) {
        QString error;
        const halvora::iccProfile profile = halvora::buildStandardProfile(definition, &error);
        if (!profile.valid() || !profile.saveToFile(folder + "/" + definition.fileName, &error)) {
            std::fprintf(stderr, "makeColorProfiles: %s\n", error.toLocal8Bit().constData());
            return 1;
        }
    }
    return 0;
}

#pragma once
// Helpers of the photo-loading tests: generated pictures, preparing and loading through the real
// preparation and load worker, and an independent conversion of a decoded QImage to the working scale.

#include "project/loadPhotoWorker.h"
#include "project/processingProject.h"
#include "support/testSupport.h"

#include <QImage>
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

namespace halvora::test {

/// A w × h picture whose pixels all differ from their neighbours in a known way.
inline QImage patternImage(int w, int h, int seed = 0) {
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y,
                         qRgb((x * 7 + seed) & 255, (y * 5 + seed * 3) & 255, (x + 2 * y + seed) & 255));
    return img;
}

inline QString savedImage(const QImage& img, const QString& dir, const QString& name, int quality = 95) {
    const QString path = dir + "/" + name;
    img.save(path, nullptr, quality);
    return path;
}

/// The working-scale samples of `img` (as decoded by Qt) turned by `mode` (-1 none), built with
/// QImage's own transform and pixel access.
inline std::vector<uint16_t> expectedSamples(const QImage& decoded, int mode) {
    QImage img = decoded.convertToFormat(QImage::Format_RGB32);
    if (mode == 0)
        img = img.transformed(QTransform().rotate(-90));
    else if (mode == 1)
        img = img.transformed(QTransform().rotate(180));
    else if (mode == 2)
        img = img.transformed(QTransform().rotate(90));
    std::vector<uint16_t> out(size_t(img.width()) * img.height() * 3);
    size_t i = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QRgb c = img.pixel(x, y);
            out[i++] = uint16_t(qRed(c) * 128);
            out[i++] = uint16_t(qGreen(c) * 128);
            out[i++] = uint16_t(qBlue(c) * 128);
        }
    return out;
}

struct loadOutcome {
    int code = -1;
    QString message;
};

/// Prepares `file` as the file at `position` of an action; null (with the reason in `error`) on failure.
inline std::unique_ptr<photoEntry> preparePhoto(processingProject& project, const QString& file,
                                                int position = 0, bool radianceOpened = false,
                                                QString* error = nullptr) {
    auto photo = std::make_unique<photoEntry>();
    photo->fileName = file;
    if (!project.loadPhotoPrepare(*photo, position, radianceOpened, error)) return nullptr;
    return photo;
}

/// Loads a prepared photo on this thread with `buffer` as its decode buffer; on success the photo
/// joins the project and `buffer` receives the samples read back from its temporary file.
inline loadOutcome loadPrepared(processingProject& project, std::unique_ptr<photoEntry> photo,
                                std::vector<uint16_t>& buffer) {
    buffer.assign(size_t(project.width) * project.height * 3, 0);
    loadPhotoWorker worker(&project, std::move(photo), buffer.data(), 0);
    loadOutcome outcome;
    QObject::connect(&worker, &loadPhotoWorker::finished, [&](int status, QString message, int) {
        outcome.code = status;
        outcome.message = message;
    });
    worker.loadPhoto();
    if (outcome.code == 0) {
        // The loaded samples are what the temporary store holds.
        std::vector<uint16_t> stored(size_t(project.width) * project.height * 3);
        auto photo = worker.takePhoto();
        if (project.readFromTempFile(*photo, 0, stored.data(), stored.size() * 2))
            buffer = std::move(stored);
        else
            buffer.clear();
        project.photos.push_back(std::move(photo));
    }
    return outcome;
}

/// Prepares every file (positions 0, 1, …) and loads them one after another.
inline std::vector<loadOutcome> loadSequence(processingProject& project, const QStringList& files,
                                             std::vector<uint16_t>* lastBuffer = nullptr,
                                             QString* error = nullptr) {
    std::vector<std::unique_ptr<photoEntry>> prepared;
    for (int i = 0; i < files.size(); ++i) {
        auto photo = preparePhoto(project, files[i], i, false, error);
        if (!photo) return {};
        prepared.push_back(std::move(photo));
    }
    std::vector<loadOutcome> outcomes;
    std::vector<uint16_t> buffer;
    for (auto& photo : prepared)
        outcomes.push_back(loadPrepared(project, std::move(photo), buffer));
    if (lastBuffer) *lastBuffer = buffer;
    return outcomes;
}

} // namespace halvora::test

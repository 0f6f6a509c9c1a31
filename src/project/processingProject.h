#pragma once
// The session object: the input photos with their previews and temporary files, the image and
// preview sizes, the radiance picture and the tone-mapping planes (each in a pyramid), both
// tone-mapping settings records with their tables, and the session directory of the temporary store.
//
// Created, cleaned up, changed and destroyed on the main thread. Workers get pointers into it when
// they start and finish before it changes; load workers hold `mutex` for the shared steps.

#include "base/pyramid.h"
#include "base/rgbBuffers.h"
#include "color/colorManagement.h"
#include "imageio/hdrLoadOptions.h"
#include "imageio/imageTransform.h"
#include "imageio/rawConverter.h"
#include "imageio/rawLoadOptions.h"
#include "project/photoEntry.h"
#include "tonemap/toneMappingSettings.h"

#include <QMutex>
#include <QObject>
#include <QString>
#include <array>
#include <functional>
#include <memory>
#include <vector>

class exiftoolDaemon;

class processingProject : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxPhotos = 32;
    static constexpr int kWorkBlockCount = 7;
    static constexpr int kWorkBlockEntries = 65280; ///< 4-byte entries: 261,120 bytes per block

    /// Builds the project and its session directory in `tempDir` (default: the system's temporary
    /// directory; the application passes the one its options put in effect). Check createFailed afterwards.
    explicit processingProject(QObject* parent = nullptr, const QString& tempDir = QString());
    ~processingProject() override;

    /// Frees every photo, buffer and pyramid and empties the session directory.
    void cleanup();

    // ---- photos
    /// Index of the photo with this id, or -1 (logged).
    int getImageInfoIdx(int id) const;
    /// Removes the photo with this id with its buffers and temporary files; false when unknown.
    bool removePhoto(int id);
    photoEntry* photoById(int id);

    // ---- loading photos
    /// Main thread. Prepares one file before any pixels are read: the file checked (a regular,
    /// readable, non-empty file), format, size (refused when the file cannot hold it), sequence rules,
    /// the project's sizing at the first photo, colour profile, id. `position` is the file's index
    /// among the files of this action; `radianceOpened` tells whether the project (or an earlier file
    /// of this action) already holds a radiance image. False with `error` set to "<file>: <reason>"
    /// (see base/failure.h); an empty text means a silent failure (a cancelled dialog).
    bool loadPhotoPrepare(photoEntry& photo, int position, bool radianceOpened, QString* error = nullptr);
    /// Load workers, under `mutex`: the first photo's EXIF turn by 90° swaps the current and the
    /// radiance size pairs (the decode size stays) and refreshes the size-dependent data.
    bool swapOrientedSize();
    /// Colour-profile step of preparation (settles photo.profilePath; false with `error` set to
    /// "<file>: <reason>" to fail). Called only while colour management is enabled; installed by the
    /// colour management.
    std::function<bool(processingProject& project, photoEntry& photo, int position, int format,
                       QString* error)>
        colorProfileHook;
    /// Asks for the HDR load options when a radiance file is opened (the main window's dialog in an
    /// interactive run); false when cancelled. Without it the unattended options are used.
    std::function<bool(hdrLoadOptions& options)> hdrLoadOptionsHook;
    /// Options of the radiance file being opened (colour space, noise filter), set by preparation.
    hdrLoadOptions hdrOptions;
    /// Options a radiance file is opened with when no dialog asks (the stored options, or the command
    /// line's in an automatic run); set by whoever creates the project.
    hdrLoadOptions unattendedHdrOptions;
    /// Colour management is on: preparation runs colorProfileHook. Set by whoever creates the project.
    bool colorManagementEnabled = false;
    /// Asks for the RAW load options of `fileName` (the "Load RAW image" dialog in an interactive run),
    /// starting from `options`; false when cancelled. Without it the unattended options are used.
    std::function<bool(const QString& fileName, const rawInfo_t& info, rawLoadOptions& options)>
        rawLoadOptionsHook;
    /// Options a RAW file is opened with when no dialog asks (the stored LoadRAW options); set by
    /// whoever creates the project.
    rawLoadOptions unattendedRawOptions;
    /// The RAW options chosen last in this project; with sameForRemaining set they are used for the
    /// remaining RAW files of the same action without asking again.
    rawLoadOptions rawOptions;
    /// The metadata tool (borrowed, may be null): the maker-note query of loading and the EXIF
    /// transfer after saving use it. Set by whoever creates the project; must outlive its runs.
    exiftoolDaemon* metadataTool = nullptr;
    /// The transforms between the sequence's working profile, the monitor and sRGB (project/projectColor.h
    /// sets them up during preparation; drawing, thumbnails and saving use them read-only).
    halvora::colorManagement color;
    /// A radiance file of the sequence declares its primaries (red, green, blue, white as x, y pairs).
    bool customPrimaries = false;
    double primaries[8] = {};

    // ---- temporary store
    /// Writes `bytes` of `buffer` as a new temporary-file record into the photo's slot; refuses an
    /// occupied slot. The photo keeps no record on failure.
    bool writeToTempFile(photoEntry& photo, int slot, const void* buffer, size_t bytes);
    /// Attaches a new, empty temporary-file record to the photo's slot for a writer that fills it piece
    /// by piece (tempFileRecord::append); null (logged) when the slot is occupied or the file cannot be
    /// created. A writer that fails releases the slot again.
    tempFileRecord* attachNewTempFile(photoEntry& photo, int slot);
    /// Reads the slot's record (exactly `bytes`) into `buffer`.
    bool readFromTempFile(photoEntry& photo, int slot, void* buffer, size_t bytes);
    /// Bytes of one photo's full-size record: width × height × 6.
    size_t photoBytes() const { return size_t(width) * size_t(height) * 6; }

    // ---- sizing
    /// Sets all size pairs to w × h, recomputes the preview sizes and (re)allocates what depends on
    /// them: the six pyramids and the work blocks at the first sizing, the previews when they grow.
    bool setImageSize(int w, int h);
    static int previewDivisorFor(int w, int h);
    static int previewZoomLevelsFor(int previewWidth, int previewHeight);
    static int pyramidLevelsFor(int w, int h);

    // ---- image transform (turn, mirror, crop); runs on transformWorker's thread
    /// Transforms the radiance picture, the planes and every photo's temporary file with `mode`
    /// (halvora::transformMode); crop uses `rect`. False when the mode or rectangle is invalid or a
    /// step fails (logged).
    bool transformImage(int mode, const halvora::cropRect& rect);

    /// The radiance picture (level 0 of hdrImage), null before the first sizing.
    float* rgbFloatBuffer() { return hdrImage.data<float>(0); }
    /// The full-resolution 16-bit result (level 0 of resultImage).
    uint16_t* resultBuffer() { return resultImage.data<uint16_t>(0); }
    /// The preview-size anti-ghosting mask (the overlay plane; 0 = normal merge, k = photo number k).
    uint8_t* antiGhostMask() { return overlayPlane.get(); }

    // ---- exposure values (src/hdr/exposureValues.cpp); main thread
    /// Derives exifEV, aebEV and a first ev per photo, ranks the photos by brightness and normalises.
    void computeEV();
    /// Makes every ev relative to the photo closest to the mean and fills the statistics.
    void normalizeEV();
    /// True when the EXIF-derived EV differences disagree with the AEB differences by half a stop.
    bool checkAEBconsistency();
    /// True when two photos have (almost) the same EV.
    bool checkEVminDiff();
    /// Clears responseCurveValid (logged) after any change of the EVs.
    void invalidateResponseCurve();

    // ---- data
    bool createFailed = false;
    std::vector<std::unique_ptr<photoEntry>> photos;
    int32_t photoIdCounter = 0;

    int width = 0, height = 0;             ///< current image size
    int decodeWidth = 0, decodeHeight = 0; ///< size photos are decoded at (before turning by EXIF)
    int hdrWidth = 0, hdrHeight = 0;       ///< size of the radiance picture and planes
    int previewDivisor = 1;
    int previewWidth = 0, previewHeight = 0;
    int previewZoomLevels = 0;
    int pyramidLevels = 0;

    halvora::rgb16Buffer previewBuffer;      ///< preview-size display buffer
    std::unique_ptr<uint8_t[]> overlayPlane; ///< preview-size 8-bit overlay
    pyramid hdrImage;                        ///< 3 × float: the radiance picture
    pyramid resultImage;                     ///< 3 × uint16: the full-size display / result image
    pyramid lcPlaneFine, lcPlaneMedium, lcPlaneCoarse, maskPlane; ///< 1 × uint16 planes
    std::array<std::unique_ptr<float[]>, kWorkBlockCount> workBlocks;

    toneMappingSettings_t tmSettings;       ///< edited interactively
    toneMappingSettings_t presetTmSettings; ///< used to render preset thumbnails

    // Exposure values: relative to the reference photo midId; ln forms are ln 2 × each.
    double evMin = 0, evMax = 0, evMean = 0;
    double lnEvMin = 0, lnEvMax = 0, lnEvMean = 0;
    int32_t midId = 0, minId = 0, maxId = 0;
    bool exifEVvalid = false;
    bool aebEVdistinct = false;
    bool responseCurveValid = false;

    // Response curve and merge tables (src/hdr); 32640 float64 each, empty until first needed.
    std::vector<double> standardCurve;
    std::array<std::vector<double>, 3> responseCurve; ///< R, G, B
    std::vector<double> weightTable; ///< "Balanced" without cut, for the inconsistency measure
    std::vector<double> closenessTableBright, closenessTableDark;

    // ---- tone mapping (the passes in src/tonemap/picturePasses.cpp)
    double hdrMean = 0.4;      ///< from the HDR preprocess: median luminance + 0.001
    double lcCorrection = 1.0; ///< from the HDR preprocess: 0.51 … 1.0 (1.0 for LDR enhancement)
    int toneMapLevel = -1;     ///< pyramid level the preview is tone-mapped at; −1: the preview-sized one
    std::vector<uint8_t> toneMappedPreview; ///< 8-bit display buffer (R, G, B) of the preview level
    int toneMappedWidth = 0, toneMappedHeight = 0;
    bool previewValid = false;

    /// Level the preview tone mapping uses (toneMapLevel when valid, else the smallest level at
    /// least as wide as the preview). The radiance pyramid's levels must have been built.
    int previewToneMapLevel() const;
    /// Tone-maps the preview level with `settings`: histogram pass and automatic clipping unless
    /// `skipHistogram`, then either the stretch of `target` (width × height × 3 bytes of the level,
    /// no signal) or the render pass into toneMappedPreview and toneMappingFinished(). Emits
    /// disableAutoClipping() when a requested clip percentage is below 0.0001. Caller's thread.
    void toneMapPreview(toneMappingSettings_t& settings, uint8_t* target, bool skipHistogram);
    /// Tone-maps the whole picture with tmSettings into the 16-bit result buffer (levels of the last
    /// preview); logs "Tone mapping entire photo...\n". False when there is no picture or no memory.
    /// With `rowsReady`, the picture is made in bands of rows and each finished band is handed to it in
    /// order (`rows`: the band's samples, valid during the call), on a pool thread while the next band
    /// is tone-mapped (the pixels are the same); its false ends the work with false. The result buffer
    /// then serves as working space and does not hold the picture afterwards. Runs on the calling
    /// worker's thread and the pool.
    bool toneMapFullImage(
        const std::function<bool(int firstRow, int endRow, const uint16_t* rows)>& rowsReady = {});
    /// Frees the smaller levels of the radiance picture and of its planes (a fifth of their memory) once
    /// nothing but the full-size pass will read them, as in an automatic run after its preview; a
    /// later preview is made from the full-size picture. Caller's thread, while no run is working.
    void releasePreviewLevels();
    /// Frees the radiance picture's smaller levels other than the preview's (the level above it only
    /// served to build it), as an automatic run does once the picture is merged: it makes one
    /// preview and never zooms. Caller's thread, while no run is working.
    void releaseLevelsBesidesPreview();
    /// Forgets the preview's detail plane; call when a new radiance picture is in place.
    void invalidateToneMapCaches();
    /// The radiance picture's buffers are about to be overwritten (a new generation, or photo loads
    /// that decode into them): the picture, its planes and its preview no longer exist. Main thread.
    void discardPicture();

    bool hdrPresent = false;
    bool maskPlaneValid = false; ///< preparation passes done for the current picture
    bool lcPlanesValid = false;
    /// With lcPlanesValid: local-contrast planes a run with a fixed look left out because its tone
    /// mapping never reads them (see localContrastPlanesRead); an interactive preparation makes all.
    bool lcMediumSkipped = false, lcCoarseSkipped = false;
    /// Ends what a run with a fixed look prepared: planes it left out make the local-contrast planes
    /// invalid, so that whatever tone-maps this picture next prepares them for any look.
    void forgetPlanesLeftOut() {
        if (lcMediumSkipped || lcCoarseSkipped) lcPlanesValid = false;
    }
    bool transformed = false;
    bool cropped = false;
    /// The photos' current files hold aligned pixels (automatic or manual alignment).
    bool aligned = false;
    /// Size before the first alignment, which undo restores (automatic cropping makes it smaller).
    int unalignedWidth = 0, unalignedHeight = 0;
    int orientationMode = -1;
    bool orientationSet = false;
    int currentInputFormat = -1;

    QString sessionName;
    QString sessionDir; ///< ends with "/"
    QMutex mutex;

signals:
    /// The preview render pass has filled toneMappedPreview.
    void toneMappingFinished();
    /// Automatic clipping met a clip percentage below 0.0001: the clip padlock should open.
    void disableAutoClipping();

private:
    // Steps of loadPhotoPrepare (processingProjectPreparation.cpp); each false with `text` set.
    bool preparePhoto(photoEntry& photo, int position, bool radianceOpened, QString& text);
    bool readPhotoInfo(photoEntry& photo, int format, int p, bool radianceOpened, int& w, int& h,
                       QString& text);
    bool refuseSecondRadiance(const QString& fileName, bool radianceOpened, QString& text);
    bool checkSequenceRules(const photoEntry& photo, int p, bool radianceOpened, int w, int h, QString& text);
    bool startSequence(const photoEntry& photo, int w, int h, QString& text);
    bool readRawInfo(photoEntry& photo, int& w, int& h, QString& text);

    /// A RAW file of the current action has had its options chosen (reset by the action's first file).
    bool rawChosenInAction_ = false;

    std::vector<int16_t> previewDetailPlane_;
    double previewDetailScale_ = 1.0;
    int previewDetailLevel_ = -1;

    bool allocateFullSizeStores(int w, int h);
    bool reshapeFullSizeStores(int w, int h);
    bool ensurePreviewCapacity();
    void transformPhotos(int mode, const halvora::cropRect& rect, int oldWidth, int oldHeight);
    size_t previewCapacity_ = 0;
};

#pragma once
// Colour management of a processing project: settling each photo's profile during preparation (the
// profile a JPEG or TIFF embeds, the shipped profile a radiance file's "Convert to" choice names, or
// one built from a radiance file's primaries), setting up the project's transforms for the first
// photo of a sequence, and the two uses outside drawing: the display transform of a row and the
// sRGB conversion and profile of a saved result.
//
// Threads: installColorManagement(), reapplyColorManagement() and the hook run on the main thread;
// the row and save helpers only read the transforms and may run on any thread while nothing
// prepares photos.

#include "color/colorManagement.h"

#include <QString>
#include <cstdint>
#include <functional>

class QImage;
class processingProject;
class saveResultWorker;
struct saveResultRequest;

/// What colour management of a project is started with, handed in by whoever creates the project.
struct projectColorSettings_t {
    halvora::colorManagementOptions_t options;
    QString profileDir; ///< folder of the shipped profiles ("<program folder>/color profiles")
    /// Told once per set-up what the user must hear: the option corrections to store and, when the
    /// transforms fell back to sRGB → sRGB, "colour management is off for this photo: <reason>" (in
    /// result.notice). Main thread, during preparation; may be empty.
    std::function<void(const halvora::colorSetupResult_t& result)> report;
};

namespace halvora {

/// Folder of the shipped profiles: "color profiles" beside the executable (build tree), else in the
/// installed data folder "<prefix>/share/halvora".
QString shippedProfileFolder();

/// Turns colour management on for `project` when `settings.options.enabled`: preparation settles each
/// photo's profile and sets up the transforms with the first photo of a sequence.
void installColorManagement(processingProject& project, const projectColorSettings_t& settings);

/// The colour step of a save: with colour management active the request gets the profile to embed
/// (sRGB when converting, else the working profile) and, for "Convert to sRGB", the worker the row
/// conversion into sRGB. Without colour management nothing changes.
void prepareColorOutput(const processingProject& project, saveResultRequest& request,
                        saveResultWorker& worker);

/// Colour management of `project` set up anew with `settings` (the colour-space menu): later photos are
/// prepared with them and, with photos loaded, the transforms are made again for the first photo and
/// every thumbnail is rebuilt from its preview for the new monitor. False with the failed step's text
/// and why; colour management is then inactive and the thumbnails unconverted. Main thread, while no
/// run uses the project.
bool reapplyColorManagement(processingProject& project, const projectColorSettings_t& settings,
                            QString* error);

/// Every photo's thumbnail made again from its preview, converted to the monitor when colour
/// management is active. Main thread, while no run uses the project.
void rebuildThumbnails(processingProject& project);

/// The sequence's colour profile for files made of the photos themselves (aligned photos): the working
/// profile's path and bytes while colour management is active; empty otherwise or when unreadable.
QString sequenceProfilePath(const processingProject& project);
QByteArray sequenceProfileBytes(const processingProject& project);

/// Working → monitor conversion of an 8-bit R, G, B row for the workspaces; empty when colour
/// management is inactive. The function borrows the project's transforms.
std::function<void(uint8_t* row, int pixels)> monitorRowTransform(const processingProject& project);

/// Working → monitor conversion of a whole QImage (RGB888, RGB32 or ARGB32) for views that draw
/// pictures of their own (alignment and ghost views, preset thumbnails); empty when colour management
/// is inactive. Borrows the project's transforms.
std::function<void(QImage& image)> monitorImageTransform(const processingProject& project);

} // namespace halvora

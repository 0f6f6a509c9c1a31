// The "Color settings" menu of the main window: colour management switched on and off (asking first
// when photos are loaded), the choices stored, a monitor profile from a file checked when chosen,
// and a changed monitor profile redrawing the photo thumbnails at once.

#include "ui/colorSettingsMenu.h"
#include "app/programOptionsSettings.h"
#include "project/processingProject.h"
#include "support/testSupport.h"
#include "ui/imageItem.h"
#include "ui/mainWindow.h"
#include "uiTestSupport.h"

#include <QAction>
#include <QFile>
#include <QImage>
#include <gtest/gtest.h>
#include <lcms2.h>

using namespace halvora::test;

namespace {

struct colorMenuWindow : ::testing::Test {
    void SetUp() override {
        saved = settings();
        settings().colorManagementEnabled = false;
        settings().colorManagementInputProfile = 0;
        settings().colorManagementOutputProfile = 1;
        settings().colorManagementIntent = 0;
        settings().colorManagementCustomMonitorProfile.clear();
        boxes = std::make_unique<boxRecorder>();
        window = std::make_unique<mainWindow>(nullptr);
        ASSERT_FALSE(window->startupError());
        window->resultSaved = true;
        menu = window->colorMenu();
        ASSERT_NE(menu, nullptr);
        dir = makeTempDir("colormenu");
    }
    void TearDown() override {
        if (window && !window->shutdownDone()) window->close();
        window.reset();
        boxes.reset();
        settings() = saved;
    }
    static programOptionsSettings& settings() { return programOptionsSettings::instance(); }
    /// Chooses `action` as the user does: the menu shows the stored state, then the item is triggered.
    void choose(QAction* action) {
        ASSERT_NE(action, nullptr);
        emit menu->aboutToShow();
        action->trigger();
    }
    bool loadPhotos(int count) {
        QStringList files;
        for (int i = 0; i < count; ++i) {
            QImage img(120, 80, QImage::Format_RGB32);
            for (int y = 0; y < img.height(); ++y)
                for (int x = 0; x < img.width(); ++x)
                    img.setPixel(x, y, qRgb((x * 2 + i * 50) & 255, 40 + y, 200 - x));
            files << dir + QString("/p%1.jpg").arg(i);
            img.save(files.back(), "JPEG", 95);
        }
        const bool loaded = window->addImages(files) &&
                            waitUntil([&] { return !window->loadingPhotos(); }, 120000) &&
                            int(window->project()->photos.size()) == count;
        // The photos carry no EXIF data; the box saying so is not what these tests are about.
        boxes->texts.clear();
        return loaded;
    }
    QString greyProfile() {
        const QString path = dir + "/grey.icc";
        cmsToneCurve* curve = cmsBuildGamma(nullptr, 2.2);
        cmsHPROFILE h = cmsCreateGrayProfile(cmsD50_xyY(), curve);
        cmsFreeToneCurve(curve);
        const bool ok = h && cmsSaveProfileToFile(h, path.toLocal8Bit().constData());
        if (h) cmsCloseProfile(h);
        return ok ? path : QString();
    }
    programOptionsSettings saved;
    std::unique_ptr<boxRecorder> boxes; ///< every box of a test, answered with boxes->answer
    std::unique_ptr<mainWindow> window;
    colorSettingsMenu* menu = nullptr;
    QString dir;
};

} // namespace

TEST_F(colorMenuWindow, itemsAreStoredAndShownAsChecked) {
    choose(menu->managementAction());
    EXPECT_TRUE(boxes->texts.isEmpty()) << "without photos nothing is asked";
    EXPECT_TRUE(settings().colorManagementEnabled);
    EXPECT_TRUE(settings().colorManagementBpCompensation);
    EXPECT_TRUE(window->project()->colorManagementEnabled) << "the photos added next are managed";

    const std::pair<QAction*, int> intents[] = {{menu->intentAction(halvora::intentSaturation), 2},
                                                {menu->intentAction(halvora::intentRelative), 1},
                                                {menu->intentAction(halvora::intentAbsolute), 3},
                                                {menu->intentAction(halvora::intentPerceptual), 0}};
    for (const auto& [action, stored] : intents) {
        choose(action);
        EXPECT_EQ(settings().colorManagementIntent, stored) << action->text().toStdString();
    }
    for (int input : {2, 3, 4, 0, 1}) {
        choose(menu->inputAction(input));
        EXPECT_EQ(settings().colorManagementInputProfile, input);
    }
    choose(menu->monitorAction(4));
    EXPECT_EQ(settings().colorManagementOutputProfile, 4);
    emit menu->aboutToShow();
    EXPECT_TRUE(menu->monitorAction(4)->isChecked());
    EXPECT_FALSE(menu->monitorAction(1)->isChecked());
    EXPECT_EQ(menu->fromFileAction()->text(), QString::fromUtf8("From file…"));
}

TEST_F(colorMenuWindow, monitorProfileFromFileIsCheckedWhenChosen) {
    settings().colorManagementEnabled = true;
    QString offered;
    window->chooseMonitorProfileFile = [&] { return offered; };

    // Cancelled: nothing changes.
    choose(menu->fromFileAction());
    EXPECT_EQ(settings().colorManagementOutputProfile, 1);
    EXPECT_TRUE(menu->monitorAction(1)->isChecked());

    // Not RGB: refused with the file named, the choice back to sRGB and the file forgotten.
    offered = greyProfile();
    ASSERT_FALSE(offered.isEmpty());
    choose(menu->fromFileAction());
    ASSERT_EQ(boxes->texts.size(), 1);
    EXPECT_TRUE(boxes->texts[0].contains("The color profile is not RGB.")) << boxes->texts[0].toStdString();
    EXPECT_TRUE(boxes->texts[0].contains("grey.icc"));
    EXPECT_EQ(settings().colorManagementOutputProfile, 1);
    EXPECT_TRUE(settings().colorManagementCustomMonitorProfile.isEmpty());

    // An RGB profile is taken.
    offered = dir + "/monitor.icc";
    ASSERT_TRUE(QFile::copy(QStringLiteral(HALVORA_PROFILE_DIR) + "/AppleRGB.icc", offered));
    choose(menu->fromFileAction());
    EXPECT_EQ(boxes->texts.size(), 1);
    EXPECT_EQ(settings().colorManagementOutputProfile, 0);
    EXPECT_EQ(settings().colorManagementCustomMonitorProfile, offered);
}

TEST_F(colorMenuWindow, switchingWithPhotosLoadedAsksAndStartsANewProject) {
    settings().colorManagementEnabled = true;
    window->newProject(true);
    ASSERT_TRUE(loadPhotos(2));
    boxes->answer = false;
    choose(menu->managementAction());
    ASSERT_EQ(boxes->texts.size(), 1);
    EXPECT_EQ(boxes->texts[0], "Disabling color management requires closing the current project. Continue?");
    EXPECT_TRUE(settings().colorManagementEnabled);
    EXPECT_TRUE(menu->managementAction()->isChecked()) << "the item is put back";
    EXPECT_EQ(window->project()->photos.size(), 2u);

    boxes->answer = true;
    choose(menu->managementAction());
    EXPECT_FALSE(settings().colorManagementEnabled);
    EXPECT_TRUE(window->project()->photos.empty());
    EXPECT_FALSE(window->project()->colorManagementEnabled);

    ASSERT_TRUE(loadPhotos(1));
    choose(menu->managementAction());
    ASSERT_EQ(boxes->texts.size(), 1);
    EXPECT_EQ(boxes->texts[0], "Enabling color management requires closing the current project. Continue?");
    EXPECT_TRUE(window->project()->colorManagementEnabled);
    EXPECT_TRUE(window->project()->photos.empty());
}

TEST_F(colorMenuWindow, aNewMonitorProfileRedrawsTheThumbnailsAtOnce) {
    settings().colorManagementEnabled = true;
    window->newProject(true);
    ASSERT_TRUE(loadPhotos(2));
    ASSERT_TRUE(window->project()->color.active());
    const QImage srgbShown = window->photoItemAt(0)->thumbnail();
    // sRGB photos on a Wide-gamut-like monitor look different: Adobe RGB's greens are wider.
    choose(menu->monitorAction(2));
    EXPECT_EQ(settings().colorManagementOutputProfile, 2);
    EXPECT_TRUE(window->project()->color.monitorDescription().startsWith("Adobe RGB"));
    const QImage adobeShown = window->photoItemAt(0)->thumbnail();
    ASSERT_EQ(adobeShown.size(), srgbShown.size());
    EXPECT_NE(adobeShown, srgbShown);
    // Back to sRGB: the first thumbnail again (made from the photo, not from what was shown).
    choose(menu->monitorAction(1));
    EXPECT_EQ(window->photoItemAt(0)->thumbnail().convertToFormat(QImage::Format_RGB32),
              srgbShown.convertToFormat(QImage::Format_RGB32));
    EXPECT_FALSE(window->logPanelHtml().contains("from now on"));
    EXPECT_TRUE(boxes->texts.isEmpty()) << boxes->texts.join("; ").toStdString();
}

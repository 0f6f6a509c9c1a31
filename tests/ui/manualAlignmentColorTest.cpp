// Colour management in the manual-alignment dialog: with a monitor profile that is not sRGB, what the
// three views draw (both photos and each preview mode) is the LittleCMS conversion of the pictures they
// hold; with management off it is the pictures unchanged; and when the chosen monitor profile cannot
// be linked, the views still draw (sRGB → sRGB) and the user is told only once that management is off.

#include "app/programOptionsSettings.h"
#include "project/processingProject.h"
#include "support/testSupport.h"
#include "ui/generateHDR.h"
#include "ui/mainWindow.h"
#include "ui/manualAlignment.h"
#include "ui/manualAlignmentWorkspace.h"
#include "uiTestSupport.h"

#include <QAction>
#include <QComboBox>
#include <QImage>
#include <QPushButton>
#include <algorithm>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <lcms2.h>

using namespace halvora::test;

namespace {

using expectedColor = std::function<void(const uint8_t in[3], uint8_t out[3])>;

// Largest channel difference of the drawn pixels from `expected(picture pixel)`, and how many pixels
// differ from the picture by more than 3 levels, over every 7th viewport pixel on the picture drawn
// at one screen pixel per picture pixel.
std::pair<int, int> compareView(manualAlignmentWorkspace* view, const expectedColor& expected,
                                int& compared) {
    view->setFitting(false);
    view->setScale(1.0);
    view->area()->repaint();
    const QImage frame = view->area()->frame().convertToFormat(QImage::Format_RGB888);
    const QImage shown = view->shownImage();
    const halvora::viewMapping& m = view->area()->mapping();
    int worst = 0, changed = 0;
    compared = 0;
    if (shown.width() != m.pictureWidth) return {255, 0};
    for (int vy = 0; vy < frame.height(); vy += 7)
        for (int vx = 0; vx < frame.width(); vx += 7) {
            if (!m.onPicture(QPointF(vx + 0.5, vy + 0.5))) continue;
            const QPointF p = m.toPicture(QPointF(vx + 0.5, vy + 0.5));
            const uint8_t* source = shown.constScanLine(int(p.y())) + 3 * int(p.x());
            const uint8_t* drawn = frame.constScanLine(vy) + 3 * vx;
            uint8_t want[3];
            expected(source, want);
            int moved = 0;
            for (int c = 0; c < 3; ++c) {
                worst = std::max(worst, std::abs(int(drawn[c]) - int(want[c])));
                moved = std::max(moved, std::abs(int(drawn[c]) - int(source[c])));
            }
            changed += moved > 3;
            ++compared;
        }
    return {worst, changed};
}

struct alignmentColor : ::testing::Test {
    void SetUp() override {
        saved = settings();
        settings().generateHdrAutoAlign = false;
        settings().colorManagementInputProfile = 0;
        settings().colorManagementIntent = 0; // perceptual
        settings().colorManagementBpCompensation = true;
        abortRequested = false;
        dir = makeTempDir("alignColor");
    }
    void TearDown() override {
        if (window && !window->shutdownDone()) window->close();
        window.reset();
        settings() = saved;
        abortRequested = false;
    }
    static programOptionsSettings& settings() { return programOptionsSettings::instance(); }

    // A window whose project takes the colour options set now, with two cuts of a real photo (the
    // second 8 pixels further right and 5 further down) and the manual-alignment dialog open on them.
    manualAlignment* openDialog(bool managed, int monitor, const QString& monitorFile = QString()) {
        settings().colorManagementEnabled = managed;
        settings().colorManagementOutputProfile = monitor;
        settings().colorManagementCustomMonitorProfile = monitorFile;
        window = std::make_unique<mainWindow>(nullptr);
        window->resultSaved = true;
        window->newProject(true);
        const QImage frame(dataFile("brackets/mysore_palace_fuji_xt1_7exp/AJAZ0818.jpg"));
        QStringList files;
        for (int i = 0; i < 2; ++i) {
            files << dir + QString("/cut%1.jpg").arg(i);
            frame.copy(i ? QRect(8, 5, 480, 320) : QRect(0, 0, 480, 320)).save(files.back(), "JPG", 95);
        }
        if (!window->addImages(files) || !waitUntil([&] { return !window->loadingPhotos(); }) ||
            window->project()->photos.size() != 2)
            return nullptr;
        window->findChild<QAction*>("generateHdrAction")->trigger();
        auto* hdr = window->findChild<generateHDR*>();
        if (!hdr) return nullptr;
        hdr->manualAlignButton()->click();
        auto* dialog = hdr->findChild<manualAlignment*>();
        if (!dialog || !dialog->ready()) return nullptr;
        dialog->resize(1500, 700);
        QCoreApplication::processEvents();
        return dialog;
    }

    // Both photo views and every preview mode against `expected`, within `tolerance` levels; the
    // conversion must move at least a tenth of the pixels (`mustChange`) or none.
    void expectViews(manualAlignment* dialog, const expectedColor& expected, int tolerance, bool mustChange) {
        std::vector<std::pair<manualAlignmentWorkspace*, QString>> views = {{dialog->baseView(), "base"},
                                                                            {dialog->photoView(), "photo"}};
        for (int mode = 0; mode < 3; ++mode)
            views.push_back({dialog->previewView(), dialog->previewBox()->itemText(mode)});
        for (size_t i = 0; i < views.size(); ++i) {
            if (i >= 2) dialog->previewBox()->setCurrentIndex(int(i) - 2);
            int compared = 0;
            const auto [worst, changed] = compareView(views[i].first, expected, compared);
            SCOPED_TRACE(views[i].second.toStdString());
            EXPECT_GT(compared, 500);
            EXPECT_LE(worst, tolerance);
            if (mustChange)
                EXPECT_GT(changed, compared / 10) << "the conversion is not drawn";
            else
                EXPECT_EQ(changed, 0);
        }
    }

    programOptionsSettings saved;
    std::unique_ptr<mainWindow> window;
    QString dir;
};

void unchanged(const uint8_t in[3], uint8_t out[3]) {
    std::copy(in, in + 3, out);
}

} // namespace

TEST_F(alignmentColor, viewsDrawTheLittleCmsConversionToANonSrgbMonitorAndNothingWhenOff) {
    HALVORA_REQUIRE_DATA();
    boxRecorder boxes;
    // Monitor Adobe RGB (1998): sRGB's saturated colours move. The reference: LittleCMS in floating
    // point from the shipped sRGB to the shipped Adobe RGB profile, perceptual with black-point
    // compensation (the program's settings), rounded to 8 bits.
    manualAlignment* dialog = openDialog(true, 2);
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(window->project()->color.active());
    ASSERT_TRUE(window->project()->color.monitorDescription().startsWith("Adobe RGB"));
    const QString profiles = QStringLiteral(HALVORA_PROFILE_DIR);
    cmsHPROFILE in = cmsOpenProfileFromFile((profiles + "/sRGB.icm").toLocal8Bit().constData(), "r");
    cmsHPROFILE out = cmsOpenProfileFromFile((profiles + "/AdobeRGB1998.icc").toLocal8Bit().constData(), "r");
    ASSERT_TRUE(in && out);
    const std::unique_ptr<void, void (*)(void*)> reference(
        cmsCreateTransform(in, TYPE_RGB_DBL, out, TYPE_RGB_DBL, INTENT_PERCEPTUAL,
                           cmsFLAGS_BLACKPOINTCOMPENSATION | cmsFLAGS_NOOPTIMIZE),
        cmsDeleteTransform);
    cmsCloseProfile(in);
    cmsCloseProfile(out);
    ASSERT_TRUE(reference);
    // 8-bit transforms interpolate; two levels cover that without letting an unconverted or doubly
    // converted picture through (those differ by tens of levels in the palace's blue sky).
    expectViews(
        dialog,
        [&](const uint8_t in8[3], uint8_t out8[3]) {
            const double rgb[3] = {in8[0] / 255.0, in8[1] / 255.0, in8[2] / 255.0};
            double converted[3];
            cmsDoTransform(reference.get(), rgb, converted, 1);
            for (int c = 0; c < 3; ++c)
                out8[c] = uint8_t(std::lround(std::clamp(converted[c], 0.0, 1.0) * 255.0));
        },
        2, true);
    dialog->close();
    window->close();

    // The same monitor chosen but management off: the pictures as they are.
    dialog = openDialog(false, 2);
    ASSERT_NE(dialog, nullptr);
    expectViews(dialog, unchanged, 0, false);
    dialog->close();
    EXPECT_TRUE(boxes.texts.filter("color").isEmpty()) << boxes.texts.join("; ").toStdString();
}

TEST_F(alignmentColor, viewsStillDrawWhenTheMonitorProfileCannotBeLinkedAndThatIsSaidOnce) {
    HALVORA_REQUIRE_DATA();
    boxRecorder boxes;
    // An RGB display profile without any tag opens but links to nothing: the transforms fall back to
    // sRGB → sRGB and the window says once that colour management is off.
    const QString tagless = dir + "/tagless.icc";
    cmsHPROFILE h = cmsCreateProfilePlaceholder(nullptr);
    cmsSetDeviceClass(h, cmsSigDisplayClass);
    cmsSetColorSpace(h, cmsSigRgbData);
    cmsSetPCS(h, cmsSigXYZData);
    const bool written = cmsSaveProfileToFile(h, tagless.toLocal8Bit().constData());
    cmsCloseProfile(h);
    ASSERT_TRUE(written);
    manualAlignment* dialog = openDialog(true, 0, tagless);
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(window->project()->color.usingFallback());
    expectViews(dialog, unchanged, 1, false);
    EXPECT_EQ(window->logPanelHtml().count("colour management is off for this photo"), 1)
        << "opening and drawing the dialog says nothing more";
    dialog->close();
}

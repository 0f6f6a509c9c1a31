// The tone-mapping tab of the main window on a prepared picture: controls write the settings and
// re-render the preview (checked against the tone-mapping formulas), bursts of changes render once,
// settings files update the controls or are refused without touching the look, and the controls
// follow the project's stage.

#include "app/programOptionsSettings.h"
#include "base/runContext.h"
#include "project/processingProject.h"
#include "support/testSupport.h"
#include "tonemap/colorAdjustment.h"
#include "tonemap/toneMappingSettingsFile.h"
#include "ui/colorAdjustGroup.h"
#include "ui/histogramTool.h"
#include "ui/mainWindow.h"
#include "ui/mainWorkspace.h"
#include "ui/paramSlider.h"
#include "ui/styledMainWindow.h"
#include "ui/styledMessageBox.h"
#include "ui/toneCurveTool.h"
#include "ui/tonemappingGroup.h"
#include "ui/toolBox.h"
#include "uiTestSupport.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QTabBar>
#include <QToolButton>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

using namespace halvora::test;

// The built-in looks are compiled into the program's resources; a static library needs them registered.
static void registerResources() {
    Q_INIT_RESOURCE(resources);
}

namespace {

// Lets the queued preview request run (zero timer) and anything it posts.
void settle() {
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

// A normalised radiance picture: luminance rising over three decades from left to right, a bright
// patch and a dark patch for the local operators, mildly coloured.
void fillRadiance(processingProject& p) {
    float* hdr = p.rgbFloatBuffer();
    std::vector<double> lum(size_t(p.width) * p.height);
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            double l = std::pow(10.0, -3.0 + 3.0 * x / (p.width - 1));
            if (y > p.height / 3 && y < p.height / 2 && x > p.width / 5 && x < p.width / 3)
                l = 0.9; // bright patch in the dark half
            l *= 0.85 + 0.15 * std::cos(y * 0.21);
            lum[size_t(y) * p.width + x] = l;
            const float rgb[3] = {float(l), float(l * 0.9), float(l * 0.8)};
            for (int c = 0; c < 3; ++c)
                hdr[3 * (size_t(y) * p.width + x) + c] = rgb[c];
        }
    std::nth_element(lum.begin(), lum.begin() + lum.size() / 2, lum.end());
    p.hdrMean = lum[lum.size() / 2] + 0.001;
    p.lcCorrection = 0.8;
}

// A look that keeps the output formula-friendly: no automatic clipping, no Mask, no sharpening.
const char* const kPlainLook = R"(<Halvorasettings SettingsFileVersion="4.0" ProgramVersion="3.0.1 ">
    <GlobalOp Compression="1.5" Gamma="1"/>
    <LocalContrastOp Enabled="1" Strength="0.4" Highlights="0.2" Shadows="0.6" Blackness="0.3" Range="0.7" Micro="0.1"/>
    <MaskOp Enabled="0" Strength="0.45"/>
    <HistogramClip AutoClipping="0" WhitePoint="0" BlackPoint="0" WhitePointValue="1" BlackPointValue="0"/>
    <Other Sharpness="0"/>
    <ColorAdjust Temperature="1" Tint="1" Hue="1"/>
    <Saturation Saturation="1" BrightnessSelectivePointCount="0" HueSelectivePointCount="0"/>
</Halvorasettings>
)";

QString writeFile(const QString& name, const QByteArray& content) {
    const QString path = makeTempDir("looks") + "/" + name;
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) f.write(content);
    return path;
}

// A window whose project holds a small synthetic radiance picture, prepared for tone mapping.
struct preparedWindow {
    styledMainWindow frame;
    mainWindow* w;
    tonemappingGroup* group;
    mainWorkspace* view;
    int renders = 0;

    explicit preparedWindow(bool prepare = true) {
        registerResources();
        abortRequested = false; // an earlier window's close cancels every loop of the process
        w = new mainWindow(&frame);
        frame.setMainWindow(w);
        group = w->findChild<tonemappingGroup*>();
        view = w->findChild<mainWorkspace*>("workspace");
        QObject::connect(w->project(), &processingProject::toneMappingFinished, [this] { ++renders; });
        processingProject& p = *w->project();
        EXPECT_TRUE(p.setImageSize(360, 240));
        fillRadiance(p);
        p.hdrImage.buildLevels();
        p.hdrPresent = true;
        if (prepare) {
            w->toneMappingPrepare();
            EXPECT_TRUE(waitUntil([this] { return renders > 0; })) << "the preparation ends with a render";
        }
    }
    ~preparedWindow() {
        w->resultSaved = true;
        frame.close();
    }
    processingProject& project() { return *w->project(); }
    // Operator sliders live in the operators' panel, the colour ones in the colour panels.
    paramSlider* control(const char* name) {
        paramSlider* c = group->control(name);
        return c ? c : w->findChild<paramSlider*>(name);
    }
    // Loads the plain look and returns the preview it renders.
    QImage loadPlainLook() {
        const QString file = writeFile("plain.hvsx", kPlainLook);
        EXPECT_TRUE(w->loadSettingsSlot(file));
        settle();
        return view->shownImage();
    }
};

TEST(toneMappingTab, controlsFollowTheStage) {
    preparedWindow f(false);
    ASSERT_NE(f.group, nullptr);
    ASSERT_NE(f.view, nullptr);
    QAction* result = menuAction(*f.w, "Result");
    QAction* before = menuAction(*f.w, "Photo before processing");
    ASSERT_NE(result, nullptr);
    ASSERT_NE(before, nullptr);

    // A picture that is not prepared yet: nothing to tone-map, nothing to edit.
    EXPECT_FALSE(f.group->isEnabled());
    EXPECT_FALSE(result->isEnabled());
    EXPECT_FALSE(before->isEnabled()) << "no photo loaded";
    f.w->doToneMapping(false);
    EXPECT_EQ(f.renders, 0);

    // While the preparation worker runs no render may read its planes.
    f.w->toneMappingPrepare();
    EXPECT_FALSE(f.group->isEnabled());
    f.w->doToneMapping(false);
    f.w->doToneMapping();
    EXPECT_EQ(f.renders, 0);
    // Nor may dropped photos change the project under it.
    const QString photo = makeTempDir("drop") + "/p.jpg";
    ASSERT_TRUE(QImage(64, 48, QImage::Format_RGB32).save(photo, "JPEG"));
    f.w->addDroppedImages({photo});
    EXPECT_TRUE(f.project().photos.empty());
    EXPECT_TRUE(f.w->logPanelHtml().contains("Please wait until the current operation has finished"));
    ASSERT_TRUE(waitUntil([&] { return f.renders > 0; }));
    settle();
    EXPECT_EQ(f.renders, 1) << "the finished preparation renders once";
    EXPECT_TRUE(f.group->isEnabled());
    EXPECT_TRUE(result->isEnabled());
    EXPECT_EQ(f.view->shownImage().size(), QSize(f.project().toneMappedWidth, f.project().toneMappedHeight));

    // The constructor's default look is what the controls show: the built-in default.hvsx, read here
    // on its own.
    toneMappingParameters_t look;
    ASSERT_EQ(halvora::loadSettingsFile(HALVORA_SOURCE_DIR "/resources/built-in presets/default.hvsx", look),
              halvora::settingsLoadOk);
    EXPECT_NEAR(f.control("compression")->spinBox()->value(), look.compression, 1e-6);
    EXPECT_NEAR(f.control("gamma")->spinBox()->value(), look.gamma, 1e-6);
    EXPECT_NEAR(f.control("lcStrength")->spinBox()->value(), look.lcStrength, 1e-6);
    EXPECT_NEAR(f.control("shadows")->spinBox()->value(), look.shadows, 1e-6);
    EXPECT_EQ(f.group->localContrastBox()->isChecked(), look.localContrastEnabled);
    EXPECT_EQ(f.group->maskBox()->isChecked(), look.maskEnabled);

    // Switching an operator off disables its sliders (they would do nothing) and re-renders.
    f.group->localContrastBox()->setChecked(false);
    EXPECT_FALSE(f.project().tmSettings.localContrastEnabled);
    EXPECT_FALSE(f.control("highlights")->isEnabled());
    EXPECT_FALSE(f.control("micro")->isEnabled());
    EXPECT_TRUE(f.control("compression")->isEnabled());
    settle();
    EXPECT_EQ(f.renders, 2);

    // Closing and opening the tool box re-renders too.
    auto* box = f.w->findChild<toolBox*>("toneMappingToolBox");
    ASSERT_NE(box, nullptr);
    box->setOpen(false);
    EXPECT_FALSE(box->content()->isVisibleTo(box));
    settle();
    EXPECT_EQ(f.renders, 3);
}

// Each control writes its setting through the slider's and the spin box's scale and renders once; what
// a setting does to the pixels is the tone-mapping chain's own test (tests/tonemap).
TEST(toneMappingTab, slidersAndSpinBoxesWriteTheSettingsAndRenderOnce) {
    preparedWindow f;
    const QImage plain = f.loadPlainLook();
    ASSERT_EQ(f.project().tmSettings.gamma, 1.0);
    const struct {
        const char* name;
        int position;
        double toneMappingParameters_t::*field;
    } cases[] = {{"gamma", 150, &toneMappingParameters_t::gamma},
                 {"compression", 300, &toneMappingParameters_t::compression},
                 {"blackness", 100, &toneMappingParameters_t::blackness},
                 {"temperature", 160, &toneMappingParameters_t::temperature},
                 {"saturation", 0, &toneMappingParameters_t::saturation}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const int start = f.renders;
        f.control(c.name)->slider()->setValue(c.position);
        EXPECT_DOUBLE_EQ(f.project().tmSettings.*c.field, c.position / 100.0);
        EXPECT_DOUBLE_EQ(f.control(c.name)->spinBox()->value(), c.position / 100.0);
        settle();
        EXPECT_EQ(f.renders, start + 1);
        EXPECT_NE(f.view->shownImage(), plain);
        ASSERT_EQ(f.loadPlainLook(), plain) << "the same look again, the same picture";
    }
    // Gamma brightens; the spin box drives the slider and the setting the same way.
    f.control("gamma")->slider()->setValue(150);
    settle();
    EXPECT_GT(meanLevel(f.view->shownImage()), meanLevel(plain) + 10);
    f.control("gamma")->spinBox()->setValue(0.8);
    EXPECT_DOUBLE_EQ(f.project().tmSettings.gamma, 0.8);
    EXPECT_EQ(f.control("gamma")->slider()->value(), 80);
    settle();
    EXPECT_LT(meanLevel(f.view->shownImage()), meanLevel(plain));
}

TEST(toneMappingTab, burstsRenderOnceWithTheLatestSettings) {
    preparedWindow f;
    f.loadPlainLook();
    const int start = f.renders;
    QSlider* slider = f.control("compression")->slider();
    for (int v = 100; v <= 250; v += 5)
        slider->setValue(v);
    EXPECT_EQ(f.renders, start) << "nothing renders inside the burst";
    settle();
    EXPECT_EQ(f.renders, start + 1);
    EXPECT_DOUBLE_EQ(f.project().tmSettings.compression, 2.5);
    const QImage shown = f.view->shownImage();
    f.w->doToneMapping(false);
    EXPECT_EQ(f.view->shownImage(), shown) << "the burst's render used the last value";

    // Without live tone mapping a drag shows numbers only; letting go renders once.
    programOptionsSettings::instance().liveToneMapping = false;
    slider->setSliderDown(true);
    slider->setValue(200);
    slider->setValue(180);
    settle();
    EXPECT_DOUBLE_EQ(f.project().tmSettings.compression, 1.8);
    EXPECT_EQ(f.renders, start + 2);
    slider->setSliderDown(false);
    settle();
    EXPECT_EQ(f.renders, start + 3);
    // With it, the drag itself renders, still once per burst.
    programOptionsSettings::instance().liveToneMapping = true;
    slider->setSliderDown(true);
    slider->setValue(170);
    slider->setValue(160);
    settle();
    EXPECT_EQ(f.renders, start + 4);
    slider->setSliderDown(false);
    settle();
    EXPECT_EQ(f.renders, start + 4);
    programOptionsSettings::instance().liveToneMapping = false;
}

TEST(toneMappingTab, loadedSettingsShowInTheControlsWithOneChange) {
    preparedWindow f;
    int changes = 0;
    QObject::connect(f.group, &tonemappingGroup::paramsChanged, [&] { ++changes; });
    const int start = f.renders;
    const QString file = writeFile("plain.hvsx", kPlainLook);
    ASSERT_TRUE(f.w->loadSettingsSlot(file));
    EXPECT_EQ(changes, 1);
    settle();
    EXPECT_EQ(f.renders, start + 1);
    const struct {
        const char* name;
        double value;
    } expected[] = {{"compression", 1.5}, {"gamma", 1.0},   {"lcStrength", 0.4}, {"highlights", 0.2},
                    {"shadows", 0.6},     {"range", 0.7},   {"micro", 0.1},      {"maskStrength", 0.45},
                    {"sharpness", 0.0},   {"saturation", 1}};
    for (const auto& e : expected) {
        EXPECT_NEAR(f.control(e.name)->spinBox()->value(), e.value, 1e-6) << e.name;
        EXPECT_EQ(f.control(e.name)->slider()->value(), int(std::lround(e.value * 100))) << e.name;
    }
    EXPECT_TRUE(f.group->localContrastBox()->isChecked());
    EXPECT_FALSE(f.group->maskBox()->isChecked());
    EXPECT_FALSE(f.control("maskStrength")->isEnabled());
    EXPECT_FALSE(f.project().tmSettings.autoClipping);

    // The default look comes back with Ctrl+D's slot.
    changes = 0;
    f.w->defaultSettingsSlot();
    EXPECT_EQ(changes, 1);
    EXPECT_DOUBLE_EQ(f.control("shadows")->spinBox()->value(), 0.4);
    EXPECT_TRUE(f.group->maskBox()->isChecked());
    EXPECT_TRUE(f.project().tmSettings.autoClipping);

    // Saved and read back: the file holds what the controls set.
    f.control("highlights")->slider()->setValue(77);
    const QString dir = makeTempDir("saved");
    ASSERT_TRUE(f.w->saveSettingsSlot(dir + "/mine"));
    toneMappingParameters_t back;
    ASSERT_EQ(halvora::loadSettingsFile(dir + "/mine.hvsx", back), halvora::settingsLoadOk);
    EXPECT_NEAR(back.highlights, 0.77, 1e-6);
    EXPECT_NEAR(back.shadows, 0.4, 1e-6);
}

// A new project replaces the record the controls edit; its look carries over, its picture does not.
TEST(toneMappingTab, newProjectMovesTheControlsToTheNewRecord) {
    preparedWindow f;
    f.loadPlainLook();
    f.control("gamma")->slider()->setValue(130);
    settle();
    ASSERT_FALSE(f.view->shownImage().isNull());
    f.w->newProject(true);
    processingProject& fresh = f.project();
    EXPECT_FALSE(fresh.hdrPresent);
    EXPECT_EQ(f.group->settings(), &fresh.tmSettings);
    EXPECT_TRUE(f.view->shownImage().isNull());
    EXPECT_FALSE(f.group->isEnabled());
    EXPECT_DOUBLE_EQ(f.control("gamma")->spinBox()->value(), fresh.tmSettings.gamma);
    // Loading a look now writes into the new project's record.
    const QString file = writeFile("plain.hvsx", kPlainLook);
    ASSERT_TRUE(f.w->loadSettingsSlot(file));
    EXPECT_EQ(fresh.tmSettings.gamma, 1.0);
    EXPECT_DOUBLE_EQ(f.control("gamma")->spinBox()->value(), 1.0);
}

TEST(toneMappingTab, refusedSettingsFilesLeaveTheLookAlone) {
    preparedWindow f;
    f.loadPlainLook();
    f.control("gamma")->slider()->setValue(123);
    settle();
    const toneMappingParameters_t kept = f.project().tmSettings.parameters();
    const QImage shown = f.view->shownImage();
    int changes = 0;
    QObject::connect(f.group, &tonemappingGroup::paramsChanged, [&] { ++changes; });

    QByteArray oldVersion = kPlainLook;
    oldVersion.replace("SettingsFileVersion=\"4.0\"", "SettingsFileVersion=\"3.9\"");
    oldVersion.replace("Gamma=\"1\"", "Gamma=\"3\"");
    QByteArray truncated = QByteArray(kPlainLook).left(200);
    const QString dir = makeTempDir("bad");
    const struct {
        QString file;
        QString box;
    } cases[] = {
        {writeFile("old.hvsx", oldVersion), "Error! Wrong version of the settings file."},
        {writeFile("cut.hvsx", truncated), "Error while loading the settings file.<br><br>"},
        {dir + "/missing.hvsx", "Error while loading the settings file.<br><br>"},
    };
    for (const auto& c : cases) {
        boxRecorder boxes;
        EXPECT_FALSE(f.w->loadSettingsSlot(c.file)) << c.file.toStdString();
        ASSERT_EQ(boxes.texts.size(), 1);
        EXPECT_TRUE(boxes.texts[0].startsWith(c.box)) << boxes.texts[0].toStdString();
        const toneMappingParameters_t& now = f.project().tmSettings;
        EXPECT_EQ(now.gamma, kept.gamma);
        EXPECT_EQ(now.compression, kept.compression);
        EXPECT_EQ(now.shadows, kept.shadows);
        EXPECT_EQ(now.autoClipping, kept.autoClipping);
        EXPECT_EQ(now.localContrastEnabled, kept.localContrastEnabled);
    }
    settle();
    EXPECT_EQ(changes, 0);
    EXPECT_DOUBLE_EQ(f.control("gamma")->spinBox()->value(), 1.23);
    EXPECT_EQ(f.view->shownImage(), shown);

    // A save that cannot be written says so.
    boxRecorder boxes;
    EXPECT_FALSE(f.w->saveSettingsSlot(dir + "/no/such/folder/look.hvsx"));
    ASSERT_EQ(boxes.texts.size(), 1);
    EXPECT_TRUE(boxes.texts[0].startsWith("Failed to save settings as: ")) << boxes.texts[0].toStdString();
}

TEST(toneMappingTab, fiveToolBoxesAndTheMenus) {
    preparedWindow f(false);
    const QList<toolBox*> boxes = f.w->findChildren<toolBox*>();
    QStringList titles;
    for (toolBox* box : boxes)
        titles << box->title();
    EXPECT_EQ(titles, QStringList({"Tone mapping", "Tone curve", "Histogram, black && white point",
                                   "Color saturation", "Color adjustment"}));
    // Nothing to edit before a picture is prepared, in any box.
    for (toolBox* box : boxes)
        EXPECT_FALSE(box->content()->isEnabled()) << box->title().toStdString();
    QAction* exportAction = menuAction(*f.w, "Open in external editor");
    ASSERT_NE(exportAction, nullptr);
    EXPECT_FALSE(exportAction->isEnabled());

    QMenu* language = f.w->menuBar()->findChild<QMenu*>("languageMenu");
    ASSERT_NE(language, nullptr);
    // Choosing one (the tenth, "Română") stores its code for the next start and says so.
    ASSERT_EQ(language->actions().size(), 12);
    programOptionsSettings& options = programOptionsSettings::instance();
    const QString before = options.language;
    {
        boxRecorder boxesShown;
        language->actions()[9]->trigger();
        EXPECT_EQ(options.language, "ro");
        ASSERT_EQ(boxesShown.texts.size(), 1);
        EXPECT_EQ(boxesShown.texts[0], "The language change will be applied after the program is restarted.");
    }
    options.language = before;
    // Once prepared, every box is usable.
    f.w->toneMappingPrepare();
    ASSERT_TRUE(waitUntil([&] { return f.renders > 0; }));
    for (toolBox* box : boxes)
        EXPECT_TRUE(box->content()->isEnabled()) << box->title().toStdString();
    EXPECT_TRUE(exportAction->isEnabled());

    // The wheel over an unfocused combo box or tab bar scrolls the panel and changes nothing.
    auto* curves = f.w->findChild<toneCurveTool*>();
    ASSERT_NE(curves, nullptr);
    for (QWidget* target :
         {static_cast<QWidget*>(curves->modeBox()), static_cast<QWidget*>(curves->tabs())}) {
        QWheelEvent wheel(QPointF(5, 5), target->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, -120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(target, &wheel);
    }
    EXPECT_EQ(curves->modeBox()->currentIndex(), 0);
    EXPECT_EQ(curves->tabs()->currentIndex(), 0);
    auto* scroll = f.w->findChild<QScrollArea*>("toneMappingScroll");
    ASSERT_NE(scroll, nullptr);
    EXPECT_GT(scroll->verticalScrollBar()->value(), 0) << "the panel scrolled instead";
    EXPECT_EQ(f.project().tmSettings.curves[0].type, curveSettings_t::kSpline);
}

TEST(toneMappingTab, neutralSampleSolvesTheWhiteBalance) {
    preparedWindow f;
    f.loadPlainLook();
    // A grey card under 5000 K daylight with its green pulled by a Tint of 0.7: linear sRGB of the
    // CIE daylight chromaticity, green times (0.7 + 0.4) / 1.4.
    const double K = 5000;
    const double x = -4.607e9 / (K * K * K) + 2.9678e6 / (K * K) + 99.11 / K + 0.244063;
    const double y = -3 * x * x + 2.87 * x - 0.275;
    const double X = x / y, Z = (1 - x - y) / y;
    rgbDouble_t card{3.2406 * X - 1.5372 - 0.4986 * Z, (-0.9689 * X + 1.8758 + 0.0415 * Z) * 1.1 / 1.4,
                     0.0557 * X - 0.2040 + 1.0570 * Z, 0};
    const int start = f.renders;
    f.w->requestSampleMode(3);
    EXPECT_EQ(f.w->sampleMode(), 3);
    f.w->sampleTakenSlot(3, mainWindow::sampleFromResult, card);
    EXPECT_EQ(f.w->sampleMode(), 0) << "one sample, then the eyedropper is put away";
    EXPECT_NEAR(f.project().tmSettings.temperature, 0.5, 0.01);
    EXPECT_NEAR(f.project().tmSettings.tint, 0.7, 0.0101);
    EXPECT_NEAR(f.control("temperature")->value(), 0.5, 0.01);
    EXPECT_NEAR(f.control("tint")->value(), 0.7, 0.0101);
    settle();
    EXPECT_EQ(f.renders, start + 1);
    EXPECT_TRUE(f.w->logPanelHtml().contains("White balance from the sample"));

    // A sample with a black channel gives the neutral setting back.
    f.w->sampleTakenSlot(3, mainWindow::sampleFromInput, rgbDouble_t{0.4, 0.0, 0.3, 0});
    EXPECT_EQ(f.project().tmSettings.temperature, 1.0);
    EXPECT_EQ(f.project().tmSettings.tint, 1.0);
}

TEST(toneMappingTab, whiteBalanceLockKeepsItAcrossLoads) {
    preparedWindow f;
    f.loadPlainLook();
    auto* colour = f.w->findChild<colorAdjustGroup*>();
    ASSERT_NE(colour, nullptr);
    f.control("temperature")->spinBox()->setValue(1.4);
    f.control("hue")->spinBox()->setValue(1.2);
    colour->lockButton()->click();
    ASSERT_TRUE(colour->whiteBalanceLocked());
    QByteArray other = kPlainLook;
    other.replace("Compression=\"1.5\"", "Compression=\"2\"");
    const QString file = writeFile("other.hvsx", other);
    ASSERT_TRUE(f.w->loadSettingsSlot(file));
    EXPECT_EQ(f.project().tmSettings.compression, 2.0) << "everything else loads";
    EXPECT_DOUBLE_EQ(f.project().tmSettings.temperature, 1.4);
    EXPECT_DOUBLE_EQ(f.project().tmSettings.hue, 1.2);
    EXPECT_DOUBLE_EQ(f.control("temperature")->value(), 1.4);
    const std::array<double, 3> locked = halvora::whiteBalanceGains(1.4, 1.0);
    EXPECT_DOUBLE_EQ(f.project().tmSettings.tables.wbGain[0], locked[0])
        << "the gains follow the kept controls";
    colour->lockButton()->click();
    ASSERT_TRUE(f.w->loadSettingsSlot(file));
    EXPECT_EQ(f.project().tmSettings.temperature, 1.0);
    EXPECT_DOUBLE_EQ(f.control("hue")->value(), 1.0);
}

TEST(toneMappingTab, levelsAndCurvesDriveThePreview) {
    preparedWindow f;
    const QImage plain = f.loadPlainLook();
    auto* histogram = f.w->findChild<histogramTool*>();
    auto* curves = f.w->findChild<toneCurveTool*>();
    ASSERT_NE(histogram, nullptr);
    ASSERT_NE(curves, nullptr);

    // A black-point sample of a shown mid-grey: its level becomes black, automatic clipping is off,
    // and every sample gets darker or stays (the stretch is (v − b) / (1 − b)).
    int start = f.renders;
    f.w->sampleTakenSlot(1, mainWindow::sampleFromResult, rgbDouble_t{0.25, 0.25, 0.25, 0});
    EXPECT_NEAR(f.project().tmSettings.blackLevel, 0.25, 1e-9);
    EXPECT_FALSE(f.project().tmSettings.autoClipping);
    settle();
    EXPECT_EQ(f.renders, start + 1);
    EXPECT_LT(meanLevel(f.view->shownImage()), meanLevel(plain));
    // The share the new black level clips shows in its box (most of this picture is dark).
    EXPECT_GT(histogram->blackClipBox()->value(), 5.0);
    EXPECT_NEAR(histogram->blackClipBox()->value(), f.project().tmSettings.blackClipResult, 1e-4);

    // A white-point sample from the radiance picture: that radiance becomes white.
    f.w->sampleTakenSlot(2, mainWindow::sampleFromInput, rgbDouble_t{0.5, 0.5, 0.5, 0});
    EXPECT_GT(f.project().tmSettings.whiteLevel, f.project().tmSettings.blackLevel);
    EXPECT_LT(f.project().tmSettings.whiteLevel, 1.0);
    histogram->noClipButton()->click();
    settle();
    EXPECT_EQ(f.view->shownImage(), plain) << "no clipping is the plain picture again";

    // Whole-range "Contrast ++" renders once and is saved with the look.
    start = f.renders;
    curves->presetActTriggered(0);
    settle();
    EXPECT_EQ(f.renders, start + 1);
    EXPECT_NE(f.view->shownImage(), plain);
    // Saved and read back, the curve is in the file.
    const QString dir = makeTempDir("curves");
    ASSERT_TRUE(f.w->saveSettingsSlot(dir + "/contrast.hvsx"));
    toneMappingParameters_t back;
    ASSERT_EQ(halvora::loadSettingsFile(dir + "/contrast.hvsx", back), halvora::settingsLoadOk);
    EXPECT_FALSE(back.curves[0].identity);
    ASSERT_EQ(back.curves[0].kneePoints.size(), 4u);
    EXPECT_NEAR(back.curves[0].kneePoints[1].x, 0.201, 1e-6);
    curves->resetAllCurves();
    settle();
    EXPECT_EQ(f.view->shownImage(), plain);
}

TEST(toneMappingTab, exportOpensTheResultInTheExternalEditor) {
    preparedWindow f;
    f.loadPlainLook();
    programOptionsSettings& options = programOptionsSettings::instance();
    const programOptionsSettings kept = options;
    // The "editor" writes the file it was given next to itself.
    const QString dir = makeTempDir("editor");
    const QString editor = dir + "/editor.sh";
    {
        QFile script(editor);
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write(QString("#!/bin/sh\nprintf '%s' \"$1\" > '%1/opened.txt'\n").arg(dir).toUtf8());
    }
    QFile::setPermissions(editor, QFile::permissions(editor) | QFileDevice::ExeOwner);
    options.externalEditorEnabled = true;
    options.externalEditorPath = editor;
    options.externalEditorTransferExif = false;
    options.externalEditorBitDepth = 2;
    options.externalEditorCompression = 0;
    f.w->exportToExternalEditorSlot();
    ASSERT_TRUE(waitUntil([&] { return QFileInfo::exists(dir + "/opened.txt"); }, 30000));
    options = kept;
    QFile opened(dir + "/opened.txt");
    ASSERT_TRUE(opened.open(QIODevice::ReadOnly));
    const QString exported = QString::fromUtf8(opened.readAll());
    EXPECT_EQ(exported, f.w->externalEditorExportName());
    EXPECT_TRUE(exported.endsWith("/Halvora_export.tif"));
    EXPECT_TRUE(exported.startsWith(f.project().sessionDir));
    // A 16-bit TIFF of the whole picture.
    QFile tif(exported);
    ASSERT_TRUE(tif.open(QIODevice::ReadOnly));
    EXPECT_GT(tif.size(), qint64(360) * 240 * 6);
    // A working copy, not the user's save: "Save" still asks for a name.
    EXPECT_FALSE(f.w->resultSaved);
    EXPECT_TRUE(f.w->lastSavedPath.isEmpty());
}

} // namespace

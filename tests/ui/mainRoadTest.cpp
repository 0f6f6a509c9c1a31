// The interactive main road as a user walks it: add photos, generate the HDR picture from the
// dialog, move a tone-mapping slider and see the preview change, save, save again.
#include "app/programOptionsSettings.h"
#include "project/processingProject.h"
#include "support/testSupport.h"
#include "ui/generateHDR.h"
#include "ui/imageItem.h"
#include "ui/mainWindow.h"
#include "ui/mainWorkspace.h"
#include "ui/paramSlider.h"
#include "ui/tonemappingGroup.h"
#include "uiTestSupport.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QMenuBar>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <gtest/gtest.h>

namespace {

using namespace halvora::test;

int differingSamples(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) return -1;
    const QImage x = a.convertToFormat(QImage::Format_RGB888), y = b.convertToFormat(QImage::Format_RGB888);
    int n = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int i = 0; i < x.width() * 3; ++i)
            n += x.constScanLine(row)[i] != y.constScanLine(row)[i] ? 1 : 0;
    return n;
}

TEST(mainRoad, photosToHdrToSliderToSavedResult) {
    HALVORA_REQUIRE_DATA();
    programOptionsSettings::instance().newProjectShowFileOpen = false;
    // A tripod bracket spanning eight stops: automatic alignment finds too few common corners and
    // would only add its warning box.
    programOptionsSettings::instance().generateHdrAutoAlign = false;
    boxRecorder boxes(true);
    auto window = std::make_unique<mainWindow>(nullptr);
    ASSERT_FALSE(window->startupError());
    auto* view = window->findChild<mainWorkspace*>("workspace");
    auto* generate = window->findChild<QPushButton*>("generateHdrButton");
    ASSERT_TRUE(view && generate);
    EXPECT_FALSE(generate->isEnabled());

    // Add: three frames of the desk bracket (4 s, 0.3 s, 1/320 s).
    const QString dir = dataDir() + "/brackets/desk_canon_s45_13exp/";
    ASSERT_TRUE(window->addImages({dir + "img03.jpg", dir + "img07.jpg", dir + "img11.jpg"}));
    ASSERT_TRUE(waitUntil([&] { return !window->loadingPhotos(); }));
    EXPECT_EQ(view->shownImage().size(),
              QSize(window->project()->previewWidth, window->project()->previewHeight))
        << "the first photo's preview is on show";
    ASSERT_TRUE(generate->isEnabled());

    // Generate HDR → dialog → Generate HDR → stages → tone-mapping preparation.
    generate->click();
    auto* dialog = window->findChild<generateHDR*>();
    ASSERT_NE(dialog, nullptr);
    dialog->runButton()->click();
    processingProject* project = window->project();
    // While the stages run, nothing may change the photos or their EVs under the worker.
    const double ev0 = project->photos[0]->ev;
    EXPECT_FALSE(window->addImages({dir + "img05.jpg"}));
    window->removeImages();
    window->EVmanualSelectSlot(8);
    window->photoItemAt(1)->includeBox()->setChecked(false);
    window->newProject(true);
    EXPECT_EQ(project, window->project());
    EXPECT_EQ(project->photos.size(), 3u);
    EXPECT_EQ(project->photos[0]->ev, ev0);
    EXPECT_TRUE(project->photos[1]->included);
    EXPECT_TRUE(window->photoItemAt(1)->includeBox()->isChecked()) << "the click is undone";
    ASSERT_TRUE(waitUntil([&] {
        return !window->findChild<generateHDR*>() && project->hdrPresent && project->lcPlanesValid &&
               project->previewValid;
    }));
    EXPECT_EQ(window->findChild<QTabWidget*>("rightTabs")->currentIndex(), 1);
    const QImage before = view->shownImage();
    ASSERT_FALSE(before.isNull());
    EXPECT_EQ(before.size(), QSize(project->toneMappedWidth, project->toneMappedHeight));

    // A slider: stronger compression lifts the picture, and the view follows.
    auto* group = window->findChild<tonemappingGroup*>();
    ASSERT_NE(group, nullptr);
    QSlider* compression = group->control("compression")->slider();
    ASSERT_TRUE(compression->isEnabled()) << "the controls are live once the picture is prepared";
    compression->setValue(compression->value() + 100);
    ASSERT_TRUE(waitUntil([&] { return differingSamples(view->shownImage(), before) > 0; }, 10000));
    const QImage after = view->shownImage();
    EXPECT_GT(differingSamples(after, before), after.width() * after.height() / 10)
        << "most of the picture changes";
    EXPECT_GT(meanLevel(after), meanLevel(before));

    // Save (the file and options dialogs are the user's; the request is what they hand over).
    const QString out = makeTempDir("road") + "/desk.jpg";
    saveResultRequest request;
    request.fileName = out;
    request.options.jpegQuality = 90;
    request.options.transferExif = false;
    window->resultSaved = false;
    window->saveResultSlot(request);
    ASSERT_TRUE(waitUntil([&] { return window->resultSaved; }));
    QImageReader reader(out);
    EXPECT_EQ(reader.format(), "jpeg");
    const QImage saved = reader.read();
    EXPECT_EQ(saved.size(), QSize(1024, 768));
    EXPECT_TRUE(window->logPanelHtml().contains("Saved: " + out));

    // "Break" during a save stops that save, and only it: no file, the reason shown, and the next
    // preview and the next save work as before.
    const QString broken = makeTempDir("road") + "/broken.jpg";
    saveResultRequest interrupted = request;
    interrupted.fileName = broken;
    window->saveResultSlot(interrupted);
    ASSERT_NE(window->progressRun(), nullptr);
    auto* breakButton = window->findChild<QPushButton*>("breakButton");
    ASSERT_TRUE(breakButton->isEnabled());
    breakButton->click();
    ASSERT_TRUE(waitUntil([&] { return window->menuBar()->isEnabled(); }));
    EXPECT_FALSE(QFileInfo::exists(broken)) << "a broken save leaves no file";
    ASSERT_EQ(boxes.texts.size(), 1) << boxes.texts.join(" | ").toStdString();
    EXPECT_TRUE(boxes.texts[0].contains("Tone mapping the entire photo failed."))
        << boxes.texts[0].toStdString();
    boxes.texts.clear();
    boxes.kinds.clear();
    const QImage beforeBreak = view->shownImage();

    // "Save" repeats the last save to the same file; a moved slider made the result unsaved.
    compression->setValue(compression->value() - 50);
    ASSERT_TRUE(waitUntil([&] { return differingSamples(view->shownImage(), beforeBreak) > 0; }, 10000))
        << "the preview after a Break renders";
    ASSERT_TRUE(waitUntil([&] { return !window->resultSaved; }, 10000)) << "a new look is not saved yet";
    QFile::remove(out);
    window->saveResultSlot();
    ASSERT_TRUE(waitUntil([&] { return window->resultSaved; }));
    EXPECT_TRUE(QFileInfo::exists(out));
    EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join(" | ").toStdString();

    // Another photo is decoded into the picture's own stores: the old HDR image must not be saved
    // or tone-mapped any more.
    ASSERT_TRUE(window->addImages({dir + "img05.jpg"}));
    ASSERT_TRUE(waitUntil([&] { return !window->loadingPhotos(); }));
    EXPECT_EQ(project->photos.size(), 4u);
    EXPECT_FALSE(project->hdrPresent);
    EXPECT_FALSE(project->lcPlanesValid);
    EXPECT_FALSE(compression->isEnabled());
    auto* save = window->findChild<QAction*>("saveAction");
    ASSERT_NE(save, nullptr);
    EXPECT_FALSE(save->isEnabled()) << "nothing to save until the HDR image is generated again";
    window->resultSaved = true;
    window->close();
}

} // namespace

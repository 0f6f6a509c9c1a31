// The photo list of the main window on a real bracket: EV sources, typed EVs, include boxes,
// removing photos and starting a new project.
#include "app/programOptionsSettings.h"
#include "project/processingProject.h"
#include "support/testSupport.h"
#include "ui/imageItem.h"
#include "ui/mainWindow.h"
#include "ui/styledMessageBox.h"
#include "uiTestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <cmath>
#include <gtest/gtest.h>

namespace {

using halvora::test::dataDir;

struct photoListWindow : ::testing::Test {
    void SetUp() override {
        // A new project would otherwise open the file dialog and wait for a user.
        programOptionsSettings::instance().newProjectShowFileOpen = false;
        window = std::make_unique<mainWindow>(nullptr);
        ASSERT_FALSE(window->startupError());
        window->resultSaved = true;
    }
    void TearDown() override {
        if (window) window->resultSaved = true; // closing asks nothing
        if (window && !window->shutdownDone()) window->close();
        window.reset();
    }
    bool load(const QStringList& names) {
        QStringList files;
        for (const QString& n : names)
            files << dataDir() + "/brackets/desk_canon_s45_13exp/" + n;
        if (!window->addImages(files)) return false;
        return halvora::test::waitUntil([&] { return !window->loadingPhotos(); });
    }
    template <class T> T* child(const char* name) const { return window->findChild<T*>(name); }
    double ev(int i) const { return window->project()->photos[size_t(i)]->ev; }
    std::unique_ptr<mainWindow> window;
};

TEST_F(photoListWindow, EVsComeFromExifAndFollowTheControls) {
    HALVORA_REQUIRE_DATA();
    halvora::test::boxRecorder boxes(true);
    // Exposure times 4 s, 0.3 s and 1/320 s at F 2.8, ISO 50.
    ASSERT_TRUE(load({"img03.jpg", "img07.jpg", "img11.jpg"}));
    ASSERT_EQ(window->project()->photos.size(), 3u);
    EXPECT_TRUE(boxes.texts.isEmpty()) << "complete EXIF data: nothing to warn about";
    EXPECT_TRUE(child<QPushButton>("evExifButton")->isChecked());
    EXPECT_FALSE(child<QPushButton>("evAebButton")->isChecked());
    // The middle exposure is the reference: log2(4 / 0.3) and log2(1/320 / 0.3).
    EXPECT_NEAR(ev(0), std::log2(4.0 / 0.3), 1e-4);
    EXPECT_NEAR(ev(1), 0.0, 1e-9);
    EXPECT_NEAR(ev(2), std::log2(0.003125 / 0.3), 1e-4);
    for (int i = 0; i < 3; ++i) {
        imageItem* item = window->photoItemAt(i);
        ASSERT_NE(item, nullptr);
        EXPECT_NEAR(item->ev(), ev(i), 0.006);
        EXPECT_EQ(item->findChild<QLabel*>("imageItemEV")->text(),
                  QString("EV %1").arg(QString::number(item->ev(), 'g', 3)));
        EXPECT_TRUE(item->toolTip().contains("Exposure time: ")) << item->toolTip().toStdString();
        EXPECT_TRUE(item->isChecked());
    }
    EXPECT_FALSE(child<QLabel>("ldrEnhancementLabel")->isVisibleTo(window.get()));

    // Even steps of 2: brightest +2, then 0, then −2.
    auto* combo = child<QComboBox>("evStepCombo");
    window->project()->responseCurveValid = true;
    combo->setCurrentIndex(8);
    emit combo->activated(8);
    EXPECT_DOUBLE_EQ(ev(0), 2.0);
    EXPECT_DOUBLE_EQ(ev(1), 0.0);
    EXPECT_DOUBLE_EQ(ev(2), -2.0);
    EXPECT_FALSE(window->project()->responseCurveValid) << "new EVs need a new response curve";
    EXPECT_FALSE(child<QPushButton>("evExifButton")->isChecked());
    EXPECT_EQ(window->photoItemAt(2)->ev(), -2.0);

    // A typed EV: the list is re-based on the photo nearest the mean and the step combo resets.
    window->photoItemAt(0)->evBox()->setValue(5.0);
    EXPECT_EQ(combo->currentIndex(), 0);
    // EVs 5, 0, −2: mean 1, nearest is 0 → unchanged reference.
    EXPECT_DOUBLE_EQ(ev(0), 5.0);
    EXPECT_DOUBLE_EQ(ev(2), -2.0);

    // Back to EXIF.
    child<QPushButton>("evExifButton")->click();
    EXPECT_TRUE(child<QPushButton>("evExifButton")->isChecked());
    EXPECT_NEAR(ev(0), std::log2(4.0 / 0.3), 1e-4);

    // The include box decides which photos take part.
    window->photoItemAt(1)->includeBox()->setChecked(false);
    EXPECT_FALSE(window->project()->photos[1]->included);
    EXPECT_TRUE(window->project()->photos[0]->included);
    EXPECT_EQ(window->includedPhotos(), 2);
}

TEST_F(photoListWindow, RemovingAndStartingANewProject) {
    HALVORA_REQUIRE_DATA();
    halvora::test::boxRecorder yes(true);
    ASSERT_TRUE(load({"img03.jpg", "img07.jpg", "img11.jpg"}));
    auto* list = child<QListWidget>("photoList");

    list->setCurrentRow(-1);
    window->removeImages();
    ASSERT_EQ(yes.texts.size(), 1);
    EXPECT_EQ(yes.texts[0], "Choose an image to be removed.");
    EXPECT_EQ(window->project()->photos.size(), 3u) << "nothing selected, nothing removed";

    list->setCurrentRow(0);
    EXPECT_TRUE(window->photoItemAt(0)->isSelected());
    EXPECT_FALSE(window->photoItemAt(1)->isSelected());
    window->removeImages();
    EXPECT_EQ(yes.texts.last(), "Are you sure you want to remove <b>img03.jpg</b> from the sequence?");
    ASSERT_EQ(window->project()->photos.size(), 2u);
    EXPECT_EQ(list->count(), 2);
    EXPECT_TRUE(window->photoItemAt(0)->fileName().endsWith("img07.jpg"));
    EXPECT_NEAR(ev(1), 0.0, 1e-9) << "EVs computed again for the two left";

    yes.answer = false;
    window->newProject();
    EXPECT_EQ(yes.texts.last(), "Are you sure you want to start a new project?");
    EXPECT_EQ(window->project()->photos.size(), 2u) << "answered no: nothing changes";
    yes.answer = true;
    window->project()->tmSettings.gamma = 1.7;
    const QString oldSession = window->project()->sessionDir;
    window->newProject();
    EXPECT_NE(window->project()->sessionDir, oldSession) << "a new session for the new project";
    EXPECT_TRUE(window->project()->photos.empty());
    EXPECT_EQ(list->count(), 0);
    EXPECT_FALSE(QFileInfo::exists(oldSession)) << "the old session's files are gone";
    EXPECT_DOUBLE_EQ(window->project()->tmSettings.gamma, 1.7) << "the look carries over";

    // A different size is welcome in the new project; a single photo is an LDR enhancement.
    ASSERT_TRUE(load({"img05.jpg"}));
    QCoreApplication::processEvents();
    EXPECT_FALSE(window->project()->hdrPresent) << "without the option one photo waits for the user";
    EXPECT_TRUE(child<QLabel>("ldrEnhancementLabel")->isVisibleTo(window.get()));
    EXPECT_FALSE(child<QComboBox>("evStepCombo")->isEnabled());
    list->setCurrentRow(0);
    window->removeImages();
    EXPECT_TRUE(window->project()->photos.empty()) << "removing the last photo empties the project";
}

TEST_F(photoListWindow, OnePhotoIsEnhancedAtOnceWhenTheOptionSaysSo) {
    HALVORA_REQUIRE_DATA();
    halvora::test::boxRecorder boxes(true);
    programOptionsSettings::instance().newProjectAutoLDR = true;
    const bool loaded = load({"img05.jpg"});
    programOptionsSettings::instance().newProjectAutoLDR = false;
    ASSERT_TRUE(loaded);
    halvora::test::waitUntil(
        [&] { return window->project()->hdrPresent && window->project()->lcPlanesValid; });
    EXPECT_TRUE(window->project()->hdrPresent);
    EXPECT_TRUE(window->project()->lcPlanesValid) << "the enhanced photo is prepared for tone mapping";
    EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join(" | ").toStdString();
}

} // namespace

#include "ui/mainWindow.h"
#include "base/runContext.h"
#include "project/processingProject.h"
#include "project/projectRun.h"
#include "support/testSupport.h"
#include "ui/styledMainWindow.h"
#include "uiTestSupport.h"

#include <QDir>
#include <QProgressBar>
#include <QPushButton>
#include <QSemaphore>
#include <QTabWidget>
#include <gtest/gtest.h>

namespace {

TEST(mainWindow, tabTitlesLogColoursAndProgressBar) {
    styledMainWindow frame;
    auto* w = new mainWindow(&frame);
    frame.setMainWindow(w);
    ASSERT_FALSE(w->startupError());
    ASSERT_NE(w->project(), nullptr);

    auto* tabs = w->findChild<QTabWidget*>("rightTabs");
    // Inactive tabs keep their names too: a bare "2" says nothing to a new user.
    EXPECT_EQ(tabs->tabText(0), "1: Generate HDR");
    EXPECT_EQ(tabs->tabText(1), "2: Tone mapping");
    tabs->setCurrentIndex(2);
    EXPECT_EQ(tabs->tabText(0), "1: Generate HDR");
    EXPECT_EQ(tabs->tabText(2), "3: Postprocessing");

    w->appendLog(mainWindow::logWarning, "careful <b>");
    w->appendLog(mainWindow::logSuccess, "done");
    const QString html = w->logPanelHtml();
    EXPECT_TRUE(html.contains("#b0b060"));
    EXPECT_TRUE(html.contains("#60a060"));
    EXPECT_TRUE(html.contains("careful &lt;b&gt;")) << "log text is not markup";

    // The bar shows the observed run's own counters; the run's end stops it.
    auto* bar = w->findChild<QProgressBar*>("progressBar");
    auto* breakButton = w->findChild<QPushButton*>("breakButton");
    projectRun run{runSettings()};
    w->observeRun(&run);
    QSemaphore counted, release;
    bool cancelled = false;
    ASSERT_TRUE(run.start(200, [&](QString&) {
        halvora::addProgress(50);
        counted.release();
        release.acquire();
        cancelled = halvora::cancelRequested();
        return true;
    }));
    counted.acquire();
    w->updateProgress();
    EXPECT_EQ(bar->value(), 25);
    EXPECT_TRUE(bar->isTextVisible());
    ASSERT_TRUE(breakButton->isEnabled());
    breakButton->click(); // cancels the run on show
    release.release();
    ASSERT_TRUE(halvora::test::waitUntil([&] { return !run.running(); }));
    EXPECT_TRUE(cancelled) << "Break reaches the observed run";
    EXPECT_EQ(bar->value(), 0);
    EXPECT_FALSE(bar->isTextVisible());
    EXPECT_FALSE(breakButton->isEnabled());

    const QString session = w->project()->sessionDir;
    w->resultSaved = true;
    frame.close();
    EXPECT_TRUE(w->shutdownDone());
    EXPECT_EQ(w->project(), nullptr);
    EXPECT_FALSE(QDir(session).exists());
}

} // namespace

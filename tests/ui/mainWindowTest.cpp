#include "base/runContext.h"
#include "project/processingProject.h"
#include "support/testSupport.h"
#include "ui/mainWindow.h"
#include "ui/styledMainWindow.h"

#include <QDir>
#include <QProgressBar>
#include <QTabWidget>
#include <gtest/gtest.h>

namespace {

TEST(mainWindow, progressIsCappedAndNeverDividesByZero) {
    halvora::setProgressTotal(0);
    EXPECT_EQ(halvora::progress().total.load(), 1u);
    EXPECT_EQ(halvora::progressPercent(), 0);
    halvora::addProgress(5);
    EXPECT_EQ(halvora::progressPercent(), 100);
    halvora::setProgressTotal(400);
    halvora::addProgress(100);
    EXPECT_EQ(halvora::progressPercent(), 25);
    halvora::setProgressTotal(uint64_t(1) << 62);
    halvora::addProgress(uint64_t(1) << 61);
    EXPECT_EQ(halvora::progressPercent(), 50) << "no overflow with 64-bit totals";
}

TEST(mainWindow, tabTitlesLogColoursAndProgressBar) {
    styledMainWindow frame;
    auto* w = new mainWindow(&frame);
    frame.setMainWindow(w);
    ASSERT_FALSE(w->startupError());
    ASSERT_NE(w->project(), nullptr);

    auto* tabs = w->findChild<QTabWidget*>("rightTabs");
    EXPECT_EQ(tabs->tabText(0), "1: Generate HDR");
    EXPECT_EQ(tabs->tabText(1), "2  ");
    tabs->setCurrentIndex(2);
    EXPECT_EQ(tabs->tabText(0), "1  ");
    EXPECT_EQ(tabs->tabText(2), "3: Postprocessing");

    w->appendLog(mainWindow::logWarning, "careful <b>");
    w->appendLog(mainWindow::logSuccess, "done");
    const QString html = w->logPanelHtml();
    EXPECT_TRUE(html.contains("#b0b060"));
    EXPECT_TRUE(html.contains("#60a060"));
    EXPECT_TRUE(html.contains("careful &lt;b&gt;")) << "log text is not markup";

    auto* bar = w->findChild<QProgressBar*>("progressBar");
    w->startProgress(200);
    halvora::addProgress(50);
    w->updateProgress();
    EXPECT_EQ(bar->value(), 25);
    EXPECT_TRUE(bar->isTextVisible());
    w->finishProgress();
    EXPECT_EQ(bar->value(), 0);
    EXPECT_FALSE(bar->isTextVisible());
    EXPECT_EQ(halvora::progress().done.load(), 0u);

    const QString session = w->project()->sessionDir;
    w->resultSaved = true;
    frame.close();
    EXPECT_TRUE(w->shutdownDone());
    EXPECT_EQ(w->project(), nullptr);
    EXPECT_FALSE(QDir(session).exists());
}

} // namespace

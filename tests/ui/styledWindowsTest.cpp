// The styled frames, the message box, the splash and the dark look: what a user sees and can rely on.

#include "support/testSupport.h"
#include "ui/mainWindow.h"
#include "ui/splash.h"
#include "ui/styledMainWindow.h"
#include "ui/styledMessageBox.h"
#include "ui/styledTitleBar.h"
#include "uiTestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

namespace {

using namespace halvora::test;

// WCAG relative luminance and contrast ratio of two sRGB colours.
double luminance(QRgb c) {
    auto channel = [](int v) {
        const double s = v / 255.0;
        return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(c)) + 0.7152 * channel(qGreen(c)) + 0.0722 * channel(qBlue(c));
}
double contrast(QRgb a, QRgb b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The text's contrast in a rendered picture: the most common colour is the background, the pixel
// furthest from it in luminance is the text (bold, large glyphs reach their full colour).
double textContrast(const QImage& rendered) {
    const QImage image = rendered.convertToFormat(QImage::Format_RGB32);
    QHash<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            ++counts[image.pixel(x, y)];
    QRgb background = 0;
    int most = 0;
    for (auto it = counts.begin(); it != counts.end(); ++it)
        if (it.value() > most) {
            most = it.value();
            background = it.key();
        }
    double best = 1.0;
    for (auto it = counts.begin(); it != counts.end(); ++it)
        best = std::max(best, contrast(it.key(), background));
    return best;
}

struct styled {
    styled() {
        QFile css(":/resources/style1.css");
        EXPECT_TRUE(css.open(QIODevice::ReadOnly));
        qApp->setStyleSheet(QString::fromLatin1(css.readAll()));
    }
    ~styled() { qApp->setStyleSheet(QString()); }
};

// Body text reads at 7:1 or better on its background, disabled text at 3:1 or better, in every
// kind of control the windows are made of.
TEST(styledLook, textIsReadableInEveryKindOfControl) {
    styled sheet;
    QFont big;
    big.setPixelSize(22);
    big.setBold(true);
    QWidget host; // inside the main window's panel, where children once drew black text on dark grey
    host.setObjectName("mainWindow");
    auto* layout = new QVBoxLayout(&host);
    QLabel label("HHHH", &host);
    QPushButton button("HHHH", &host);
    QPushButton disabledButton("HHHH", &host);
    disabledButton.setEnabled(false);
    QLabel disabledLabel("HHHH", &host);
    disabledLabel.setEnabled(false);
    QLineEdit edit("HHHH", &host);
    QCheckBox check("HHHH", &host);
    QGroupBox group("HHHH", &host);
    group.setMinimumSize(200, 60);
    QTabBar tabs(&host);
    tabs.addTab("HHHH");
    tabs.addTab("HHHH");
    for (QWidget* w : std::initializer_list<QWidget*>{&label, &button, &disabledButton, &disabledLabel, &edit,
                                                      &check, &group, &tabs}) {
        w->setFont(big);
        layout->addWidget(w);
    }
    host.show();
    QApplication::processEvents();
    struct item {
        const char* what;
        QWidget* widget;
        double least;
    };
    // Rendered as the window shows them: each control on what its parent paints behind it.
    const QImage whole = host.grab().toImage();
    for (const item& i :
         {item{"label", &label, 7.0}, item{"button", &button, 7.0}, item{"line edit", &edit, 7.0},
          item{"check box", &check, 7.0}, item{"group box title", &group, 7.0}, item{"tab", &tabs, 7.0},
          item{"disabled button", &disabledButton, 3.0}, item{"disabled label", &disabledLabel, 3.0}})
        EXPECT_GE(textContrast(whole.copy(i.widget->geometry())), i.least) << i.what;

    QMenu menu;
    menu.setFont(big);
    menu.addAction("HHHH");
    menu.addAction("HHHH")->setEnabled(false);
    menu.ensurePolished();
    menu.adjustSize();
    EXPECT_GE(textContrast(menu.grab().toImage()), 7.0) << "menu";
}

TEST(styledMessageBox, buttonsWakeWhenShownAndAnswerOnce) {
    styledMessageBox box(nullptr, styledMessageBox::confirmation, "Remove <b>x</b>?",
                         styledMessageBox::yes | styledMessageBox::no);
    EXPECT_EQ(box.windowTitle(), "Confirmation");
    ASSERT_NE(box.buttonFor(styledMessageBox::yes), nullptr);
    EXPECT_EQ(box.buttonFor(styledMessageBox::ok), nullptr);
    EXPECT_FALSE(box.buttonFor(styledMessageBox::yes)->isEnabled()) << "no answer before it is on screen";
    int yesSignals = 0;
    QObject::connect(&box, &styledMessageBox::yesClicked, [&] { ++yesSignals; });
    QTimer::singleShot(0, &box, [&box] {
        box.enableButtons();
        box.buttonFor(styledMessageBox::yes)->click();
    });
    box.exec();
    EXPECT_EQ(box.clicked(), styledMessageBox::yes);
    EXPECT_EQ(yesSignals, 1);

    // Closing from the title bar is the safe answer: "No".
    styledMessageBox closed(nullptr, styledMessageBox::confirmation, "Quit?",
                            styledMessageBox::yes | styledMessageBox::no);
    QTimer::singleShot(0, &closed, [&closed] { closed.titleBar()->closeButton()->click(); });
    closed.exec();
    EXPECT_EQ(closed.clicked(), styledMessageBox::no);
}

TEST(splash, fadesAfterOnePointTwoSecondsAndAClickSkipsToTheFade) {
    QWidget window;
    auto* screen = new splash(&window);
    bool finished = false;
    QObject::connect(screen, &splash::finished, [&] { finished = true; });
    screen->start();
    EXPECT_FALSE(window.isEnabled()) << "the window waits behind the splash";
    EXPECT_DOUBLE_EQ(screen->windowOpacity(), 1.0);
    for (int i = 0; i < splash::kFadeFrom; ++i)
        screen->hidingStep();
    EXPECT_DOUBLE_EQ(screen->windowOpacity(), 1.0) << "opaque for the first 60 steps (1.2 s)";
    for (int i = 0; i < 20; ++i)
        screen->hidingStep();
    EXPECT_NEAR(screen->windowOpacity(), 0.5, 0.01) << "half way through the fade";
    for (int i = 0; i < 20; ++i)
        screen->hidingStep();
    EXPECT_TRUE(finished);

    // A click in the first 1.2 seconds starts the 0.8-second fade at once.
    auto* clicked = new splash(&window);
    bool clickedFinished = false;
    QObject::connect(clicked, &splash::finished, [&] { clickedFinished = true; });
    clicked->start();
    QTest::mouseClick(clicked, Qt::LeftButton);
    EXPECT_TRUE(window.isEnabled());
    EXPECT_EQ(clicked->step(), splash::kFadeFrom);
    ASSERT_TRUE(waitUntil([&] { return clickedFinished; }, 5000)) << "gone 40 steps after the click";
}

TEST(styledMainWindow, titleBarShowsTheFileAndDoubleClickToggles) {
    styledMainWindow frame;
    auto* main = new mainWindow(&frame);
    frame.setMainWindow(main);
    frame.setTitleFileName("desk.jpg");
    EXPECT_EQ(frame.windowTitle(), "desk.jpg - Halvora 3.0.1");
    EXPECT_EQ(frame.titleBar()->title(), "Halvora 3.0.1");
    frame.show();
    const bool before = frame.isMaximized();
    QTest::mouseDClick(frame.titleBar(), Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_NE(frame.isMaximized(), before);
    main->resultSaved = true;
    frame.close();
    EXPECT_TRUE(main->shutdownDone());
}

} // namespace

// The main window on a 1920 x 1080 screen, at the scale QT_SCALE_FACTOR sets (ctest runs it at 100 %
// and at 200 %): the whole window with its frame on the screen, and every control at least at the size
// it needs.
#include "app/window/FileListBox.h"
#include "app/window/MainWindow.h"
#include "testsupport/QtTestEnvironment.h"

#include <QFrame>
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

namespace {

[[maybe_unused]] ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new testsupport::QtEnvironment("window_screen_tests", 1920, 1080));

TWindowHooks NoDesktop() {
    TWindowHooks h;
    h.ProcessMessages = [] { QCoreApplication::processEvents(); };
    return h;
}

void ExpectNoControlSqueezed(const TForm1& form) {
    const QWidget* controls[] = {form.centralWidget(), form.FileList,  form.GroupBox4, form.Panel1,
                                 form.GroupBox1,       form.GroupBox2, form.GroupBox3, form.Keywords};
    for (const QWidget* w : controls) {
        EXPECT_GE(w->height(), w->minimumSizeHint().height()) << w->objectName().toStdString();
        EXPECT_GE(w->width(), w->minimumSizeHint().width()) << w->objectName().toStdString();
    }
    // Enough of the list to work with.
    EXPECT_GE(form.FileList->viewport()->height(), 4 * form.FileList->fontMetrics().height());
}

TEST(WindowOnScreen, FitsTheScreenWithEveryControlAtItsSize) {
    const qreal scale =
        qEnvironmentVariableIsSet("QT_SCALE_FACTOR") ? qEnvironmentVariable("QT_SCALE_FACTOR").toDouble() : 1;
    TForm1 form(NoDesktop());
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    QCoreApplication::processEvents(); // the fit that follows the first show

    const QRect area = form.screen()->availableGeometry();
    EXPECT_EQ(area.size(), (QSize(qRound(1920 / scale), qRound(1080 / scale))));
    EXPECT_TRUE(area.contains(form.frameGeometry()))
        << form.frameGeometry().top() << ".." << form.frameGeometry().bottom() << " on " << area.height();
    ExpectNoControlSqueezed(form);
    if (scale == 1) {
        EXPECT_EQ(form.size(), QSize(678, 571)); // the standard size where it fits
        EXPECT_EQ(form.minimumSize(), QSize(678, 571));
        EXPECT_EQ(form.FileList->height(), 230);
    }

    // A taller window gives the room to the list and the preview, not to the fixed controls.
    const int list = form.FileList->height(), preview = form.GroupBox4->height(),
              panel = form.Panel1->height();
    form.resize(form.width(), form.height() + 200);
    QCoreApplication::processEvents();
    EXPECT_GT(form.FileList->height(), list + 60);
    EXPECT_GT(form.GroupBox4->height(), preview + 60);
    EXPECT_EQ(form.Panel1->height(), panel);
}

} // namespace

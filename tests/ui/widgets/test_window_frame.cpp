// Windows placed by their outer frame: the designed bounds and stored placements name the
// frame with its title bar and borders, which the window system adds around the client area.

#include <QWidget>
#include <QWindow>

#include "tests/ui/ui_test_support.h"
#include "ui/widgets/WindowFrame.h"

namespace uitest {
namespace {

class Frame : public ::testing::Test {
  protected:
    Frame() { app(); }
};

// A stored placement whose title bar is off every screen comes onto the nearest one; one that
// can be grabbed stays where it was put.
TEST(ReachableFrame, TitleBarOnSomeScreen) {
    const QList<QRect> two{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
    struct Row {
        const char* name;
        QRect frame;
        QList<QRect> screens;
        QRect expected;
    };
    const Row rows[] = {
        {"inside", {100, 100, 800, 436}, two, {100, 100, 800, 436}},
        {"partly off the right edge, grip left",
         {1850, 100, 800, 436},
         {two[0]},
         {1850, 100, 800, 436}},
        {"on the second screen", {2000, 200, 800, 436}, two, {2000, 200, 800, 436}},
        {"a removed second screen", {2000, 200, 800, 436}, {two[0]}, {1120, 200, 800, 436}},
        {"title bar above the top", {100, -300, 800, 436}, two, {100, 0, 800, 436}},
        {"below the bottom", {100, 5000, 800, 436}, two, {100, 1056, 800, 436}},
        {"far left", {-5000, 300, 800, 436}, two, {0, 300, 800, 436}},
        {"wider than the screen", {-5000, 300, 3000, 436}, {two[0]}, {0, 300, 3000, 436}},
        {"no screens", {-5000, -5000, 800, 436}, {}, {-5000, -5000, 800, 436}},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(ui::reachableFrame(r.frame, r.screens, 24), r.expected) << r.name;
    }
}

TEST_F(Frame, PlacedByTheOuterFrame) {
    struct Row {
        const char* name;
        Qt::WindowFlags flags;
        bool fixedSize;
        bool placeAfterShow;
        std::optional<QSize> resizedBeforeShow;  // by someone else, after the placement
        QRect frame;                             // the frame expected once shown
    };
    const QRect wanted(30, 40, 500, 300);
    const Row rows[] = {
        {"placed before the window exists", Qt::Window, false, false, {}, wanted},
        {"placed while shown", Qt::Window, false, true, {}, wanted},
        {"no frame: the client area is the frame",
         Qt::Window | Qt::FramelessWindowHint,
         false,
         false,
         {},
         wanted},
        {"resized meanwhile: that size stands", Qt::Window, false, false, QSize(200, 100),
         QRect(30, 40, 200, 100)},
        {"a fixed size stays, the frame moves", Qt::Window, true, false, {}, QRect(30, 40, 0, 0)},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        QWidget w(nullptr, r.flags);
        if (r.fixedSize) {
            w.setFixedSize(120, 80);
        }
        if (r.placeAfterShow) {
            w.show();
        }
        ui::OuterFrame::place(w, wanted);
        if (r.resizedBeforeShow) {
            w.resize(*r.resizedBeforeShow);
        }
        w.show();
        QApplication::processEvents();
        const QMargins m = ui::OuterFrame::margins(w);
        QRect expected = r.frame;
        if (r.resizedBeforeShow) {
            expected.setSize(*r.resizedBeforeShow +
                             QSize(m.left() + m.right(), m.top() + m.bottom()));
        }
        if (r.fixedSize) {
            expected.setSize(QSize(120, 80) + QSize(m.left() + m.right(), m.top() + m.bottom()));
        }
        EXPECT_EQ(w.frameGeometry(), expected);
        EXPECT_EQ(ui::OuterFrame::normalFrame(w), expected);
        if (!(r.flags & Qt::FramelessWindowHint)) {
            EXPECT_FALSE(m.isNull()) << "the platform frames windows (else this test shows little)";
        }
    }
}

// The main window: the designed bounds are its frame; a close stores the frame, and the next
// start restores exactly that frame.
class MainFrame : public WindowTest {};

TEST_F(MainFrame, StoredAndRestoredAsTheFrame) {
    startUp();
    EXPECT_EQ(frmMain->frameGeometry(), QRect(0, 103, 800, 436));
    EXPECT_LT(frmMain->height(), 436) << "the client area is inside the frame";
    ui::OuterFrame::place(*frmMain, QRect(50, 60, 700, 500));
    frmMain->close();
    EXPECT_EQ(stored(kMainKey, QStringLiteral("TfrmMain"), QStringLiteral("NormPos")).toString(),
              QStringLiteral("50,60,750,560"));
    ui::destroyForms();
    startUp();
    EXPECT_EQ(frmMain->frameGeometry(), QRect(50, 60, 700, 500));
    frmMain->showMaximized();
    QApplication::processEvents();
    EXPECT_EQ(ui::OuterFrame::normalFrame(*frmMain), QRect(50, 60, 700, 500));
}

}  // namespace
}  // namespace uitest

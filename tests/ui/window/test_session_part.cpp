// Sessions that remember the work: named markers, bookmarks, a channel's name, the view, marker,
// cursor and decoder options saved beside the capture and restored when it is loaded again; a
// session of a newer version refused with a clear message; the capture itself untouched.

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QSpinBox>

#include <fstream>

#include "core/files/osc_file.h"
#include "tests/app/cli_run.h"
#include "tests/ui/capture_test_support.h"
#include "ui/window/MeasurementPart.h"
#include "ui/window/SessionPart.h"

namespace uitest {
namespace {

class Sessions : public CaptureTest {
  protected:
    QString copyOf(const char* fixture, const char* name) {
        const QString to = dir.filePath(QString::fromLatin1(name));
        QFile::copy(clitest::fixture(QString::fromLatin1(fixture)), to);
        return to;
    }
    static ui::SessionPart& session() { return frmMain->sessionPart(); }
    static osc::AxisRange window() {
        return {frmMain->engine().window.minimum(), frmMain->engine().window.maximum()};
    }
    QTemporaryDir dir;
};

TEST_F(Sessions, SavedBesideTheCaptureAndRestoredWithIt) {
    const QString file = copyOf("frames_session.osc", "capture.osc");
    const std::string original = osc::readWholeFile(file.toStdString());
    frmMain->LoadOscFile(file);
    ASSERT_TRUE(messages.empty());
    // A stretch measured on a line, two named markers, a bookmark, a renamed channel, a view.
    const osc::ChannelTrace& line = frmMain->engine().traces[1];
    ASSERT_GT(line.count(), 6u);
    const auto a = static_cast<double>(line.x(3));
    const auto b = static_cast<double>(line.x(6));
    frmMain->measurement().measure(1, a, b);
    session().dropMarker(1);
    frmMain->measurement().measure(1, a, static_cast<double>(line.x(4)));
    session().dropMarker(7);
    session().addBookmark(QStringLiteral("ошибка CRC"), false);
    session().setChannel(1, {"TX", "#ff8000", true});
    session().setChannel(3, {"", "", false});
    cbInverseBits()->setChecked(true);
    frmMain->engine().window.setMinMax(a - 2560, a + 12800);
    frmMain->measurement().measure(1, a, b);
    const osc::Session saved = session().session();
    EXPECT_EQ(Chart1()->axisLabelText(OscPlot::Axis::Left, 5), QStringLiteral("TX"));
    EXPECT_TRUE(frmMain->engine().traces[3].hidden());
    frmMain->findChild<QAction*>(QStringLiteral("actSaveSession"))->trigger();
    ASSERT_TRUE(messages.empty()) << messages.front().text.toStdString();
    ASSERT_TRUE(QFile::exists(file + QStringLiteral(".session")));
    EXPECT_EQ(osc::readWholeFile(file.toStdString()), original);  // the capture as it was

    // Another file: an empty session; the first again: all of it back.
    frmMain->LoadOscFile(copyOf("steady_lines.osc", "other.osc"));
    EXPECT_TRUE(session().markers().empty());
    EXPECT_TRUE(session().bookmarks().empty());
    EXPECT_FALSE(frmMain->engine().traces[3].hidden());
    cbInverseBits()->setChecked(false);
    frmMain->LoadOscFile(file);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(session().session(), saved);
    ASSERT_EQ(session().markers().size(), 2u);
    EXPECT_EQ(session().markers()[1].key, 7);
    EXPECT_EQ(session().bookmarks().front().note, "ошибка CRC");
    EXPECT_EQ(window(), (osc::AxisRange{a - 2560, a + 12800}));
    EXPECT_EQ(frmMain->measurement().markerX(), a);
    EXPECT_EQ(frmMain->measurement().cursorX(), b);
    EXPECT_TRUE(cbInverseBits()->isChecked());
    EXPECT_EQ(Chart1()->axisLabelText(OscPlot::Axis::Left, 5), QStringLiteral("TX"));
    EXPECT_TRUE(frmMain->engine().traces[3].hidden());

    // Key 7 brings its marker back into a window far away, the width kept.
    frmMain->engine().window.setMinMax(1e6, 1e6 + 25600);
    frmMain->findChild<QAction*>(QStringLiteral("actJumpMarker7"))->trigger();
    EXPECT_LE(window().minimum, static_cast<double>(line.x(4)));
    EXPECT_GT(window().maximum, static_cast<double>(line.x(4)));
    EXPECT_NEAR(window().maximum - window().minimum, 25600, 1);
}

// The link layer's options travel with the frames' options: each control that sets them comes
// back as it was saved, after another file set them otherwise.
TEST_F(Sessions, LinkOptionsComeBackWithTheCapture) {
    const QString file = copyOf("frames_session.osc", "capture.osc");
    frmMain->LoadOscFile(file);
    auto* modulo = frmMain->findChild<QComboBox*>(QStringLiteral("cmbLinkModulo"));
    auto* primary = frmMain->findChild<QComboBox*>(QStringLiteral("cmbLinkPrimary"));
    auto* timeout = frmMain->findChild<QSpinBox*>(QStringLiteral("seLinkTimeout"));
    auto* link = frmMain->findChild<QCheckBox*>(QStringLiteral("cbLink"));
    ASSERT_TRUE(modulo && primary && timeout && link);
    modulo->setCurrentIndex(1);
    primary->setCurrentIndex(primary->count() - 1);
    timeout->setValue(timeout->minimum() + 7);
    link->setChecked(false);
    frmMain->findChild<QAction*>(QStringLiteral("actSaveSession"))->trigger();
    ASSERT_TRUE(messages.empty()) << messages.front().text.toStdString();

    frmMain->LoadOscFile(copyOf("steady_lines.osc", "other.osc"));
    modulo->setCurrentIndex(0);
    primary->setCurrentIndex(0);
    timeout->setValue(timeout->minimum());
    link->setChecked(true);
    frmMain->LoadOscFile(file);
    EXPECT_EQ(modulo->currentIndex(), 1);
    EXPECT_EQ(primary->currentIndex(), primary->count() - 1);
    EXPECT_EQ(timeout->value(), timeout->minimum() + 7);
    EXPECT_FALSE(link->isChecked());
}

TEST_F(Sessions, ANewerOrBrokenSessionIsRefusedWithAClearMessage) {
    const QString file = copyOf("frames_session.osc", "newer.osc");
    std::ofstream((file + QStringLiteral(".session")).toStdString())
        << R"({"version": 99, "markers": [{"key": 1, "x": 256}]})";
    frmMain->LoadOscFile(file);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, QStringLiteral("Сеанс newer.osc.session записан более новой "
                                               "версией программы (версия 99, эта читает версию "
                                               "1 и старше): сеанс не восстановлен"));
    EXPECT_TRUE(session().markers().empty());
    EXPECT_GT(frmMain->engine().traces[0].count(), 2u);  // the capture itself is shown

    std::ofstream((file + QStringLiteral(".session")).toStdString()) << "{\"version\": 1,";
    frmMain->LoadOscFile(file);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1].text,
              QStringLiteral("Сеанс newer.osc.session не прочитан: сеанс не восстановлен"));
    EXPECT_FALSE(messages[1].detail.isEmpty());

    // Nothing on screen from a file: saving says where a session lives.
    frmMain->actOSCstartExecute();
    EXPECT_FALSE(session().save());
}

}  // namespace
}  // namespace uitest

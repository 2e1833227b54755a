// Capture journals left unfinished, as the window finds them at start-up: the question comes
// after the login, and each answer does what it says with the journal and the traces.
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/capture/capture_stats.h"
#include "core/files/capture_journal.h"
#include "core/files/osc_file.h"
#include "tests/ui/ui_test_support.h"

using uitest::WindowTest;

namespace {

std::string sourceFile(const char* relative) {
    return std::string(qgetenv("MO_SOURCE_DIR").constData()) + "/" + relative;
}

std::string fileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<std::vector<std::pair<osc::Tick, int>>> traces() {
    std::vector<std::vector<std::pair<osc::Tick, int>>> all;
    for (const osc::ChannelTrace& t : frmMain->engine().traces) {
        all.emplace_back();
        for (std::size_t i = 0; i < t.count(); ++i) {
            all.back().emplace_back(t.x(i), t.y(i));
        }
    }
    return all;
}

// A capture of the file's datagrams whose program ended without its stop (as after a kill).
void leaveUnfinishedJournal(const std::string& oscText) {
    osc::CaptureJournal journal;  // the state folder of the test
    journal.start();
    osc::OscReader reader(oscText);
    std::vector<std::uint8_t> datagram;
    while (reader.next(datagram)) {
        journal.append(datagram);
    }
}

class JournalRecovery : public WindowTest {
  protected:
    // Start-up with the login cancelled, the journal question answered by the button named
    // `button` (none: the box closed) and the file dialog by `saveAs`.
    void startUpAnswering(const char* button, const QString& saveAs = {}) {
        ui::createForms({});
        ui::ScopedModalHook modal([&](QDialog& d) {
            if (auto* box = qobject_cast<QMessageBox*>(&d)) {
                questions.push_back(box->text());
                if (button) {
                    auto* b = box->findChild<QPushButton*>(QString::fromLatin1(button));
                    EXPECT_NE(b, nullptr) << button;
                    EXPECT_FALSE(b && b->toolTip().isEmpty()) << button;
                    if (b) {
                        b->click();
                    }
                }
                return 0;
            }
            if (auto* fd = qobject_cast<QFileDialog*>(&d)) {
                if (saveAs.isEmpty()) {
                    return int(QDialog::Rejected);
                }
                fd->selectFile(saveAs);
                return int(QDialog::Accepted);
            }
            return int(QDialog::Rejected);  // the login
        });
        ui::showMainForm();
        QApplication::processEvents();
    }
    std::vector<QString> questions;
};

TEST_F(JournalRecovery, EachAnswerDoesWhatItSays) {
    const std::string original = fileText(sourceFile("tests/data/decode/bits_101111101100.osc"));
    ASSERT_FALSE(original.empty());
    std::string lines;  // the file's datagrams as the journal writes them
    {
        osc::OscReader reader(original);
        std::vector<std::uint8_t> d;
        while (reader.next(d)) {
            lines += osc::traceLine(d) + "\r\n";
        }
    }
    // The traces that loading the file gives.
    ui::createForms({});
    frmMain->LoadOscFile(
        QString::fromStdString(sourceFile("tests/data/decode/bits_101111101100.osc")));
    const auto loaded = traces();
    ui::destroyForms();
    ASSERT_FALSE(loaded[0].empty());

    const QString saved = config.path() + QStringLiteral("/saved.osc");
    struct Row {
        const char* button;  // nullptr: the box closed
        QString saveAs;      // the file dialog's answer, empty: cancelled
        bool journalStays;
        bool replayed;
    };
    const Row rows[] = {
        {nullptr, {}, true, false},
        {ui::JournalPart::kLaterButton, {}, true, false},
        {ui::JournalPart::kSaveButton, {}, true, false},  // the file dialog cancelled
        {ui::JournalPart::kReplayButton, {}, true, true},
        {ui::JournalPart::kSaveButton, saved, false, false},
        {ui::JournalPart::kDiscardButton, {}, false, false},
    };
    leaveUnfinishedJournal(original);
    for (const Row& r : rows) {
        const std::string name = r.button ? r.button : "closed";
        if (osc::findUnfinishedJournals().empty()) {
            leaveUnfinishedJournal(original);
        }
        questions.clear();
        startUpAnswering(r.button, r.saveAs);
        ASSERT_EQ(questions.size(), 1u) << name;
        const std::size_t datagrams =
            static_cast<std::size_t>(std::count(lines.begin(), lines.end(), '\n'));
        EXPECT_TRUE(
            questions[0].startsWith(QStringLiteral("Найден незавершённый журнал захвата от ")))
            << name;
        // The count and the size in the window's words and units, as the status bar has them.
        EXPECT_TRUE(questions[0].contains(
            QStringLiteral("(посылок: %1, %2). ")
                .arg(datagrams)
                .arg(QString::fromStdString(osc::byteCountText(lines.size())))))
            << name << " " << questions[0].toStdString();
        EXPECT_EQ(osc::findUnfinishedJournals().size(), r.journalStays ? 1u : 0u) << name;
        if (r.replayed) {
            EXPECT_EQ(traces(), loaded) << name;
        } else {
            EXPECT_TRUE(traces()[0].empty()) << name;
        }
        if (!r.saveAs.isEmpty()) {
            EXPECT_EQ(fileText(r.saveAs.toStdString()), lines) << name;
        }
        EXPECT_TRUE(messages.empty()) << name;
        ui::destroyForms();
    }
    // A journal without a datagram, or a complete one, is not offered.
    {
        osc::CaptureJournal empty;
        empty.start();
    }
    {
        osc::CaptureJournal complete;
        complete.start();
        complete.append(std::vector<std::uint8_t>{0x23});
        complete.stop();
    }
    questions.clear();
    startUpAnswering(ui::JournalPart::kReplayButton);
    EXPECT_TRUE(questions.empty());
}

}  // namespace

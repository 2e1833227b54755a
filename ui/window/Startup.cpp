#include "ui/window/Startup.h"

#include <QApplication>
#include <QDialog>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

#include <cstdio>
#include <optional>

#include "netsim/simulated_network.h"
#include "ui/dialogs/logind.h"
#include "ui/widgets/Messages.h"
#include "ui/window/MainUnit.h"

namespace ui {

namespace {

// The demo server's IP devices, each hosted by a simulated device on an in-process network;
// their links lose, damage and delay a few frames, for practice.
std::unique_ptr<osc::net::DatagramEndpoint> demoNetwork() {
    osc::net::SimulatedNetworkOptions options;
    std::uint64_t seed = 1;
    for (const char* address : {"127.0.0.11", "127.0.0.12", "127.0.0.13"}) {
        osc::net::SimulatedDeviceSpec device;
        device.address = address;
        device.options.link.seed = seed++;
        device.options.link.faults = osc::sim::kDemoFaults;
        options.devices.push_back(device);
    }
    return std::make_unique<osc::net::SimulatedNetwork>(std::move(options));
}

// After a replay without the user: one line per channel, "C points lastX".
void printTraceSummary() {
    for (std::size_t c = 0; c < frmMain->engine().traces.size(); ++c) {
        const osc::ChannelTrace& trace = frmMain->engine().traces[c];
        std::printf("%zu %zu %lld\n", c, trace.count(),
                    trace.empty() ? 0LL : static_cast<long long>(trace.lastX()));
    }
    std::fflush(stdout);
}

// The few of Qt's own texts that its Russian translations leave in English: the file dialog's
// type of a folder or drive.
class MissingQtTexts : public QTranslator {
  public:
    using QTranslator::QTranslator;
    bool isEmpty() const override { return false; }
    QString translate(const char* context, const char* source, const char* disambiguation,
                      int n) const override {
        (void)disambiguation;
        (void)n;
        if (qstrcmp(context, "QAbstractFileIconProvider") == 0) {
            if (qstrcmp(source, "Folder") == 0) {
                return QStringLiteral("Папка");
            }
            if (qstrcmp(source, "Drive") == 0) {
                return QStringLiteral("Диск");
            }
        }
        return {};
    }
};

}  // namespace

bool installQtTranslations(QCoreApplication& app) {
    static QTranslator* translator = nullptr;
    if (translator) {
        return true;
    }
    // Dates, type names and numbers in Qt's dialogs follow the default locale.
    const QLocale russian(QLocale::Russian, QLocale::Russia);
    QLocale::setDefault(russian);
    auto* t = new QTranslator(&app);
    if (!t->load(russian, QStringLiteral("qtbase"), QStringLiteral("_"),
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        !QCoreApplication::installTranslator(t)) {
        delete t;
        return false;
    }
    QCoreApplication::installTranslator(new MissingQtTexts(&app));
    translator = t;
    return true;
}

void createForms(const StartupOptions& options) {
    new TfrmMain;  // sets frmMain; FormCreate has run
    frmMain->setDemoMode(options.demo);
    // A file to show: it opens at once, without the login dialog (the connect button logs in).
    frmMain->setConnectAtStart(options.file.isEmpty());
    frmMain->acquisition().setMemoryLimit(options.memoryLimit);
    if (options.demo) {
        frmMain->setEndpoint(demoNetwork());
    }
    new TLoginDlg;  // sets LoginDlg; hidden until the connect action shows it
}

void showMainForm(bool offerJournals) {
    if (frmMain) {
        frmMain->show();  // returns once the login has been answered
    }
    if (frmMain && offerJournals) {
        guarded(frmMain, [] { frmMain->OfferUnfinishedJournals(); });
    }
}

void destroyForms() {
    delete frmMain;
    delete LoginDlg;
}

int runApplication(QApplication& app, const StartupOptions& options) {
    // Unattended: nobody answers a dialog or reads a message box.
    bool messageShown = false;
    std::optional<ScopedModalHook> modal;
    std::optional<ScopedMessageHook> messages;
    if (options.quitAfterLoad) {
        modal.emplace([](QDialog&) { return int(QDialog::Rejected); });
        messages.emplace([&messageShown](const Message& m) {
            messageShown = true;
            QString line = m.caption + QStringLiteral(": ") + m.text;
            if (!m.detail.isEmpty()) {
                line += QStringLiteral(" (") + m.detail + QStringLiteral(")");
            }
            std::fprintf(stderr, "morvelip-osc: %s\n", line.toLocal8Bit().constData());
        });
    }
    installQtTranslations(app);
    createForms(options);
    showMainForm(!options.quitAfterLoad);
    if (!options.file.isEmpty()) {
        QTimer::singleShot(0, frmMain, [&options, &messageShown] {
            guarded(frmMain, [&options] { frmMain->LoadOscFile(options.file); });
            if (options.quitAfterLoad) {
                printTraceSummary();
                QCoreApplication::exit(messageShown ? 1 : 0);
            }
        });
    }
    const int code = app.exec();
    destroyForms();
    return code;
}

}  // namespace ui

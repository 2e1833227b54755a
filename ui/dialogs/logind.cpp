#include "ui/dialogs/logind.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

#include "ui/settings/FormStorage.h"
#include "ui/widgets/Fonts.h"
#include "ui/widgets/Messages.h"

TLoginDlg* LoginDlg = nullptr;

namespace {
QLabel* rightLabel(QWidget* parent, const char* name, const QString& text, QRect bounds) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setGeometry(bounds);
    return label;
}
QLineEdit* edit(QWidget* parent, const char* name, QRect bounds) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QString::fromLatin1(name));
    e->setGeometry(bounds);
    return e;
}
}  // namespace

TLoginDlg::TLoginDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("LoginDlg"));
    setWindowTitle(QStringLiteral("Соединиться с сервером"));
    setFont(ui::formFont());
    setFixedSize(339, 176);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setModal(true);

    Label1 = rightLabel(this, "Label1", QStringLiteral("NT-сервер"), {44, 20, 54, 13});
    Label2 = rightLabel(this, "Label2", QStringLiteral("Пользователь"), {25, 78, 73, 13});
    Label3 = rightLabel(this, "Label3", QStringLiteral("Пароль"), {60, 107, 38, 13});
    Label4 = rightLabel(this, "Label4", QStringLiteral("ТМ-сервер"), {43, 49, 55, 13});
    // The labels may be wider than their designed boxes with substitute fonts: let them grow
    // to the left, keeping the common right edge.
    for (QLabel* l : {Label1, Label2, Label3, Label4}) {
        const int need = l->sizeHint().width();
        if (need > l->width()) {
            const QRect g = l->geometry();
            l->setGeometry(g.right() + 1 - need, g.top() - 1, need, g.height() + 2);
        }
    }
    ServerE = edit(this, "ServerE", {104, 16, 215, 21});
    UserE = edit(this, "UserE", {104, 75, 215, 21});
    PasswordE = edit(this, "PasswordE", {104, 104, 215, 21});
    PasswordE->setEchoMode(QLineEdit::Password);
    PasswordE->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));  // '*'
    BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton),
                              QStringLiteral("Соединиться"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setGeometry(104, 140, 128, 27);
    BitBtn1->setDefault(true);
    BitBtn2 = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton),
                              QStringLiteral("Отмена"), this);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    BitBtn2->setGeometry(237, 140, 82, 27);
    TmsE = edit(this, "TmsE", {104, 46, 215, 21});

    setTabOrder(ServerE, TmsE);
    setTabOrder(TmsE, UserE);
    setTabOrder(UserE, PasswordE);
    setTabOrder(PasswordE, BitBtn1);
    setTabOrder(BitBtn1, BitBtn2);

    connect(BitBtn1, &QPushButton::clicked, this,
            [this] { ui::guarded(this, [this] { BitBtn1Click(); }); });
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);

    FormStorage1 =
        new ui::FormStorage(this, QStringLiteral("Software\\Kestrowel\\MorvelIP_OSC\\LoginDlg"),
                            QStringLiteral("TLoginDlg"), this);
    FormStorage1->addStoredProperty(ServerE, QStringLiteral("Text"));
    FormStorage1->addStoredProperty(TmsE, QStringLiteral("Text"));
    FormStorage1->setOpenCentred(true);
    if (!LoginDlg) {
        LoginDlg = this;
    }
}

TLoginDlg::~TLoginDlg() {
    FormStorage1->windowDestroyed();
    if (LoginDlg == this) {
        LoginDlg = nullptr;
    }
}

void TLoginDlg::BitBtn1Click() {
    if (!UserE->text().isEmpty() && setUser) {
        setUser(UserE->text(), PasswordE->text());
    }
    accept();
}

void TLoginDlg::setDefaultServerNames(const QString& ntServer, const QString& tmServer) {
    defaultNtServer_ = ntServer;
    defaultTmServer_ = tmServer;
}

QString TLoginDlg::ntServer() const {
    return ServerE->text();
}

QString TLoginDlg::tmServer() const {
    return TmsE->text();
}

void TLoginDlg::showEvent(QShowEvent* event) {
    // The settings store has restored before this (its filter sees the event first); a dialog
    // without a stored placement opens centred on the screen.
    if (FormStorage1->openCentred()) {
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->availableGeometry();
            move(area.center() - QPoint(width() / 2, height() / 2));
        }
    }
    if (ServerE->text().isEmpty()) {
        ServerE->setText(defaultNtServer_);
    }
    if (TmsE->text().isEmpty()) {
        TmsE->setText(defaultTmServer_);
    }
    QDialog::showEvent(event);
}

void TLoginDlg::done(int result) {
    if (isVisible()) {
        FormStorage1->closeGranted();
    }
    QDialog::done(result);
}

void TLoginDlg::closeEvent(QCloseEvent* event) {
    // The close box: QDialog turns it into reject(), which saves through done().
    QDialog::closeEvent(event);
}

#pragma once
// The login dialog: NT server, TM server, user and password. Created once, hidden between uses;
// its settings store keeps the two server names (never user or password) and its placement,
// restored at each show and saved at each close, confirmed or cancelled. It opens centred on the
// screen until a placement has been stored.

#include <QDialog>

#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace ui {
class FormStorage;
}

class TLoginDlg : public QDialog {
    Q_OBJECT
  public:
    explicit TLoginDlg(QWidget* parent = nullptr);
    ~TLoginDlg() override;

    // OK button: hands a non-empty user name and the password to the connection library
    // (setUser), then the dialog closes with result Accepted.
    void BitBtn1Click();

    // Where BitBtn1Click hands the credentials (the connection library's cfsSetUser).
    std::function<void(const QString& user, const QString& password)> setUser;
    // The server names the dialog offers at each show, after the stored texts have been
    // restored, in fields that are still empty (the demo's "localhost" and "demo").
    void setDefaultServerNames(const QString& ntServer, const QString& tmServer);

    // ServerE and TmsE as they are now.
    QString ntServer() const;
    QString tmServer() const;

    void done(int result) override;

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLineEdit* ServerE = nullptr;
    QLineEdit* UserE = nullptr;
    QLineEdit* PasswordE = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;
    QLineEdit* TmsE = nullptr;
    ui::FormStorage* FormStorage1 = nullptr;
    QString defaultNtServer_, defaultTmServer_;
};

extern TLoginDlg* LoginDlg;

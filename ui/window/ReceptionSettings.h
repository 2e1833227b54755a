#pragma once
// How the window receives datagrams: the local address the endpoint listens on (empty: all, as
// the window always did) and whether the datagrams of any sender are taken into a capture, not
// only those of the chosen device (off: others are counted and left out). Kept in the per-user
// settings store under the main window's key, section "Reception": "ListenAddress" (text) and
// "AcceptAnySender" ("1" for on; anything else is off).

#include <QDialog>
#include <QString>

class QCheckBox;
class QLineEdit;

namespace ui {

struct ReceptionSettings {
    QString listenAddress;  // empty: all local addresses
    bool acceptAnySender = false;
    bool operator==(const ReceptionSettings&) const = default;
};

// The stored settings; the defaults for absent values and for values that are not what they
// should be (the store is outside input: garbage gives the defaults, never an error).
ReceptionSettings loadReceptionSettings(const QString& key);
// Stores them. A store that cannot be written is left as it is.
void saveReceptionSettings(const QString& key, const ReceptionSettings& settings);

// An address the endpoint may listen on: empty, a dotted IPv4 address, or a host name (letters,
// digits, '-' and '.', at most 253 characters).
bool isListenAddress(const QString& text);

// "Приём посылок": the listening address and the check box of the senders.
class ReceptionDialog : public QDialog {
    Q_OBJECT
  public:
    ReceptionDialog(QWidget* parent, const ReceptionSettings& settings);

    ReceptionSettings settings() const;
    void setListenAddress(const QString& text);
    void setAcceptAnySender(bool on);

    // OK: a listening address that may be one (isListenAddress), or the message box saying
    // what fits.
    void accept() override;

  private:
    QLineEdit* address_ = nullptr;
    QCheckBox* anySender_ = nullptr;
};

}  // namespace ui

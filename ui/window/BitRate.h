#pragma once
// The link's bit rate, which adds times to the readouts and the bottom axis: kept in the
// per-user settings store (value "BitRate" in a section of its own, as bits a second with "."
// as the decimal point; empty or absent for none), and the dialog that sets it.

#include <QDialog>
#include <QString>

#include <optional>

class QLineEdit;

namespace ui {

// The stored rate; none for an absent or empty value, and for one that is not a rate (the
// store is outside input: garbage gives none, never an error).
std::optional<double> loadBitRate(const QString& key, const QString& section);
// Stores the rate (none: an empty value). A store that cannot be written is left as it is.
void saveBitRate(const QString& key, const QString& section, std::optional<double> rate);

// "Скорость линии": one field in bits a second; empty for none.
class BitRateDialog : public QDialog {
    Q_OBJECT
  public:
    BitRateDialog(QWidget* parent, std::optional<double> rate);

    void setText(const QString& text);
    // The rate of an accepted dialog.
    std::optional<double> rate() const;

    // OK: an empty field or a rate (osc::parseBitRate), or the message box saying what fits.
    void accept() override;

  private:
    QLineEdit* edit_ = nullptr;
};

}  // namespace ui

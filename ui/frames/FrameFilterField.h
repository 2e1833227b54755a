#pragma once
// The filter field above the frames table: an expression of the frames' filter language typed
// into an editable list whose entries are the last filters applied (kHistory, the latest
// first). The text is checked as it is typed: a wrong one is marked (a red field) and the
// parser's Russian message ("позиция 9: после «==» ожидалось значение, …") is its tooltip.
// Enter, or an entry chosen from the list, applies it; a wrong one is not applied, and the
// text cursor goes to the position the message names. Emptying the field applies the empty
// filter at once.

#include <QComboBox>
#include <QString>
#include <QStringList>

#include <optional>

#include "core/link/frame_filter.h"

namespace ui {

class FrameFilterField : public QComboBox {
    Q_OBJECT
  public:
    static constexpr int kHistory = 10;

    explicit FrameFilterField(QWidget* parent = nullptr);

    // The bit rate that rt_ms needs. The text is checked again; an applied filter that reads
    // rt_ms is applied again with the new rate (or stays as it was, marked, without one).
    void setBitRate(std::optional<double> rate);

    // Puts the text into the field and applies it; false (the field marked) when it is wrong.
    bool apply(const QString& text);
    // Applies the field's text.
    bool applyText();

    // The filter last applied and its text.
    const osc::FrameFilter& filter() const { return filter_; }
    const QString& appliedText() const { return applied_; }
    // Whether the field's text is wrong, and the message.
    bool wrong() const { return error_.has_value(); }
    QString errorMessage() const;

    // The last filters applied, the latest first.
    QStringList history() const { return history_; }
    void setHistory(const QStringList& entries);
    // One entry of the history for the settings store ("" past its end), and back.
    QString historyEntry(int i) const;
    void setHistoryEntry(int i, const QString& text);

  signals:
    void applied(const osc::FrameFilter& filter, const QString& text);

  private:
    void check();
    void remember(const QString& text);
    void showHistory();

    osc::FilterSettings settings_;
    osc::FrameFilter filter_;
    QString applied_;
    std::optional<osc::FilterError> error_;
    QStringList history_;
    bool filling_ = false;  // the list is being rebuilt
};

}  // namespace ui

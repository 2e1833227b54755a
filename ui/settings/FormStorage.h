#pragma once
// Per-window settings store: the window's placement and a list of its controls' values, kept
// between runs in the per-user settings. Restores while the window is being shown (from the show
// event, before the window reaches the screen), saves when its close request is granted and
// when it is destroyed without a save since the last restore.
//
// Where: on Windows the registry key HKCU\<key>, e.g. "Software\Kestrowel\MorvelIP_OSC\MainForm";
// elsewhere one INI file per key, <config>/Kestrowel/MorvelIP_OSC/MainForm.ini, with <config>
// $XDG_CONFIG_HOME or the user's configuration folder (~/.config). The section (registry subkey)
// is named after the window's class. Every value is a string.
//
// Placement mapping: "NormPos" is the outer frame (title bar and borders included) of the
// window in its normal state, left,top,right,bottom (ui/widgets/WindowFrame.h); "Flags" is 0 and
// "MinMaxPos" is -1,-1,-1,-1 (no such positions here); "ShowCmd" 1 normal, 2 minimized, 3
// maximized; "PixelsPerInch" the primary screen's logical dots per inch, rounded. A restored frame
// is clamped to the desktop.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

class QWidget;

namespace ui {

// A failure of the settings store; what() is the report text, e.g. "Invalid data type for 'Flags'".
class StoreError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// One section of the per-user settings, opened for one restore or save.
class SettingsSection {
  public:
    virtual ~SettingsSection() = default;
    // The value as text; false when absent. Throws StoreError("Invalid data type for '<name>'")
    // for a value that is not a string.
    virtual bool readText(const QString& name, QString& text) = 0;
    virtual void writeText(const QString& name, const QString& text) = 0;
    // Writes out what was written; throws StoreError when that fails.
    virtual void close() = 0;
};

// The section over QSettings (registry or INI file, see above). On an INI file a value that
// QSettings reads back as a list (an unquoted text with commas) counts as its text joined by ",".
std::unique_ptr<SettingsSection> openQSettingsSection(const QString& key, const QString& section);
// The INI file that holds a key on systems without a registry.
QString iniFilePathFor(const QString& key);

// Opens sections; tests replace it to observe the order of writes.
using SectionFactory =
    std::function<std::unique_ptr<SettingsSection>(const QString& key, const QString& section)>;
SectionFactory setSectionFactory(SectionFactory factory);  // empty: QSettings; returns previous

// Value texts over the rules of core/view/settings_values.h.
QString trimValueText(const QString& text);  // blanks and control characters at both ends
QString screenSuffix();                      // "(1024x768)": primary screen size
int currentPixelsPerInch();

class FormStorage : public QObject {
    Q_OBJECT
  public:
    enum class State { NotRestored, Restored, Saved };

    // Attaches to window's show event. key: "Software\Kestrowel\MorvelIP_OSC\MainForm";
    // section: the window's class name.
    FormStorage(QWidget* window, QString key, QString section, QObject* parent = nullptr);

    // Stored properties, in list order. property is "Checked" (a check box), "Value" (a spin
    // box), "ItemIndex" (a drop-down list: the entry's number) or "Text" (a line edit); the
    // value name is the component's objectName + "_" + property.
    void addStoredProperty(QWidget* component, const QString& property);
    // A stored value that no control shows: read by `get` for a save, handed to `set` (the
    // stored text, blanks trimmed, or get's text when absent) at a restore. In list order with
    // the properties.
    void addStoredValue(const QString& valueName, std::function<QString()> get,
                        std::function<void(const QString&)> set);
    QStringList storedValueNames() const;

    // The main window minimizes through the application (state normal, then a posted minimize).
    void setMainWindow(bool on) { mainWindow_ = on; }
    // A window set to open centred; a restored placement switches it to its designed position.
    void setOpenCentred(bool on) { openCentred_ = on; }
    bool openCentred() const { return openCentred_; }

    // Restore notification, run at the end of a restore that got past the version check.
    std::function<void()> onRestorePlacement;

    State state() const;
    const QString& key() const { return key_; }
    bool restored() const { return restored_; }

    // The restore, as the show event runs it. Failures are shown by the default error report.
    void restore();
    // The window's close request was granted: saves when restored in this run.
    void closeGranted();
    // The window is being destroyed: saves when restored and not saved since.
    void windowDestroyed();

    static constexpr int kVersion = 0;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    enum class Kind { Boolean, Number, Text, Index, Value };
    struct Stored {
        QPointer<QWidget> component;
        QString valueName;
        Kind kind;
        std::function<QString()> get;  // Kind::Value
        std::function<void(const QString&)> set;
        bool present() const { return kind == Kind::Value ? bool(get) : !component.isNull(); }
    };

    void save(bool destroying);
    void restorePlacement(SettingsSection& s);
    void restoreState(SettingsSection& s);
    void restoreProperties(SettingsSection& s);
    QString propertyText(const Stored& p) const;
    void applyPropertyText(const Stored& p, const QString& text);

    QPointer<QWidget> window_;
    QString key_;
    QString section_;
    std::vector<Stored> stored_;
    bool mainWindow_ = false;
    bool openCentred_ = false;
    bool restored_ = false;
    bool saved_ = false;
};

}  // namespace ui

#include "ui/settings/FormStorage.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <QSettings>
#include <QSpinBox>
#include <QStandardPaths>
#include <QWidget>

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

#include "core/view/settings_values.h"
#include "ui/widgets/Messages.h"
#include "ui/widgets/WindowFrame.h"

namespace ui {

namespace {

std::string utf8(const QString& text) {
    return text.toStdString();
}

QString fromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString invalidType(const QString& name) {
    return QStringLiteral("Invalid data type for '%1'").arg(name);
}

class QSettingsSection final : public SettingsSection {
  public:
    QSettingsSection(const QString& path, QSettings::Format format, const QString& section)
        : settings_(path, format), listsAreText_(format == QSettings::IniFormat) {
        settings_.beginGroup(section);
    }

    bool readText(const QString& name, QString& text) override {
        const QVariant v = settings_.value(name);
        if (!v.isValid()) {
            return false;
        }
        switch (v.typeId()) {
            case QMetaType::QString:
                text = v.toString();
                return true;
            case QMetaType::QStringList:
                if (listsAreText_) {
                    text = v.toStringList().join(QLatin1Char(','));
                    return true;
                }
                break;
            default:
                break;
        }
        throw StoreError(invalidType(name).toStdString());
    }

    void writeText(const QString& name, const QString& text) override {
        if (firstWritten_.isEmpty()) {
            firstWritten_ = name;
        }
        settings_.setValue(name, text);
    }

    void close() override {
        settings_.endGroup();
        if (firstWritten_.isEmpty()) {
            return;
        }
        settings_.sync();
        if (settings_.status() == QSettings::AccessError) {
            throw StoreError(
                QStringLiteral("Failed to set data for '%1'").arg(firstWritten_).toStdString());
        }
    }

  private:
    QSettings settings_;
    bool listsAreText_;
    QString firstWritten_;
};

SectionFactory& sectionFactory() {
    static SectionFactory factory;
    return factory;
}

std::unique_ptr<SettingsSection> openSection(const QString& key, const QString& section) {
    if (const SectionFactory& f = sectionFactory()) {
        return f(key, section);
    }
    return openQSettingsSection(key, section);
}

// A whole number; absent, empty or not a number gives the default.
int readInt(SettingsSection& s, const QString& name, int defaultValue) {
    QString text;
    if (!s.readText(name, text)) {
        return defaultValue;
    }
    return osc::parseIntValueText(osc::trimValueText(utf8(text))).value_or(defaultValue);
}

// A position value: the name with the current screen suffix first, then the plain name.
QString readPosition(SettingsSection& s, const QString& name) {
    QString text;
    if (s.readText(name + screenSuffix(), text) && !trimValueText(text).isEmpty()) {
        return trimValueText(text);
    }
    text.clear();
    if (s.readText(name, text)) {
        return trimValueText(text);
    }
    return {};
}

// The first four comma-separated fields; a missing or non-numeric field takes its default.
std::array<int, 4> fields(const QString& text, std::array<int, 4> defaults) {
    return osc::parsePositionValueText(utf8(text), defaults);
}

QString fourInts(int a, int b, int c, int d) {
    return fromUtf8(osc::positionValueText({a, b, c, d}));
}

// The outer frame of the window in its normal state.
QRect normalPlacement(const QWidget& w) {
    return OuterFrame::normalFrame(w);
}

}  // namespace

QString iniFilePathFor(const QString& key) {
    QString relative = key;
    const QString software = QStringLiteral("Software\\");
    if (relative.startsWith(software, Qt::CaseInsensitive)) {
        relative = relative.mid(software.size());
    }
    relative.replace(QLatin1Char('\\'), QLatin1Char('/'));
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty()) {
        base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    }
    if (base.isEmpty()) {
        base = QDir::homePath() + QStringLiteral("/.config");
    }
    return base + QLatin1Char('/') + relative + QStringLiteral(".ini");
}

std::unique_ptr<SettingsSection> openQSettingsSection(const QString& key, const QString& section) {
#ifdef Q_OS_WIN
    return std::make_unique<QSettingsSection>(QStringLiteral("HKEY_CURRENT_USER\\") + key,
                                              QSettings::NativeFormat, section);
#else
    return std::make_unique<QSettingsSection>(iniFilePathFor(key), QSettings::IniFormat, section);
#endif
}

SectionFactory setSectionFactory(SectionFactory factory) {
    SectionFactory previous = std::move(sectionFactory());
    sectionFactory() = std::move(factory);
    return previous;
}

QString trimValueText(const QString& text) {
    return fromUtf8(osc::trimValueText(utf8(text)));
}

QString screenSuffix() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize size = screen ? screen->size() : QSize(0, 0);
    return fromUtf8(osc::screenSuffix(size.width(), size.height()));
}

int currentPixelsPerInch() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? static_cast<int>(std::lround(screen->logicalDotsPerInch())) : 96;
}

FormStorage::FormStorage(QWidget* window, QString key, QString section, QObject* parent)
    : QObject(parent), window_(window), key_(std::move(key)), section_(std::move(section)) {
    window->installEventFilter(this);
}

void FormStorage::addStoredProperty(QWidget* component, const QString& property) {
    Kind kind = Kind::Text;
    if (qobject_cast<QAbstractButton*>(component)) {
        kind = Kind::Boolean;
    } else if (qobject_cast<QSpinBox*>(component)) {
        kind = Kind::Number;
    } else if (qobject_cast<QComboBox*>(component)) {
        kind = Kind::Index;
    }
    stored_.push_back(
        {component, component->objectName() + QLatin1Char('_') + property, kind, {}, {}});
}

void FormStorage::addStoredValue(const QString& valueName, std::function<QString()> get,
                                 std::function<void(const QString&)> set) {
    stored_.push_back({nullptr, valueName, Kind::Value, std::move(get), std::move(set)});
}

QStringList FormStorage::storedValueNames() const {
    QStringList names;
    for (const Stored& p : stored_) {
        names << p.valueName;
    }
    return names;
}

FormStorage::State FormStorage::state() const {
    if (!restored_) {
        return State::NotRestored;
    }
    return saved_ ? State::Saved : State::Restored;
}

bool FormStorage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_ && event->type() == QEvent::Show && !event->spontaneous()) {
        restore();
    }
    return QObject::eventFilter(watched, event);
}

void FormStorage::restore() {
    saved_ = false;
    if (!window_) {
        return;
    }
    try {
        std::unique_ptr<SettingsSection> s = openSection(key_, section_);
        if (readInt(*s, QStringLiteral("FormVersion"), 0) >= kVersion) {
            restorePlacement(*s);
            restoreState(*s);
            restored_ = true;
            restoreProperties(*s);
            if (onRestorePlacement) {
                onRestorePlacement();
            }
        }
        restored_ = true;
        s->close();
    } catch (const std::exception& e) {
        reportException(window_, QString::fromUtf8(e.what()));
    }
}

void FormStorage::restorePlacement(SettingsSection& s) {
    QWidget& w = *window_;
    readInt(s, QStringLiteral("Flags"), 0);  // no placement flags here; read for its type
    const QString minMax = readPosition(s, QStringLiteral("MinMaxPos"));
    if (!minMax.isEmpty()) {
        fields(minMax, {0, 0, 0, 0});  // no minimized/maximized positions to apply
    }
    const QString norm = readPosition(s, QStringLiteral("NormPos"));
    const QRect current = normalPlacement(w);
    std::array<int, 4> frame{current.left(), current.top(), current.left() + current.width(),
                             current.top() + current.height()};
    if (!norm.isEmpty()) {
        frame = fields(norm, frame);
    }
    const int ppi = readInt(s, QStringLiteral("PixelsPerInch"), currentPixelsPerInch());
    if ((minMax.isEmpty() && norm.isEmpty()) || ppi != currentPixelsPerInch()) {
        return;
    }
    qint64 left = frame[0], top = frame[1], right = frame[2], bottom = frame[3];
    const bool resizable = w.minimumSize() != w.maximumSize();
    if (!resizable) {
        right = left + current.width();
        bottom = top + current.height();
    }
    if (left >= right) {
        return;
    }
    openCentred_ = false;
    // Clamp what a damaged value could ask for: no frame larger than the desktop, no position
    // beyond what window systems address.
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect desktop = screen ? screen->virtualGeometry() : QRect(0, 0, 4096, 4096);
    constexpr qint64 kPosLimit = 32000;
    const auto width =
        static_cast<int>(std::clamp<qint64>(right - left, 1, std::max(desktop.width(), 1)));
    const auto height =
        static_cast<int>(std::clamp<qint64>(bottom - top, 1, std::max(desktop.height(), 1)));
    const QPoint topLeft(static_cast<int>(std::clamp(left, -kPosLimit, kPosLimit)),
                         static_cast<int>(std::clamp(top, -kPosLimit, kPosLimit)));
    QRect placed(topLeft, resizable ? QSize(width, height) : current.size());
    // A title bar off every screen (a monitor since removed, a damaged value) would leave the
    // window beyond reach: it comes onto the nearest screen.
    QList<QRect> screens;
    for (const QScreen* each : QGuiApplication::screens()) {
        screens.append(each->availableGeometry());
    }
    const int title = std::max(OuterFrame::margins(w).top(), 24);
    placed = reachableFrame(placed, screens, title);
    OuterFrame::place(w, placed);
}

void FormStorage::restoreState(SettingsSection& s) {
    QWidget& w = *window_;
    Qt::WindowStates state = Qt::WindowNoState;
    switch (readInt(s, QStringLiteral("ShowCmd"), 0)) {
        case 1:
        case 5:
        case 9:
            state = Qt::WindowNoState;
            break;
        case 2:
        case 6:
        case 7:
            state = Qt::WindowMinimized;
            break;
        case 3:
            state = Qt::WindowMaximized;
            break;
        default:
            break;
    }
    if (state == Qt::WindowMinimized && mainWindow_) {
        w.setWindowState(Qt::WindowNoState);
        QPointer<QWidget> target(&w);
        QMetaObject::invokeMethod(
            &w,
            [target] {
                if (target)
                    target->showMinimized();
            },
            Qt::QueuedConnection);
        return;
    }
    w.setWindowState(state);
    w.update();
}

void FormStorage::restoreProperties(SettingsSection& s) {
    for (const Stored& p : stored_) {
        if (!p.present()) {
            continue;
        }
        try {
            QString text = propertyText(p);
            s.readText(p.valueName, text);
            applyPropertyText(p, trimValueText(text));
        } catch (const std::exception&) {
            // A stored property that cannot be read leaves the control as it is.
        }
    }
}

QString FormStorage::propertyText(const Stored& p) const {
    switch (p.kind) {
        case Kind::Boolean:
            return fromUtf8(osc::booleanValueText(
                static_cast<QAbstractButton*>(p.component.data())->isChecked()));
        case Kind::Number:
            return fromUtf8(
                osc::numberValueText(static_cast<QSpinBox*>(p.component.data())->value()));
        case Kind::Text:
            return trimValueText(static_cast<QLineEdit*>(p.component.data())->text());
        case Kind::Index:
            return fromUtf8(
                osc::numberValueText(static_cast<QComboBox*>(p.component.data())->currentIndex()));
        case Kind::Value:
            return p.get();
    }
    return {};
}

void FormStorage::applyPropertyText(const Stored& p, const QString& text) {
    switch (p.kind) {
        case Kind::Boolean: {
            if (const std::optional<bool> on = osc::parseBooleanValueText(utf8(text))) {
                static_cast<QAbstractButton*>(p.component.data())->setChecked(*on);
            }
            break;
        }
        case Kind::Number: {
            if (const std::optional<double> v = osc::parseNumberValueText(utf8(text))) {
                // A spin box clamps into its own range (seByteBitsCount 1..16).
                static_cast<QSpinBox*>(p.component.data())->setValue(osc::wholeNumberValue(*v));
            }
            break;
        }
        case Kind::Text:
            static_cast<QLineEdit*>(p.component.data())->setText(text);
            break;
        case Kind::Value:
            if (p.set) {
                p.set(text);
            }
            break;
        case Kind::Index: {
            // An entry of the list by its number; a number that names no entry changes nothing.
            auto* box = static_cast<QComboBox*>(p.component.data());
            const std::optional<int> i = osc::parseIntValueText(utf8(text));
            if (i && *i >= 0 && *i < box->count()) {
                box->setCurrentIndex(*i);
            }
            break;
        }
    }
}

void FormStorage::closeGranted() {
    if (restored_) {
        save(false);
    }
}

void FormStorage::windowDestroyed() {
    if (restored_ && !saved_) {
        save(true);
    }
}

void FormStorage::save(bool destroying) {
    if (!window_) {
        return;
    }
    try {
        std::unique_ptr<SettingsSection> s = openSection(key_, section_);
        const QWidget& w = *window_;
        s->writeText(QStringLiteral("FormVersion"), QString::number(kVersion));
        int showCmd = 1;
        if (w.isMinimized()) {
            showCmd = 2;
        } else if (w.isMaximized()) {
            showCmd = 3;
        }
        const QRect normal = normalPlacement(w);
        const QString minMax = fourInts(-1, -1, -1, -1);
        const QString norm = fourInts(normal.left(), normal.top(), normal.left() + normal.width(),
                                      normal.top() + normal.height());
        const QString suffix = screenSuffix();
        s->writeText(QStringLiteral("Flags"), QStringLiteral("0"));
        s->writeText(QStringLiteral("ShowCmd"), QString::number(showCmd));
        s->writeText(QStringLiteral("PixelsPerInch"), QString::number(currentPixelsPerInch()));
        s->writeText(QStringLiteral("MinMaxPos") + suffix, minMax);
        s->writeText(QStringLiteral("MinMaxPos"), minMax);
        s->writeText(QStringLiteral("NormPos") + suffix, norm);
        s->writeText(QStringLiteral("NormPos"), norm);
        s->writeText(QStringLiteral("Visible"),
                     destroying ? QStringLiteral("1") : QStringLiteral("0"));
        for (const Stored& p : stored_) {
            if (p.present()) {
                s->writeText(p.valueName, trimValueText(propertyText(p)));
            }
        }
        s->close();
        saved_ = true;
    } catch (const std::exception& e) {
        reportException(window_, QString::fromUtf8(e.what()));
    }
}

}  // namespace ui

#include "ui/window/RecentFiles.h"

#include <QDir>
#include <QFileInfo>

#include <exception>

#include "ui/settings/FormStorage.h"

namespace ui {

namespace {

QString valueName(int i) {
    return QStringLiteral("File%1").arg(i + 1);
}

constexpr qsizetype kMaxPathLength = 4096;

// An absolute path of an existing file, free of control characters, or empty.
QString usablePath(const QString& text) {
    if (text.isEmpty() || text.size() > kMaxPathLength || !QDir::isAbsolutePath(text)) {
        return {};
    }
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control) {
            return {};
        }
    }
    const QFileInfo info(text);
    return info.isFile() ? QDir::cleanPath(info.absoluteFilePath()) : QString();
}

}  // namespace

RecentFiles::RecentFiles(QString key, QString section)
    : key_(std::move(key)), section_(std::move(section)) {}

void RecentFiles::load() {
    files_.clear();
    try {
        const auto section = openQSettingsSection(key_, section_);
        for (int i = 0; i < kMaxFiles; ++i) {
            QString text;
            try {
                if (!section->readText(valueName(i), text)) {
                    continue;
                }
            } catch (const StoreError&) {
                continue;  // a value of another type: not a file name
            }
            const QString path = usablePath(text);
            if (!path.isEmpty() && !files_.contains(path)) {
                files_.append(path);
            }
        }
    } catch (const std::exception&) {
        files_.clear();
    }
}

void RecentFiles::add(const QString& path) {
    const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    if (absolute.isEmpty()) {
        return;
    }
    files_.removeAll(absolute);
    files_.prepend(absolute);
    while (files_.size() > kMaxFiles) {
        files_.removeLast();
    }
    save();
}

void RecentFiles::remove(const QString& path) {
    if (files_.removeAll(path) > 0) {
        save();
    }
}

void RecentFiles::clear() {
    files_.clear();
    save();
}

bool RecentFiles::dropMissing() {
    const qsizetype before = files_.size();
    files_.removeIf([](const QString& f) { return !QFileInfo(f).isFile(); });
    if (files_.size() == before) {
        return false;
    }
    save();
    return true;
}

// The list is a convenience: a store that cannot be written loses it quietly.
void RecentFiles::save() const {
    try {
        const auto section = openQSettingsSection(key_, section_);
        for (int i = 0; i < kMaxFiles; ++i) {
            section->writeText(valueName(i), files_.value(i));
        }
        section->close();
    } catch (const std::exception&) {
    }
}

}  // namespace ui

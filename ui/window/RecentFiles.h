#pragma once
// The oscillogram files opened or saved last, newest first, kept in the per-user settings
// store in a section of their own ("File1" to "File10", absolute paths) and written at every
// change. What the store holds is taken as outside input: values that are not absolute paths
// of existing files, duplicates and values of the wrong type are dropped, never fatal.

#include <QString>
#include <QStringList>

namespace ui {

class RecentFiles {
  public:
    static constexpr int kMaxFiles = 10;

    // key: the main window's key ("Software\Kestrowel\MorvelIP_OSC\MainForm"); section:
    // "RecentFiles".
    RecentFiles(QString key, QString section);

    // Reads the list from the store; a store that cannot be read gives an empty list.
    void load();
    // The file (made absolute) becomes the first entry; the list is saved.
    void add(const QString& path);
    void remove(const QString& path);
    void clear();
    // Drops the entries whose files no longer exist; true (and saved) when it dropped one.
    bool dropMissing();

    const QStringList& files() const { return files_; }

  private:
    void save() const;

    QString key_;
    QString section_;
    QStringList files_;
};

}  // namespace ui

#pragma once
// The replay of an oscillogram file, or of oscillogram text (a recovered capture journal): the
// replay's start, every datagram of the text decoded as if it had just been received, the
// replay's stop. The data ends at the first line of fewer than three characters; a bad group or
// a read error ends it too, after the stop, and goes on to the caller: a bad group with its two
// characters shown in Windows-1251, as the file's writer saw them ("'$2G' is not a valid
// integer value").

#include <QString>

#include <cstdint>
#include <span>
#include <string>

namespace ui {

// The capture that a replay drives.
class ReplayTarget {
  public:
    virtual ~ReplayTarget() = default;
    // The replay's start (traces restarted, as a start does); false when it did not start
    // (nothing of the file is decoded then).
    virtual bool startReplay() = 0;
    // One datagram of the file, decoded; false: the replay ends here, without the stop (the
    // window is closing, or a capture took the plot over).
    virtual bool replayDatagram(std::span<const std::uint8_t> datagram) = 0;
    // The replay's stop (closing points, completion); also after an error ends the replay.
    virtual void stopReplay() = 0;
};

// Reads the file a chunk at a time, parsed ahead on a thread of its own while this one decodes;
// a file that cannot be read fails before the start ("Cannot open file NAME"), nothing changed.
void replayOscFile(const QString& name, ReplayTarget& target);
void replayOscText(const std::string& text, ReplayTarget& target);

}  // namespace ui

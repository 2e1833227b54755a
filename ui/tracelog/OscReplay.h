#pragma once
// The replay of an oscillogram file, or of oscillogram text (a recovered capture journal): the
// start action, every datagram of the text decoded as if it had just been received, the stop
// action. The data ends at the first line of fewer than three characters; a bad group ends
// the replay without the stop, with its two characters shown in Windows-1251, as the file's
// writer saw them ("'$2G' is not a valid integer value").

#include <QString>

#include <cstdint>
#include <span>
#include <string>

namespace ui {

// The capture that a replay drives.
class ReplayTarget {
  public:
    virtual ~ReplayTarget() = default;
    // The start action; false when it did not start (nothing of the file is decoded then).
    virtual bool startReplay() = 0;
    // One datagram of the file, decoded; false: the replay ends here, without the stop (the
    // window is closing).
    virtual bool replayDatagram(std::span<const std::uint8_t> datagram) = 0;
    virtual void stopReplay() = 0;  // the stop action
};

// Reads the file a chunk at a time, parsed ahead on a thread of its own while this one decodes;
// a file that cannot be read fails before the start ("Cannot open file NAME"), nothing changed.
void replayOscFile(const QString& name, ReplayTarget& target);
void replayOscText(const std::string& text, ReplayTarget& target);

}  // namespace ui

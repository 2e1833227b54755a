#include "core/view/plot_state.h"

namespace osc {

WindowFollowers followersOf(WindowChange change) {
    WindowFollowers f;
    switch (change) {
        case WindowChange::Decoder:
            f.bitCount = true;
            f.dataPace = true;
            break;
        case WindowChange::Action:
            f.scrollBar = true;
            f.bitCount = true;
            break;
        case WindowChange::Mouse:
        case WindowChange::ScrollBar:
        case WindowChange::CaptureStart:
            f.bitCount = true;
            break;
        case WindowChange::BitCount:
            break;
    }
    return f;
}

}  // namespace osc

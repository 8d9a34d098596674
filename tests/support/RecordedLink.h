// A link on a port that records every call, with a front panel that
// records what it is shown.
#pragma once

#include "RecordingPanel.h"
#include "RecordingPort.h"

namespace qvx::test {

struct RecordedLink {
    RecordedLink()
    {
        link.Port = &port;
        link.Panel = &panel;
    }
    RecordingPort port;
    RecordingPanel panel;
    LinkState link;
};

} // namespace qvx::test

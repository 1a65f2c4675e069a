#pragma once

namespace platform {

class Accessibility {
public:
    // Whether the process may drive the keyboard and the pointer: on X11, whether the event poster
    // can post (a display with XTest).
    static bool isProcessTrusted();
};

} // namespace platform

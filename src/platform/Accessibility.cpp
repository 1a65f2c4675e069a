#include "Accessibility.h"

#include "EventPoster.h"
#include "Platform.h"

namespace platform {

bool Accessibility::isProcessTrusted() {
    return Platform::eventPoster()->canPost();
}

} // namespace platform

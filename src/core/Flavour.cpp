#include "Flavour.h"

Flavour Flavours::fromBundleIdentifier(const std::optional<QString>& identifier) {
    if (identifier == u"com.brisvane.PodiumCastForMac")
        return Flavour::PodiumCast;
    if (identifier == u"com.brisvane.SteerlynxForMac")
        return Flavour::Steerlynx;
    return Flavour::SlideWand;
}

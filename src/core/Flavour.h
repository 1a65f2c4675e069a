#pragma once

#include <QString>

#include <optional>

// The three products built from this one program, told apart by the bundle identifier.
enum class Flavour { SlideWand, PodiumCast, Steerlynx };

namespace Flavours {

// "com.brisvane.PodiumCastForMac" and "com.brisvane.SteerlynxForMac"; any other identifier, or none, is
// Slide Wand.
Flavour fromBundleIdentifier(const std::optional<QString>& identifier);
// Whether slide information is pushed to the phone after the commands that change the slide.
constexpr bool pushesSlideInformation(Flavour flavour) {
    return flavour != Flavour::SlideWand;
}
// Whether PDFs and thumbnails are made before the phone asks for presentation mode.
constexpr bool exportsPdfByDefault(Flavour flavour) {
    return flavour != Flavour::Steerlynx;
}

} // namespace Flavours

#pragma once

// The four insets, in points, that cut a stretchable image into nine pieces: the corners keep their size,
// the edges and the centre stretch.
struct BFEdgeInsets {
    double top = 0;
    double left = 0;
    double bottom = 0;
    double right = 0;

    friend bool operator==(const BFEdgeInsets&, const BFEdgeInsets&) = default;
};

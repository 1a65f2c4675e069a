#pragma once

#include <QImage>
#include <QString>
#include <optional>

// Image helpers without state.
class Utils {
public:
    // The QR code of text, in a width by height opaque image (sizes truncated toward zero): error-correction
    // level L, the text's UTF-8 bytes in byte mode behind a UTF-8 ECI unless the text is all digits or all
    // in the alphanumeric set, no quiet zone, each module a square of whole pixels, the symbol centred on
    // white, dark modules black. A request smaller than the symbol gets an image of the symbol's size at
    // one pixel per module. Note the argument order: height before width.
    //
    // A null image for an absent or empty text, a text beyond the largest symbol, a negative or
    // non-finite size, or a side above kMaxSide pixels.
    static QImage GenerateQRCode(const std::optional<QString>& text, double height, double width);

    // The largest side GenerateQRCode draws, in pixels.
    static constexpr int kMaxSide = 8192;
};

#include "Utils.h"

#include "Logger.h"
#include "StringHelper.h"

#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>
#include <cmath>
#include <exception>
#include <string>

namespace {

// A requested side as the writer takes it: truncated toward zero. Values that would not survive the
// conversion, or that ask for more than kMaxSide pixels, have no size.
std::optional<int> side(double value) {
    if (!std::isfinite(value) || value >= double(Utils::kMaxSide) + 1.0)
        return std::nullopt;
    if (value <= -1.0)
        return std::nullopt;
    return int(value);
}

} // namespace

QImage Utils::GenerateQRCode(const std::optional<QString>& text, double height, double width) {
    if (StringHelper::isNullOrEmpty(text)) {
        LOG_ERROR("No text to make a QR code of");
        return {};
    }
    const auto pixelsHigh = side(height);
    const auto pixelsWide = side(width);
    if (!pixelsHigh || !pixelsWide) {
        LOG_ERROR("Cannot make a QR code of {} by {} pixels", width, height);
        return {};
    }

    // The writer's default error-correction level is L; no level is set so that it stays the one chosen.
    ZXing::BitMatrix matrix;
    try {
        const QByteArray utf8 = text->toUtf8();
        matrix = ZXing::MultiFormatWriter(ZXing::BarcodeFormat::QRCode)
                     .setEncoding(ZXing::CharacterSet::UTF8)
                     .setMargin(0)
                     .encode(std::string(utf8.constData(), size_t(utf8.size())), *pixelsWide, *pixelsHigh);
    } catch (const std::exception& e) {
        LOG_ERROR("Error making the QR code of a text of {} characters: {}", text->size(), e.what());
        return {};
    }

    QImage image(matrix.width(), matrix.height(), QImage::Format_RGB32);
    if (image.isNull()) {
        LOG_ERROR("Cannot allocate a QR-code image of {} by {} pixels", matrix.width(), matrix.height());
        return {};
    }
    constexpr QRgb dark = 0xff000000;
    constexpr QRgb light = 0xffffffff;
    for (int y = 0; y < matrix.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < matrix.width(); ++x)
            line[x] = matrix.get(x, y) ? dark : light;
    }
    return image;
}

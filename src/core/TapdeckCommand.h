#pragma once

#include "JSONModel.h"

#include <QColor>
#include <QImage>
#include <QString>

#include <optional>
#include <tuple>

// One quick command of a panel, with the choice of its icon and the encoding of an icon picture.
class TapdeckCommand : public JSONModel<TapdeckCommand> {
public:
    TapdeckCommand() = default;
    TapdeckCommand(QString nameText, QString typeText, QString parameterText,
                   std::optional<QString> icon = std::nullopt, bool needsConfirm = false);

    QString name;
    // "sendKey", "openUrl" and "launchApp" have icons of their own; any other type gets the default icon.
    QString commandType;
    QString parameter;
    // No value (the built-in icon of the type), "iconName:<image name>", or the base64 text of image data.
    std::optional<QString> iconImageEncoded;
    bool isNeedConfirm = false;

    static constexpr auto jsonFields() {
        return std::tuple(requiredKey("name", &TapdeckCommand::name),
                          requiredKey("commandType", &TapdeckCommand::commandType),
                          requiredKey("parameter", &TapdeckCommand::parameter),
                          optionalKey("iconImageEncoded", &TapdeckCommand::iconImageEncoded),
                          optionalKey("isNeedConfirm", &TapdeckCommand::isNeedConfirm));
    }

    // The icon, untinted.
    std::optional<QImage> iconImage() const;
    // Without an icon value: the bundle image "<commandType>CommandIcon" for the three own types, else
    // "defaultCommandIcon". With "iconName:<name>[:...]": the bundle image of that name. Both are tinted
    // when a valid colour is given. Otherwise the value is decoded as base64 image data (never tinted).
    // No image when the named image is missing or the value is neither a name nor decodable image data.
    std::optional<QImage> iconImageWithTintColor(const std::optional<QColor>& tintColor) const;

    // Stores the picture as JPEG base64 text, scaled so that its longer side is at most 200 points with
    // the aspect ratio kept; never enlarged. Without an image it logs and changes nothing; when the picture
    // cannot be encoded the icon value is left with no value.
    void setIconImage(const std::optional<QImage>& image);

    // The picture resized to width x height points (one pixel per point), laid on white and encoded as
    // JPEG at the quality (0.0 to 1.0, 1.0 compresses least), as standard padded base64 without line
    // breaks. Nothing for a picture that cannot be drawn or a size no picture can have.
    static std::optional<QString> base64StringConvertedFromImage(const QImage& image, float width,
                                                                 float height, float quality);

    bool operator==(const TapdeckCommand&) const = default;
};

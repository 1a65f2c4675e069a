#pragma once

#include "JSONModel.h"

#include <QString>

#include <optional>
#include <tuple>

// An icon entry of a panel report.
class TapdeckIcon : public JSONModel<TapdeckIcon> {
public:
    QString Title;
    std::optional<QString> IconImageEncoded;
    QString Type;
    // Required in JSON, unlike the command's isNeedConfirm.
    bool IsNeedConfirm = false;

    static constexpr auto jsonFields() {
        return std::tuple(requiredKey("Title", &TapdeckIcon::Title),
                          optionalKey("IconImageEncoded", &TapdeckIcon::IconImageEncoded),
                          requiredKey("Type", &TapdeckIcon::Type),
                          requiredKey("IsNeedConfirm", &TapdeckIcon::IsNeedConfirm));
    }

    bool operator==(const TapdeckIcon&) const = default;
};

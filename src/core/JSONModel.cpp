#include "JSONModel.h"

#include <QJsonDocument>
#include <QJsonParseError>

namespace JSONModelValue {

void setError(QString* error, const QString& description) {
    if (error)
        *error = description;
}

bool read(const QJsonValue& value, QString& out, QString* why) {
    if (!value.isString()) {
        setError(why, QStringLiteral("not a text"));
        return false;
    }
    out = value.toString();
    return true;
}

bool read(const QJsonValue& value, bool& out, QString* why) {
    if (value.isBool()) {
        out = value.toBool();
        return true;
    }
    if (value.isDouble()) {
        out = value.toDouble() != 0.0;
        return true;
    }
    setError(why, QStringLiteral("not a boolean"));
    return false;
}

bool read(const QJsonValue& value, double& out, QString* why) {
    if (!value.isDouble()) {
        setError(why, QStringLiteral("not a number"));
        return false;
    }
    out = value.toDouble();
    return true;
}

std::optional<QJsonValue> write(const QString& value) {
    return QJsonValue(value);
}
std::optional<QJsonValue> write(bool value) {
    return QJsonValue(value);
}
std::optional<QJsonValue> write(double value) {
    return QJsonValue(value);
}

std::optional<QJsonObject> parseObject(const std::optional<QString>& text, QString* why) {
    if (!text) {
        setError(why, QStringLiteral("no JSON text"));
        return std::nullopt;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(text->toUtf8(), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        setError(why, QStringLiteral("not JSON: %1 at offset %2")
                          .arg(parseError.errorString(), QString::number(parseError.offset)));
        return std::nullopt;
    }
    if (!document.isObject()) {
        setError(why, QStringLiteral("the JSON text is not an object"));
        return std::nullopt;
    }
    return document.object();
}

QString compactText(const QJsonObject& object) {
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

} // namespace JSONModelValue

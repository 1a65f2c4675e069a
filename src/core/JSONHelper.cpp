#include "JSONHelper.h"

#include "Logger.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QMetaProperty>

namespace {

// The parsed top-level container, or the parser's description of why there is none.
std::optional<QVariant> parseContainer(const std::optional<QString>& text, QString* why) {
    if (!text)
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text->toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || document.isNull()) {
        *why = QStringLiteral("%1 at offset %2").arg(error.errorString(), QString::number(error.offset));
        return std::nullopt;
    }
    return document.toVariant();
}

// The value to write for a dictionary value: a JSON null stands for the property type's default.
QVariant valueFor(const QMetaProperty& property, const QVariant& value) {
    if (value.isNull() && value.metaType().id() == QMetaType::Nullptr)
        return QVariant(property.metaType());
    return value;
}

// The index of the property named exactly the key; -1 when there is none. A key holding a NUL
// character names no property (the meta-object compares C strings, which would stop at the NUL).
int propertyIndex(const QMetaObject& metaObject, const QString& key) {
    if (key.contains(QChar(0)))
        return -1;
    return metaObject.indexOfProperty(key.toUtf8().constData());
}

} // namespace

std::optional<QVariant> JSONHelper::ParseToArrayFromString(const std::optional<QString>& text) {
    QString why;
    return parseContainer(text, &why);
}

std::optional<QVariant> JSONHelper::ParseToDictionaryFromString(const std::optional<QString>& text) {
    QString why;
    auto container = parseContainer(text, &why);
    if (!container && text)
        LOG_ERROR("{}", why);
    return container;
}

QObject* JSONHelper::ParseObjectFromDictionary(const QVariantMap& dictionary, QObject* object) {
    if (!object)
        return object;
    const QMetaObject* metaObject = object->metaObject();
    for (auto it = dictionary.begin(); it != dictionary.end(); ++it) {
        const int index = propertyIndex(*metaObject, it.key());
        if (index < 0)
            continue;
        const QMetaProperty property = metaObject->property(index);
        if (property.isWritable())
            property.write(object, valueFor(property, it.value()));
    }
    return object;
}

void JSONHelper::fillGadget(const QVariantMap& dictionary, void* gadget, const QMetaObject& metaObject) {
    for (auto it = dictionary.begin(); it != dictionary.end(); ++it) {
        const int index = propertyIndex(metaObject, it.key());
        if (index < 0)
            continue;
        const QMetaProperty property = metaObject.property(index);
        if (property.isWritable())
            property.writeOnGadget(gadget, valueFor(property, it.value()));
    }
}

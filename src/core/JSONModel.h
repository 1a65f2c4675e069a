#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>

#include <optional>
#include <tuple>

// The rules every JSON record follows. A record lists its properties once, in declaration order, as
// fields (key, member, required or optional); the key is the property's name exactly. From that list:
//
// Reading (initWithString, initWithDictionary) fails, with a description in *error and no record, when
// the text is absent, is not JSON or not a JSON object, when a required key is missing or null, or when
// a value cannot be converted to its property's type. Conversions:
//   text      <- a JSON string only (a number or a boolean is not a text);
//   boolean   <- true or false, or a number (0 is false, any other number true);
//   double    <- a number;
//   list of records <- an array whose every element is an object that reads as the element's record;
//   std::optional<T> <- as T; a missing or null key leaves it with no value.
// An optional key that is missing or null leaves the property at its default. Keys the record does not
// know are ignored. Nesting is bounded by the JSON parser (1024 levels); the records themselves nest at
// most three deep, so reading never recurses further than the text's own record structure.
//
// Writing (toJSONString) gives compact UTF-8 JSON without spaces or line breaks; a property with no
// value is left out, lists of records become arrays of objects. Keys come out in Qt's sorted order.
//
// Records are plain values: copy one to hand it to another thread.
template <class Record, class T> struct JSONModelField {
    const char* key;
    T Record::*member;
    bool required;
};

template <class T> inline constexpr bool kIsOptionalMember = false;
template <class T> inline constexpr bool kIsOptionalMember<std::optional<T>> = true;

template <class Record, class T>
constexpr JSONModelField<Record, T> requiredKey(const char* key, T Record::*member) {
    static_assert(!kIsOptionalMember<T>, "a member that may hold no value is never required");
    return {key, member, true};
}

template <class Record, class T>
constexpr JSONModelField<Record, T> optionalKey(const char* key, T Record::*member) {
    return {key, member, false};
}

// The conversions between JSON values and property types; false, with the reason in *why, when the
// value cannot be converted.
namespace JSONModelValue {

bool read(const QJsonValue& value, QString& out, QString* why);
bool read(const QJsonValue& value, bool& out, QString* why);
bool read(const QJsonValue& value, double& out, QString* why);
template <class T> bool read(const QJsonValue& value, std::optional<T>& out, QString* why);
template <class R> bool read(const QJsonValue& value, QList<R>& out, QString* why);

std::optional<QJsonValue> write(const QString& value);
std::optional<QJsonValue> write(bool value);
std::optional<QJsonValue> write(double value);
template <class T> std::optional<QJsonValue> write(const std::optional<T>& value);
template <class R> std::optional<QJsonValue> write(const QList<R>& value);

// The JSON object of a text; nothing, with the reason in *why, when there is none.
std::optional<QJsonObject> parseObject(const std::optional<QString>& text, QString* why);
QString compactText(const QJsonObject& object);
void setError(QString* error, const QString& description);

} // namespace JSONModelValue

template <class Record> class JSONModel {
public:
    // Reads a record from JSON text; nothing, with the reason in *error, when it does not parse.
    static std::optional<Record> initWithString(const std::optional<QString>& text, QString* error = nullptr);
    static std::optional<Record> initWithDictionary(const QJsonObject& dictionary, QString* error = nullptr);

    QJsonObject toDictionary() const;
    QString toJSONString() const;

    bool operator==(const JSONModel&) const = default;

protected:
    JSONModel() = default;

private:
    template <class T>
    static bool readField(Record& record, const QJsonObject& dictionary,
                          const JSONModelField<Record, T>& field, QString* error);
    template <class T>
    static void writeField(const Record& record, QJsonObject& dictionary,
                           const JSONModelField<Record, T>& field);
};

namespace JSONModelValue {

template <class T> bool read(const QJsonValue& value, std::optional<T>& out, QString* why) {
    if (value.isUndefined() || value.isNull()) {
        out.reset();
        return true;
    }
    T inner{};
    if (!read(value, inner, why))
        return false;
    out = std::move(inner);
    return true;
}

template <class R> bool read(const QJsonValue& value, QList<R>& out, QString* why) {
    if (!value.isArray()) {
        setError(why, QStringLiteral("not an array"));
        return false;
    }
    const QJsonArray array = value.toArray();
    QList<R> records;
    records.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i) {
        const QJsonValue element = array.at(i);
        QString elementError;
        std::optional<R> record;
        if (element.isObject())
            record = R::initWithDictionary(element.toObject(), &elementError);
        else
            elementError = QStringLiteral("not an object");
        if (!record) {
            setError(why, QStringLiteral("element %1: %2").arg(QString::number(i), elementError));
            return false;
        }
        records.append(std::move(*record));
    }
    out = std::move(records);
    return true;
}

template <class T> std::optional<QJsonValue> write(const std::optional<T>& value) {
    if (!value)
        return std::nullopt;
    return write(*value);
}

template <class R> std::optional<QJsonValue> write(const QList<R>& value) {
    QJsonArray array;
    for (const R& record : value)
        array.append(record.toDictionary());
    return array;
}

} // namespace JSONModelValue

template <class Record>
std::optional<Record> JSONModel<Record>::initWithString(const std::optional<QString>& text, QString* error) {
    QString why;
    const auto object = JSONModelValue::parseObject(text, &why);
    if (!object) {
        JSONModelValue::setError(error, why);
        return std::nullopt;
    }
    return initWithDictionary(*object, error);
}

template <class Record>
std::optional<Record> JSONModel<Record>::initWithDictionary(const QJsonObject& dictionary, QString* error) {
    Record record;
    const bool ok =
        std::apply([&](const auto&... field) { return (readField(record, dictionary, field, error) && ...); },
                   Record::jsonFields());
    if (!ok)
        return std::nullopt;
    return record;
}

template <class Record> QJsonObject JSONModel<Record>::toDictionary() const {
    const Record& record = static_cast<const Record&>(*this);
    QJsonObject dictionary;
    std::apply([&](const auto&... field) { (writeField(record, dictionary, field), ...); },
               Record::jsonFields());
    return dictionary;
}

template <class Record> QString JSONModel<Record>::toJSONString() const {
    return JSONModelValue::compactText(toDictionary());
}

template <class Record>
template <class T>
bool JSONModel<Record>::readField(Record& record, const QJsonObject& dictionary,
                                  const JSONModelField<Record, T>& field, QString* error) {
    const QString key = QString::fromLatin1(field.key);
    const QJsonValue value = dictionary.value(key);
    if (value.isUndefined() || value.isNull()) {
        if (!field.required)
            return true;
        JSONModelValue::setError(error, QStringLiteral("required key \"%1\" is missing").arg(key));
        return false;
    }
    QString why;
    if (!JSONModelValue::read(value, record.*(field.member), &why)) {
        JSONModelValue::setError(error, QStringLiteral("value of \"%1\": %2").arg(key, why));
        return false;
    }
    return true;
}

template <class Record>
template <class T>
void JSONModel<Record>::writeField(const Record& record, QJsonObject& dictionary,
                                   const JSONModelField<Record, T>& field) {
    if (auto value = JSONModelValue::write(record.*(field.member)))
        dictionary.insert(QString::fromLatin1(field.key), *value);
}

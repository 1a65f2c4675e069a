#pragma once

#include "core/JSONHelper.h"

#include <QList>
#include <QVariant>

#include <optional>

// The list and JSON-text readers of a record that reads itself from a dictionary
// (Record::ParseFromDictionary, which always gives a record).
template <class Record> struct DictionaryRecord {
    static QList<Record> ParseArrayFromDictionaryArray(const QVariantList& array) {
        QList<Record> records;
        for (const QVariant& item : array)
            records << Record::ParseFromDictionary(item.toMap());
        return records;
    }
    static Record ParseFromJsonString(const std::optional<QString>& json) {
        return Record::ParseFromDictionary(
            JSONHelper::ParseToDictionaryFromString(json).value_or(QVariant()).toMap());
    }
    static QList<Record> ParseArrayFromJsonString(const std::optional<QString>& json) {
        return ParseArrayFromDictionaryArray(
            JSONHelper::ParseToArrayFromString(json).value_or(QVariant()).toList());
    }
};

#pragma once

#include <QMetaObject>
#include <QObject>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <optional>

// Turns JSON text into Qt containers and fills objects from dictionaries. Keeps no state; any thread.
class JSONHelper {
public:
    // The top-level container of the text (a QVariantList for an array, a QVariantMap for an object);
    // neither operation checks which of the two it is. Nothing for absent text, text that is not JSON,
    // or a top-level value that is not a container. Only ParseToDictionaryFromString logs the failure.
    static std::optional<QVariant> ParseToArrayFromString(const std::optional<QString>& text);
    static std::optional<QVariant> ParseToDictionaryFromString(const std::optional<QString>& text);

    // Sets each value of the dictionary, in the dictionary's key order, on the writable property of
    // exactly that name; keys without such a property are skipped. A value is converted to the
    // property's type the way QVariant converts; one that does not convert leaves the property as it was,
    // and a JSON null sets the property's default value. Returns the object it was given.
    static QObject* ParseObjectFromDictionary(const QVariantMap& dictionary, QObject* object);
    // The same for a value type declared with Q_GADGET.
    template <class Gadget>
    static Gadget& ParseObjectFromDictionary(const QVariantMap& dictionary, Gadget& gadget) {
        fillGadget(dictionary, &gadget, Gadget::staticMetaObject);
        return gadget;
    }

private:
    static void fillGadget(const QVariantMap& dictionary, void* gadget, const QMetaObject& metaObject);
};

// Parses arbitrary text with both JSONHelper parsers and fills a value type and an object from every
// dictionary found at the top level.
#include "core/JSONHelper.h"

#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

struct Fields {
    Q_GADGET
    Q_PROPERTY(QString Text MEMBER Text)
    Q_PROPERTY(int Integer MEMBER Integer)
    Q_PROPERTY(qint64 Long MEMBER Long)
    Q_PROPERTY(bool Flag MEMBER Flag)
    Q_PROPERTY(double Number MEMBER Number)
    Q_PROPERTY(QStringList Texts MEMBER Texts)
    Q_PROPERTY(QVariantMap Map MEMBER Map)
    Q_PROPERTY(QVariant Any MEMBER Any)
    Q_PROPERTY(QByteArray Bytes MEMBER Bytes)

public:
    QString Text;
    int Integer = 0;
    qint64 Long = 0;
    bool Flag = false;
    double Number = 0.0;
    QStringList Texts;
    QVariantMap Map;
    QVariant Any;
    QByteArray Bytes;
};

class Target : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString text MEMBER text)
    Q_PROPERTY(int integer MEMBER integer)
    Q_PROPERTY(QVariantList list MEMBER list)

public:
    QString text;
    int integer = 0;
    QVariantList list;
};

void fill(const QVariantMap& dictionary) {
    Fields fields;
    if (&JSONHelper::ParseObjectFromDictionary(dictionary, fields) != &fields)
        std::abort();
    Target target;
    if (JSONHelper::ParseObjectFromDictionary(dictionary, &target) != &target)
        std::abort();
    if (!target.dynamicPropertyNames().isEmpty()) {
        std::fprintf(stderr, "filling added a property\n");
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto array = JSONHelper::ParseToArrayFromString(text);
    const auto dictionary = JSONHelper::ParseToDictionaryFromString(text);
    if (array.has_value() != dictionary.has_value()) {
        std::fprintf(stderr, "the two parsers disagree\n");
        std::abort();
    }
    if (!array)
        return 0;
    const int type = array->typeId();
    if (type != QMetaType::QVariantList && type != QMetaType::QVariantMap) {
        std::fprintf(stderr, "the top level is not a container\n");
        std::abort();
    }
    if (type == QMetaType::QVariantMap) {
        fill(array->toMap());
    } else {
        for (const QVariant& element : array->toList()) {
            if (element.typeId() == QMetaType::QVariantMap)
                fill(element.toMap());
        }
    }
    return 0;
}

#include "JSONHelperFuzzer.moc"

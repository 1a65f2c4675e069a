#include "PropertyList.h"

#include <QXmlStreamReader>

namespace platform {

namespace {

class Parser {
public:
    explicit Parser(const QByteArray& xml)
        : reader_(xml) {}

    std::optional<QVariant> run(QString* error) {
        std::optional<QVariant> root;
        if (nextElement() && reader_.name() == u"plist") {
            if (nextElement())
                root = value(1);
            else
                fail(QStringLiteral("empty <plist>"));
            if (root && nextElement())
                fail(QStringLiteral("more than one value under <plist>"));
        } else if (!failed()) {
            fail(QStringLiteral("no <plist> element"));
        }
        if (failed()) {
            if (error)
                *error = QStringLiteral("line %1: %2").arg(reader_.lineNumber()).arg(error_);
            return std::nullopt;
        }
        return root;
    }

private:
    bool failed() const { return !error_.isEmpty(); }

    void fail(const QString& message) {
        if (error_.isEmpty())
            error_ = message;
    }

    // Moves to the next start element inside the current one; false at its end or on an error.
    bool nextElement() {
        while (!reader_.atEnd()) {
            switch (reader_.readNext()) {
            case QXmlStreamReader::StartElement:
                return true;
            case QXmlStreamReader::EndElement:
                return false;
            case QXmlStreamReader::Characters:
                if (!reader_.isWhitespace()) {
                    fail(QStringLiteral("unexpected text"));
                    return false;
                }
                break;
            case QXmlStreamReader::Invalid:
                fail(reader_.errorString());
                return false;
            default:
                break;
            }
        }
        if (reader_.hasError())
            fail(reader_.errorString());
        return false;
    }

    std::optional<QString> text() {
        const QString s = reader_.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement);
        if (reader_.hasError()) {
            fail(reader_.errorString());
            return std::nullopt;
        }
        return s;
    }

    // Parses the value whose start element the reader stands on.
    std::optional<QVariant> value(int depth) {
        if (depth > PropertyList::kMaxDepth) {
            fail(QStringLiteral("nesting deeper than %1").arg(PropertyList::kMaxDepth));
            return std::nullopt;
        }
        const QString tag = reader_.name().toString();
        if (tag == u"dict")
            return dict(depth);
        if (tag == u"array")
            return array(depth);
        if (tag == u"true" || tag == u"false") {
            const bool v = tag == u"true";
            if (nextElement())
                fail(QStringLiteral("<%1> must be empty").arg(tag));
            return failed() ? std::nullopt : std::optional<QVariant>(v);
        }
        const auto s = text();
        if (!s)
            return std::nullopt;
        if (tag == u"string")
            return QVariant(*s);
        if (tag == u"integer") {
            bool ok = false;
            const qint64 v = s->trimmed().toLongLong(&ok, 10);
            if (!ok) {
                fail(QStringLiteral("bad integer \"%1\"").arg(s->left(40)));
                return std::nullopt;
            }
            return QVariant(v);
        }
        if (tag == u"real") {
            bool ok = false;
            const double v = s->trimmed().toDouble(&ok);
            if (!ok) {
                fail(QStringLiteral("bad real \"%1\"").arg(s->left(40)));
                return std::nullopt;
            }
            return QVariant(v);
        }
        fail(QStringLiteral("unsupported element <%1>").arg(tag.left(40)));
        return std::nullopt;
    }

    std::optional<QVariant> dict(int depth) {
        QVariantMap map;
        while (nextElement()) {
            if (reader_.name() != u"key") {
                fail(QStringLiteral("<dict> holds <%1> where a <key> belongs").arg(reader_.name().left(40)));
                return std::nullopt;
            }
            const auto key = text();
            if (!key)
                return std::nullopt;
            if (!nextElement()) {
                fail(QStringLiteral("key \"%1\" has no value").arg(key->left(40)));
                return std::nullopt;
            }
            auto v = value(depth + 1);
            if (!v)
                return std::nullopt;
            map.insert(*key, std::move(*v));
        }
        return failed() ? std::nullopt : std::optional<QVariant>(map);
    }

    std::optional<QVariant> array(int depth) {
        QVariantList list;
        while (nextElement()) {
            auto v = value(depth + 1);
            if (!v)
                return std::nullopt;
            list.append(std::move(*v));
        }
        return failed() ? std::nullopt : std::optional<QVariant>(list);
    }

    QXmlStreamReader reader_;
    QString error_;
};

} // namespace

std::optional<QVariant> PropertyList::parse(const QByteArray& xml, QString* error) {
    return Parser(xml).run(error);
}

} // namespace platform

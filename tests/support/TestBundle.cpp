#include "TestBundle.h"

#include "platform/Bundle.h"

#include <QDir>
#include <QFile>

namespace {

void writeValue(QByteArray& out, const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::QVariantMap: {
        out += "<dict>";
        const QVariantMap map = v.toMap();
        for (auto it = map.begin(); it != map.end(); ++it) {
            out += "<key>" + it.key().toHtmlEscaped().toUtf8() + "</key>";
            writeValue(out, it.value());
        }
        out += "</dict>";
        break;
    }
    case QMetaType::QVariantList:
    case QMetaType::QStringList:
        out += "<array>";
        for (const QVariant& item : v.toList())
            writeValue(out, item);
        out += "</array>";
        break;
    case QMetaType::Bool:
        out += v.toBool() ? "<true/>" : "<false/>";
        break;
    case QMetaType::Int:
    case QMetaType::LongLong:
        out += "<integer>" + QByteArray::number(v.toLongLong()) + "</integer>";
        break;
    case QMetaType::Double:
        out += "<real>" + QByteArray::number(v.toDouble(), 'g', 17) + "</real>";
        break;
    default:
        out += "<string>" + v.toString().toHtmlEscaped().toUtf8() + "</string>";
    }
}

} // namespace

TestBundle::TestBundle(const QVariantMap& info, const QString& name)
    : name_(name) {
    QDir().mkpath(resourcesPath());
    QDir().mkpath(path() + QStringLiteral("/Contents/MacOS"));
    QFile file(infoPlistPath());
    file.open(QIODevice::WriteOnly);
    file.write(plistXml(info));
}

QByteArray TestBundle::plistXml(const QVariantMap& info) {
    QByteArray out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">";
    writeValue(out, info);
    return out + "</plist>\n";
}

void TestBundle::addResource(const QString& fileName, const QByteArray& content, bool executable) const {
    QFile file(resourcesPath() + u'/' + fileName);
    file.open(QIODevice::WriteOnly);
    file.write(content);
    file.close();
    if (executable)
        file.setPermissions(file.permissions() | QFile::ExeOwner | QFile::ExeUser);
}

void TestBundle::makeMain() const {
    platform::Bundle::setMainBundlePath(path());
}

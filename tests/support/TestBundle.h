#pragma once

#include <QString>
#include <QTemporaryDir>
#include <QVariantMap>

// A bundle folder made by a test: Info.plist written from a dictionary, an empty Resources folder.
class TestBundle {
public:
    explicit TestBundle(const QVariantMap& info, const QString& name = QStringLiteral("Test"));

    QString path() const { return root_.path() + u'/' + name_ + QStringLiteral(".app"); }
    QString resourcesPath() const { return path() + QStringLiteral("/Contents/Resources"); }
    QString infoPlistPath() const { return path() + QStringLiteral("/Contents/Info.plist"); }

    // Writes Resources/<fileName> with the given content and mode bits.
    void addResource(const QString& fileName, const QByteArray& content, bool executable = false) const;
    // Makes this bundle the main bundle of the process.
    void makeMain() const;

    static QByteArray plistXml(const QVariantMap& info);

private:
    QTemporaryDir root_;
    QString name_;
};

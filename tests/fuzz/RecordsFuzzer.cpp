// Reads arbitrary text as each JSON record. Whatever reads must write compact text that reads back as the
// same record and writes the same text again; commands also choose their icon from the text.
#include "core/SilentModeApp.h"
#include "core/TapdeckCommand.h"
#include "core/TapdeckIcon.h"
#include "core/TapdeckInfoDTO.h"
#include "core/TapdeckPanel.h"
#include "core/TapdeckPanelInfoDTO.h"
#include "platform/Bundle.h"

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

template <class Record> void checkRoundTrip(const QString& text, const char* recordName) {
    const auto record = Record::initWithString(text);
    if (!record)
        return;
    const QString written = record->toJSONString();
    QString error;
    const auto again = Record::initWithString(written, &error);
    if (!again || !(*again == *record) || again->toJSONString() != written) {
        std::fprintf(stderr, "%s does not read back from its own text %s: %s\n", recordName,
                     written.toUtf8().constData(), error.toUtf8().constData());
        std::abort();
    }
}

void checkIcon(const TapdeckCommand& command) {
    for (const auto& image : {command.iconImage(), command.iconImageWithTintColor(QColor(Qt::red))}) {
        if (image && image->isNull()) {
            std::fprintf(stderr, "an icon was given as a null image\n");
            std::abort();
        }
    }
}

void writePng(const QString& path, int side) {
    QImage image(side, side, QImage::Format_ARGB32);
    image.fill(Qt::blue);
    image.save(path, "png");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A bundle whose Resources hold the images the icon choice looks up by name.
    static QTemporaryDir root;
    const QString bundle = root.path() + QStringLiteral("/Fuzz.app");
    const QString resources = bundle + QStringLiteral("/Contents/Resources");
    QDir().mkpath(resources);
    for (const char* name :
         {"sendKeyCommandIcon", "openUrlCommandIcon", "launchAppCommandIcon", "defaultCommandIcon", "a"})
        writePng(resources + u'/' + QString::fromLatin1(name) + QStringLiteral(".png"), 4);
    platform::Bundle::setMainBundlePath(bundle);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    checkRoundTrip<TapdeckCommand>(text, "TapdeckCommand");
    checkRoundTrip<TapdeckPanel>(text, "TapdeckPanel");
    checkRoundTrip<TapdeckIcon>(text, "TapdeckIcon");
    checkRoundTrip<TapdeckPanelInfoDTO>(text, "TapdeckPanelInfoDTO");
    checkRoundTrip<TapdeckInfoDTO>(text, "TapdeckInfoDTO");
    checkRoundTrip<SilentModeApp>(text, "SilentModeApp");

    if (const auto command = TapdeckCommand::initWithString(text))
        checkIcon(*command);
    if (const auto panel = TapdeckPanel::initWithString(text)) {
        for (const TapdeckCommand& command : panel->tapdeckCommands)
            checkIcon(command);
    }
    return 0;
}

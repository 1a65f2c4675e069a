// The LAN slide-information server holding a document of the size a phone really fetches, for load
// runs with an HTTP load generator (bench/http-load.sh). The document has the members of the LAN
// kind and two 800 x 600 JPEG thumbnails (quality 0.8, base64) of slides drawn here, encoded the way
// the presentation bridge encodes them. The handler does what the service's does on every request:
// hands out the UTF-8 bytes of the stored document, converted once for the document.
//
//   bench_lan_http_server --port P [--document-out FILE] [--max-seconds S]
//
// Prints "document <n> bytes" and "ready" once it listens; serves until SIGTERM or SIGINT, or until
// --max-seconds (default 300) passed.
#include "remote/LanInfoServer.h"

#include "core/Image.h"
#include "platform/TerminationSignals.h"
#include "presentation/PowerPointHelper.h"

#include <QFile>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

// A slide as a presentation renders it: a gradient background, a title, bullets, a bar chart and a
// photograph-like picture (a random field scaled up smoothly, which JPEG cannot squeeze to nothing).
std::shared_ptr<Image> drawSlide(int number) {
    return Image::imageWithSize(QSizeF(1600, 1200), [number](QPainter& p) {
        QLinearGradient background(0, 0, 0, 1200);
        background.setColorAt(0, QColor(250, 250, 252));
        background.setColorAt(1, QColor(214, 226, 240));
        p.fillRect(QRectF(0, 0, 1600, 1200), background);
        p.fillRect(QRectF(0, 0, 1600, 150), QColor(28, 64, 120));
        QFont title(QStringLiteral("DejaVu Sans"), 56, QFont::Bold);
        p.setFont(title);
        p.setPen(Qt::white);
        p.drawText(QRectF(60, 20, 1480, 120), Qt::AlignVCenter,
                   QStringLiteral("Quarterly review: slide %1").arg(number));
        QFont body(QStringLiteral("DejaVu Sans"), 30);
        p.setFont(body);
        p.setPen(QColor(30, 30, 40));
        const QStringList bullets{QStringLiteral("Revenue grew 12% against the same quarter last year"),
                                  QStringLiteral("Two new regions opened; both ahead of plan"),
                                  QStringLiteral("Support backlog halved since the last review"),
                                  QStringLiteral("Next: pricing, hiring, the autumn launch")};
        for (int i = 0; i < bullets.size(); ++i)
            p.drawText(QPointF(80, 250 + 70 * i), QStringLiteral("\u2022  ") + bullets[i]);
        const QColor bars[] = {QColor(66, 133, 244), QColor(219, 68, 55), QColor(244, 180, 0),
                               QColor(15, 157, 88)};
        for (int i = 0; i < 8; ++i) {
            const double height = 80 + 40 * ((i * 7 + number * 3) % 9);
            p.fillRect(QRectF(90 + 80 * i, 1120 - height, 56, height), bars[i % 4]);
        }
        p.setPen(QPen(QColor(60, 60, 60), 3));
        p.drawLine(QPointF(70, 1120), QPointF(740, 1120));
        // The picture: a small random field scaled up smoothly, then a vignette of text over it.
        QImage field(120, 90, QImage::Format_RGB32);
        QRandomGenerator random(quint32(number) * 7919u);
        for (int y = 0; y < field.height(); ++y)
            for (int x = 0; x < field.width(); ++x)
                field.setPixel(x, y,
                               qRgb(90 + int(random.bounded(120)), 110 + int(random.bounded(100)),
                                    80 + int(random.bounded(140))));
        const QRectF picture(820, 560, 700, 560);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(picture, field.scaled(700, 560, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        p.setPen(Qt::white);
        p.setFont(QFont(QStringLiteral("DejaVu Sans"), 24, QFont::Bold));
        p.drawText(picture.adjusted(20, 20, -20, -20), Qt::AlignBottom | Qt::AlignLeft,
                   QStringLiteral("The new office, opened in March"));
    });
}

QString member(const char* key, const QString& value) {
    return u'"' + QLatin1String(key) + QStringLiteral("\":\"") + value + u'"';
}

// The LAN document with the members and separators the bridge writes.
QString makeDocument() {
    const auto current = PowerPointHelper::base64StringConvertedFromImage(drawSlide(7), 800, 600, 0.8f);
    const auto next = PowerPointHelper::base64StringConvertedFromImage(drawSlide(8), 800, 600, 0.8f);
    if (!current || !next) {
        std::fprintf(stderr, "cannot encode the thumbnails\n");
        std::exit(1);
    }
    const QString note = QStringLiteral(
        "Open with the headline number, then the two regions. Pause for questions after the chart.\\n"
        "Mention the support team by name. Keep this slide under two minutes.");
    const QString separator = u',' + QString(27, u' ');
    const QStringList members{
        member("Id", QStringLiteral("3F2A9C1E-5B7D-4E8A-9C0F-1D2E3F4A5B6C")),
        member("InfoId", QStringLiteral("9E8D7C6B5A4F3E2D1C0B9A8F7E6D5C4B")),
        member("CreatedTimeInterval", QString::asprintf("%f", 1718000000.25)),
        member("Note", note),
        member("NextNote", QStringLiteral("Pricing: the three tiers, and why the middle one moves.")),
        member("AlternateNote", QStringLiteral("(null)")),
        member("CurrentThumb", *current),
        member("NextThumb", *next),
        member("PcAppVersion", QStringLiteral("1.0")),
        member("OsVersion", QStringLiteral("macOS Version 14.5 (Build 23F79)")),
        member("OfficeVersion", QString("")),
        member("InstalledSoftwares", QStringLiteral("PowerPoint,Keynote")),
        member("RunningProcesses", QString("")),
    };
    return u'{' + members.join(separator) + u'}';
}

struct Options {
    int port = 0;
    std::optional<QString> documentOut;
    int maxSeconds = 300;
};

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--port" && i + 1 < argc)
            options.port = std::atoi(argv[++i]);
        else if (arg == "--document-out" && i + 1 < argc)
            options.documentOut = QString::fromLocal8Bit(argv[++i]);
        else if (arg == "--max-seconds" && i + 1 < argc)
            options.maxSeconds = std::clamp(std::atoi(argv[++i]), 1, 3600);
        else
            options.port = 0;
    }
    if (options.port <= 0 || options.port > 65535) {
        std::fprintf(stderr, "usage: %s --port P [--document-out FILE] [--max-seconds S]\n", argv[0]);
        std::exit(2);
    }
    return options;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/.config")).toUtf8());
    QGuiApplication app(argc, argv);
    const Options options = parse(argc, argv);

    const QByteArray bytes = makeDocument().toUtf8();
    if (options.documentOut) {
        QFile out(*options.documentOut);
        if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(*options.documentOut));
            return 1;
        }
    }

    // As the service does: the UTF-8 bytes of the stored document, made once for each document.
    const auto storedBytes = [&bytes] {
        return bytes;
    };
    LanInfoServer server(storedBytes, storedBytes);
    if (server.start(quint16(options.port))) {
        std::fprintf(stderr, "cannot listen on port %d\n", options.port);
        return 1;
    }
    platform::TerminationSignals::install([] { QCoreApplication::quit(); });
    QTimer::singleShot(options.maxSeconds * 1000, [] { QCoreApplication::quit(); });
    std::printf("document %lld bytes\nready\n", static_cast<long long>(bytes.size()));
    std::fflush(stdout);
    const int status = QGuiApplication::exec();
    server.stop();
    return status;
}

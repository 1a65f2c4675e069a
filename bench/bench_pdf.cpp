// Cost of a slide thumbnail: a page rendered for the first time (a fresh path each iteration, so the page
// cache never answers), the same plus the LAN thumbnail (800 wide, JPEG quality 80), a cache hit, and the
// thumbnail alone from a cached page. The cache never lets a page go, so each cold iteration keeps its
// page (counter cached_page_bytes): those benchmarks run a fixed number of iterations to bound the memory.
//
//   bench_pdf [benchmark options]
//   bench_pdf --write-fixture=PATH   writes the benchmark's slide PDF to PATH, prints its page size in
//                                    points ("960 540") and exits; bench/pdftoppm-baseline.sh uses it.
#include "core/Image.h"
#include "presentation/PDFHelper.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <filesystem>
#include <string>

namespace {

// A 16:9 slide as a presentation program exports it.
constexpr double kPageWidth = 960;
constexpr double kPageHeight = 540;
constexpr double kLanWidth = 800;

// A title, bullets, shapes, a gradient band and a photo-like bitmap; the rest of the page is unpainted.
bool writeSlide(const QString& path) {
    QPdfWriter writer(path);
    writer.setResolution(72);
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    writer.setPageSize(
        QPageSize(QSizeF(kPageWidth, kPageHeight), QPageSize::Point, QString(), QPageSize::ExactMatch));
    QPainter painter(&writer);
    painter.setRenderHint(QPainter::Antialiasing);

    QLinearGradient band(0, 0, kPageWidth, 0);
    band.setColorAt(0, QColor(20, 60, 140));
    band.setColorAt(1, QColor(90, 160, 220));
    painter.fillRect(QRectF(0, 0, kPageWidth, 110), band);
    QFont title = painter.font();
    title.setPointSizeF(40);
    painter.setFont(title);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(40, 20, 880, 70), Qt::AlignVCenter, QStringLiteral("Quarterly results"));

    QFont body = title;
    body.setPointSizeF(22);
    painter.setFont(body);
    painter.setPen(QColor(30, 30, 30));
    const char* bullets[] = {"Revenue up 12 % on the year", "Three new regions opened",
                             "Support tickets down by a fifth", "Next: the spring release"};
    double y = 150;
    for (const char* bullet : bullets) {
        painter.setBrush(QColor(20, 60, 140));
        painter.drawEllipse(QPointF(55, y + 14), 5, 5);
        painter.drawText(QRectF(75, y, 420, 32), Qt::AlignVCenter, QString::fromUtf8(bullet));
        y += 48;
    }

    QImage photo(400, 300, QImage::Format_RGB32);
    for (int py = 0; py < photo.height(); ++py)
        for (int px = 0; px < photo.width(); ++px)
            photo.setPixel(px, py, qRgb((px * 255) / 400, (py * 255) / 300, ((px ^ py) * 7) & 0xff));
    painter.drawImage(QRectF(520, 150, 400, 300), photo);

    painter.setPen(QPen(QColor(200, 60, 40), 4));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(510, 140, 420, 320), 12, 12);
    painter.drawLine(QPointF(40, 500), QPointF(920, 500));
    return painter.end();
}

QByteArray lanThumbnail(Image& page) {
    const QSizeF size(kLanWidth, kLanWidth * page.size().height() / page.size().width());
    const auto resized = page.resizeImageToNewSize(size);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(80);
    if (!resized || !writer.write(resized->bitmap()))
        return {};
    return jpeg;
}

class Fixture {
public:
    Fixture() {
        pdf_ = folder_.filePath(QStringLiteral("slide.pdf"));
        ok_ = folder_.isValid() && writeSlide(pdf_);
    }
    bool ok() const { return ok_; }
    const QString& pdf() const { return pdf_; }
    // The slide under a path text the page cache has not seen.
    QString freshPath() {
        const QString path = folder_.filePath(QStringLiteral("copy-%1.pdf").arg(++copies_));
        std::filesystem::create_hard_link(pdf_.toStdString(), path.toStdString());
        return path;
    }

private:
    QTemporaryDir folder_;
    QString pdf_;
    bool ok_ = false;
    int copies_ = 0;
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

void BM_ColdPageRender(benchmark::State& state) {
    if (!fixture().ok()) {
        state.SkipWithError("cannot write the slide PDF");
        return;
    }
    qsizetype bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const QString path = fixture().freshPath();
        state.ResumeTiming();
        const auto page = PDFHelper::GetImageOfPdfFile(path, 1);
        if (!page) {
            state.SkipWithError("no page rendered");
            return;
        }
        bytes = page->bitmap().sizeInBytes();
    }
    state.counters["cached_page_bytes"] = double(bytes);
}
BENCHMARK(BM_ColdPageRender)->Unit(benchmark::kMillisecond)->Iterations(150);

void BM_ColdPageRenderAndLanThumbnail(benchmark::State& state) {
    if (!fixture().ok()) {
        state.SkipWithError("cannot write the slide PDF");
        return;
    }
    qsizetype jpegBytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const QString path = fixture().freshPath();
        state.ResumeTiming();
        const auto page = PDFHelper::GetImageOfPdfFile(path, 1);
        const QByteArray jpeg = page ? lanThumbnail(*page) : QByteArray();
        if (jpeg.isEmpty()) {
            state.SkipWithError("no thumbnail made");
            return;
        }
        jpegBytes = jpeg.size();
    }
    state.counters["jpeg_bytes"] = double(jpegBytes);
}
BENCHMARK(BM_ColdPageRenderAndLanThumbnail)->Unit(benchmark::kMillisecond)->Iterations(150);

void BM_CachedPage(benchmark::State& state) {
    if (!fixture().ok() || !PDFHelper::GetImageOfPdfFile(fixture().pdf(), 1)) {
        state.SkipWithError("no page rendered");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(PDFHelper::GetImageOfPdfFile(fixture().pdf(), 1));
}
BENCHMARK(BM_CachedPage)->Unit(benchmark::kMicrosecond);

void BM_LanThumbnailFromCachedPage(benchmark::State& state) {
    const auto page = fixture().ok() ? PDFHelper::GetImageOfPdfFile(fixture().pdf(), 1) : nullptr;
    if (!page) {
        state.SkipWithError("no page rendered");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(lanThumbnail(*page));
}
BENCHMARK(BM_LanThumbnailFromCachedPage)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv); // fonts for the slide's text

    const std::string option = "--write-fixture=";
    if (argc == 2 && std::string(argv[1]).starts_with(option)) {
        if (!writeSlide(QString::fromLocal8Bit(argv[1] + option.size())))
            return 1;
        std::printf("%g %g\n", kPageWidth, kPageHeight);
        return 0;
    }

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

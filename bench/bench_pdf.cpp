// Cost of slide thumbnails from the exported PDF, each with its baseline in the same run:
//   BM_Deck/<pages>        every page of a fresh deck rendered once through the page cache (one open
//                          document, pages dense enough for the LAN thumbnail): time per page, the cache's
//                          bytes at the end beside what keeping every page would hold, resident growth;
//   BM_DeckOneDocumentPerPage/<pages>  the same pages as the cache rendered them before: the document
//                          opened for each page, rendered at half the page size, one pixel per point, and
//                          every page kept;
//   BM_PdftoppmDeck/<pages>  one pdftoppm process over the whole deck at the cache's pixel size;
//   BM_LanThumbnail/<dense>  the 800-wide LAN thumbnail from a cached page, with its likeness (PSNR) to the
//                          page rendered straight at 800 wide: from a dense page (1), and from one at one
//                          pixel per point, stretched up (0), as before;
//   BM_CachedPage           a cache hit.
//
//   bench_pdf [benchmark options]
//   bench_pdf --write-fixture=PATH [PAGES]   writes the benchmark's deck (one page unless PAGES) to PATH,
//                                           prints its page size in points ("960 540") and exits;
//                                           bench/pdftoppm-baseline.sh uses it.
#include "core/Image.h"
#include "presentation/PDFHelper.h"
#include "presentation/PowerPointHelper.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPageSize>
#include <QPainter>
#include <QPdfDocument>
#include <QPdfWriter>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// A 16:9 slide as a presentation program exports it.
constexpr double kPageWidth = 960;
constexpr double kPageHeight = 540;
constexpr double kLanWidth = 800;

// Slides with a title, bullets, shapes, a gradient band and a photo-like bitmap of their own; the rest of
// each page is unpainted.
bool writeDeck(const QString& path, int pages = 1) {
    QPdfWriter writer(path);
    writer.setResolution(72);
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    writer.setPageSize(
        QPageSize(QSizeF(kPageWidth, kPageHeight), QPageSize::Point, QString(), QPageSize::ExactMatch));
    QPainter painter(&writer);
    painter.setRenderHint(QPainter::Antialiasing);
    for (int page = 1; page <= pages; ++page) {
        if (page > 1)
            writer.newPage();
        QLinearGradient band(0, 0, kPageWidth, 0);
        band.setColorAt(0, QColor(20, 60, 140));
        band.setColorAt(1, QColor(90, 160, (220 + page) % 256));
        painter.fillRect(QRectF(0, 0, kPageWidth, 110), band);
        QFont title = painter.font();
        title.setPointSizeF(40);
        painter.setFont(title);
        painter.setPen(Qt::white);
        painter.drawText(QRectF(40, 20, 880, 70), Qt::AlignVCenter,
                         QStringLiteral("Quarterly results %1").arg(page));

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
                photo.setPixel(px, py,
                               qRgb((px * 255) / 400, (py * 255) / 300, (((px + page) ^ py) * 7) & 0xff));
        painter.drawImage(QRectF(520, 150, 400, 300), photo);

        painter.setPen(QPen(QColor(200, 60, 40), 4));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(510, 140, 420, 320), 12, 12);
        painter.drawLine(QPointF(40, 500), QPointF(920, 500));
    }
    return painter.end();
}

// A page of the document the way the renderer paints it, onto white, at the pixel size.
QImage renderOntoWhite(QPdfDocument& document, int index, QSize pixels) {
    QImage bitmap(pixels, QImage::Format_RGB32);
    bitmap.fill(Qt::white);
    QPainter painter(&bitmap);
    painter.drawImage(0, 0, document.render(index, pixels));
    return bitmap;
}

double residentMiB() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    return double(statm.readAll().split(' ').value(1).toLongLong() * sysconf(_SC_PAGESIZE)) / 1048576.0;
}

constexpr double kMiB = 1048576.0;

class Fixture {
public:
    Fixture() { ok_ = folder_.isValid() && writeDeck(slide()); }
    bool ok() const { return ok_; }
    QString slide() const { return folder_.filePath(QStringLiteral("slide.pdf")); }
    // A deck of that many pages, written once.
    QString deck(int pages) {
        const QString path = folder_.filePath(QStringLiteral("deck%1.pdf").arg(pages));
        if (!decks_.count(pages))
            decks_[pages] = writeDeck(path, pages);
        return decks_[pages] ? path : QString();
    }
    // The file under a path text the page cache has not seen.
    QString freshPath(const QString& file) {
        const QString path = folder_.filePath(QStringLiteral("copy-%1.pdf").arg(++copies_));
        std::filesystem::create_hard_link(file.toStdString(), path.toStdString());
        return path;
    }
    QString folder() const { return folder_.path(); }

private:
    QTemporaryDir folder_;
    bool ok_ = false;
    std::map<int, bool> decks_;
    int copies_ = 0;
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

void BM_Deck(benchmark::State& state) {
    const int pages = int(state.range(0));
    const QString deck = fixture().deck(pages);
    if (deck.isEmpty()) {
        state.SkipWithError("cannot write the deck");
        return;
    }
    double ms = 0, unbounded = 0, growth = 0;
    std::optional<double> firstGrowth; // the first pass over the deck, the cache holding no page of it
    for (auto _ : state) {
        state.PauseTiming();
        const QString path = fixture().freshPath(deck);
        const double before = residentMiB();
        QElapsedTimer timer;
        timer.start();
        state.ResumeTiming();
        for (int page = 1; page <= pages; ++page) {
            const auto image = PDFHelper::GetImageOfPdfFile(path, page);
            if (!image) {
                state.SkipWithError("no page rendered");
                return;
            }
            unbounded += double(image->bitmap().sizeInBytes());
        }
        state.PauseTiming();
        ms += double(timer.nsecsElapsed()) / 1e6;
        growth = residentMiB() - before;
        if (!firstGrowth)
            firstGrowth = growth;
        state.ResumeTiming();
    }
    const double runs = double(state.iterations());
    state.counters["page_ms"] = ms / runs / pages;
    state.counters["first_pass_growth_MiB"] = firstGrowth.value_or(0);
    state.counters["cache_MiB"] = double(PDFHelper::cachedPageBytes()) / kMiB;
    state.counters["bound_MiB"] = double(PDFHelper::kPageCacheBytes) / kMiB;
    state.counters["every_page_MiB"] = unbounded / runs / kMiB;
    state.counters["later_pass_growth_MiB"] = growth;
}
// The large deck first, so that its first pass starts from an empty cache.
BENCHMARK(BM_Deck)->Arg(300)->Arg(100)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_DeckOneDocumentPerPage(benchmark::State& state) {
    const int pages = int(state.range(0));
    const QString deck = fixture().deck(pages);
    double ms = 0, kept = 0, growth = 0;
    for (auto _ : state) {
        std::vector<QImage> cache; // the old cache let no page go
        const double before = residentMiB();
        QElapsedTimer timer;
        timer.start();
        for (int page = 1; page <= pages; ++page) {
            QPdfDocument document;
            if (document.load(deck) != QPdfDocument::Error::None) {
                state.SkipWithError("cannot load the deck");
                return;
            }
            const QSize half = (document.pagePointSize(page - 1) * 0.5).toSize();
            cache.push_back(renderOntoWhite(document, page - 1, half));
        }
        state.PauseTiming();
        ms += double(timer.nsecsElapsed()) / 1e6;
        growth = residentMiB() - before;
        for (const QImage& image : cache)
            kept += double(image.sizeInBytes());
        state.ResumeTiming();
    }
    const double runs = double(state.iterations());
    state.counters["page_ms"] = ms / runs / pages;
    state.counters["every_page_MiB"] = kept / runs / kMiB;
    state.counters["resident_growth_MiB"] = growth;
}
BENCHMARK(BM_DeckOneDocumentPerPage)->Arg(100)->Arg(300)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_PdftoppmDeck(benchmark::State& state) {
    const int pages = int(state.range(0));
    const QString deck = fixture().deck(pages);
    // The pixel size the page cache renders this deck's pages at.
    const auto page = PDFHelper::GetImageOfPdfFile(fixture().slide(), 1);
    if (!page) {
        state.SkipWithError("no page rendered");
        return;
    }
    const QSize pixels = page->bitmap().size();
    double ms = 0;
    for (auto _ : state) {
        QTemporaryDir out;
        QProcess pdftoppm;
        QElapsedTimer timer;
        timer.start();
        pdftoppm.start(QStringLiteral("pdftoppm"),
                       {"-scale-to-x", QString::number(pixels.width()), "-scale-to-y",
                        QString::number(pixels.height()), deck, out.filePath("page")});
        if (!pdftoppm.waitForFinished(600000) || pdftoppm.exitCode() != 0) {
            state.SkipWithError("pdftoppm failed (scripts/setup installs poppler-utils)");
            return;
        }
        ms += double(timer.nsecsElapsed()) / 1e6;
    }
    state.counters["page_ms"] = ms / double(state.iterations()) / pages;
    state.counters["page_px_width"] = pixels.width();
}
BENCHMARK(BM_PdftoppmDeck)->Arg(100)->Arg(300)->Unit(benchmark::kMillisecond)->Iterations(2);

// Likeness of two pictures of one size: the peak signal-to-noise ratio over the colour channels, in dB.
double psnr(const QImage& a, const QImage& b) {
    double squares = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            for (const int d : {qRed(p) - qRed(q), qGreen(p) - qGreen(q), qBlue(p) - qBlue(q)})
                squares += double(d * d);
        }
    const double mean = squares / (3.0 * a.width() * a.height());
    return 10 * std::log10(255.0 * 255.0 / mean);
}

void BM_LanThumbnail(benchmark::State& state) {
    const bool dense = state.range(0) != 0;
    QPdfDocument document;
    if (!fixture().ok() || document.load(fixture().slide()) != QPdfDocument::Error::None) {
        state.SkipWithError("cannot load the slide");
        return;
    }
    const QSizeF half = document.pagePointSize(0) * 0.5;
    const QSize lan(kLanWidth, int(kLanWidth * half.height() / half.width()));
    const auto page = dense ? PDFHelper::GetImageOfPdfFile(fixture().slide(), 1)
                            : std::make_shared<Image>(renderOntoWhite(document, 0, half.toSize()), half);
    if (!page) {
        state.SkipWithError("no page rendered");
        return;
    }
    std::optional<QString> thumb;
    for (auto _ : state)
        thumb = PowerPointHelper::base64StringConvertedFromImage(page, float(lan.width()),
                                                                 float(lan.height()), 0.8f);
    const QImage jpeg =
        QImage::fromData(QByteArray::fromBase64(thumb.value_or(QString()).toLatin1()), "JPEG");
    state.counters["page_px_width"] = page->bitmap().width();
    state.counters["psnr_dB"] =
        psnr(jpeg.convertToFormat(QImage::Format_RGB32), renderOntoWhite(document, 0, lan));
}
BENCHMARK(BM_LanThumbnail)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_CachedPage(benchmark::State& state) {
    if (!fixture().ok() || !PDFHelper::GetImageOfPdfFile(fixture().slide(), 1)) {
        state.SkipWithError("no page rendered");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(PDFHelper::GetImageOfPdfFile(fixture().slide(), 1));
}
BENCHMARK(BM_CachedPage)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv); // fonts for the slide's text

    const std::string option = "--write-fixture=";
    if ((argc == 2 || argc == 3) && std::string(argv[1]).starts_with(option)) {
        if (!writeDeck(QString::fromLocal8Bit(argv[1] + option.size()), argc == 3 ? std::atoi(argv[2]) : 1))
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

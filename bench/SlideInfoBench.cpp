// A slide-information document built with both pages already rendered and cached: the LAN kind
// (800 wide, quality 0.8) and the cloud kind (300 wide, quality 0.4). The scripts answer from memory,
// so the figure is the bridge's own work: notes, page look-up, two resizes, two JPEG encodings, the
// document text.
#include "presentation/PDFHelper.h"
#include "presentation/PowerPointHelper.h"

#include "Fakes.h"
#include "TestBundle.h"

#include <QFile>
#include <QPainter>
#include <QPdfWriter>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

struct Deck {
    Deck() {
        bundle.makeMain();
        const QString pdf = dir.path() + "/deck.pdf";
        QPdfWriter writer(pdf);
        writer.setResolution(72);
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        writer.setPageSize(QPageSize(QSizeF(960, 540), QPageSize::Point, QString(), QPageSize::ExactMatch));
        QPainter painter(&writer);
        for (int i = 0; i < 3; ++i) {
            if (i)
                writer.newPage();
            painter.fillRect(QRectF(0, 0, 960, 540), QColor(30 * i, 90, 160));
            painter.drawText(QRectF(40, 40, 880, 460), QStringLiteral("Slide %1 with some text").arg(i + 1));
        }
        painter.end();
        scripts->answerText("getPdfPath", dir.path() + "/");
        scripts->answerText("isPptOpenOrNot", "/decks/talk.pptx");
        scripts->answerText("getPptCurrentPageNote", "The current slide's note, a sentence or two long.");
        scripts->answerText("getPptNextPageNote", "The next slide's note.");
        scripts->answerText("getPptAlternatePageNote", "");
        scripts->answerText("getPptCurrentSlideNumber", "2");
        scripts->answerText("getPptTotalSlideCount", "3");
        scripts->answerText("getPptWidth", "960");
        scripts->answerText("getPptHeight", "540");
        scripts->answerText("ppt2Pdf", pdf);
        helper = PowerPointHelper::create({scripts, std::make_shared<RecordingCommandRunner>(),
                                           std::make_shared<FakeHostFacts>(), Flavour::SlideWand, 1e9});
        helper->setIsAllowGeneratePDF(false);
        helper->refresh();
        // The cached PDF the export would have left, and both pages rendered once.
        QFile::copy(pdf, dir.path() + "/" + PowerPointHelper::pdfFileNameForDocument("/decks/talk.pptx"));
        helper->setIsAllowGeneratePDF(true);
        helper->refresh();
        helper->getSlideImg();
    }
    TestBundle bundle{{{"CFBundleIdentifier", "com.brisvane.PodiumCastForMac"}, {"CFBundleVersion", "100"}}};
    QTemporaryDir dir;
    std::shared_ptr<FakeScriptRunner> scripts = std::make_shared<FakeScriptRunner>();
    std::shared_ptr<PowerPointHelper> helper;
};

Deck& deck() {
    static Deck* d = new Deck;
    return *d;
}

void BM_WarmDocument(benchmark::State& state) {
    const bool isApi = state.range(0) != 0;
    auto& helper = *deck().helper;
    qint64 bytes = 0;
    for (auto _ : state) {
        // A new note each time, so that the stored document is never handed back unchanged.
        deck().scripts->answerText("getPptAlternatePageNote", QString::number(state.iterations()));
        bytes = helper.getSlideInfoString(isApi, 0).size();
    }
    state.counters["document_bytes"] = double(bytes);
}
BENCHMARK(BM_WarmDocument)->Arg(0)->Arg(1)->ArgNames({"cloud"})->Unit(benchmark::kMillisecond);

} // namespace

// What the bundle's PowerPoint scripts cost against LibreOffice Impress itself: one script run, the
// interpreter start-up inside it, one poll pass, one LAN slide-information document and the PDF export.
// Needs soffice, python3-uno and an X display, e.g.
//   xvfb-run -a build/bench/bench_impress --benchmark_min_time=2
#include "Fakes.h"
#include "ImpressProcess.h"
#include "Wait.h"
#include "platform/ProcessScriptRunner.h"
#include "presentation/PowerPointHelper.h"

#include <QFile>
#include <QGuiApplication>
#include <QPdfDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

const QString kResources = QStringLiteral(PC_BUNDLES_DIR "/PodiumCast.app/Contents/Resources");

[[noreturn]] void giveUp(const QString& why) {
    std::fprintf(stderr, "bench_impress: %s\n", qPrintable(why));
    std::exit(1);
}

// One office for the whole run, showing a deck of the given size in its slide show.
struct Office {
    Office() {
        if (const auto why = ImpressProcess::unavailable())
            giveUp(*why);
        if (!work.isValid() || !impress.start())
            giveUp(QStringLiteral("Impress did not start: ") + impress.log());
        qputenv("PODIUMCAST_IMPRESS_PIPE", impress.pipeName().toUtf8());
    }

    // Makes a deck of that many slides, opens it in front of the others and starts its show, unless
    // that deck is in front already.
    void show(int slides) {
        if (slides == shown)
            return;
        // A running show keeps its deck in front of any deck opened later.
        if (shown != 0)
            impress.fixture({"end-show"});
        shown = slides;
        const QString deck = work.path() + QStringLiteral("/deck%1.pptx").arg(slides);
        if (!impress.fixture({"make-deck", deck, QString::number(slides)}) ||
            !impress.fixture({"open", deck}))
            giveUp(QStringLiteral("no deck: ") + impress.log());
        QThread::msleep(400);
        if (runner.run(QStringLiteral("playPpt")).runError)
            giveUp(QStringLiteral("the show did not start"));
        QThread::msleep(400);
        impress.fixture({"show-next"});
    }

    QTemporaryDir work;
    ImpressProcess impress;
    platform::ProcessScriptRunner runner{kResources};
    int shown = 0;
};

std::unique_ptr<Office> sharedOffice;

Office& office() {
    if (!sharedOffice)
        sharedOffice = std::make_unique<Office>();
    return *sharedOffice;
}

void runProcess(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("/usr/bin/python3"), arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        giveUp(QStringLiteral("python3 ") + arguments.join(u' ') + QStringLiteral(" failed"));
}

// The interpreter alone, and the interpreter with the uno module loaded: the start-up every script
// run pays before it reaches the office.
void interpreterStart(benchmark::State& state) {
    for (auto _ : state)
        runProcess({QStringLiteral("-EsB"), QStringLiteral("-c"), QStringLiteral("pass")});
}

void interpreterWithUno(benchmark::State& state) {
    for (auto _ : state)
        runProcess({QStringLiteral("-EsB"), QStringLiteral("-c"), QStringLiteral("import uno")});
}

void scriptRun(benchmark::State& state, const char* name) {
    Office& shared = office();
    shared.show(6);
    for (auto _ : state) {
        const auto outcome = shared.runner.run(QString::fromLatin1(name));
        if (!outcome.result)
            giveUp(QString::fromLatin1(name) + QStringLiteral(" gave no result"));
    }
}

// The export of the whole deck, the file removed after each run.
void pdfExport(benchmark::State& state) {
    Office& shared = office();
    shared.show(int(state.range(0)));
    for (auto _ : state) {
        const auto outcome = shared.runner.run(QStringLiteral("ppt2Pdf"));
        if (!outcome.result || !outcome.result->stringValue())
            giveUp(QStringLiteral("ppt2Pdf gave no result"));
        state.PauseTiming();
        QPdfDocument pdf;
        if (pdf.load(*outcome.result->stringValue()) != QPdfDocument::Error::None ||
            pdf.pageCount() != state.range(0))
            giveUp(QStringLiteral("the PDF does not have a page per slide"));
        pdf.close();
        QFile::remove(*outcome.result->stringValue());
        state.ResumeTiming();
    }
}

// A bridge on the shipped scripts with the deck's PDF in its cache.
std::shared_ptr<PowerPointHelper> bridge() {
    auto helper = PowerPointHelper::create({std::make_shared<platform::ProcessScriptRunner>(kResources),
                                            std::make_shared<RecordingCommandRunner>(),
                                            std::make_shared<FakeHostFacts>(), Flavour::PodiumCast, 1e6});
    if (!waitUntil(
            [&] {
                const auto pdf = helper->activePdfPath();
                return pdf && QFile::exists(*pdf) && !helper->isGeneratingPdf();
            },
            120000))
        giveUp(QStringLiteral("the bridge exported no PDF"));
    return helper;
}

void pollPass(benchmark::State& state) {
    office().show(6);
    const auto helper = bridge();
    for (auto _ : state)
        helper->refresh();
}

void lanDocument(benchmark::State& state) {
    office().show(6);
    const auto helper = bridge();
    for (auto _ : state) {
        const QString document = helper->getSlideInfoString(false, 0);
        if (document.isEmpty())
            giveUp(QStringLiteral("no slide information"));
    }
}

} // namespace

// The work happens in other processes, so wall time decides the number of iterations.
BENCHMARK(interpreterStart)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(interpreterWithUno)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(scriptRun, isPptOpenOrNot, "isPptOpenOrNot")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(scriptRun, getPptCurrentSlideNote, "getPptCurrentSlideNote")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(pollPass)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(lanDocument)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(pdfExport)->Arg(6)->Arg(100)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) {
    // A private home for the run, as the tests have; the bridge's cache lies inside it.
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/.config")).toUtf8());
    qputenv("XDG_CACHE_HOME", (home.path() + QStringLiteral("/.cache")).toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    sharedOffice.reset();
    return 0;
}

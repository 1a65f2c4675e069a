// What one poll pass, one notes read and one slide-information build cost through the process script
// runner, answered by the fake presentation application: mostly the start of one script process per
// script run.
#include "platform/ProcessScriptRunner.h"
#include "presentation/PowerPointHelper.h"

#include "FakePresentation.h"
#include "Fakes.h"
#include "TestBundle.h"
#include "Wait.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdlib>

using App = FakePresentation::App;

namespace {

// A bridge on the fake's scripts with one document open in the given application, its PDF already
// exported, so that a pass only tests and finds the cached file.
struct Setup {
    explicit Setup(App app) {
        const QString document = work.path() + (app == App::PowerPoint ? "/deck.pptx" : "/talk.key");
        QFile file(document);
        if (!work.isValid() || !file.open(QIODevice::WriteOnly))
            std::abort();
        file.close();
        fake.setPdfPages(app, 3);
        fake.open(app, document);
        fake.setSlide(app, 2, 3);
        if (app == App::PowerPoint)
            fake.setPptSize(QStringLiteral("960"), QStringLiteral("540"));
        for (int slide = 1; slide <= 3; ++slide) {
            fake.setNote(app, slide,
                         QStringLiteral("Note of slide %1: \"quoted\"\tand\r\nmore — 讲稿").arg(slide));
            fake.setAlternateNote(app, slide, QStringLiteral("Alternate %1").arg(slide));
        }
        helper =
            PowerPointHelper::create({std::make_shared<platform::ProcessScriptRunner>(bundle.resourcesPath()),
                                      std::make_shared<RecordingCommandRunner>(),
                                      std::make_shared<FakeHostFacts>(), Flavour::PodiumCast, 1e6});
        // The first pass finds the document and starts the export, whose completion needs the main
        // loop.
        if (!waitUntil([&] {
                const auto pdf = helper->activePdfPath();
                return pdf && QFile::exists(*pdf) && !helper->isGeneratingPdf();
            }))
            std::abort();
        fake.clearRuns();
    }

    // Script runs per iteration, as the fake's log counted them.
    double scriptsPer(benchmark::IterationCount iterations) const {
        return iterations ? double(fake.runs().size()) / double(iterations) : 0;
    }

    QTemporaryDir work;
    TestBundle bundle{{}};
    FakePresentation fake{bundle};
    std::shared_ptr<PowerPointHelper> helper;
};

void pollPass(benchmark::State& state, App app) {
    Setup setup(app);
    for (auto _ : state)
        setup.helper->refresh();
    state.counters["scripts"] = setup.scriptsPer(state.iterations());
}

void slideNotes(benchmark::State& state, App app) {
    Setup setup(app);
    for (auto _ : state) {
        setup.helper->getSlideNotes();
        benchmark::DoNotOptimize(setup.helper->currentSlideNote());
    }
    state.counters["scripts"] = setup.scriptsPer(state.iterations());
}

// One build of both documents with the slide show running, as a push makes it after its poll pass:
// notes, slide number and count, both pages, the size, two documents.
void slideInfoBuild(benchmark::State& state, App app) {
    Setup setup(app);
    setup.fake.setPlaying(app, true);
    setup.fake.clearRuns();
    for (auto _ : state) {
        const auto documents = setup.helper->getSlideInfoStrings(0);
        if (documents.lan.isEmpty())
            std::abort();
    }
    state.counters["scripts"] = setup.scriptsPer(state.iterations());
}

} // namespace

// The work happens in the script processes, so wall time decides the number of iterations.
BENCHMARK_CAPTURE(pollPass, PowerPoint, App::PowerPoint)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(pollPass, Keynote, App::Keynote)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(slideNotes, PowerPoint, App::PowerPoint)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(slideNotes, Keynote, App::Keynote)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(slideInfoBuild, PowerPoint, App::PowerPoint)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(slideInfoBuild, Keynote, App::Keynote)->Unit(benchmark::kMillisecond)->UseRealTime();

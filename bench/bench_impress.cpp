// What the bundle's PowerPoint scripts cost against LibreOffice Impress itself, each through the resident
// bridge and, as the baseline in the same run, on their own as before (a Python and a UNO connection for
// every run, what a script still does where the user has no runtime folder): one script run (its median),
// the interpreter start-up inside a run on its own, one poll pass with the processor time it costs, one
// LAN slide-information document and one push (both documents) with the show running, a push after the
// show moved, and the export.
// Needs soffice, python3-uno and an X display, e.g.
//   xvfb-run -a build/bench/bench_impress --benchmark_min_time=2
#include "Fakes.h"
#include "ImpressProcess.h"
#include "Wait.h"
#include "platform/ProcessScriptRunner.h"
#include "presentation/PowerPointHelper.h"
#include "remote/SWDMacNetworkManager.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QPdfDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

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
        const QString deck = work.path() + QStringLiteral("/deck%1-%2.pptx").arg(slides).arg(++decks);
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
    int decks = 0; // each deck a file of its own: a deck made again would overwrite one that is open
};

std::unique_ptr<Office> sharedOffice;

// How the scripts run: on their own, or through the bridge in the run's runtime folder.
enum class Mode { OnItsOwn, Bridge };
QString runtimeFolder;

void use(Mode mode) {
    if (mode == Mode::Bridge)
        qputenv("XDG_RUNTIME_DIR", runtimeFolder.toUtf8());
    else
        qunsetenv("XDG_RUNTIME_DIR");
}

// User and system time of a process in milliseconds, from /proc/<pid>/stat; 0 when it is gone.
double cpuMsOf(const QString& statPath, pid_t* group = nullptr) {
    QFile file(statPath);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray stat = file.readAll();
    // The fields after the command name, which is in parentheses and may hold blanks.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    if (group)
        *group = pid_t(fields[2].toInt());
    return double(fields[11].toLongLong() + fields[12].toLongLong()) * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

// This process with the script processes it waited for, and the bridge serving the office's pipe.
double ownCpuMs(Mode mode) {
    rusage self{}, children{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    const auto ms = [](const timeval& t) {
        return double(t.tv_sec) * 1000.0 + double(t.tv_usec) / 1000.0;
    };
    double total = ms(self.ru_utime) + ms(self.ru_stime) + ms(children.ru_utime) + ms(children.ru_stime);
    if (mode == Mode::Bridge) {
        QFile lock(runtimeFolder + QStringLiteral("/podiumcast/impress-%1.sock.lock")
                                       .arg(QString::fromUtf8(qgetenv("PODIUMCAST_IMPRESS_PIPE"))));
        if (lock.open(QIODevice::ReadOnly))
            total += cpuMsOf(QStringLiteral("/proc/%1/stat").arg(lock.readAll().trimmed().toInt()));
    }
    return total;
}

// Every process of the office's group.
double officeCpuMs(pid_t officeGroup) {
    double total = 0;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        pid_t group = 0;
        const double ms = cpuMsOf(QStringLiteral("/proc/") + entry + QStringLiteral("/stat"), &group);
        if (group == officeGroup)
            total += ms;
    }
    return total;
}

void reportMedian(benchmark::State& state, std::vector<double>& ms) {
    std::sort(ms.begin(), ms.end());
    if (!ms.empty())
        state.counters["median_ms"] = ms[ms.size() / 2];
}

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

void scriptRun(benchmark::State& state, const char* name, Mode mode) {
    use(mode);
    Office& shared = office();
    shared.show(6);
    shared.runner.run(QString::fromLatin1(name)); // a bridge starting is not one run's cost
    std::vector<double> ms;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        const auto outcome = shared.runner.run(QString::fromLatin1(name));
        ms.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (!outcome.result)
            giveUp(QString::fromLatin1(name) + QStringLiteral(" gave no result"));
    }
    reportMedian(state, ms);
}

// The export of the whole deck, the file removed after each run.
void pdfExport(benchmark::State& state) {
    use(Mode::Bridge);
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

// One poll pass, and the processor time it costs: the program, its script processes and the bridge, and
// apart from them the office answering. The poll runs every 5 s.
void pollPass(benchmark::State& state, Mode mode) {
    use(mode);
    office().show(6);
    const auto helper = bridge();
    helper->refresh();
    const double cpuBefore = ownCpuMs(mode);
    const double officeBefore = officeCpuMs(office().impress.processGroup());
    std::vector<double> ms;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        helper->refresh();
        ms.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    const double passes = double(state.iterations());
    const double cpu = (ownCpuMs(mode) - cpuBefore) / passes;
    state.counters["cpu_ms_per_pass"] = cpu;
    state.counters["core_percent_at_5s"] = cpu / 5000.0 * 100.0;
    state.counters["office_cpu_ms_per_pass"] =
        (officeCpuMs(office().impress.processGroup()) - officeBefore) / passes;
    reportMedian(state, ms);
}

void lanDocument(benchmark::State& state, Mode mode) {
    use(mode);
    office().show(6);
    const auto helper = bridge();
    std::vector<double> ms;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        const QString document = helper->getSlideInfoString(false, 0);
        ms.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (document.isEmpty())
            giveUp(QStringLiteral("no slide information"));
    }
    reportMedian(state, ms);
}

// What a push does on its background thread: a poll pass and both documents. Before, two builds each
// read the presentation; now one reading makes both.
void push(benchmark::State& state, Mode mode, bool oneReading) {
    use(mode);
    office().show(6);
    const auto helper = bridge();
    std::vector<double> ms;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        helper->refresh();
        const double now = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
        QString cloud;
        if (oneReading) {
            cloud = helper->getSlideInfoStrings(now).api;
        } else {
            helper->getSlideInfoString(false, now);
            cloud = helper->getSlideInfoString(true, now);
        }
        ms.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (cloud.isEmpty())
            giveUp(QStringLiteral("no slide information"));
    }
    reportMedian(state, ms);
}

// A push after a command moved the show, from the move to both documents: the poll pass, then before a
// fixed settle of 200 ms, now the wait until the presentation shows another slide than the last build
// read, then the build. The office's own controller moves the show, so the time Impress takes to move
// on a key press is in neither figure.
void pushAfterMove(benchmark::State& state, bool settle) {
    use(Mode::Bridge);
    office().show(40);
    const auto helper = bridge();
    helper->getSlideInfoStrings(0); // the build of the command before
    std::vector<double> ms;
    for (auto _ : state) {
        state.PauseTiming();
        if (!office().impress.fixture({QStringLiteral("show-next")}))
            giveUp(QStringLiteral("the show did not move: ") + office().impress.log());
        state.ResumeTiming();
        QElapsedTimer timer;
        timer.start();
        helper->refresh();
        std::optional<PowerPointHelper::SlideView> shown;
        if (settle)
            QThread::msleep(200);
        else
            shown = helper->waitForSlideChange(std::chrono::steady_clock::now() +
                                               SWDMacNetworkManager::kSlideChangeWait);
        const double now = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
        const QString cloud = helper->getSlideInfoStrings(now, shown).api;
        ms.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (cloud.isEmpty() ||
            (shown && helper->currentSlideNote() != QStringLiteral("Note of slide %1").arg(shown->index)))
            giveUp(QStringLiteral("no slide information of the new slide"));
    }
    reportMedian(state, ms);
}

} // namespace

// The work happens in other processes, so wall time decides the number of iterations. The scripts on
// their own run last: each leaves a UNO connection behind for the office to clean up, which slows the
// office's later answers for a while.
BENCHMARK(interpreterStart)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(interpreterWithUno)->Unit(benchmark::kMillisecond)->UseRealTime();
// The floor of any script run: the runner starting a shell script that prints "no".
BENCHMARK_CAPTURE(scriptRun, isKeynoteOpenOrNot_shellScript, "isKeynoteOpenOrNot", Mode::Bridge)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(scriptRun, isPptOpenOrNot_bridge, "isPptOpenOrNot", Mode::Bridge)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(scriptRun, getPptCurrentSlideNote_bridge, "getPptCurrentSlideNote", Mode::Bridge)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(pollPass, bridge, Mode::Bridge)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(lanDocument, bridge, Mode::Bridge)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(push, bridge_oneReading, Mode::Bridge, true)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(pushAfterMove, settle200ms, true)
    ->Iterations(12)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(pushAfterMove, waitForTheSlide, false)
    ->Iterations(12)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(pdfExport)->Arg(6)->Arg(100)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(scriptRun, isPptOpenOrNot_onItsOwn, "isPptOpenOrNot", Mode::OnItsOwn)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(scriptRun, getPptCurrentSlideNote_onItsOwn, "getPptCurrentSlideNote", Mode::OnItsOwn)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(pollPass, onItsOwn, Mode::OnItsOwn)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(lanDocument, onItsOwn, Mode::OnItsOwn)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(push, onItsOwn_twoBuilds, Mode::OnItsOwn, false)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

int main(int argc, char** argv) {
    // A private home for the run, as the tests have; the bridge's cache lies inside it.
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/.config")).toUtf8());
    qputenv("XDG_CACHE_HOME", (home.path() + QStringLiteral("/.cache")).toUtf8());
    runtimeFolder = home.path() + QStringLiteral("/run");
    QDir().mkdir(runtimeFolder);
    QFile::setPermissions(runtimeFolder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
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

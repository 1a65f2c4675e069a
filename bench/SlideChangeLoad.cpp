// The application on the path a user has, with LibreOffice Impress: how long the phone waits from its
// next-slide command until the LAN slide-information document shows the next slide, and how much
// processor time the application takes while it sits idle with a deck open.
//
// The real bundle executable runs in a copy of the built PodiumCast bundle with free ports, a home, a
// session bus and a runtime folder of its own, its main window remembered (as the system tests start
// it), against an office of the run's own on its own UNO pipe. The phone is this process's sockets in a
// network namespace joined to this machine by a veth pair (or on loopback where no namespace can be
// made): it pairs, starts the show and sends "<id>|cmd|{DOWN}", then asks the LAN port for the document
// every few milliseconds on one kept-alive connection until its Note is the next slide's (the decks'
// slides each have a note of their own). Beside each figure its reference from the same run: the GET
// alone, and one push's build alone (the poll pass and both documents, without the wait for the slide
// change) on the same bridge.
//
// The idle figure reads from /proc, before and after, the processor time of the application, of its
// child processes (scripts ended, and those still running), and of the resident bridge that the
// scripts started (not a child of the application once it runs on its own: found by the lock file
// beside its socket), beside the office's own time over the same interval.
//
// Each wait is bounded; SIGINT and SIGTERM end the run early with everything it started. Run through
// bench/impress-load.sh, which starts the X server and removes whatever is left.
//
//   bench_slide_change [--decks 20,300] [--presses N] [--idle-seconds S] [--poll-ms MS] [--pause-ms MS]
//                      [--gets N] [--builds N] [--loopback]
#include "Fakes.h"
#include "ImpressProcess.h"
#include "SystemTestSupport.h"
#include "TestBundle.h"
#include "platform/ProcessScriptRunner.h"
#include "presentation/PowerPointHelper.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QRandomGenerator>
#include <QThread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// ---- Ending early ----------------------------------------------------------------------------------

std::atomic<bool> stopAsked{false};

void askStop(int) {
    stopAsked = true;
}

// Thrown where the run notices SIGINT or SIGTERM; the objects on the way out end what they started.
struct Stopped {};

// Thrown when the run cannot go on: the reason.
struct Failed {
    std::string why;
};

void checkStop() {
    if (stopAsked)
        throw Stopped{};
}

[[noreturn]] void fail(const QString& why) {
    throw Failed{why.toStdString()};
}

// Sleeps for the time given, running the event loop (the processes' output is read there) every 50 ms.
void pause(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        checkStop();
        QCoreApplication::processEvents();
        QThread::msleep(std::clamp<qint64>(ms - timer.elapsed(), 0, 50));
    }
}

// Asks until the condition holds, every stepMs, at most limitMs; whether it holds.
bool waitFor(const std::function<bool()>& done, int limitMs, int stepMs = 100) {
    QElapsedTimer timer;
    timer.start();
    while (true) {
        if (done())
            return true;
        if (timer.elapsed() >= limitMs)
            return false;
        pause(stepMs);
    }
}

// ---- Figures ---------------------------------------------------------------------------------------

// The nearest-rank percentile of the samples.
double percentile(std::vector<double> samples, double p) {
    if (samples.empty())
        return std::nan("");
    std::sort(samples.begin(), samples.end());
    const auto rank = size_t(std::ceil(p / 100.0 * double(samples.size())));
    return samples[std::clamp<size_t>(rank, 1, samples.size()) - 1];
}

double maximum(const std::vector<double>& samples) {
    return samples.empty() ? std::nan("") : *std::max_element(samples.begin(), samples.end());
}

// ---- The phone -------------------------------------------------------------------------------------

// A socket made inside the network namespace whose file is given (-1: this process's own namespace). The
// calling thread enters the namespace for the call only; the socket stays in it.
int socketIn(int namespaceFile, int type) {
    if (namespaceFile < 0)
        return ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    const int own = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    if (own < 0 || ::setns(namespaceFile, CLONE_NEWNET) != 0) {
        if (own >= 0)
            ::close(own);
        return -1;
    }
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (::setns(own, CLONE_NEWNET) != 0) {
        // This thread would stay in the phone's namespace: nothing of the run can go on.
        std::fprintf(stderr, "bench_slide_change: cannot leave the phone's namespace: %s\n",
                     std::strerror(errno));
        std::_Exit(1);
    }
    ::close(own);
    return fd;
}

sockaddr_in endpoint(const QString& address, quint16 port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    ::inet_pton(AF_INET, address.toLatin1().constData(), &to.sin_addr);
    return to;
}

// The phone's sockets: datagrams to the computer's command port from the phone's connect port (where the
// confirmation of a pairing arrives), and HTTP GETs on one kept-alive connection to the LAN port.
class Phone {
public:
    Phone(const QString& namespaceName, const QString& computer, quint16 commandPort, quint16 connectPort,
          quint16 lanInfoPort)
        : computer_(computer)
        , command_(endpoint(computer, commandPort))
        , lanInfo_(endpoint(computer, lanInfoPort)) {
        if (!namespaceName.isEmpty()) {
            namespaceFile_ =
                ::open(("/run/netns/" + namespaceName).toLocal8Bit().constData(), O_RDONLY | O_CLOEXEC);
            if (namespaceFile_ < 0)
                fail("cannot open the phone's namespace " + namespaceName + ": " + std::strerror(errno));
        }
        udp_ = socketIn(namespaceFile_, SOCK_DGRAM);
        const sockaddr_in local = endpoint(
            namespaceName.isEmpty() ? QStringLiteral("127.0.0.1") : QStringLiteral("0.0.0.0"), connectPort);
        if (udp_ < 0 || ::bind(udp_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
            fail(QStringLiteral("the phone cannot bind its connect port: ") + std::strerror(errno));
    }
    ~Phone() {
        closeHttp();
        if (udp_ >= 0)
            ::close(udp_);
        if (namespaceFile_ >= 0)
            ::close(namespaceFile_);
    }
    Phone(const Phone&) = delete;
    Phone& operator=(const Phone&) = delete;

    void send(const QString& text) {
        const QByteArray bytes = text.toUtf8();
        if (::sendto(udp_, bytes.constData(), size_t(bytes.size()), 0,
                     reinterpret_cast<const sockaddr*>(&command_), sizeof command_) != bytes.size())
            fail(QStringLiteral("the phone cannot send: ") + std::strerror(errno));
    }

    // The next datagram at the connect port within the time given.
    std::optional<QByteArray> receive(int limitMs) {
        pollfd ready{udp_, POLLIN, 0};
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < limitMs) {
            checkStop();
            if (::poll(&ready, 1, 100) == 1) {
                char buffer[2048];
                const ssize_t got = ::recv(udp_, buffer, sizeof buffer, 0);
                if (got >= 0)
                    return QByteArray(buffer, qsizetype(got));
            }
        }
        return std::nullopt;
    }

    // The body of one GET on the kept connection (made again when the server closed it), or nothing when
    // no answer came whole within 10 s.
    std::optional<QByteArray> get() {
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (http_ < 0 && !connectHttp())
                return std::nullopt;
            if (auto body = exchange())
                return body;
            closeHttp(); // closed by the server after its idle time, or broken: once more on a new one
        }
        return std::nullopt;
    }

private:
    bool connectHttp() {
        http_ = socketIn(namespaceFile_, SOCK_STREAM);
        const int on = 1;
        if (http_ < 0 || ::setsockopt(http_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0 ||
            ::connect(http_, reinterpret_cast<const sockaddr*>(&lanInfo_), sizeof lanInfo_) != 0) {
            closeHttp();
            return false;
        }
        received_.clear();
        return true;
    }

    void closeHttp() {
        if (http_ >= 0)
            ::close(http_);
        http_ = -1;
    }

    // Reads more of the answer, waiting at most until the deadline.
    bool readMore(Clock::time_point deadline) {
        pollfd ready{http_, POLLIN, 0};
        const int waitMs = int(std::max(0.0, msBetween(Clock::now(), deadline)));
        if (::poll(&ready, 1, waitMs) != 1)
            return false;
        char buffer[65536];
        const ssize_t got = ::recv(http_, buffer, sizeof buffer, 0);
        if (got <= 0)
            return false;
        received_.append(buffer, qsizetype(got));
        return true;
    }

    std::optional<QByteArray> exchange() {
        const QByteArray request =
            "GET / HTTP/1.1\r\nHost: " + computer_.toLatin1() + "\r\nAccept: */*\r\n\r\n";
        if (::send(http_, request.constData(), size_t(request.size()), MSG_NOSIGNAL) != request.size())
            return std::nullopt;
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        qsizetype headEnd;
        while ((headEnd = received_.indexOf("\r\n\r\n")) < 0)
            if (!readMore(deadline))
                return std::nullopt;
        const QByteArray head = received_.left(headEnd).toLower();
        const qsizetype field = head.indexOf("\r\ncontent-length:");
        if (!head.startsWith("http/1.1 200") || field < 0)
            return std::nullopt;
        const qsizetype valueStart = field + qsizetype(std::strlen("\r\ncontent-length:"));
        const qsizetype valueEnd = head.indexOf("\r\n", valueStart);
        const qsizetype length =
            head.mid(valueStart, valueEnd < 0 ? -1 : valueEnd - valueStart).trimmed().toLongLong();
        while (received_.size() < headEnd + 4 + length)
            if (!readMore(deadline))
                return std::nullopt;
        QByteArray body = received_.mid(headEnd + 4, length);
        received_.remove(0, headEnd + 4 + length);
        if (head.contains("\r\nconnection: close"))
            closeHttp();
        return body;
    }

    QString computer_;
    sockaddr_in command_, lanInfo_;
    int namespaceFile_ = -1;
    int udp_ = -1;
    int http_ = -1;
    QByteArray received_;
};

// The slide whose note the document shows as its Note ("Note of slide n"), 0 when it shows none.
int noteSlide(const QByteArray& document) {
    static const QByteArray marker = "\"Note\":\"Note of slide ";
    const qsizetype at = document.indexOf(marker);
    if (at < 0)
        return 0;
    int slide = 0;
    for (qsizetype i = at + marker.size(); i < document.size() && std::isdigit(uchar(document[i])); ++i)
        slide = slide * 10 + (document[i] - '0');
    return slide;
}

// The name of the window that has the keyboard focus on the X display, where the key presses go.
QString focusedWindow() {
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"), {"getwindowfocus", "getwindowname"});
    if (!xdotool.waitForFinished(5000) || xdotool.exitCode() != 0)
        return QStringLiteral("(xdotool cannot tell)");
    return QString::fromUtf8(xdotool.readAllStandardOutput()).trimmed();
}

// ---- Processor time from /proc ---------------------------------------------------------------------

struct ProcStat {
    pid_t parent = 0;
    pid_t group = 0;
    QByteArray name;
    // utime + stime, and cutime + cstime (the children it waited for), in clock ticks.
    long long own = 0;
    long long waitedChildren = 0;
};

std::optional<ProcStat> readStat(const QString& pid) {
    QFile file("/proc/" + pid + "/stat");
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray stat = file.readAll();
    const qsizetype open = stat.indexOf('('), close = stat.lastIndexOf(')');
    if (open < 0 || close < open)
        return std::nullopt;
    // The fields after the command name, which is in parentheses and may hold blanks: state is [0].
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    if (fields.size() < 15)
        return std::nullopt;
    return ProcStat{pid_t(fields[1].toInt()), pid_t(fields[2].toInt()), stat.mid(open + 1, close - open - 1),
                    fields[11].toLongLong() + fields[12].toLongLong(),
                    fields[13].toLongLong() + fields[14].toLongLong()};
}

using Processes = std::map<pid_t, ProcStat>;

Processes allProcesses() {
    Processes all;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const int pid = entry.toInt(&number);
        if (number)
            if (auto stat = readStat(entry))
                all.emplace(pid_t(pid), std::move(*stat));
    }
    return all;
}

// The ticks of a process and every descendant: its own, those of the children it waited for, and those of
// the descendants still running (which go into its waited-for figure when they end).
long long treeTicks(const Processes& all, pid_t root) {
    const auto found = all.find(root);
    if (found == all.end())
        return 0;
    long long ticks = found->second.own + found->second.waitedChildren;
    for (const auto& [pid, stat] : all)
        if (stat.parent == root && pid != root)
            ticks += treeTicks(all, pid);
    return ticks;
}

double ticksToMs(long long ticks) {
    return double(ticks) * 1000.0 / double(::sysconf(_SC_CLK_TCK));
}

// The resident bridge serving the application's runtime folder and the office's pipe: the process whose
// id its lock file holds, when that process runs the bridge.
pid_t bridgeProcess(const QString& runtimeFolder, const QString& pipe) {
    QFile lock(runtimeFolder + "/podiumcast/impress-" + pipe + ".sock.lock");
    if (!lock.open(QIODevice::ReadOnly))
        return 0;
    const pid_t pid = pid_t(lock.readAll().trimmed().toInt());
    QFile commandLine("/proc/" + QString::number(pid) + "/cmdline");
    if (pid <= 0 || !commandLine.open(QIODevice::ReadOnly) ||
        !commandLine.readAll().contains("impress_bridge.py"))
        return 0;
    return pid;
}

struct CpuReading {
    Clock::time_point at;
    long long app = 0;      // the application's own
    long long children = 0; // its child processes, ended and running
    long long bridge = 0;
    long long office = 0;
    pid_t bridgePid = 0;
};

CpuReading readCpu(pid_t app, pid_t bridge, pid_t officeGroup) {
    const Processes all = allProcesses();
    CpuReading reading;
    reading.at = Clock::now();
    if (const auto found = all.find(app); found != all.end()) {
        reading.app = found->second.own;
        reading.children = treeTicks(all, app) - found->second.own;
    }
    reading.bridgePid = bridge;
    reading.bridge = bridge > 0 ? treeTicks(all, bridge) : 0;
    // The office's processes; the test support's watcher shell shares their group and is left out.
    for (const auto& [pid, stat] : all)
        if (stat.group == officeGroup && (stat.name.startsWith("soffice") || stat.name == "oosplash"))
            reading.office += stat.own + stat.waitedChildren;
    return reading;
}

// ---- The run ---------------------------------------------------------------------------------------

// Impress loses show starts and key presses that follow an opened document or each other too closely.
constexpr int kSettleMs = 400;

struct Options {
    std::vector<int> decks{20, 300};
    int presses = 30;
    int idleSeconds = 60;
    int pollMs = 5;
    int pauseMs = 600; // between presses: 0.5 to 1.5 times this, at random
    int gets = 40;
    int builds = 10;
    bool loopback = false;
};

struct DeckFigures {
    int slides = 0;
    std::vector<double> commandToDocument;
    int lostKeys = 0;            // timed presses after which the show did not move
    int starts = 0;              // show starts, each followed by a press that is not timed
    int firstLost = 0;           // of those presses, the ones after which the show did not move
    int restartsWithoutKeys = 0; // starts again after a show took none of several presses
    int staleDocuments = 0;      // presses after which the show moved and the document did not follow in 10 s
    std::vector<double> getAlone;
    std::vector<double> buildAlone;
    qsizetype documentBytes = 0;
};

struct IdleFigures {
    QString state;
    double seconds = 0;
    double appMs = 0, childrenMs = 0, bridgeMs = 0, officeMs = 0;
    QString note;
};

class Run {
public:
    explicit Run(const Options& options)
        : options_(options) {}

    // Starts the office, makes the decks (before the application runs, whose poll would otherwise export
    // each deck the fixture is making), starts the application and pairs the phone.
    void start(const std::vector<int>& decks) {
        if (const auto why = ImpressProcess::unavailable())
            fail(*why);
        if (!options_.loopback) {
            phoneHost_ = std::make_unique<PhoneNamespace>();
            if (!phoneHost_->ready())
                fail("no network namespace for the phone (" + phoneHost_->error() +
                     "); --loopback runs without");
        }
        if (!work_.isValid() || !impress_.start())
            fail("LibreOffice did not start: " + impress_.log());
        for (const int slides : decks) {
            const QString path = work_.path() + QStringLiteral("/deck%1.pptx").arg(slides);
            QElapsedTimer timer;
            timer.start();
            if (!impress_.fixture({"make-deck", path, QString::number(slides)}, 300000))
                fail("no deck of " + QString::number(slides) + " slides: " + impress_.log());
            deckPaths_[slides] = path;
            std::printf("deck of %d slides made in %.1f s\n", slides, double(timer.elapsed()) / 1000.0);
        }
        host_.setEnvironment("PODIUMCAST_IMPRESS_PIPE", impress_.pipeName());
        QDir().mkpath(host_.homePath() + "/tmp");
        host_.setEnvironment("TMPDIR", host_.homePath() + "/tmp");
        host_.setOutputFile(work_.path() + "/application.log");
        if (!host_.start())
            fail("the application did not start:\n" + tail(host_.output()));
        const QString computer = phoneHost_ ? phoneHost_->computerAddress() : QStringLiteral("127.0.0.1");
        phone_ = std::make_unique<Phone>(
            phoneHost_ ? phoneHost_->name() : QString(), computer, quint16(host_.port("CommandPort")),
            quint16(host_.port("ConnectPort")), quint16(host_.port("LanInfoPort")));
        phone_->send(nextId() + "|connect|A,Phone A");
        if (phone_->receive(10000).value_or(QByteArray()) != QByteArrayLiteral("Confirm"))
            fail("the phone was not paired:\n" + tail(host_.output()));
        std::printf("application pid %lld, ports command %lld, LAN document %lld; phone at %s%s\n",
                    static_cast<long long>(host_.processId()),
                    static_cast<long long>(host_.port("CommandPort")),
                    static_cast<long long>(host_.port("LanInfoPort")), qPrintable(computer),
                    phoneHost_ ? " (a namespace of its own, veth)" : " (loopback)");
        std::fflush(stdout);
    }

    // Brings the deck in front, in the editing view, its PDF exported by the application.
    void bringInFront(int slides) {
        if (shownDeck_ == slides)
            return;
        if (showRunning_)
            endShow();
        QElapsedTimer timer;
        timer.start();
        const QString path = deckPaths_.at(slides);
        if (!impress_.fixture({"open", path}))
            fail("the deck did not open: " + impress_.log());
        shownDeck_ = slides;
        pause(kSettleMs);
        // The application exports each deck once, on its poll, into its PDF cache; until then its bridge
        // is busy exporting.
        const QString pdf =
            host_.homePath() + "/.cache/PodiumCast/pdf/" + PowerPointHelper::pdfFileNameForDocument(path);
        if (!waitFor([&] { return QFile::exists(pdf); }, 300000, 250))
            fail("the application exported no PDF of the deck:\n" + tail(host_.output()));
        std::printf(
            "deck of %d slides opened, its PDF exported by the application %.1f s after the opening\n",
            slides, double(timer.elapsed()) / 1000.0);
        std::fflush(stdout);
    }

    // The phone starts the show of the deck in front; returns once the show and the LAN document are on
    // the first slide. The office is asked seldom meanwhile: a show starting is slow to take key presses,
    // and now and then takes none, when other clients query the office meanwhile.
    void startShow() {
        bool started = false;
        for (int attempt = 0; attempt < 3 && !started; ++attempt) {
            pause(kSettleMs);
            phone_->send(nextId() + "|start|");
            started = waitFor([&] { return showState().startsWith("1 1 "); }, 20000, 1000);
        }
        if (!started)
            fail("the phone's start did not start the show: " + showState() + "\n" + tail(host_.output()));
        showRunning_ = true;
        if (!waitFor([&] { return noteSlide(phone_->get().value_or(QByteArray())) == 1; }, 30000))
            fail("the LAN document never showed the first slide:\n" + tail(host_.output()));
    }

    void endShow() {
        if (!impress_.fixture({"end-show"}))
            fail("the show did not end: " + impress_.log());
        showRunning_ = false;
        pause(kSettleMs);
    }

    DeckFigures slideChanges(int slides) {
        DeckFigures figures;
        figures.slides = slides;
        bringInFront(slides);
        int shown = 0; // the slide of the show, as the document says
        for (int tries = 0; int(figures.commandToDocument.size()) < options_.presses; ++tries) {
            if (tries > 2 * options_.presses + 10)
                fail(QStringLiteral("too many presses lost: %1 lost, %2 stale")
                         .arg(figures.lostKeys)
                         .arg(figures.staleDocuments));
            const auto missed = [&](const Press& pressed, int from, bool first) {
                ++(pressed.showMoved ? figures.staleDocuments : first ? figures.firstLost : figures.lostKeys);
                std::fprintf(stderr,
                             "\n%3d slides: the press on slide %d %s (the show: %s; keyboard focus: %s)\n",
                             slides, from,
                             pressed.showMoved ? "moved the show, and no document showed the next slide"
                                               : "did not move the show within 3 s",
                             qPrintable(pressed.show), qPrintable(focusedWindow()));
            };
            if (shown == 0 || shown >= slides) {
                shown = startForPresses(figures, missed);
                continue;
            }
            const int pauseMs =
                int(QRandomGenerator::global()->bounded(options_.pauseMs / 2, options_.pauseMs * 3 / 2 + 1));
            pause(pauseMs);
            const auto pressed = press(shown);
            if (pressed.document) {
                figures.commandToDocument.push_back(*pressed.document);
                ++shown;
            } else {
                missed(pressed, shown, false);
                if (pressed.showMoved)
                    shown = 0; // start over: the document is not to be trusted
            }
            std::fprintf(stderr, "\r%3d slides: %zu of %d presses", slides, figures.commandToDocument.size(),
                         options_.presses);
        }
        std::fprintf(stderr, "\n");
        references(figures);
        return figures;
    }

    // At the end of the deck (or before the first press): the phone starts the show again from its first
    // slide. A show just started drops key presses for a while (seconds, on a deck of hundreds of slides,
    // with the office idle meanwhile), and now and then it takes none at all until it starts again: the
    // phone presses until the show moves, and starts it again after a few presses in vain. None of these
    // presses is timed. Returns the slide shown after them, 0 when the document did not follow.
    template <typename Missed> int startForPresses(DeckFigures& figures, const Missed& missed) {
        for (int start = 0; start < 4; ++start) {
            if (showRunning_)
                endShow();
            startShow();
            ++figures.starts;
            Press first;
            for (int attempt = 0; attempt < 6 && !first.document && !first.showMoved; ++attempt) {
                pause(kSettleMs);
                first = press(1);
                if (!first.document)
                    missed(first, 1, true);
            }
            if (first.document)
                return 2;
            if (first.showMoved)
                return 0;
            ++figures.restartsWithoutKeys;
        }
        fail(QStringLiteral("the show took no key press after %1 starts").arg(figures.starts));
    }

    IdleFigures idle(int slides, bool inShow) {
        bringInFront(slides);
        if (inShow && !showRunning_)
            startShow();
        if (!inShow && showRunning_)
            endShow();
        // What the change set going (a push, the poll noticing the new state) is over by then.
        pause(10000);
        const auto officeGroup = impress_.processGroup();
        const auto app = pid_t(host_.processId());
        const QString runtime = host_.homePath() + "/run";
        const pid_t bridge = bridgeProcess(runtime, impress_.pipeName());
        const CpuReading before = readCpu(app, bridge, officeGroup);
        pause(options_.idleSeconds * 1000);
        const CpuReading after = readCpu(app, bridge, officeGroup);
        IdleFigures figures;
        figures.state = QStringLiteral("deck of %1 slides in front, %2")
                            .arg(slides)
                            .arg(inShow ? "in its slide show" : "editing view (no show)");
        figures.seconds = msBetween(before.at, after.at) / 1000.0;
        figures.appMs = ticksToMs(after.app - before.app);
        figures.childrenMs = ticksToMs(after.children - before.children);
        figures.bridgeMs = ticksToMs(after.bridge - before.bridge);
        figures.officeMs = ticksToMs(after.office - before.office);
        const pid_t bridgeAfter = bridgeProcess(runtime, impress_.pipeName());
        if (bridge == 0)
            figures.note = QStringLiteral("no resident bridge ran at the start");
        else if (bridgeAfter != bridge)
            figures.note =
                QStringLiteral(
                    "the bridge changed during the interval (pid %1, then %2): its figure is incomplete")
                    .arg(bridge)
                    .arg(bridgeAfter);
        else
            figures.note = QStringLiteral("bridge pid %1").arg(bridge);
        return figures;
    }

    int finish() {
        phone_.reset();
        const int status = host_.terminate(10000);
        if (status != 0)
            std::fprintf(stderr, "the application ended with %d:\n%s\n", status,
                         qPrintable(tail(host_.output())));
        return status;
    }

private:
    struct Press {
        std::optional<double> document; // ms from the command to the document that shows the next slide
        bool showMoved = false;
        QString show; // what the office said of the show when the document did not change
    };

    // One next-slide command while the show and the document are on the slide given: the time until a GET
    // brings the next slide's Note.
    Press press(int from) {
        Press result;
        const QString command = nextId() + "|cmd|{DOWN}";
        QElapsedTimer events;
        events.start();
        const auto sent = Clock::now();
        phone_->send(command);
        bool askedTheShow = false;
        while (true) {
            const auto body = phone_->get();
            const auto seen = Clock::now();
            const int slide = body ? noteSlide(*body) : 0;
            if (slide == from + 1) {
                result.document = msBetween(sent, seen);
                result.showMoved = true;
                return result;
            }
            const double waited = msBetween(sent, seen);
            if (slide != from && slide != 0) {
                // The show went elsewhere (a key press of before that it took late).
                result.show = showState();
                result.showMoved = true;
                return result;
            }
            if (!askedTheShow && waited > 3000) {
                // Did the key reach the show at all?
                askedTheShow = true;
                result.show = showState();
                // An office that does not answer (a moment busy) is asked once more.
                if (!result.show.startsWith(u'0') && !result.show.startsWith(u'1'))
                    result.show = showState();
                result.showMoved = result.show.startsWith(u'1') &&
                                   !result.show.startsWith(QStringLiteral("1 %1 ").arg(from));
                if (!result.showMoved)
                    return result;
            }
            if (waited > 10000)
                return result;
            if (events.elapsed() > 50) {
                checkStop();
                QCoreApplication::processEvents();
                events.restart();
            }
            ::usleep(useconds_t(options_.pollMs) * 1000);
        }
    }

    // References of the same run, with the show on a slide and nothing changing: the phone's GET alone,
    // and one push's build alone on the bridge the application uses.
    void references(DeckFigures& figures) {
        pause(1500);
        for (int i = 0; i < options_.gets; ++i) {
            const auto from = Clock::now();
            const auto body = phone_->get();
            if (!body)
                fail("a GET of the LAN document failed");
            figures.getAlone.push_back(msBetween(from, Clock::now()));
            figures.documentBytes = body->size();
            ::usleep(useconds_t(options_.pollMs) * 1000);
        }
        if (options_.builds <= 0)
            return;
        // The scripts of this process reach the application's bridge and PDF cache.
        qputenv("HOME", host_.homePath().toUtf8());
        qputenv("XDG_CACHE_HOME", (host_.homePath() + "/.cache").toUtf8());
        qputenv("XDG_RUNTIME_DIR", (host_.homePath() + "/run").toUtf8());
        qputenv("PODIUMCAST_IMPRESS_PIPE", impress_.pipeName().toUtf8());
        auto helper = PowerPointHelper::create(
            {std::make_shared<platform::ProcessScriptRunner>(host_.bundle().resourcesPath()),
             std::make_shared<RecordingCommandRunner>(), std::make_shared<FakeHostFacts>(),
             Flavour::PodiumCast, 1e6});
        if (!waitFor(
                [&] {
                    const auto pdf = helper->activePdfPath();
                    return pdf && QFile::exists(*pdf) && !helper->isGeneratingPdf();
                },
                60000))
            fail("the build reference found no PDF of the deck");
        helper->refresh();
        helper->getSlideInfoStrings(0); // the thumbnails' pages read once, as the push before has
        for (int i = 0; i < options_.builds; ++i) {
            pause(200);
            const auto from = Clock::now();
            helper->refresh();
            const auto documents =
                helper->getSlideInfoStrings(double(QDateTime::currentMSecsSinceEpoch()) / 1000.0);
            figures.buildAlone.push_back(msBetween(from, Clock::now()));
            if (noteSlide(documents.lan.toUtf8()) == 0)
                fail("the build reference made no document of a slide");
        }
        // Its poll thread ends with it, before anything else is measured.
        std::weak_ptr<PowerPointHelper> alive = helper;
        helper.reset();
        if (!waitFor([&] { return alive.expired(); }, 30000))
            fail("the build reference's helper did not end");
    }

    // "<show running 0/1> <show slide> <editing page>", or why the office did not tell.
    QString showState() {
        if (const auto state = impress_.fixture({"state"}))
            return *state;
        return "no answer: " + impress_.log().trimmed().section(u'\n', -1);
    }

    QString nextId() { return QString::number(++commandId_); }

    static QString tail(const QString& text) { return text.right(4000); }

    const Options options_;
    QTemporaryDir work_;
    std::unique_ptr<PhoneNamespace> phoneHost_;
    ImpressProcess impress_;
    AppProcess host_{QStringLiteral("PodiumCast")};
    std::unique_ptr<Phone> phone_;
    std::map<int, QString> deckPaths_;
    int shownDeck_ = 0;
    bool showRunning_ = false;
    int commandId_ = 0;
};

void printSlideChanges(const std::vector<DeckFigures>& decks, const Options& options) {
    std::printf(
        "\nphone's next-slide command -> LAN document showing the next slide (ms; GET polled every %d ms)\n",
        options.pollMs);
    std::printf("%-12s %8s %8s %8s %8s %6s %6s   %s\n", "deck", "presses", "median", "p95", "max", "lost",
                "stale", "reference, same run: median / p95");
    for (const DeckFigures& deck : decks) {
        std::printf("%3d slides   %8zu %8.0f %8.0f %8.0f %6d %6d   GET alone (%lld KB) %.2f / %.2f; build "
                    "alone %.0f / %.0f\n",
                    deck.slides, deck.commandToDocument.size(), percentile(deck.commandToDocument, 50),
                    percentile(deck.commandToDocument, 95), maximum(deck.commandToDocument), deck.lostKeys,
                    deck.staleDocuments, static_cast<long long>(deck.documentBytes / 1024),
                    percentile(deck.getAlone, 50), percentile(deck.getAlone, 95),
                    percentile(deck.buildAlone, 50), percentile(deck.buildAlone, 95));
    }
    for (const DeckFigures& deck : decks)
        std::printf(
            "%3d slides: %d show starts; untimed presses before the show moved: %d; starts again after 6 "
            "such presses: %d\n",
            deck.slides, deck.starts, deck.firstLost, deck.restartsWithoutKeys);
    std::printf(
        "goal: median <= 150 ms, p95 <= 300 ms. lost: a timed press that did not move the show within 3 s\n"
        "(not counted); stale: the show moved and no document showed the next slide within 10 s (the show\n"
        "starts again). After each start of the show the phone presses until the show moves, untimed.\n"
        "Build alone: one push's poll pass and both documents on the application's bridge, without the\n"
        "wait for the slide change.\n");
}

void printIdle(const IdleFigures& idle) {
    const double window = idle.seconds * 1000.0;
    const auto percent = [&](double ms) {
        return ms / window * 100.0;
    };
    std::printf("\nidle %.0f s, %s, the phone paired and silent (%s)\n", idle.seconds, qPrintable(idle.state),
                qPrintable(idle.note));
    std::printf("  %-48s %9s %12s\n", "", "CPU ms", "% of a core");
    std::printf("  %-48s %9.0f %12.3f\n", "application", idle.appMs, percent(idle.appMs));
    std::printf("  %-48s %9.0f %12.3f\n", "its child processes (scripts)", idle.childrenMs,
                percent(idle.childrenMs));
    std::printf("  %-48s %9.0f %12.3f\n", "resident bridge", idle.bridgeMs, percent(idle.bridgeMs));
    const double total = idle.appMs + idle.childrenMs + idle.bridgeMs;
    std::printf("  %-48s %9.0f %12.3f   (goal <= 0.3)\n", "application, children and bridge", total,
                percent(total));
    std::printf("  %-48s %9.0f %12.3f\n", "reference: LibreOffice (soffice.bin, oosplash)", idle.officeMs,
                percent(idle.officeMs));
    const double tick = ticksToMs(1);
    std::printf(
        "  (read in clock ticks of %.0f ms: %.3f %% of a core over this interval, per process read)\n", tick,
        percent(tick));
}

std::vector<int> parseDecks(const char* text) {
    std::vector<int> decks;
    for (const QString& item : QString::fromLatin1(text).split(u',', Qt::SkipEmptyParts))
        if (const int slides = std::clamp(item.toInt(), 3, 1000);
            std::count(decks.begin(), decks.end(), slides) == 0)
            decks.push_back(slides);
    return decks;
}

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool value = i + 1 < argc;
        if (arg == "--decks" && value)
            options.decks = parseDecks(argv[++i]);
        else if (arg == "--presses" && value)
            options.presses = std::clamp(std::atoi(argv[++i]), 0, 1000);
        else if (arg == "--idle-seconds" && value)
            options.idleSeconds = std::clamp(std::atoi(argv[++i]), 0, 3600);
        else if (arg == "--poll-ms" && value)
            options.pollMs = std::clamp(std::atoi(argv[++i]), 1, 1000);
        else if (arg == "--pause-ms" && value)
            options.pauseMs = std::clamp(std::atoi(argv[++i]), 100, 10000);
        else if (arg == "--gets" && value)
            options.gets = std::clamp(std::atoi(argv[++i]), 1, 10000);
        else if (arg == "--builds" && value)
            options.builds = std::clamp(std::atoi(argv[++i]), 0, 1000);
        else if (arg == "--loopback")
            options.loopback = true;
        else {
            std::fprintf(
                stderr,
                "usage: %s [--decks 20,300] [--presses N] [--idle-seconds S] [--poll-ms MS] [--pause-ms MS]\n"
                "          [--gets N] [--builds N] [--loopback]\n",
                argv[0]);
            std::exit(2);
        }
    }
    if (options.decks.empty())
        options.decks = {20};
    return options;
}

} // namespace

int main(int argc, char** argv) {
    // Started in the background of a script, the process ignores SIGINT: so do the processes it starts,
    // which the script ends through this one.
    struct sigaction interrupt {};
    if (::sigaction(SIGINT, nullptr, &interrupt) == 0 && interrupt.sa_handler != SIG_IGN)
        std::signal(SIGINT, askStop);
    std::signal(SIGTERM, askStop);
    // The build reference renders thumbnails; no window is shown.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const Options options = parse(argc, argv);
    QFile loadAverage(QStringLiteral("/proc/loadavg"));
    std::printf("load average before %s\n",
                loadAverage.open(QIODevice::ReadOnly)
                    ? loadAverage.readAll().split(' ').mid(0, 3).join(' ').constData()
                    : "?");
    int status = 0;
    try {
        Run run(options);
        // The idle state is measured first, on the smallest deck, before any press.
        const int idleDeck = *std::min_element(options.decks.begin(), options.decks.end());
        run.start(options.presses > 0 ? options.decks : std::vector<int>{idleDeck});
        if (options.idleSeconds > 0) {
            printIdle(run.idle(idleDeck, false));
            printIdle(run.idle(idleDeck, true));
            std::fflush(stdout);
        }
        std::vector<DeckFigures> decks;
        if (options.presses > 0)
            for (const int slides : options.decks)
                decks.push_back(run.slideChanges(slides));
        if (!decks.empty())
            printSlideChanges(decks, options);
        status = run.finish() == 0 ? 0 : 1;
    } catch (const Stopped&) {
        std::fprintf(stderr, "\nbench_slide_change: stopped\n");
        status = 130;
    } catch (const Failed& failure) {
        std::fprintf(stderr, "\nbench_slide_change: %s\n", failure.why.c_str());
        status = 1;
    }
    return status;
}

// Command datagrams against the LAN endpoint: how many key commands a second the service handles when a
// phone floods one of its sockets or all three, beside the rate at which a plain socket merely receives
// the same flood, and how long one datagram takes to become a posted key event when nothing queues.
//
// In one process: the network service on the real asio transport and free ports, the command executor
// with a presentation bridge whose scripts answer nothing, a recording event poster, and the Qt main
// loop on the main thread (key presses are posted there). The senders are plain sockets; by default
// they live in a network namespace made for the run and joined to this machine by a veth pair, like a
// phone on the LAN. Every run is bounded in time and in datagrams and ends by itself.
//
//   bench_udp_load [--seconds S] [--samples N] [--loopback]
//     --seconds   how long each flood sends (default 5)
//     --samples   datagrams of the latency run (default 2000)
//     --loopback  send from this machine's loopback instead of a namespace
#include "remote/AsioDatagramTransport.h"
#include "remote/SWDMacCommandManager.h"
#include "remote/SWDMacNetworkManager.h"

#include "core/ThreadHelper.h"
#include "platform/EventPoster.h"
#include "platform/Platform.h"
#include "presentation/PowerPointHelper.h"

#include "Fakes.h"
#include "RecordingEventPoster.h"
#include "TestBundle.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QUdpSocket>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// No run sends more than this many datagrams from one sender, whatever its time.
constexpr quint64 kMaxDatagramsPerSender = 100'000'000;
// After the senders stop, the receivers drain what the socket buffers still hold: until nothing new
// arrived for this long, and never longer than kDrainLimit.
constexpr auto kDrainQuiet = std::chrono::milliseconds(200);
constexpr auto kDrainLimit = std::chrono::seconds(5);

struct Options {
    double seconds = 5.0;
    int samples = 2000;
    bool loopback = false;
};

double secondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

Clock::duration runLength(const Options& options) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.seconds));
}

quint16 freeUdpPort() {
    QUdpSocket probe;
    probe.bind(QHostAddress::AnyIPv4, 0);
    return probe.localPort();
}

QString loadAverage() {
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLatin1(file.readAll()).section(u' ', 0, 2);
}

// Where the senders run: a network namespace of the run's own, joined by a veth pair on a private
// subnet (nothing leaves the machine: the pair is its only link), or loopback when that cannot be made.
class SenderHost {
public:
    static constexpr const char* kComputerAddress = "10.213.90.1";
    static constexpr const char* kPhoneAddress = "10.213.90.2";

    explicit SenderHost(bool loopback) {
        if (loopback) {
            why_ = QStringLiteral("asked for");
            return;
        }
        const QString id = QString::number(QCoreApplication::applicationPid() % 100000);
        name_ = "pcbench" + id;
        hostLink_ = "pbh" + id;
        phoneLink_ = "pbp" + id;
        ip({"netns", "del", name_}); // a leftover of an earlier run
        ip({"link", "del", hostLink_});
        inNamespace_ = ip({"netns", "add", name_}) &&
                       ip({"link", "add", hostLink_, "type", "veth", "peer", "name", phoneLink_}) &&
                       ip({"link", "set", phoneLink_, "netns", name_}) &&
                       ip({"addr", "add", QString(kComputerAddress) + "/24", "dev", hostLink_}) &&
                       ip({"link", "set", hostLink_, "up"}) &&
                       ip({"netns", "exec", name_, "ip", "addr", "add", QString(kPhoneAddress) + "/24", "dev",
                           phoneLink_}) &&
                       ip({"netns", "exec", name_, "ip", "link", "set", phoneLink_, "up"}) &&
                       ip({"netns", "exec", name_, "ip", "link", "set", "lo", "up"});
        if (!inNamespace_)
            removeNamespace();
    }
    ~SenderHost() {
        if (inNamespace_)
            removeNamespace();
    }

    bool inNamespace() const { return inNamespace_; }
    // The address the senders send to, and the one they send from.
    const char* target() const { return inNamespace_ ? kComputerAddress : "127.0.0.1"; }
    const char* source() const { return inNamespace_ ? kPhoneAddress : "127.0.0.1"; }
    QString describe() const {
        if (inNamespace_)
            return QStringLiteral("senders in network namespace %1 (%2 -> %3 over a veth pair)")
                .arg(name_, kPhoneAddress, kComputerAddress);
        return QStringLiteral("senders on loopback (no namespace: %1)").arg(why_);
    }

    // Moves the calling thread into the namespace: sockets it opens afterwards live there.
    bool enter() const {
        if (!inNamespace_)
            return true;
        const QByteArray path = ("/run/netns/" + name_).toLocal8Bit();
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return false;
        const bool entered = ::setns(fd, CLONE_NEWNET) == 0;
        ::close(fd);
        return entered;
    }

private:
    bool ip(const QStringList& arguments) {
        QProcess process;
        process.start(QStringLiteral("ip"), arguments);
        const bool ok = process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit &&
                        process.exitCode() == 0;
        if (!ok && why_.isEmpty())
            why_ =
                "ip " + arguments.join(u' ') + ": " +
                QString::fromLocal8Bit(process.readAllStandardError() + process.errorString().toLocal8Bit())
                    .trimmed();
        return ok;
    }
    void removeNamespace() {
        ip({"link", "del", hostLink_});
        ip({"netns", "del", name_});
    }

    QString name_, hostLink_, phoneLink_, why_;
    bool inNamespace_ = false;
};

// A UDP socket of the sender's, connected to one port of the target.
class SenderSocket {
public:
    SenderSocket(const char* target, quint16 port) {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        ::inet_pton(AF_INET, target, &to.sin_addr);
        if (fd_ >= 0 && ::connect(fd_, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~SenderSocket() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    SenderSocket(const SenderSocket&) = delete;
    SenderSocket& operator=(const SenderSocket&) = delete;

    bool valid() const { return fd_ >= 0; }
    bool send(const char* data, size_t size) const { return ::send(fd_, data, size, 0) == ssize_t(size); }

private:
    int fd_ = -1;
};

// Sends "<prefix><n>|<tail>" with n counting up, as fast as the socket takes them, until the deadline
// (or the bound on datagrams); gives how many the system accepted. Runs in the sender's host.
quint64 flood(const SenderHost& host, quint16 port, const std::string& prefix, const std::string& tail,
              Clock::time_point deadline) {
    if (!host.enter())
        return 0;
    const SenderSocket socket(host.target(), port);
    if (!socket.valid())
        return 0;
    char datagram[128];
    quint64 sent = 0;
    for (quint64 n = 0; n < kMaxDatagramsPerSender; ++n) {
        if ((n & 63) == 0 && Clock::now() >= deadline)
            break;
        const int size = std::snprintf(datagram, sizeof datagram, "%s%llu|%s", prefix.c_str(),
                                       static_cast<unsigned long long>(n), tail.c_str());
        if (socket.send(datagram, size_t(size)))
            ++sent;
    }
    return sent;
}

// One flood per port at once, each from a thread of its own; gives the total sent.
quint64 floodAll(const SenderHost& host, const std::vector<quint16>& ports, const std::string& runName,
                 const std::string& tail, Clock::time_point deadline) {
    std::vector<quint64> sent(ports.size(), 0);
    std::vector<std::thread> senders;
    for (size_t i = 0; i < ports.size(); ++i)
        senders.emplace_back([&, i] {
            sent[i] = flood(host, ports[i], runName + "-" + std::to_string(i) + "-", tail, deadline);
        });
    for (auto& t : senders)
        t.join();
    quint64 total = 0;
    for (quint64 s : sent)
        total += s;
    return total;
}

// Counts what arrived, with the time of the last arrival.
struct Arrivals {
    std::mutex mutex;
    std::condition_variable changed;
    quint64 count = 0;
    Clock::time_point last;

    void add() {
        const auto now = Clock::now();
        {
            std::lock_guard lock(mutex);
            ++count;
            last = now;
        }
        changed.notify_all();
    }
    std::pair<quint64, Clock::time_point> read() {
        std::lock_guard lock(mutex);
        return {count, last};
    }
    void reset() {
        std::lock_guard lock(mutex);
        count = 0;
        last = {};
    }
    // Waits until nothing new arrived for kDrainQuiet (at most kDrainLimit).
    void drain() {
        const auto limit = Clock::now() + kDrainLimit;
        std::unique_lock lock(mutex);
        for (;;) {
            const quint64 before = count;
            changed.wait_for(lock, kDrainQuiet, [&] { return count != before; });
            if (count == before || Clock::now() >= limit)
                return;
        }
    }
};

struct RunResult {
    std::string name;
    double sendSeconds = 0; // from the start of the run until the senders stopped
    double seconds = 0;     // from the start of the run to the last arrival
    quint64 sent = 0;
    quint64 arrived = 0;
    std::string check;
    double sentPerSecond() const { return sendSeconds > 0 ? double(sent) / sendSeconds : 0; }
    double arrivedPerSecond() const { return seconds > 0 ? double(arrived) / seconds : 0; }
};

// The baseline: plain blocking sockets on the same ports that only receive and count.
RunResult rawReceive(const SenderHost& host, int sockets, const Options& options) {
    std::vector<quint16> ports;
    std::vector<int> fds;
    for (int i = 0; i < sockets; ++i) {
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in any{};
        any.sin_family = AF_INET;
        any.sin_addr.s_addr = htonl(INADDR_ANY);
        timeval tick{0, 50'000}; // lets the receiver see the end of the run
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tick, sizeof tick);
        // The same receive buffer as the service's sockets ask for.
        const int buffer = AsioDatagramTransport::kReceiveBufferBytes;
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
        socklen_t length = sizeof any;
        if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&any), &length) != 0) {
            std::fprintf(stderr, "cannot open a receiving socket: %s\n", std::strerror(errno));
            std::exit(1);
        }
        fds.push_back(fd);
        ports.push_back(ntohs(any.sin_port));
    }
    Arrivals arrivals;
    std::atomic<bool> stop{false};
    std::vector<std::thread> receivers;
    for (int fd : fds)
        receivers.emplace_back([&, fd] {
            char buffer[DatagramTransport::kMaxDatagramSize];
            while (!stop.load(std::memory_order_relaxed)) {
                if (::recv(fd, buffer, sizeof buffer, 0) >= 0)
                    arrivals.add();
            }
        });
    const auto start = Clock::now();
    RunResult result;
    result.name = "raw receive, " + std::to_string(sockets) + (sockets == 1 ? " socket" : " sockets");
    result.sent = floodAll(host, ports, "raw", "key|esc", start + runLength(options));
    result.sendSeconds = secondsBetween(start, Clock::now());
    arrivals.drain();
    stop = true;
    for (auto& t : receivers)
        t.join();
    for (int fd : fds)
        ::close(fd);
    const auto [count, last] = arrivals.read();
    result.arrived = count;
    result.seconds = count ? secondsBetween(start, last) : options.seconds;
    return result;
}

// The asio transport, owned so that the run can end its threads before the service goes: the service
// holds this and keeps calling it after shutdown, when every call does nothing.
class ShutdownTransport : public DatagramTransport {
public:
    ShutdownTransport()
        : inner_(std::make_unique<AsioDatagramTransport>()) {}

    std::optional<QString> listen(UdpSocketRole socket, quint16 port, Receiver receiver) override {
        std::lock_guard lock(mutex_);
        return inner_ ? inner_->listen(socket, port, std::move(receiver)) : QStringLiteral("shut down");
    }
    void openUnbound(UdpSocketRole socket) override {
        std::lock_guard lock(mutex_);
        if (inner_)
            inner_->openUnbound(socket);
    }
    void send(UdpSocketRole socket, const QString& host, quint16 port, const QByteArray& data) override {
        std::lock_guard lock(mutex_);
        if (inner_)
            inner_->send(socket, host, port, data);
    }
    void closeAll() override {
        std::lock_guard lock(mutex_);
        if (inner_)
            inner_->closeAll();
    }
    QString describe(UdpSocketRole socket) const override {
        std::lock_guard lock(mutex_);
        return inner_ ? inner_->describe(socket) : QStringLiteral("(null)");
    }
    // Closes the sockets and joins the handler threads. Call it off the main thread: a handler may be
    // waiting for the main thread to post its key press.
    void shutdown() {
        std::unique_ptr<AsioDatagramTransport> ending;
        {
            std::lock_guard lock(mutex_);
            ending = std::move(inner_);
        }
        ending.reset();
    }

private:
    mutable std::mutex mutex_;
    std::unique_ptr<AsioDatagramTransport> inner_;
};

// The network service with the command executor on fresh ports, made and destroyed on the main thread;
// the presentation bridge is a stand-in whose scripts answer nothing, and the slide-information push
// after a command does nothing.
// Where the service's synthesised input goes, for the whole run.
std::shared_ptr<RecordingEventPoster> servicePoster;

class Service {
public:
    Service() {
        ThreadHelper::RunOnMainThread([this] {
            ports_ = {freeUdpPort(), freeUdpPort(), freeUdpPort()};
            bundle_ = std::make_unique<TestBundle>(
                QVariantMap{{"CFBundleIdentifier", "com.brisvane.PodiumCastForMac"},
                            {"CFBundleVersion", "1.0"},
                            {"CommandPort", ports_[0]},
                            {"DataPort", ports_[1]},
                            {"CheckPort", ports_[2]},
                            {"ConnectPort", freeUdpPort()},
                            {"LanInfoPort", 0},
                            {"HttpPort", 0}});
            bundle_->makeMain();
            presentation_ = PowerPointHelper::create(
                {std::make_shared<FakeScriptRunner>(), std::make_shared<RecordingCommandRunner>(),
                 std::make_shared<FakeHostFacts>(), Flavour::SlideWand, 1e6});
            network_ = std::make_unique<SWDMacNetworkManager>(SWDMacNetworkManager::Collaborators{
                transport_,
                [this](const std::optional<QString>& command, const std::optional<QString>& fromIpAddr) {
                    executor_->executeCommand(command, fromIpAddr);
                },
                [this]() -> PowerPointHelper& { return *presentation_; }, std::make_shared<FakeHostFacts>()});
            executor_ = std::make_unique<SWDMacCommandManager>(SWDMacCommandManager::Collaborators{
                network_.get(), [this]() -> PowerPointHelper& { return *presentation_; }, [](bool) {},
                servicePoster, nullptr, Flavour::SlideWand});
            network_->startUdp();
        });
    }
    ~Service() {
        transport_->shutdown();
        ThreadHelper::RunOnMainThread([this] {
            executor_.reset();
            network_.reset();
            presentation_.reset();
            bundle_.reset();
        });
    }

    // Command, data and check socket.
    const std::vector<quint16>& ports() const { return ports_; }
    SWDMacNetworkManager& network() { return *network_; }
    qsizetype idsRecorded() const { return qsizetype(executor_->seenCommandIdCount()); }

private:
    std::vector<quint16> ports_;
    std::unique_ptr<TestBundle> bundle_;
    std::shared_ptr<ShutdownTransport> transport_ = std::make_shared<ShutdownTransport>();
    std::shared_ptr<PowerPointHelper> presentation_;
    std::unique_ptr<SWDMacNetworkManager> network_;
    std::unique_ptr<SWDMacCommandManager> executor_;
};

// What the poster was given: key-downs and pointer moves with the time of the last, key-ups, the rest.
struct PostedEvents {
    Arrivals downs;
    Arrivals moves;
    std::atomic<quint64> ups{0};
    std::atomic<quint64> others{0};

    void attach(RecordingEventPoster& poster) {
        poster.onPost = [this](const platform::InputEvent& event) {
            if (event.type == platform::EventType::KeyDown)
                downs.add();
            else if (event.type == platform::EventType::KeyUp)
                ++ups;
            else if (event.type == platform::EventType::MouseMoved)
                moves.add();
            else
                ++others;
        };
    }
    void reset() {
        downs.reset();
        moves.reset();
        ups = 0;
        others = 0;
    }
};

// Pairs a phone from the sender's host with a "connect" on the command socket.
bool pair(const SenderHost& host, Service& service) {
    bool sent = false;
    std::thread phone([&] {
        if (!host.enter())
            return;
        const SenderSocket socket(host.target(), service.ports()[0]);
        const char connect[] = "pair-0|connect|benchphone,Bench Phone";
        sent = socket.valid() && socket.send(connect, sizeof connect - 1);
    });
    phone.join();
    const auto limit = Clock::now() + std::chrono::seconds(5);
    while (sent && service.network().isAcceptingNewConnection() && Clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return sent && !service.network().isAcceptingNewConnection();
}

// A flood of one command on the first `sockets` of the service's sockets. A key command counts by its
// key-down (posted on the main thread); a pointer move by its mouse-moved event (posted on the handler's
// own thread), which shows what the endpoint and executor do without the trip to the main thread.
RunResult serviceLoad(const SenderHost& host, RecordingEventPoster& poster, PostedEvents& events, int sockets,
                      const std::string& tail, const Options& options) {
    Service service;
    RunResult result;
    result.name =
        "service " + tail + ", " + std::to_string(sockets) + (sockets == 1 ? " socket" : " sockets");
    if (!pair(host, service)) {
        result.check = "pairing failed";
        return result;
    }
    events.reset();
    poster.clear();
    const bool pointer = tail.rfind("move", 0) == 0;
    Arrivals& handled = pointer ? events.moves : events.downs;
    const std::vector<quint16> ports(service.ports().begin(), service.ports().begin() + sockets);
    const auto start = Clock::now();
    result.sent = floodAll(host, ports, "load", tail, start + runLength(options));
    result.sendSeconds = secondsBetween(start, Clock::now());
    handled.drain();
    const auto [count, last] = handled.read();
    result.arrived = count;
    result.seconds = count ? secondsBetween(start, last) : options.seconds;
    // Each handled key command is one key-down and one key-up, each move one mouse-moved event, and
    // every id is recorded once (the pairing's too).
    const quint64 recorded = quint64(service.idsRecorded());
    const quint64 expectedUps = pointer ? 0 : count;
    const quint64 strays = pointer ? events.downs.read().first : events.moves.read().first;
    const bool whole =
        events.ups == expectedUps && events.others == 0 && strays == 0 && recorded == count + 1;
    result.check = whole ? "ok"
                         : "MISMATCH: key-ups " + std::to_string(events.ups) + ", other events " +
                               std::to_string(events.others + strays) + ", ids " + std::to_string(recorded);
    poster.clear();
    return result;
}

struct Latency {
    std::vector<double> micros;
    int lost = 0;
};

// One "key|esc" at a time from the sender's host, the next about a millisecond after the key-down of
// the last was posted: the time from handing the datagram to the socket to the key-down's post.
Latency pacedLatency(const SenderHost& host, PostedEvents& events, const Options& options) {
    Service service;
    Latency latency;
    if (!pair(host, service))
        return latency;
    events.reset();
    std::thread phone([&] {
        if (!host.enter())
            return;
        const SenderSocket socket(host.target(), service.ports()[0]);
        const auto limit = Clock::now() + std::chrono::seconds(60);
        char datagram[64];
        for (int i = 0; i < options.samples && Clock::now() < limit; ++i) {
            const int size = std::snprintf(datagram, sizeof datagram, "paced-%d|key|esc", i);
            const quint64 before = events.downs.read().first;
            const auto sentAt = Clock::now();
            socket.send(datagram, size_t(size));
            std::unique_lock lock(events.downs.mutex);
            if (events.downs.changed.wait_for(lock, std::chrono::seconds(1),
                                              [&] { return events.downs.count > before; }))
                latency.micros.push_back(
                    std::chrono::duration<double, std::micro>(events.downs.last - sentAt).count());
            else
                ++latency.lost;
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    phone.join();
    std::sort(latency.micros.begin(), latency.micros.end());
    return latency;
}

double percentile(const std::vector<double>& sorted, double p) {
    if (sorted.empty())
        return 0;
    const size_t index = std::min(sorted.size() - 1, size_t(p / 100.0 * double(sorted.size())));
    return sorted[index];
}

void run(const Options& options) {
    const SenderHost host(options.loopback);
    const QString loadBefore = loadAverage();
    auto poster = std::make_shared<RecordingEventPoster>();
    PostedEvents events;
    events.attach(*poster);
    servicePoster = poster;

    // The paced run comes first, on a process that no flood has touched yet.
    const Latency latency = pacedLatency(host, events, options);
    std::vector<RunResult> results;
    results.push_back(rawReceive(host, 1, options));
    results.push_back(rawReceive(host, 3, options));
    results.push_back(serviceLoad(host, *poster, events, 1, "key|esc", options));
    results.push_back(serviceLoad(host, *poster, events, 3, "key|esc", options));
    results.push_back(serviceLoad(host, *poster, events, 1, "cmd|{DOWN}", options));
    results.push_back(serviceLoad(host, *poster, events, 3, "cmd|{DOWN}", options));
    results.push_back(serviceLoad(host, *poster, events, 1, "move|{1,1}", options));
    results.push_back(serviceLoad(host, *poster, events, 3, "move|{1,1}", options));
    servicePoster.reset();

    std::printf("UDP command load: %.1f s of sending a run; %s\n", options.seconds,
                qPrintable(host.describe()));
    std::printf("cores %u, load average before %s, after %s\n", std::thread::hardware_concurrency(),
                qPrintable(loadBefore), qPrintable(loadAverage()));
    std::printf("\n%-30s %12s %14s %10s %9s  %s\n", "run", "sent/s", "handled/s", "handled", "% of raw",
                "check");
    const auto rawRate = [&](int sockets) {
        return results[sockets == 1 ? 0 : 1].arrivedPerSecond();
    };
    for (const RunResult& r : results) {
        const bool raw = r.name.rfind("raw", 0) == 0;
        const int sockets = r.name.find("1 socket") != std::string::npos ? 1 : 3;
        char share[16] = "";
        if (!raw && rawRate(sockets) > 0)
            std::snprintf(share, sizeof share, "%.1f", 100.0 * r.arrivedPerSecond() / rawRate(sockets));
        std::printf("%-30s %12.0f %14.0f %10llu %9s  %s\n", r.name.c_str(), r.sentPerSecond(),
                    r.arrivedPerSecond(), static_cast<unsigned long long>(r.arrived), share,
                    raw ? "" : r.check.c_str());
    }
    std::printf(
        "(raw: datagrams a plain socket received; key commands: key-downs posted, one per command, on the\n"
        " main thread; move: mouse-moved events, posted on the handler's thread without the main thread)\n");
    for (int i = 0; i < 2; ++i)
        if (results[size_t(i)].sent &&
            double(results[size_t(i)].arrived) >= 0.95 * double(results[size_t(i)].sent))
            std::printf(
                "(%s: the plain socket took at least 95%% of what was sent, so this rate is the sender's)\n",
                results[size_t(i)].name.c_str());
    std::printf("\nlatency, datagram sent -> key-down posted, \"key|esc\" one at a time, ~1 ms apart, before "
                "the floods:\n");
    const auto over = [&](double micros) {
        return std::count_if(latency.micros.begin(), latency.micros.end(),
                             [micros](double m) { return m > micros; });
    };
    std::printf("  samples %zu, lost %d, p50 %.1f us, p90 %.1f us, p99 %.1f us, max %.1f us\n",
                latency.micros.size(), latency.lost, percentile(latency.micros, 50),
                percentile(latency.micros, 90), percentile(latency.micros, 99),
                latency.micros.empty() ? 0.0 : latency.micros.back());
    std::printf("  over 1 ms: %td, over 10 ms: %td\n", over(1000), over(10000));
}

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seconds" && i + 1 < argc)
            options.seconds = std::clamp(std::atof(argv[++i]), 0.5, 60.0);
        else if (arg == "--samples" && i + 1 < argc)
            options.samples = std::clamp(std::atoi(argv[++i]), 10, 100000);
        else if (arg == "--loopback")
            options.loopback = true;
        else {
            std::fprintf(stderr, "usage: %s [--seconds S (0.5-60)] [--samples N] [--loopback]\n", argv[0]);
            std::exit(2);
        }
    }
    return options;
}

} // namespace

int main(int argc, char** argv) {
    // A private home for the run's user defaults, as the tests have.
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/.config")).toUtf8());
    QCoreApplication app(argc, argv);
    const Options options = parse(argc, argv);
    // The main thread runs the event loop that posts the key presses; the runs drive it from here.
    std::thread driver([&options] {
        run(options);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
    });
    const int status = QCoreApplication::exec();
    driver.join();
    return status;
}

// Command datagrams against the LAN endpoint, with key presses reaching a real X server: how many key
// commands a second arrive at the server when a phone floods one of the service's sockets or all three,
// beside a plain XTest loop on the same display and a plain receiver on the same sockets' path, and how
// long one datagram takes to become a key-down at the server, alone and at a steady rate.
//
// In one process: the network service on the real asio transport and free ports, the command executor
// with a presentation bridge whose scripts answer nothing, the X11 event poster on the display of
// DISPLAY, and the Qt main loop on the main thread (key presses are posted there). Key-downs are counted
// at the X server by a recording client of its own (RECORD extension) and by a window that has the
// keyboard focus (RECORD leaves out some under a flood; the window gets every key). The senders are plain
// sockets in a network namespace joined to this machine by a veth pair, like a phone on the LAN
// (bench/udp-load.sh makes the namespace and the X server), or on loopback. Every run is bounded in time and
// in datagrams, and the whole is repeated for a few rounds so that each figure comes with its spread.
//
//   bench_udp_load [--seconds S] [--rounds N] [--samples N] [--rate R] [--rate-seconds S]
//                  [--senders N] [--netns NAME --to ADDRESS] [--x-pid PID]
//     --seconds       how long each flood sends (default 2)
//     --rounds        how often every run is repeated (default 3)
//     --samples       datagrams of the paced latency run of each round (default 1000)
//     --rate          datagrams a second of the steady-rate run (default 6000)
//     --rate-seconds  how long the steady-rate run sends (default 2)
//     --senders       sending threads a socket of the raw receive runs (default 2: one sender is slower
//                     than one receiver); the service's floods have one a socket, which is more than
//                     it takes
//     --x-pid PID     the X server's process, whose CPU use is shown beside each run's
//     --netns NAME    send from this network namespace (otherwise from loopback) ...
//     --to ADDRESS    ... to this address of this machine
#include "XKeyProbe.h"

#include "remote/AsioDatagramTransport.h"
#include "remote/SWDMacCommandManager.h"
#include "remote/SWDMacNetworkManager.h"

#include "core/ThreadHelper.h"
#include "platform/EventPoster.h"
#include "platform/X11EventPoster.h"
#include "presentation/PowerPointHelper.h"

#include "Fakes.h"
#include "TestBundle.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QUdpSocket>

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pthread.h>
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
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// No run sends more than this many datagrams from one sender, whatever its time.
constexpr quint64 kMaxDatagramsPerSender = 100'000'000;
// Datagrams a sender hands to the system in one call.
constexpr int kSendBatch = 32;
// Datagrams a plain receiver takes from the system in one call.
constexpr int kReceiveBatch = 64;
// After the senders stop, the counts are read once nothing new arrived for this long, and never later
// than kDrainLimit.
constexpr auto kDrainQuiet = std::chrono::milliseconds(500);
constexpr auto kDrainLimit = std::chrono::seconds(5);
// How long the paced runs wait for one key-down before they count its datagram lost.
constexpr auto kKeyDownLimit = std::chrono::seconds(1);

struct Options {
    double seconds = 2.0;
    int rounds = 3;
    int samples = 1000;
    int rate = 6000;
    double rateSeconds = 2.0;
    int senders = 2;
    std::string netns;
    std::string to;
    int xServerPid = 0;
};

double secondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

Clock::duration secondsToDuration(double seconds) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

double micros(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
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

// The thread that drives the runs (the X reference taps on it). Threads it starts take its name, so it
// is known by its id.
std::atomic<int> driverThread{0};

// Names the calling thread: the CPU use of a run leaves out the threads of the bench itself.
void nameThread(const char* name) {
    pthread_setname_np(pthread_self(), name);
}

// Clock ticks of CPU time a thread or process used, from its stat file; -1 when it cannot be read.
long long ticksOf(const std::string& statPath, std::string* name = nullptr) {
    QFile file(QString::fromStdString(statPath));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const std::string stat = file.readAll().toStdString();
    const size_t open = stat.find('('), close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos)
        return -1;
    if (name)
        *name = stat.substr(open + 1, close - open - 1);
    // After the name: state, then fields 4 to 13, then utime and stime (fields 14 and 15).
    std::vector<std::string> fields;
    size_t at = close + 2;
    while (at < stat.size() && fields.size() < 13) {
        const size_t end = stat.find(' ', at);
        fields.push_back(stat.substr(at, end - at));
        at = end == std::string::npos ? stat.size() : end + 1;
    }
    return fields.size() == 13 ? std::atoll(fields[11].c_str()) + std::atoll(fields[12].c_str()) : -1;
}

// CPU time so far: the main thread's, the other threads' of the service (all but those the bench named
// for itself), the X server's.
struct CpuTicks {
    long long main = 0, service = 0, x = 0;
};

CpuTicks cpuTicks(const Options& options) {
    CpuTicks ticks;
    const int self = int(::getpid());
    if (DIR* tasks = ::opendir("/proc/self/task")) {
        while (const dirent* entry = ::readdir(tasks)) {
            const int tid = std::atoi(entry->d_name);
            std::string name;
            const long long used =
                tid > 0 ? ticksOf("/proc/self/task/" + std::to_string(tid) + "/stat", &name) : -1;
            if (used < 0)
                continue;
            if (tid == self)
                ticks.main += used;
            else if (tid != driverThread && name != "sender" && name != "receiver" && name != "xrecorder")
                ticks.service += used;
        }
        ::closedir(tasks);
    }
    if (options.xServerPid > 0)
        ticks.x = std::max(0LL, ticksOf("/proc/" + std::to_string(options.xServerPid) + "/stat"));
    return ticks;
}

// Shares of one core over the seconds: main thread, service threads, X server.
struct CpuUse {
    double main = 0, service = 0, x = 0;
};

CpuUse cpuUse(const CpuTicks& from, const CpuTicks& to, double seconds) {
    const double perTick = 1.0 / double(::sysconf(_SC_CLK_TCK)) / std::max(seconds, 1e-3);
    return {double(to.main - from.main) * perTick, double(to.service - from.service) * perTick,
            double(to.x - from.x) * perTick};
}

// Waits until the count stopped changing for kDrainQuiet (at most kDrainLimit).
void drain(const std::function<quint64()>& count) {
    const auto limit = Clock::now() + kDrainLimit;
    quint64 before = count();
    while (Clock::now() < limit) {
        std::this_thread::sleep_for(kDrainQuiet);
        const quint64 now = count();
        if (now == before)
            return;
        before = now;
    }
}

// Where the senders run: a network namespace made for the run (by bench/udp-load.sh), or loopback.
class SenderHost {
public:
    explicit SenderHost(const Options& options)
        : netns_(options.netns)
        , target_(options.netns.empty() ? "127.0.0.1" : options.to) {}

    const char* target() const { return target_.c_str(); }
    std::string describe() const {
        if (netns_.empty())
            return "senders on loopback";
        return "senders in network namespace " + netns_ + ", sending to " + target_ + " over a veth pair";
    }

    // Moves the calling thread into the namespace: sockets it opens afterwards live there.
    bool enter() const {
        if (netns_.empty())
            return true;
        const std::string path = "/run/netns/" + netns_;
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return false;
        const bool entered = ::setns(fd, CLONE_NEWNET) == 0;
        ::close(fd);
        return entered;
    }

private:
    std::string netns_;
    std::string target_;
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
    int fd() const { return fd_; }
    bool send(const char* data, size_t size) const { return ::send(fd_, data, size, 0) == ssize_t(size); }

private:
    int fd_ = -1;
};

// Sends "<prefix><n>|<tail>" with n counting up, kSendBatch datagrams a call, as fast as the socket takes
// them, until the deadline (or the bound on datagrams); gives how many the system accepted. Runs in the
// sender's host.
quint64 flood(const SenderHost& host, quint16 port, const std::string& prefix, const std::string& tail,
              Clock::time_point deadline) {
    nameThread("sender");
    if (!host.enter())
        return 0;
    const SenderSocket socket(host.target(), port);
    if (!socket.valid())
        return 0;
    char datagrams[kSendBatch][128];
    iovec parts[kSendBatch];
    mmsghdr messages[kSendBatch];
    quint64 sent = 0;
    for (quint64 n = 0; n < kMaxDatagramsPerSender && Clock::now() < deadline; n += kSendBatch) {
        for (int i = 0; i < kSendBatch; ++i) {
            const int size = std::snprintf(datagrams[i], sizeof datagrams[i], "%s%llu|%s", prefix.c_str(),
                                           static_cast<unsigned long long>(n + quint64(i)), tail.c_str());
            parts[i] = {datagrams[i], size_t(size)};
            messages[i] = {};
            messages[i].msg_hdr.msg_iov = &parts[i];
            messages[i].msg_hdr.msg_iovlen = 1;
        }
        const int accepted = ::sendmmsg(socket.fd(), messages, kSendBatch, 0);
        if (accepted > 0)
            sent += quint64(accepted);
    }
    return sent;
}

// `perPort` floods per port at once, each from a thread of its own; gives the total sent.
quint64 floodAll(const SenderHost& host, const std::vector<quint16>& ports, const std::string& runName,
                 const std::string& tail, Clock::time_point deadline, int perPort) {
    const size_t senders = ports.size() * size_t(perPort);
    std::vector<quint64> sent(senders, 0);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < senders; ++i)
        threads.emplace_back([&, i] {
            sent[i] =
                flood(host, ports[i % ports.size()], runName + "-" + std::to_string(i) + "-", tail, deadline);
        });
    for (auto& t : threads)
        t.join();
    quint64 total = 0;
    for (quint64 s : sent)
        total += s;
    return total;
}

// Counts what arrived, with the time of the last arrival, and keeps every time while asked to.
class Arrivals {
public:
    void add(Clock::time_point at) {
        {
            std::lock_guard lock(mutex_);
            ++count_;
            last_ = at;
            if (keepTimes_)
                times_.push_back(at);
        }
        changed_.notify_all();
    }
    std::pair<quint64, Clock::time_point> read() {
        std::lock_guard lock(mutex_);
        return {count_, last_};
    }
    quint64 count() { return read().first; }
    void reset(bool keepTimes = false, size_t expected = 0) {
        std::lock_guard lock(mutex_);
        count_ = 0;
        last_ = {};
        keepTimes_ = keepTimes;
        times_.clear();
        times_.reserve(expected);
    }
    std::vector<Clock::time_point> takeTimes() {
        std::lock_guard lock(mutex_);
        keepTimes_ = false;
        return std::move(times_);
    }
    // The time of the arrival after the first `before`, once it came (within the limit).
    std::optional<Clock::time_point> waitBeyond(quint64 before, Clock::duration limit) {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, limit, [&] { return count_ > before; }))
            return std::nullopt;
        return last_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    quint64 count_ = 0;
    Clock::time_point last_;
    bool keepTimes_ = false;
    std::vector<Clock::time_point> times_;
};

// Passes every event on to the X poster and counts what it was given: key-downs, key-ups, pointer moves
// (with the time of the last), the rest, and the events X could not take.
class CountingPoster : public platform::EventPoster {
public:
    explicit CountingPoster(std::unique_ptr<platform::X11EventPoster> x)
        : x_(std::move(x)) {}

    bool canPost() const override { return true; }
    QPointF cursorLocation() override { return x_->cursorLocation(); }
    void warpCursor(QPointF point) override { x_->warpCursor(point); }
    bool post(const platform::InputEvent& event) override {
        if (event.type == platform::EventType::KeyDown) {
            const auto now = Clock::now();
            lastKeyDown_ = now.time_since_epoch().count();
            keyDowns.add(now);
        }
        const bool posted = x_->post(event);
        if (event.type == platform::EventType::KeyDown)
            keyDownsReturned.add(Clock::now());
        if (!posted)
            ++failed;
        if (event.type == platform::EventType::KeyDown)
            ++downs;
        else if (event.type == platform::EventType::KeyUp)
            ++ups;
        else if (event.type == platform::EventType::MouseMoved)
            moves.add(Clock::now());
        else
            ++others;
        return posted;
    }

    void reset(bool keepTimes = false, size_t expected = 0) {
        downs = ups = others = failed = 0;
        moves.reset();
        keyDowns.reset(keepTimes, expected);
        keyDownsReturned.reset(keepTimes, expected);
    }
    std::uint64_t keyboardMapReads() const { return x_->keyboardMapReads(); }
    // When the last key-down was handed to the X poster.
    Clock::time_point lastKeyDownAt() const {
        return Clock::time_point(Clock::duration(lastKeyDown_.load()));
    }

    std::atomic<quint64> downs{0}, ups{0}, others{0}, failed{0};
    Arrivals moves;
    Arrivals keyDowns;         // when each was handed to the X poster
    Arrivals keyDownsReturned; // when the X poster returned from each

private:
    std::unique_ptr<platform::X11EventPoster> x_;
    std::atomic<Clock::rep> lastKeyDown_{0};
};

// Key-downs at the X server: as RECORD reports them, and as the window with the keyboard focus gets them.
Arrivals keyDownsAtX;
Arrivals keyDownsAtWindow;

void resetKeyDowns(bool keepTimes = false, size_t expected = 0) {
    keyDownsAtX.reset(keepTimes, expected);
    keyDownsAtWindow.reset(keepTimes, expected);
}

quint64 keyDownsSeen() {
    return keyDownsAtX.count() + keyDownsAtWindow.count();
}

// Says how many key-downs RECORD left out of those the window got.
std::string recordShortfall() {
    const quint64 recorded = keyDownsAtX.count(), delivered = keyDownsAtWindow.count();
    return recorded < delivered ? ", RECORD left out " + std::to_string(delivered - recorded) : "";
}
// When the service's handler threads took each command, while the steady-rate run asks for it.
std::atomic<bool> timeCommands{false};
Arrivals commandsTaken;

// The poster the service's commands post to, for the whole run.
std::shared_ptr<CountingPoster> servicePoster;

struct RunResult {
    std::string name;
    double sendSeconds = 0; // from the start of the run until the senders stopped
    double seconds = 0;     // from the start of the run to the last arrival
    quint64 sent = 0;
    quint64 arrived = 0;
    std::string check;
    CpuUse cpu; // from the start of the run to the last arrival
    double sentPerSecond() const { return sendSeconds > 0 ? double(sent) / sendSeconds : 0; }
    double arrivedPerSecond() const { return seconds > 0 ? double(arrived) / seconds : 0; }
};

RunResult finish(RunResult result, Clock::time_point start, Clock::time_point sendEnd, quint64 count,
                 Clock::time_point last, const Options& options) {
    result.sendSeconds = secondsBetween(start, sendEnd);
    result.arrived = count;
    result.seconds = count ? secondsBetween(start, last) : options.seconds;
    return result;
}

// The receive reference: plain blocking sockets on the same path that only take the datagrams,
// kReceiveBatch a call, and count them.
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
    std::atomic<quint64> count{0};
    std::atomic<Clock::rep> last{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> receivers;
    for (int fd : fds)
        receivers.emplace_back([&, fd] {
            nameThread("receiver");
            // Only counted: a datagram longer than its buffer is cut, which changes nothing here.
            std::vector<char> buffers(size_t(kReceiveBatch) * 256);
            iovec parts[kReceiveBatch];
            mmsghdr messages[kReceiveBatch];
            while (!stop.load(std::memory_order_relaxed)) {
                for (int i = 0; i < kReceiveBatch; ++i) {
                    parts[i] = {buffers.data() + size_t(i) * 256, 256};
                    messages[i] = {};
                    messages[i].msg_hdr.msg_iov = &parts[i];
                    messages[i].msg_hdr.msg_iovlen = 1;
                }
                const int taken = ::recvmmsg(fd, messages, kReceiveBatch, MSG_WAITFORONE, nullptr);
                if (taken > 0) {
                    count += quint64(taken);
                    last = Clock::now().time_since_epoch().count();
                }
            }
        });
    RunResult result;
    result.name = "raw receive, " + std::to_string(sockets) + (sockets == 1 ? " socket" : " sockets");
    const auto start = Clock::now();
    result.sent =
        floodAll(host, ports, "raw", "key|esc", start + secondsToDuration(options.seconds), options.senders);
    const auto sendEnd = Clock::now();
    drain([&] { return count.load(); });
    stop = true;
    for (auto& t : receivers)
        t.join();
    for (int fd : fds)
        ::close(fd);
    result = finish(std::move(result), start, sendEnd, count, Clock::time_point(Clock::duration(last.load())),
                    options);
    result.check = double(result.arrived) >= 0.95 * double(result.sent) ? "took >= 95% of what was sent" : "";
    return result;
}

// The X reference: a plain XTest loop tapping Escape on a connection of its own, counted at the server.
RunResult xtestLoop(const Options& options) {
    RunResult result;
    result.name = "plain XTest loop";
    resetKeyDowns();
    std::string why;
    const CpuTicks ticksBefore = cpuTicks(options);
    const auto start = Clock::now();
    result.sent = tapKeysWithXTest(start + secondsToDuration(options.seconds), why);
    const auto sendEnd = Clock::now();
    if (!result.sent) {
        result.check = why;
        return result;
    }
    drain(keyDownsSeen);
    const auto [count, last] = keyDownsAtWindow.read();
    result = finish(std::move(result), start, sendEnd, count, last, options);
    result.cpu = cpuUse(ticksBefore, cpuTicks(options), result.seconds);
    const quint64 delivered = keyDownsAtWindow.count();
    result.check = (delivered == result.sent ? "ok"
                                             : "MISMATCH: taps " + std::to_string(result.sent) +
                                                   ", at the window " + std::to_string(delivered)) +
                   recordShortfall();
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
// after a command does nothing. Its input goes to servicePoster.
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
                    if (timeCommands)
                        commandsTaken.add(Clock::now());
                    executor_->executeCommand(command, fromIpAddr);
                },
                [this]() -> PowerPointHelper& { return *presentation_; }, std::make_shared<FakeHostFacts>(),
                std::make_shared<CloudHttpClient>()});
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

// Pairs a phone from the sender's host with a "connect" on the command socket.
bool pair(const SenderHost& host, Service& service) {
    bool sent = false;
    std::thread phone([&] {
        nameThread("sender");
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
// key-down at the X server (as the window got it); a pointer move by the mouse-moved event given to the
// poster (on the handler's own thread, without the trip to the main thread).
RunResult serviceLoad(const SenderHost& host, int sockets, const std::string& tail, const Options& options) {
    Service service;
    RunResult result;
    result.name = tail + ", " + std::to_string(sockets) + (sockets == 1 ? " socket" : " sockets");
    if (!pair(host, service)) {
        result.check = "pairing failed";
        return result;
    }
    CountingPoster& poster = *servicePoster;
    poster.reset();
    resetKeyDowns();
    const CpuTicks ticksBefore = cpuTicks(options);
    const std::uint64_t mapReadsBefore = poster.keyboardMapReads();
    const bool pointer = tail.rfind("move", 0) == 0;
    const std::vector<quint16> ports(service.ports().begin(), service.ports().begin() + sockets);
    const auto start = Clock::now();
    result.sent = floodAll(host, ports, "load", tail, start + secondsToDuration(options.seconds), 1);
    const auto sendEnd = Clock::now();
    Arrivals& handled = pointer ? poster.moves : keyDownsAtWindow;
    drain([&] { return keyDownsSeen() + poster.downs + poster.moves.count(); });
    const auto [count, last] = handled.read();
    result = finish(std::move(result), start, sendEnd, count, last, options);
    result.cpu = cpuUse(ticksBefore, cpuTicks(options), result.seconds);
    // Each handled key command is one key-down and one key-up given to the poster and one key-down at
    // the window, each move one mouse-moved event, and every id is recorded once (the pairing's too).
    const quint64 posted = pointer ? poster.moves.count() : quint64(poster.downs);
    const quint64 recorded = quint64(service.idsRecorded());
    const quint64 atX = keyDownsAtWindow.count();
    const bool whole = poster.failed == 0 && poster.others == 0 && poster.ups == poster.downs &&
                       atX == poster.downs && (pointer ? poster.downs == 0 : poster.moves.count() == 0) &&
                       recorded == posted + 1;
    result.check = whole ? "ok"
                         : "MISMATCH: key-downs posted " + std::to_string(poster.downs) + ", at the window " +
                               std::to_string(atX) + ", key-ups " + std::to_string(poster.ups) + ", moves " +
                               std::to_string(poster.moves.count()) + ", other " +
                               std::to_string(poster.others) + ", failed " + std::to_string(poster.failed) +
                               ", ids " + std::to_string(recorded);
    result.check += recordShortfall();
    const std::uint64_t mapReads = poster.keyboardMapReads() - mapReadsBefore;
    if (mapReads)
        result.check += ", keyboard map read " + std::to_string(mapReads) + " times";
    return result;
}

double percentile(const std::vector<double>& sorted, double p) {
    if (sorted.empty())
        return 0;
    const size_t index = std::min(sorted.size() - 1, size_t(p / 100.0 * double(sorted.size())));
    return sorted[index];
}

struct Latency {
    std::vector<double> micros; // sorted
    // The two parts, each sorted: datagram sent -> key-down handed to the poster, and from there to the
    // key-down at the X server.
    std::vector<double> toPoster, fromPoster;
    // The part before the poster, split where the service's handler thread takes the command (steady
    // run only): datagram sent -> command taken, and from there to the key-down handed to the poster
    // (the key presses are posted on the main thread).
    std::vector<double> toHandler, handlerToPoster;
    // The part after, split where the poster returns (steady run only): the poster's own time, and from
    // its return to the key-down at the X server.
    std::vector<double> inPoster, afterPoster;
    quint64 sent = 0;
    quint64 lost = 0;
    std::string note;
    double p(double percent) const { return percentile(micros, percent); }
    double max() const { return micros.empty() ? 0 : micros.back(); }
};

// One "key|esc" at a time from the sender's host, the next about a millisecond after the key-down of
// the last arrived at the X server: the time from handing the datagram to the socket to the key-down's
// record.
Latency pacedLatency(const SenderHost& host, const Options& options) {
    Service service;
    Latency latency;
    if (!pair(host, service)) {
        latency.note = "pairing failed";
        return latency;
    }
    resetKeyDowns();
    std::thread phone([&] {
        nameThread("sender");
        if (!host.enter())
            return;
        const SenderSocket socket(host.target(), service.ports()[0]);
        const auto limit = Clock::now() + std::chrono::seconds(60);
        char datagram[64];
        for (int i = 0; i < options.samples && Clock::now() < limit; ++i) {
            const int size = std::snprintf(datagram, sizeof datagram, "paced-%d|key|esc", i);
            const quint64 before = keyDownsAtX.count();
            const auto sentAt = Clock::now();
            socket.send(datagram, size_t(size));
            ++latency.sent;
            if (const auto at = keyDownsAtX.waitBeyond(before, kKeyDownLimit)) {
                latency.micros.push_back(micros(*at - sentAt));
                const Clock::time_point posted = servicePoster->lastKeyDownAt();
                latency.toPoster.push_back(micros(posted - sentAt));
                latency.fromPoster.push_back(micros(*at - posted));
            } else
                ++latency.lost;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    phone.join();
    for (auto* values : {&latency.micros, &latency.toPoster, &latency.fromPoster})
        std::sort(values->begin(), values->end());
    return latency;
}

// "key|esc" at a steady rate, each datagram at its own time (not in bursts): how many key-downs never
// reach the X server, and, when none is lost, each one's time from its datagram (matched in order: one
// socket, one main thread).
Latency steadyRate(const SenderHost& host, const Options& options) {
    Service service;
    Latency latency;
    if (!pair(host, service)) {
        latency.note = "pairing failed";
        return latency;
    }
    const size_t count = size_t(double(options.rate) * options.rateSeconds);
    std::vector<Clock::time_point> sentAt(count);
    resetKeyDowns(true, count + 1000);
    servicePoster->reset(true, count + 1000);
    commandsTaken.reset(true, count + 1000);
    timeCommands = true;
    std::thread phone([&] {
        nameThread("sender");
        if (!host.enter())
            return;
        const SenderSocket socket(host.target(), service.ports()[0]);
        char datagram[64];
        const auto start = Clock::now();
        const auto interval = std::chrono::duration<double>(1.0 / options.rate);
        for (size_t i = 0; i < count; ++i) {
            std::this_thread::sleep_until(start +
                                          std::chrono::duration_cast<Clock::duration>(interval * double(i)));
            const int size = std::snprintf(datagram, sizeof datagram, "rate-%zu|key|esc", i);
            sentAt[i] = Clock::now();
            if (socket.send(datagram, size_t(size)))
                ++latency.sent;
        }
    });
    phone.join();
    drain(keyDownsSeen);
    timeCommands = false;
    // Lost: what the window never got. The times are RECORD's, or the window's when RECORD left one out.
    const std::vector<Clock::time_point> delivered = keyDownsAtWindow.takeTimes();
    std::vector<Clock::time_point> arrived = keyDownsAtX.takeTimes();
    if (arrived.size() != delivered.size()) {
        latency.note = "times at the window: RECORD has " + std::to_string(arrived.size());
        arrived = delivered;
    }
    latency.lost = latency.sent > delivered.size() ? latency.sent - delivered.size() : 0;
    if (latency.sent != count)
        latency.note = "the system took " + std::to_string(latency.sent) + " of " + std::to_string(count);
    else if (arrived.size() != count)
        latency.note = "no times: " + std::to_string(arrived.size()) + " key-downs for " +
                       std::to_string(count) + " datagrams";
    else
        for (size_t i = 0; i < count; ++i)
            latency.micros.push_back(micros(arrived[i] - sentAt[i]));
    const std::vector<Clock::time_point> posted = servicePoster->keyDowns.takeTimes();
    const std::vector<Clock::time_point> returned = servicePoster->keyDownsReturned.takeTimes();
    const std::vector<Clock::time_point> taken = commandsTaken.takeTimes();
    if (!latency.micros.empty() && posted.size() == count) {
        for (size_t i = 0; i < count; ++i) {
            latency.toPoster.push_back(micros(posted[i] - sentAt[i]));
            latency.fromPoster.push_back(micros(arrived[i] - posted[i]));
        }
        if (taken.size() == count)
            for (size_t i = 0; i < count; ++i) {
                latency.toHandler.push_back(micros(taken[i] - sentAt[i]));
                latency.handlerToPoster.push_back(micros(posted[i] - taken[i]));
            }
        if (returned.size() == count)
            for (size_t i = 0; i < count; ++i) {
                latency.inPoster.push_back(micros(returned[i] - posted[i]));
                latency.afterPoster.push_back(micros(arrived[i] - returned[i]));
            }
    }
    for (auto* values : {&latency.micros, &latency.toPoster, &latency.fromPoster, &latency.toHandler,
                         &latency.handlerToPoster, &latency.inPoster, &latency.afterPoster})
        std::sort(values->begin(), values->end());
    return latency;
}

struct Round {
    std::map<std::string, RunResult> runs;
    Latency paced;
    Latency steady;
};

// Median, least and greatest of the values.
struct Spread {
    double median = 0, min = 0, max = 0;
};
Spread spreadOf(std::vector<double> values) {
    if (values.empty())
        return {};
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    return {median, values.front(), values.back()};
}

const std::vector<std::pair<std::string, std::function<RunResult(const SenderHost&, const Options&)>>>&
runs() {
    static const std::vector<
        std::pair<std::string, std::function<RunResult(const SenderHost&, const Options&)>>>
        list = [] {
            std::vector<std::pair<std::string, std::function<RunResult(const SenderHost&, const Options&)>>>
                l;
            l.emplace_back("raw receive, 1 socket",
                           [](const SenderHost& h, const Options& o) { return rawReceive(h, 1, o); });
            l.emplace_back("raw receive, 3 sockets",
                           [](const SenderHost& h, const Options& o) { return rawReceive(h, 3, o); });
            l.emplace_back("plain XTest loop",
                           [](const SenderHost&, const Options& o) { return xtestLoop(o); });
            for (const char* tail : {"key|esc", "cmd|{DOWN}", "move|{1,1}"})
                for (int sockets : {1, 3}) {
                    const std::string name = std::string(tail) + ", " + std::to_string(sockets) +
                                             (sockets == 1 ? " socket" : " sockets");
                    l.emplace_back(
                        name, [tail = std::string(tail), sockets](const SenderHost& h, const Options& o) {
                            return serviceLoad(h, sockets, tail, o);
                        });
                }
            return l;
        }();
    return list;
}

void printRuns(const std::vector<Round>& rounds) {
    std::printf("\n%-26s %11s %11s %11s %12s %12s  %s\n", "run (a second)", "median", "min", "max",
                "sent median", "CPU% m/s/X", "check (each round)");
    for (const auto& [name, run] : runs()) {
        std::vector<double> rates, sent;
        std::string checks;
        for (const Round& round : rounds) {
            const RunResult& r = round.runs.at(name);
            rates.push_back(r.arrivedPerSecond());
            sent.push_back(r.sentPerSecond());
            const std::string check = r.check.empty() ? "-" : r.check;
            if (checks.find(check) == std::string::npos)
                checks += (checks.empty() ? "" : "; ") + check;
        }
        const Spread rate = spreadOf(rates);
        std::vector<double> main, service, x;
        for (const Round& round : rounds) {
            main.push_back(100 * round.runs.at(name).cpu.main);
            service.push_back(100 * round.runs.at(name).cpu.service);
            x.push_back(100 * round.runs.at(name).cpu.x);
        }
        char cpu[32] = "";
        if (spreadOf(main).median + spreadOf(service).median + spreadOf(x).median > 0)
            std::snprintf(cpu, sizeof cpu, "%3.0f %3.0f %3.0f", spreadOf(main).median,
                          spreadOf(service).median, spreadOf(x).median);
        std::printf("%-26s %11.0f %11.0f %11.0f %12.0f %12s  %s\n", name.c_str(), rate.median, rate.min,
                    rate.max, spreadOf(sent).median, cpu, checks.c_str());
    }
    std::printf(
        "(raw receive: datagrams plain sockets took, %d a call; plain XTest loop: Escape taps, press,\n"
        " release and flush; key and cmd: key-downs; both counted at the X server as the focused window\n"
        " got them, and with RECORD, which leaves out some under a flood (check); move: mouse-moved events\n"
        " given to the X poster on the handler's thread; CPU%%: median share of one core from the start of\n"
        " a run to its last arrival: m the main thread, s the service's other threads, X the X server)\n",
        kReceiveBatch);
}

void printRatios(const std::vector<Round>& rounds) {
    struct Ratio {
        const char* run;
        const char* reference;
        const char* aim;
    };
    const Ratio ratios[] = {
        {"key|esc, 1 socket", "plain XTest loop", ">= 0.5"},
        {"key|esc, 3 sockets", "plain XTest loop", ">= 0.5"},
        {"cmd|{DOWN}, 1 socket", "plain XTest loop", ""},
        {"cmd|{DOWN}, 3 sockets", "plain XTest loop", ""},
        {"key|esc, 1 socket", "raw receive, 1 socket", ""},
        {"key|esc, 3 sockets", "raw receive, 3 sockets", ""},
        {"move|{1,1}, 1 socket", "raw receive, 1 socket", ""},
        {"move|{1,1}, 3 sockets", "raw receive, 3 sockets", ""},
        {"plain XTest loop", "raw receive, 1 socket", ""},
    };
    std::printf("\n%-48s %7s %7s %7s  %s\n", "ratio, each to its reference of the same round", "median",
                "min", "max", "aim");
    for (const Ratio& ratio : ratios) {
        std::vector<double> values;
        for (const Round& round : rounds) {
            const double reference = round.runs.at(ratio.reference).arrivedPerSecond();
            values.push_back(reference > 0 ? round.runs.at(ratio.run).arrivedPerSecond() / reference : 0);
        }
        const Spread s = spreadOf(values);
        const std::string label = std::string(ratio.run) + " / " + ratio.reference;
        std::printf("%-48s %7.3f %7.3f %7.3f  %s\n", label.c_str(), s.median, s.min, s.max, ratio.aim);
    }
}

void printLatencies(const std::vector<Round>& rounds, const Options& options) {
    const auto show = [&](const char* title, Latency Round::*member, bool lossIsAim) {
        std::printf("\n%s\n", title);
        std::vector<double> p50, p99, max;
        quint64 lost = 0;
        for (size_t i = 0; i < rounds.size(); ++i) {
            const Latency& l = rounds[i].*member;
            std::printf("  round %zu: sent %llu, lost %llu", i + 1, static_cast<unsigned long long>(l.sent),
                        static_cast<unsigned long long>(l.lost));
            if (!l.micros.empty()) {
                const auto over =
                    std::count_if(l.micros.begin(), l.micros.end(), [](double m) { return m > 1000; });
                std::printf(", p50 %.0f us, p90 %.0f us, p99 %.0f us, max %.0f us, over 1 ms %td", l.p(50),
                            l.p(90), l.p(99), l.max(), over);
                p50.push_back(l.p(50));
                p99.push_back(l.p(99));
                max.push_back(l.max());
            }
            if (!l.note.empty())
                std::printf(" (%s)", l.note.c_str());
            std::printf("\n");
            const auto part = [](const char* name, const std::vector<double>& values) {
                if (!values.empty())
                    std::printf("    %-28s p50 %5.0f us, p99 %5.0f us, max %5.0f us\n", name,
                                percentile(values, 50), percentile(values, 99), values.back());
            };
            part("datagram -> poster:", l.toPoster);
            part("  datagram -> handler thread:", l.toHandler);
            part("  handler -> poster:", l.handlerToPoster);
            part("poster -> X server:", l.fromPoster);
            part("  in the poster:", l.inPoster);
            part("  poster returned -> X server:", l.afterPoster);
            lost += l.lost;
        }
        if (!p50.empty()) {
            const Spread a = spreadOf(p50), b = spreadOf(p99), c = spreadOf(max);
            std::printf(
                "  median of rounds [min-max]: p50 %.0f us [%.0f-%.0f], p99 %.0f us [%.0f-%.0f], max %.0f us "
                "[%.0f-%.0f]  (aim: p99 under 1000 us)\n",
                a.median, a.min, a.max, b.median, b.min, b.max, c.median, c.min, c.max);
        }
        if (lossIsAim)
            std::printf("  lost in all rounds: %llu  (aim: none)\n", static_cast<unsigned long long>(lost));
    };
    char steadyTitle[200];
    std::snprintf(
        steadyTitle, sizeof steadyTitle,
        "at %d datagrams a second for %.1f s, \"key|esc\" on one socket: key-downs that never reached the X "
        "server, and datagram sent -> key-down at the X server",
        options.rate, options.rateSeconds);
    show("latency, datagram sent -> key-down at the X server, \"key|esc\" one at a time, ~1 ms apart:",
         &Round::paced, false);
    show(steadyTitle, &Round::steady, true);
}

void run(const Options& options) {
    const SenderHost host(options);
    const QString loadBefore = loadAverage();
    std::string why;
    auto x = platform::X11EventPoster::open();
    auto recorder = XKeyPressRecorder::start([](Clock::time_point at) { keyDownsAtX.add(at); },
                                             [](Clock::time_point at) { keyDownsAtWindow.add(at); }, why);
    if (!x || !recorder) {
        std::fprintf(stderr, "no X display to post to and record at (%s): run bench/udp-load.sh\n",
                     x ? why.c_str() : "no display with XTest");
        std::exit(1);
    }
    servicePoster = std::make_shared<CountingPoster>(std::move(x));

    std::vector<Round> rounds(size_t(options.rounds));
    for (Round& round : rounds) {
        // The paced run comes first, on a process that no flood of the round has touched yet.
        round.paced = pacedLatency(host, options);
        round.steady = steadyRate(host, options);
        for (const auto& [name, make] : runs())
            round.runs[name] = make(host, options);
    }
    servicePoster.reset();
    recorder.reset();

    std::printf(
        "UDP command load against a real X server (DISPLAY %s): %d rounds, floods of %.1f s from %d senders "
        "a socket; %s\n",
        qgetenv("DISPLAY").constData(), options.rounds, options.seconds, options.senders,
        host.describe().c_str());
    std::printf("cores %u, load average before %s, after %s\n", std::thread::hardware_concurrency(),
                qPrintable(loadBefore), qPrintable(loadAverage()));
    printRuns(rounds);
    printRatios(rounds);
    printLatencies(rounds, options);
}

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool value = i + 1 < argc;
        if (arg == "--seconds" && value)
            options.seconds = std::clamp(std::atof(argv[++i]), 0.5, 60.0);
        else if (arg == "--rounds" && value)
            options.rounds = std::clamp(std::atoi(argv[++i]), 1, 20);
        else if (arg == "--samples" && value)
            options.samples = std::clamp(std::atoi(argv[++i]), 10, 100000);
        else if (arg == "--rate" && value)
            options.rate = std::clamp(std::atoi(argv[++i]), 100, 100000);
        else if (arg == "--rate-seconds" && value)
            options.rateSeconds = std::clamp(std::atof(argv[++i]), 0.5, 30.0);
        else if (arg == "--senders" && value)
            options.senders = std::clamp(std::atoi(argv[++i]), 1, 8);
        else if (arg == "--netns" && value)
            options.netns = argv[++i];
        else if (arg == "--to" && value)
            options.to = argv[++i];
        else if (arg == "--x-pid" && value)
            options.xServerPid = std::atoi(argv[++i]);
        else {
            std::fprintf(
                stderr,
                "usage: %s [--seconds S (0.5-60)] [--rounds N] [--samples N] [--rate R] [--rate-seconds S]\n"
                "          [--senders N] [--netns NAME --to ADDRESS] [--x-pid PID]\n",
                argv[0]);
            std::exit(2);
        }
    }
    if (options.netns.empty() != options.to.empty()) {
        std::fprintf(stderr, "--netns and --to go together\n");
        std::exit(2);
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
        driverThread = int(::gettid());
        run(options);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
    });
    const int status = QCoreApplication::exec();
    driver.join();
    return status;
}

#include "SystemTestSupport.h"

#include "TestBundle.h"
#include "platform/Bundle.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpServer>
#include <QThread>
#include <QUdpSocket>

#include <cerrno>
#include <csignal>
#include <set>
#include <unistd.h>

namespace {

// The lowest port the system hands out for port 0.
int firstEphemeralPort() {
    QFile range(QStringLiteral("/proc/sys/net/ipv4/ip_local_port_range"));
    const int low =
        range.open(QIODevice::ReadOnly) ? range.readAll().simplified().split(' ').value(0).toInt() : 0;
    return low > 1024 ? low : 32768;
}

// A port that no socket of this machine holds for TCP or for UDP, whichever of the two it is to serve,
// and that this process has not given out before. It lies below the range the system hands out for port
// 0, so that no socket bound to port 0 meanwhile (the fake cloud, a client) takes it before the
// application binds it.
quint16 freePort() {
    static std::set<quint16> given;
    const int top = firstEphemeralPort();
    const int bottom = std::max(1024, top - 12000);
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const auto port = quint16(QRandomGenerator::global()->bounded(bottom, top));
        if (given.count(port))
            continue;
        QUdpSocket udp;
        QTcpServer tcp;
        if (udp.bind(QHostAddress::AnyIPv4, port, QAbstractSocket::DontShareAddress) &&
            tcp.listen(QHostAddress::AnyIPv4, port)) {
            given.insert(port);
            return port;
        }
    }
    return 0;
}

QString readAll(QProcess& p) {
    return QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
}

QString ipOutput(const QStringList& arguments) {
    QProcess ip;
    ip.start(QStringLiteral("ip"), arguments);
    ip.waitForFinished(10000);
    return QString::fromUtf8(ip.readAllStandardOutput());
}

// An IPv4 network as "ip" prints it: an address with a prefix length, or a single address.
struct Network {
    quint32 address;
    int length;
};

std::optional<Network> parseNetwork(const QString& token) {
    static const QRegularExpression form(QStringLiteral(R"(^(\d+)\.(\d+)\.(\d+)\.(\d+)(?:/(\d+))?$)"));
    const auto match = form.match(token);
    if (!match.hasMatch())
        return std::nullopt;
    quint32 address = 0;
    for (int i = 1; i <= 4; ++i)
        address = address << 8 | (match.captured(i).toUInt() & 0xff);
    return Network{address, match.captured(5).isEmpty() ? 32 : match.captured(5).toInt()};
}

// Whether the network reaches into the /24 that starts at subnet. Networks wider than a /16 (a VPN's
// 10.0.0.0/8) do not count: the test's /24 is the more specific route and wins within it.
bool reachesInto(const Network& network, quint32 subnet) {
    if (network.length < 16)
        return false;
    const int bits = std::min(network.length, 24);
    const quint32 mask = ~quint32(0) << (32 - bits);
    return (network.address & mask) == (subnet & mask);
}

QString dotted(quint32 address) {
    return QStringLiteral("%1.%2.%3.%4")
        .arg(address >> 24)
        .arg(address >> 16 & 0xff)
        .arg(address >> 8 & 0xff)
        .arg(address & 0xff);
}

// Every address of this machine and every destination of its routes, in all tables.
std::vector<Network> hostNetworks() {
    std::vector<Network> networks;
    const QString listed =
        ipOutput({"-o", "-4", "addr", "show"}) + '\n' + ipOutput({"-4", "route", "show", "table", "all"});
    for (const QString& token : listed.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts))
        if (const auto network = parseNetwork(token))
            networks.push_back(*network);
    return networks;
}

// Whether a link other than the one named has an address in the /24 that starts at subnet.
bool heldByAnotherLink(quint32 subnet, const QString& link) {
    for (const QString& line : ipOutput({"-o", "-4", "addr", "show"}).split('\n', Qt::SkipEmptyParts)) {
        const QStringList fields = line.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
        const qsizetype inet = fields.indexOf(QStringLiteral("inet"));
        if (fields.size() < 2 || inet < 0 || fields.value(1) == link)
            continue;
        if (const auto network = parseNetwork(fields.value(inet + 1));
            network && reachesInto(Network{network->address, 32}, subnet))
            return true;
    }
    return false;
}

} // namespace

QProcessEnvironment applicationEnvironment(const QString& home) {
    const QString runtime = home + QStringLiteral("/run");
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home);
    env.insert("XDG_CONFIG_HOME", home + "/.config");
    env.insert("XDG_CACHE_HOME", home + "/.cache");
    env.insert("XDG_RUNTIME_DIR", runtime);
    env.insert("QT_QPA_PLATFORM", env.value("DISPLAY").isEmpty() ? "offscreen" : "xcb");
    // Buses of the user's session are not the application's: it gets one of its own.
    env.remove("DBUS_SESSION_BUS_ADDRESS");
    env.remove("AT_SPI_BUS_ADDRESS");
    // The application ends without the leak check, so it needs none of the slow stack walks that the leak
    // reports of the unit tests need.
    if (env.contains("ASAN_OPTIONS"))
        env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":fast_unwind_on_malloc=1");
    return env;
}

bool hasSanitizerReport(const QString& output) {
    return output.contains("Sanitizer") || output.contains("runtime error:");
}

SessionBus::SessionBus(const QString& folder, QProcessEnvironment environment) {
    environment.remove("DBUS_SESSION_BUS_ADDRESS"); // its services are to find this bus
    daemon_.setProcessEnvironment(environment);
    daemon_.setChildProcessModifier([] { ::setpgid(0, 0); });
    // A socket in the folder given rather than in /tmp, so that nothing of it outlives the folder.
    daemon_.start("dbus-daemon", {"--session", "--nofork", "--print-address=1",
                                  "--address=unix:path=" + folder + "/session-bus"});
    if (!daemon_.waitForStarted(5000)) {
        error_ = "dbus-daemon did not start: " + daemon_.errorString();
        return;
    }
    group_ = daemon_.processId();
    QElapsedTimer timer;
    timer.start();
    while (!daemon_.canReadLine() && daemon_.state() == QProcess::Running && timer.elapsed() < 10000)
        daemon_.waitForReadyRead(100);
    address_ = QString::fromUtf8(daemon_.readLine().trimmed());
    if (address_.isEmpty())
        error_ = "dbus-daemon gave no address: " + QString::fromUtf8(daemon_.readAllStandardError());
}

void SessionBus::stop() {
    if (group_ <= 0)
        return;
    const auto group = pid_t(group_);
    group_ = 0;
    address_.clear();
    ::kill(-group, SIGTERM);
    daemon_.waitForFinished(2000);
    // The services it started leave with their bus; whichever does not within 2 s is killed.
    QElapsedTimer timer;
    timer.start();
    bool killed = false;
    while (::kill(-group, 0) == 0 || errno != ESRCH) {
        if (!killed && timer.elapsed() > 2000) {
            ::kill(-group, SIGKILL);
            killed = true;
        }
        if (timer.elapsed() > 10000)
            break;
        QThread::msleep(20);
    }
    if (daemon_.state() != QProcess::NotRunning) {
        daemon_.kill();
        daemon_.waitForFinished(5000);
    }
}

PhoneNamespace::PhoneNamespace() {
    static int made = 0; // phones of this process, each with links of its own
    const int index = made++;
    const QString id =
        QString::number(QCoreApplication::applicationPid()) + (index ? QString::number(index) : QString());
    name_ = "pcphone" + id;
    hostLink_ = "pch" + id;
    phoneLink_ = "pcp" + id;
    run({"netns", "del", name_}); // a leftover of an earlier run
    run({"link", "del", hostLink_});
    ready_ = run({"netns", "add", name_}) &&
             run({"link", "add", hostLink_, "type", "veth", "peer", "name", phoneLink_}) &&
             run({"link", "set", phoneLink_, "netns", name_}) && takeSubnet(index) &&
             run({"link", "set", hostLink_, "up"}) &&
             run({"netns", "exec", name_, "ip", "addr", "add", phoneAddress_ + "/24", "dev", phoneLink_}) &&
             run({"netns", "exec", name_, "ip", "link", "set", phoneLink_, "up"}) &&
             run({"netns", "exec", name_, "ip", "link", "set", "lo", "up"});
    if (ready_)
        error_.clear(); // what a subnet given up said
}

// Gives the host's end an address in a /24 among 10.220.1.0 to 10.254.254.0 that this machine does not
// use, starting at one chosen by the process and the phone, so that phones side by side seldom try the
// same. Another test may take the same /24 between the look and the address: whoever sees a second
// link on it afterwards gives it up and tries the next.
bool PhoneNamespace::takeSubnet(int index) {
    constexpr int kCount = 35 * 254;
    const std::vector<Network> used = hostNetworks();
    const int start =
        int((quint64(QCoreApplication::applicationPid()) * 131 + quint64(index) * 4099) % kCount);
    for (int step = 0, attempts = 0; step < kCount && attempts < 16; ++step) {
        const int n = (start + step) % kCount;
        const quint32 subnet = quint32(10) << 24 | quint32(220 + n / 254) << 16 | quint32(1 + n % 254) << 8;
        if (std::any_of(used.begin(), used.end(),
                        [&](const Network& net) { return reachesInto(net, subnet); }))
            continue;
        ++attempts;
        computerAddress_ = dotted(subnet + 1);
        phoneAddress_ = dotted(subnet + 2);
        if (!run({"addr", "add", computerAddress_ + "/24", "dev", hostLink_}))
            continue;
        if (!heldByAnotherLink(subnet, hostLink_))
            return true;
        run({"addr", "del", computerAddress_ + "/24", "dev", hostLink_});
    }
    if (error_.isEmpty())
        error_ = "no free /24 for the phone";
    return false;
}

PhoneNamespace::~PhoneNamespace() {
    run({"link", "del", hostLink_});
    run({"netns", "del", name_});
}

bool PhoneNamespace::run(const QStringList& arguments) {
    QProcess ip;
    ip.start("ip", arguments);
    if (!ip.waitForFinished(10000) || ip.exitStatus() != QProcess::NormalExit || ip.exitCode() != 0) {
        if (error_.isEmpty())
            error_ = "ip " + arguments.join(' ') + ": " + readAll(ip).trimmed();
        return false;
    }
    return true;
}

QStringList PhoneNamespace::phone(const QStringList& arguments) const {
    QProcess p;
    p.start("ip", QStringList{"netns", "exec", name_, PC_PHONE} + arguments);
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

std::pair<int, QByteArray> PhoneNamespace::get(const QString& url) const {
    QProcess p;
    p.start("ip", QStringList{"netns", "exec", name_, PC_PHONE, "--get", url});
    p.waitForFinished(60000);
    const QByteArray out = p.readAllStandardOutput();
    const qsizetype newline = out.indexOf('\n');
    return {out.left(newline).toInt(), out.mid(newline + 1)};
}

AppProcess::AppProcess(const QString& flavour, const QVariantMap& overrides) {
    const platform::Bundle built(QString(PC_BUNDLES_DIR) + "/" + flavour + ".app");
    info_ = built.infoDictionary();
    for (const char* key : {"ConnectPort", "DataPort", "CheckPort", "CommandPort", "LanInfoPort", "HttpPort"})
        info_.insert(key, freePort());
#if defined(__SANITIZE_THREAD__)
    // Qt WebEngine is not built with the thread sanitizer, which would report its insides: under it the
    // application runs without a template site, so the web engine never starts.
    info_.insert("TemplateSiteRoot", "");
#endif
    for (auto it = overrides.begin(); it != overrides.end(); ++it)
        info_.insert(it.key(), it.value());
    bundle_ = std::make_unique<TestBundle>(info_, flavour);
    executable_ = bundle_->path() + "/Contents/MacOS/" + flavour;
    QFile::copy(built.executablePath(), executable_);
    const QDir resources(built.resourcesPath());
    for (const QString& file : resources.entryList(QDir::Files)) {
        QFile::copy(resources.filePath(file), bundle_->resourcesPath() + "/" + file);
    }
}

AppProcess::~AppProcess() {
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(10000);
    }
    bus_.reset();
}

bool AppProcess::start(const QString& readyLine) {
    const QString identifier = info_.value("CFBundleIdentifier").toString();
    QFile settings(home_.path() + "/.config/" + identifier + ".json");
    if (rememberWindowChoice_ &&
        !(QDir().mkpath(home_.path() + "/.config") && settings.open(QIODevice::WriteOnly) &&
          settings.write(R"({"IsStoppedShowingWelcome": true, "SelectedVersion": )" +
                         QByteArray(identifier.contains("SlideWand") ? "1}" : "2}")) > 0 &&
          settings.flush()))
        return false;
    QProcessEnvironment env = applicationEnvironment(home_.path());
    for (auto it = environment_.begin(); it != environment_.end(); ++it)
        env.insert(it.key(), it.value().toString());
    bus_ = std::make_unique<SessionBus>(env.value("XDG_RUNTIME_DIR"), env);
    if (bus_->address().isEmpty()) {
        output_ += "no session bus for the application: " + bus_->error() + '\n';
        return false;
    }
    env.insert("DBUS_SESSION_BUS_ADDRESS", bus_->address());
    process_.setProcessEnvironment(env);
    process_.setProcessChannelMode(QProcess::MergedChannels);
    if (!outputFile_.isEmpty())
        process_.setStandardOutputFile(outputFile_);
    if (launcher_.isEmpty())
        process_.start(executable_, {});
    else
        process_.start(launcher_.front(), launcher_.mid(1) << executable_);
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 30000 && process_.state() != QProcess::NotRunning) {
        if (outputFile_.isEmpty())
            process_.waitForReadyRead(100);
        else
            QThread::msleep(100);
        if (output().contains(readyLine))
            return true;
    }
    return false;
}

QString AppProcess::output() {
    if (outputFile_.isEmpty()) {
        output_ += QString::fromUtf8(process_.readAll());
        return output_;
    }
    QFile file(outputFile_);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

int AppProcess::terminate(int waitMs) {
    process_.terminate();
    if (!process_.waitForFinished(waitMs))
        return -1;
    bus_.reset();
    if (hasSanitizerReport(output()))
        return -2;
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}

#include "SystemTestSupport.h"

#include "TestBundle.h"
#include "platform/Bundle.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QUdpSocket>

namespace {

quint16 freeUdpPort() {
    QUdpSocket probe;
    probe.bind(QHostAddress::AnyIPv4, 0);
    return probe.localPort();
}

QString readAll(QProcess& p) {
    return QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
}

} // namespace

PhoneNamespace::PhoneNamespace() {
    static int made = 0; // phones of this process, each on its own subnet
    const int index = made++;
    const QString id = QString::number(QCoreApplication::applicationPid() % 100000) +
                       (index ? QString::number(index) : QString());
    name_ = "pcphone" + id;
    hostLink_ = "pch" + id;
    phoneLink_ = "pcp" + id;
    const QString subnet = "10." + QString::number(213 + index) + "." +
                           QString::number(QCoreApplication::applicationPid() % 250 + 1) + ".";
    computerAddress_ = subnet + "1";
    phoneAddress_ = subnet + "2";
    run({"netns", "del", name_}); // a leftover of an earlier run
    run({"link", "del", hostLink_});
    ready_ = run({"netns", "add", name_}) &&
             run({"link", "add", hostLink_, "type", "veth", "peer", "name", phoneLink_}) &&
             run({"link", "set", phoneLink_, "netns", name_}) &&
             run({"addr", "add", computerAddress_ + "/24", "dev", hostLink_}) &&
             run({"link", "set", hostLink_, "up"}) &&
             run({"netns", "exec", name_, "ip", "addr", "add", phoneAddress_ + "/24", "dev", phoneLink_}) &&
             run({"netns", "exec", name_, "ip", "link", "set", phoneLink_, "up"}) &&
             run({"netns", "exec", name_, "ip", "link", "set", "lo", "up"});
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
        info_.insert(key, freeUdpPort());
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
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home_.path());
    env.insert("XDG_CONFIG_HOME", home_.path() + "/.config");
    env.insert("XDG_CACHE_HOME", home_.path() + "/.cache");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    // The application ends without the leak check, so it needs none of the slow stack walks that the leak
    // reports of the unit tests need.
    if (env.contains("ASAN_OPTIONS"))
        env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":fast_unwind_on_malloc=1");
    for (auto it = environment_.begin(); it != environment_.end(); ++it)
        env.insert(it.key(), it.value().toString());
    process_.setProcessEnvironment(env);
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(executable_, {});
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 30000 && process_.state() != QProcess::NotRunning) {
        process_.waitForReadyRead(100);
        output_ += QString::fromUtf8(process_.readAll());
        if (output_.contains(readyLine))
            return true;
    }
    return false;
}

QString AppProcess::output() {
    output_ += QString::fromUtf8(process_.readAll());
    return output_;
}

int AppProcess::terminate(int waitMs) {
    process_.terminate();
    if (!process_.waitForFinished(waitMs))
        return -1;
    output_ += QString::fromUtf8(process_.readAll());
    // The application ends without the sanitizers' exit hooks: their reports count here.
    if (output_.contains("Sanitizer") || output_.contains("runtime error:"))
        return -2;
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}

#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantMap>

#include <memory>

class TestBundle;

// The environment of an application run in the home folder given: its configuration, cache and runtime
// folders inside it (the runtime folder "run", made here, closed to others, so the bridges the scripts
// start and their lock files stay in it too); the xcb platform where there is an X display, otherwise
// offscreen.
QProcessEnvironment applicationEnvironment(const QString& home);

// Whether the application's output holds a sanitizer report. The application ends without the
// sanitizers' exit hooks, so the reports in its output are all there is.
bool hasSanitizerReport(const QString& output);

// A session bus of the test's own: a dbus-daemon listening on a socket in the folder given, in a process
// group of its own with every service it starts (the accessibility bus, dconf). stop() ends the whole
// group and waits until it is gone.
class SessionBus {
public:
    // The daemon and the services it starts get the environment given.
    SessionBus(const QString& folder, QProcessEnvironment environment);
    ~SessionBus() { stop(); }
    SessionBus(const SessionBus&) = delete;
    SessionBus& operator=(const SessionBus&) = delete;

    // For DBUS_SESSION_BUS_ADDRESS; empty when the daemon did not start (error() says why).
    const QString& address() const { return address_; }
    const QString& error() const { return error_; }
    void stop();

private:
    QProcess daemon_;
    QString address_, error_;
    qint64 group_ = 0;
};

// A phone host of our own: a network namespace joined to this machine by a veth pair on a private test
// subnet. Nothing leaves the machine: the phone's only link is the pair.
class PhoneNamespace {
public:
    PhoneNamespace();
    // The two ends of the pair, on a /24 that no address or route of this machine uses; one that another
    // link takes meanwhile is given up for the next.
    const QString& computerAddress() const { return computerAddress_; }
    const QString& phoneAddress() const { return phoneAddress_; }
    ~PhoneNamespace();
    bool ready() const { return ready_; }
    // The namespace's name, as "ip netns" knows it.
    const QString& name() const { return name_; }
    const QString& error() const { return error_; }

    // Runs the phone peer inside the namespace and gives the datagrams it received, one per line
    // ("<local port> <text>").
    QStringList phone(const QStringList& arguments) const;
    // One HTTP GET from the phone: the status code and the body.
    std::pair<int, QByteArray> get(const QString& url) const;

private:
    bool run(const QStringList& arguments);
    bool takeSubnet(int index);
    QString name_, hostLink_, phoneLink_, computerAddress_, phoneAddress_;
    bool ready_ = false;
    QString error_;
};

// The application in a copy of a built bundle with free ports of its own, in a home folder of its own,
// with a session bus of its own that ends after it. Its settings remember the flavour's main window, which
// opens at once, unless the test forgets it.
class AppProcess {
public:
    // flavour: "PodiumCast", "SlideWand" or "Steerlynx"; overrides replace keys of its Info.plist.
    AppProcess(const QString& flavour, const QVariantMap& overrides = {});
    ~AppProcess();

    // Sets a variable of the host's environment; call before start().
    void setEnvironment(const QString& name, const QString& value) { environment_.insert(name, value); }
    void forgetWindowChoice() { rememberWindowChoice_ = false; }
    // Sends what the application writes to the file instead of to this process (a long run writes more than
    // should wait in a pipe for its reader); call before start(). output() reads the file.
    void setOutputFile(const QString& path) { outputFile_ = path; }
    // Starts the executable through this command, which gets its path as the last argument and is to
    // replace itself with it (exec), so that the process stays the application's; call before start().
    void setLauncher(const QStringList& launcher) { launcher_ = launcher; }
    // Starts it and waits until its output holds the line (by default: the network service is up).
    bool start(const QString& readyLine = QStringLiteral("_confirmSocket = "));
    // The application's home folder: its cache folder is .cache inside, its log folder is in Documents.
    QString homePath() const { return home_.path(); }
    // Its session bus, for a test's own clients of it.
    QString busAddress() const { return bus_ ? bus_->address() : QString(); }
    // SIGTERM; the exit code, -1 when it did not end within the wait, -2 when a sanitizer reported. The
    // application is to end within 2 s.
    int terminate(int waitMs = 2000);
    qint64 port(const char* key) const { return info_.value(QString::fromLatin1(key)).toLongLong(); }
    // What the application wrote so far.
    QString output();
    // Its process id, 0 when it does not run.
    qint64 processId() const { return process_.processId(); }
    TestBundle& bundle() { return *bundle_; }

private:
    std::unique_ptr<TestBundle> bundle_;
    QVariantMap info_;
    QString executable_;
    QTemporaryDir home_;
    QVariantMap environment_;
    std::unique_ptr<SessionBus> bus_; // made before the process and ended after it
    QProcess process_;
    QString output_;
    QString outputFile_;
    bool rememberWindowChoice_ = true;
    QStringList launcher_;
};

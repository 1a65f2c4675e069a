#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantMap>

#include <memory>

class TestBundle;

// A phone host of our own: a network namespace joined to this machine by a veth pair on a private test
// subnet. Nothing leaves the machine: the phone's only link is the pair.
class PhoneNamespace {
public:
    PhoneNamespace();
    // The two ends of the pair, on a /24 chosen by the process id and the phone's number in the process,
    // so that phones and test processes running side by side never share a subnet.
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
    QString name_, hostLink_, phoneLink_, computerAddress_, phoneAddress_;
    bool ready_ = false;
    QString error_;
};

// The application in a copy of a built bundle with free ports of its own, in a home folder of its own.
// Its settings remember the flavour's main window, which opens at once, unless the test forgets it.
class AppProcess {
public:
    // flavour: "PodiumCast", "SlideWand" or "Steerlynx"; overrides replace keys of its Info.plist.
    AppProcess(const QString& flavour, const QVariantMap& overrides = {});
    ~AppProcess();

    // Sets a variable of the host's environment; call before start().
    void setEnvironment(const QString& name, const QString& value) { environment_.insert(name, value); }
    void forgetWindowChoice() { rememberWindowChoice_ = false; }
    // Starts it and waits until its output holds the line (by default: the network service is up).
    bool start(const QString& readyLine = QStringLiteral("_confirmSocket = "));
    // The application's home folder: its cache folder is .cache inside, its log folder is in Documents.
    QString homePath() const { return home_.path(); }
    // SIGTERM; the exit code, -1 when it did not end within the wait, -2 when a sanitizer reported.
    int terminate(int waitMs = 30000);
    qint64 port(const char* key) const { return info_.value(QString::fromLatin1(key)).toLongLong(); }
    // What the application wrote so far.
    QString output();
    TestBundle& bundle() { return *bundle_; }

private:
    std::unique_ptr<TestBundle> bundle_;
    QVariantMap info_;
    QString executable_;
    QTemporaryDir home_;
    QVariantMap environment_;
    QProcess process_;
    QString output_;
    bool rememberWindowChoice_ = true;
};

// A phone on the local network, for system tests: binds the phone's reply ports, sends datagrams to
// the computer and prints every datagram it gets back as "<local port> <text>", one per line.
//   pc_phone --to <host> --port <port> --listen <port>[,<port>...] [--send <text>]... [--wait <ms>] [--expect
//   <n>] [--from <port>] [--fuzz <n>]   (the datagrams go from that port, otherwise from one the system
//   chooses; --fuzz sends n datagrams of random bytes after the others; answers that come back to the
//   sending port are printed too)
//   pc_phone --get <url>      prints the status and the body of one HTTP GET
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkDatagram>
#include <QNetworkReply>
#include <QRandomGenerator>
#include <QUdpSocket>

#include <cstdio>
#include <memory>
#include <vector>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QString to;
    quint16 port = 0, from = 0;
    QStringList listen, sends;
    int waitMs = 3000, expect = -1, fuzz = 0;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        const QString& key = args[i];
        const QString& value = args[i + 1];
        if (key == u"--to")
            to = value;
        else if (key == u"--port")
            port = quint16(value.toUInt());
        else if (key == u"--listen")
            listen = value.split(u',');
        else if (key == u"--send")
            sends.append(value);
        else if (key == u"--wait")
            waitMs = value.toInt();
        else if (key == u"--expect")
            expect = value.toInt();
        else if (key == u"--from")
            from = quint16(value.toUInt());
        else if (key == u"--fuzz")
            fuzz = value.toInt();
    }
    if (args.size() == 3 && args[1] == u"--get") {
        QNetworkAccessManager http;
        QNetworkRequest request{QUrl(args[2])};
        request.setTransferTimeout(30000);
        QNetworkReply* reply = http.get(request);
        QObject::connect(reply, &QNetworkReply::finished, &app, &QCoreApplication::quit);
        QCoreApplication::exec();
        const QByteArray body = reply->readAll();
        std::printf("%d\n%s", reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                    body.constData());
        return 0;
    }
    std::vector<std::unique_ptr<QUdpSocket>> listening;
    for (const QString& p : listen) {
        auto socket = std::make_unique<QUdpSocket>();
        if (!socket->bind(QHostAddress::AnyIPv4, quint16(p.toUInt()))) {
            std::fprintf(stderr, "cannot bind %s\n", qPrintable(p));
            return 2;
        }
        listening.push_back(std::move(socket));
    }
    QUdpSocket sender;
    if (from)
        sender.bind(QHostAddress::AnyIPv4, from);
    for (const QString& text : sends)
        sender.writeDatagram(text.toUtf8(), QHostAddress(to), port);
    QRandomGenerator random(port);
    for (int i = 0; i < fuzz; ++i) {
        QByteArray datagram(qsizetype(random.bounded(600)), Qt::Uninitialized);
        for (char& c : datagram)
            c = char(random.bounded(256));
        sender.writeDatagram(datagram, QHostAddress(to), port);
    }

    std::vector<QUdpSocket*> sockets;
    for (auto& socket : listening)
        sockets.push_back(socket.get());
    if (sender.state() == QAbstractSocket::BoundState) // bound by its first datagram when not before
        sockets.push_back(&sender);
    int received = 0;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < waitMs && (expect < 0 || received < expect)) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        for (QUdpSocket* socket : sockets) {
            while (socket->hasPendingDatagrams()) {
                const QNetworkDatagram d = socket->receiveDatagram();
                std::printf("%u %s\n", unsigned(socket->localPort()), d.data().constData());
                std::fflush(stdout);
                ++received;
            }
        }
    }
    return 0;
}

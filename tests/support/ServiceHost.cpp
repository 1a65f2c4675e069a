// Runs the network service start-up of the main window without a window, on the bundle folder given as
// the one argument: the network service with its machine-information timer, the UDP endpoint, the LAN
// slide-information server and the cloud heartbeat, then the presentation bridge on a background thread.
// SIGTERM or SIGINT stops listening and exits 0.
#include "core/GlobalQueue.h"
#include "core/Logger.h"
#include "platform/Bundle.h"
#include "platform/TerminationSignals.h"
#include "presentation/PowerPointHelper.h"
#include "remote/SWDMacNetworkManager.h"

#include <QApplication>

#include <cstdio>


int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <bundle folder>\n", argv[0]);
        return 2;
    }
    platform::Bundle::setMainBundlePath(QString::fromLocal8Bit(argv[1]));
    Logger::addConsoleLogger(LogLevel::Verbose);

    SWDMacNetworkManager& network = SWDMacNetworkManager::SharedManager();
    network.startUdp();
    network.startHttpServer();
    network.startSendingApiHeartBeat();
    GlobalQueue::async([] { PowerPointHelper::SharedHelper(); });

    platform::TerminationSignals::install([&network] {
        network.stopListening();
        QCoreApplication::exit(0);
    });
    LOG_INFO("service host ready");
    return QApplication::exec();
}

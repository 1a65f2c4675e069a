#pragma once

#include "legacy/ConnectChannel.h"
#include "legacy/UdpSocket.h"

#include <QColor>
#include <QWidget>

#include <memory>
#include <optional>
#include <vector>

class QComboBox;
class QLabel;
class QPushButton;
class QTimer;

namespace platform {
class Alerts;
class EventPoster;
class HostFacts;
} // namespace platform

namespace Ui {
class ViewController;
}

// The legacy LAN window: shows the host name and its addresses, and between Start and End listens on
// three port triples for a small text protocol of datagrams (handshake, address request, slide keys,
// clicks, relative moves) while it announces the chosen address by broadcast every 5 seconds. Everything
// runs on the main thread. Its messages go to the plain console log.
class ViewController : public QWidget {
    Q_OBJECT
public:
    struct Collaborators {
        std::shared_ptr<platform::EventPoster> eventPoster;
        std::shared_ptr<platform::HostFacts> hostFacts;
        std::shared_ptr<platform::Alerts> alerts;
        UdpSocketFactory makeSocket;
    };
    static constexpr int kAnnouncementInterval = 5000; // ms

    explicit ViewController(Collaborators collaborators, QWidget* parent = nullptr);
    ~ViewController() override;

    // Fills the host name and the address list, selects the address, and builds the channels.
    void loadAndInit();
    // Styles the address list and the three buttons.
    void resizeViews();
    // Gives the button's title the system font at the size, in the colour (black when none), centred.
    static void setButtonColor(QPushButton* button, const std::optional<QColor>& color, int size);

    // "Deckhop:<selected address>|||<host name>"; the address part is empty while none is selected.
    QString getIPInfoMessage() const;
    // One announcement from every channel's broadcast socket.
    void sendIPViaBroadcast();
    // The first channel with the port as its command, broadcast or check port; null when none has it.
    const ConnectChannel* getChannelByPort(int port) const;
    // Handles one datagram from a command or check socket and arms that socket again.
    void onUdpSocket(UdpSocket& socket, const QByteArray& bytes, const QString& host, quint16 port);
    // The window is closing: the application quits.
    void windowWillClose();

    const QString& broadcastHost() const { return broadcastHost_; }
    const std::vector<ConnectChannel>& channels() const { return channels_; }
    // The announcement timer while listening, null otherwise.
    QTimer* sendIPTimer() const { return sendIPTimer_.get(); }
    QComboBox* IPAddressComboBox() const;
    QPushButton* startButton() const;
    QPushButton* endButton() const;
    QPushButton* helpButton() const;
    QLabel* hostNameLabel() const;

public Q_SLOTS:
    void StartControl();
    void EndControl();
    void showHelp();
    void showHowToUse();

protected:
    // Each time the window becomes visible: styling, and from the first time on it watches the closing of
    // its window.
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::optional<QString> selectedAddress() const;
    // A socket bound to the port (the failure logged in the format), armed when it bound and receives.
    std::unique_ptr<UdpSocket> makeBoundSocket(int port, const char* failureFormat, bool receive);
    void pressKey(std::uint16_t keyCode);
    void click(bool right);
    void move(const QString& text);

    Collaborators collaborators_;
    std::unique_ptr<Ui::ViewController> ui_;
    QString broadcastHost_;
    std::vector<ConnectChannel> channels_;
    std::vector<std::unique_ptr<UdpSocket>> udpCommandSockets_;
    std::vector<std::unique_ptr<UdpSocket>> udpSendBroadcastSockets_;
    std::vector<std::unique_ptr<UdpSocket>> udpCheckSockets_;
    std::unique_ptr<QTimer> sendIPTimer_;
};

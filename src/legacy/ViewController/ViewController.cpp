#include "ViewController.h"

#include "ui_ViewController.h"

#include "core/Logger.h"
#include "core/StringHelper.h"
#include "platform/Alerts.h"
#include "platform/EventPoster.h"
#include "platform/HostFacts.h"

#include <QCoreApplication>
#include <QFontDatabase>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <limits>

using platform::EventSource;
using platform::EventTap;
using platform::InputEvent;
namespace EventType = platform::EventType;
namespace MouseButton = platform::MouseButton;

namespace {

constexpr std::uint16_t kDownArrowKey = 125;
constexpr std::uint16_t kUpArrowKey = 126;
constexpr std::uint64_t kSlideKeyFlags = 12;

// The decimal integer at the start of the text: blanks skipped, an optional sign, then the digits up to
// the first other character; 0 when there are none, and clamped to the signed 32-bit range.
std::int32_t leadingInteger(QStringView text) {
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+'))
        negative = text[i++] == u'-';
    constexpr std::int64_t limit = std::int64_t(std::numeric_limits<std::int32_t>::max()) + 1;
    std::int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i)
        magnitude = std::min(limit, magnitude * 10 + (text[i].unicode() - u'0'));
    const std::int64_t value = negative ? -magnitude : magnitude;
    return std::int32_t(std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                                 std::numeric_limits<std::int32_t>::max()));
}

} // namespace

ViewController::ViewController(Collaborators collaborators, QWidget* parent)
    : QWidget(parent)
    , collaborators_(std::move(collaborators))
    , ui_(std::make_unique<Ui::ViewController>()) {
    ui_->setupUi(this);
    connect(ui_->startButton, &QPushButton::clicked, this, &ViewController::StartControl);
    connect(ui_->endButton, &QPushButton::clicked, this, &ViewController::EndControl);
    connect(ui_->helpButton, &QPushButton::clicked, this, &ViewController::showHelp);
    loadAndInit();
}

ViewController::~ViewController() = default;

QComboBox* ViewController::IPAddressComboBox() const {
    return ui_->IPAddressList;
}
QPushButton* ViewController::startButton() const {
    return ui_->startButton;
}
QPushButton* ViewController::endButton() const {
    return ui_->endButton;
}
QPushButton* ViewController::helpButton() const {
    return ui_->helpButton;
}
QLabel* ViewController::hostNameLabel() const {
    return ui_->hostNameLabel;
}

void ViewController::loadAndInit() {
    using Family = platform::InterfaceAddress::Family;
    ui_->hostNameLabel->setText(QStringLiteral("Host name: ") + collaborators_.hostFacts->hostName());

    QComboBox* list = ui_->IPAddressList;
    list->clear();
    if (const auto interfaces = collaborators_.hostFacts->interfaceAddresses()) {
        for (const platform::InterfaceAddress& entry : *interfaces) {
            if (entry.family != Family::Other && entry.address)
                list->addItem(*entry.address);
        }
    }
    // A combo box selects its first item by itself; here only a private-network address is selected,
    // the last one listed.
    list->setCurrentIndex(-1);
    for (int i = 0; i < list->count(); ++i) {
        const QString item = list->itemText(i);
        if (item.startsWith(u"192.168") || item.startsWith(u"172.16") || item.startsWith(u"10.0"))
            list->setCurrentIndex(i);
    }

    broadcastHost_ = QStringLiteral("255.255.255.255");
    channels_ = {ConnectChannel::channelWithCommandPort(4688, 4689, 4690),
                 ConnectChannel::channelWithCommandPort(44688, 44689, 44690),
                 ConnectChannel::channelWithCommandPort(54688, 54689, 54690)};
    udpCommandSockets_.clear();
    udpSendBroadcastSockets_.clear();
    udpCheckSockets_.clear();
}

void ViewController::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    resizeViews();
    window()->installEventFilter(this); // installing again changes nothing
}

bool ViewController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window() && event->type() == QEvent::Close)
        windowWillClose();
    return QWidget::eventFilter(watched, event);
}

void ViewController::windowWillClose() {
    QCoreApplication::quit();
}

void ViewController::resizeViews() {
    ui_->IPAddressList->resize(ui_->IPAddressList->width(), 25);
    setButtonColor(ui_->startButton, QColor(Qt::white), 14);
    setButtonColor(ui_->helpButton, QColor::fromRgbF(2 / 255.0, 67 / 255.0, 99 / 255.0, 0.75), 10);
    setButtonColor(ui_->endButton, QColor::fromRgbF(61 / 255.0, 113 / 255.0, 124 / 255.0, 1.0), 14);
}

void ViewController::setButtonColor(QPushButton* button, const std::optional<QColor>& color, int size) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSize(size);
    button->setFont(font);
    // The title keeps its text; a disabled button still shows it greyed out.
    QPalette palette = button->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive})
        palette.setColor(group, QPalette::ButtonText, color.value_or(QColor(Qt::black)));
    button->setPalette(palette);
}

std::optional<QString> ViewController::selectedAddress() const {
    const QComboBox* list = ui_->IPAddressList;
    if (list->currentIndex() < 0)
        return std::nullopt;
    return list->currentText();
}

QString ViewController::getIPInfoMessage() const {
    return QStringLiteral("Deckhop:%1|||%2")
        .arg(selectedAddress().value_or(QString()), collaborators_.hostFacts->hostName());
}

std::unique_ptr<UdpSocket> ViewController::makeBoundSocket(int port, const char* failureFormat,
                                                           bool receive) {
    auto socket = collaborators_.makeSocket([this](UdpSocket& s, const QByteArray& bytes, const QString& host,
                                                   quint16 from) { onUdpSocket(s, bytes, host, from); });
    if (const auto error = socket->bindToPort(quint16(port)))
        Logger::plain(QString::fromLatin1(failureFormat).arg(QString::number(port), *error));
    else if (receive)
        socket->receiveOne();
    return socket;
}

void ViewController::StartControl() {
    Logger::plain(QStringLiteral("start to listen ") + selectedAddress().value_or(QStringLiteral("(null)")));
    for (const ConnectChannel& channel : channels_) {
        // A socket that could not bind keeps its place in its list all the same.
        udpCommandSockets_.push_back(
            makeBoundSocket(channel.CommandPort(), "Error binding port %1: %2", true));
        udpSendBroadcastSockets_.push_back(
            makeBoundSocket(channel.BroadcastPort(), "Error binding broadcast port %1: %2", false));
        udpCheckSockets_.push_back(
            makeBoundSocket(channel.CheckPort(), "Error binding check port %1: %2", true));
    }

    sendIPTimer_ = std::make_unique<QTimer>();
    sendIPTimer_->setInterval(kAnnouncementInterval);
    connect(sendIPTimer_.get(), &QTimer::timeout, this, &ViewController::sendIPViaBroadcast);
    sendIPTimer_->start();

    ui_->IPAddressList->setEnabled(false);
    ui_->startButton->setEnabled(false);
    ui_->endButton->setEnabled(true);
    window()->setWindowTitle(QStringLiteral("Slide Wand Status: ON"));
}

void ViewController::EndControl() {
    for (auto* sockets : {&udpCommandSockets_, &udpCheckSockets_, &udpSendBroadcastSockets_}) {
        for (auto& socket : *sockets)
            socket->close();
        sockets->clear();
    }
    sendIPTimer_.reset();
    Logger::plain(QStringLiteral("end listen"));

    ui_->IPAddressList->setEnabled(true);
    ui_->startButton->setEnabled(true);
    ui_->endButton->setEnabled(false);
    window()->setWindowTitle(QStringLiteral("Slide Wand Status: OFF"));
}

void ViewController::sendIPViaBroadcast() {
    const QString message = getIPInfoMessage();
    const QByteArray bytes = message.toUtf8();
    for (size_t i = 0; i < channels_.size() && i < udpSendBroadcastSockets_.size(); ++i) {
        const int port = channels_[i].BroadcastPort();
        udpSendBroadcastSockets_[i]->sendData(bytes, broadcastHost_, quint16(port));
        Logger::plain(QStringLiteral("send broadcast via port %1: %2").arg(QString::number(port), message));
    }
}

const ConnectChannel* ViewController::getChannelByPort(int port) const {
    const auto it = std::find_if(channels_.begin(), channels_.end(), [port](const ConnectChannel& c) {
        return c.CommandPort() == port || c.BroadcastPort() == port || c.CheckPort() == port;
    });
    return it == channels_.end() ? nullptr : &*it;
}

void ViewController::onUdpSocket(UdpSocket& socket, const QByteArray& bytes, const QString& host,
                                 quint16 port) {
    // Bytes that are not UTF-8 have no text and match nothing.
    const std::optional<QString> text = StringHelper::decodeUtf8(bytes);
    Logger::plain(QStringLiteral("receive data from [%1:%2]: %3")
                      .arg(host, QString::number(port), text.value_or(QStringLiteral("(null)"))));
    const QString command = text.value_or(QString()).toLower();
    if (command == u"connect") {
        socket.sendData(QByteArrayLiteral("confirm"), host, port);
    } else if (command == u"check") {
        if (const ConnectChannel* channel = getChannelByPort(port)) {
            const size_t index = size_t(channel - channels_.data());
            if (index < udpSendBroadcastSockets_.size()) {
                const QString message = getIPInfoMessage();
                udpSendBroadcastSockets_[index]->sendData(message.toUtf8(), host,
                                                          quint16(channel->BroadcastPort()));
                Logger::plain(QStringLiteral("send ip info message via port %1: %2")
                                  .arg(QString::number(channel->BroadcastPort()), message));
            }
        }
    } else if (command == u"cmd|{down}") {
        pressKey(kDownArrowKey);
    } else if (command == u"cmd|{up}") {
        pressKey(kUpArrowKey);
    } else if (command == u"click" || command == u"rightclick") {
        click(command == u"rightclick");
    } else if (command.startsWith(u"move|")) {
        move(command);
    }
    socket.receiveOne();
}

void ViewController::pressKey(std::uint16_t keyCode) {
    InputEvent down;
    down.type = EventType::KeyDown;
    down.keyCode = keyCode;
    down.flags = kSlideKeyFlags;
    down.source = EventSource::CombinedSession;
    down.tap = EventTap::AnnotatedSession;
    InputEvent up = down;
    up.type = EventType::KeyUp;
    up.flags.reset(); // as the source made it
    collaborators_.eventPoster->post(down);
    collaborators_.eventPoster->post(up);
}

void ViewController::click(bool right) {
    InputEvent event;
    event.type = right ? EventType::RightMouseDown : EventType::LeftMouseDown;
    event.button = right ? MouseButton::Right : MouseButton::Left;
    event.location = collaborators_.eventPoster->cursorLocation();
    event.source = EventSource::CombinedSession;
    event.tap = EventTap::Hid;
    collaborators_.eventPoster->post(event);
    event.type = right ? EventType::RightMouseUp : EventType::LeftMouseUp;
    collaborators_.eventPoster->post(event);
}

void ViewController::move(const QString& text) {
    // "move|{dx,dy}": the first "{", "," and "}", in this order, or the datagram is ignored.
    const qsizetype open = text.indexOf(u'{');
    const qsizetype comma = text.indexOf(u',');
    const qsizetype close = text.indexOf(u'}');
    if (open < 0 || comma <= open || close <= comma)
        return;
    const std::int32_t dx = leadingInteger(QStringView(text).sliced(open + 1, comma - open - 1));
    const std::int32_t dy = leadingInteger(QStringView(text).sliced(comma + 1, close - comma - 1));
    const std::int64_t larger = std::max(std::llabs(dx), std::llabs(dy));
    const int steps = larger <= 400 ? 4 : larger <= 600 ? 6 : 8;
    const QPointF step(double(dx) / steps, double(dy) / steps);
    // Warps move the cursor without mouse-moved events, one step after the other.
    for (int i = 0; i < steps; ++i) {
        auto& poster = *collaborators_.eventPoster;
        poster.warpCursor(poster.cursorLocation() + step);
    }
}

void ViewController::showHelp() {
    Logger::plain(QStringLiteral("show guide"));
    const QStringList lines{
        QStringLiteral("How to use"),
        QStringLiteral(
            "1. The cellphone and Mac are connected via LAN. To control the Keynote with cellphone, you "
            "have to firstly start this Mac application, select the IP address which is in the same "
            "LAN with the cellphone, and input this IP address of the Mac in the cellphone app."),
        QStringLiteral("2. With the correct settings, you can control your Keynote by swiping left and right "
                       "easily now."),
        QStringLiteral(
            "Notice: It is possible that this Mac application would be blocked by some security and "
            "firewall softwares.")};
    collaborators_.alerts->runModal({.messageText = lines.join(u'\n'), .informativeText = {}, .buttons = {}});
}

void ViewController::showHowToUse() {
    Logger::plain(QStringLiteral("show guide"));
    collaborators_.alerts->runModal(
        {.messageText = QStringLiteral("alert"), .informativeText = {}, .buttons = {}});
}

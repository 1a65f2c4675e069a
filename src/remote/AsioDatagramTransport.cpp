#include "AsioDatagramTransport.h"

#include "core/Logger.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include <array>
#include <mutex>
#include <thread>
#include <vector>

namespace asio = boost::asio;
using udp = asio::ip::udp;
using boost::system::error_code;

namespace {

constexpr size_t kRoles = 4;

size_t indexOf(UdpSocketRole role) {
    return size_t(role);
}

// One socket with its receive buffer; the mutex serialises every call into the socket object.
struct Slot {
    std::mutex mutex;
    std::unique_ptr<udp::socket> socket;
    DatagramTransport::Receiver receiver;
    quint16 port = 0;
    // Only the receive handler touches these, and only one runs per socket at a time.
    std::array<char, DatagramTransport::kMaxDatagramSize> buffer{};
    udp::endpoint sender;
    std::vector<Datagram> batch;
    asio::ip::address lastAddress;
    QString lastHost;
};

} // namespace

struct AsioDatagramTransport::Impl {
    asio::io_context io;
    asio::executor_work_guard<asio::io_context::executor_type> work{io.get_executor()};
    std::vector<std::thread> threads;
    std::array<Slot, kRoles> slots;

    void arm(UdpSocketRole role) {
        Slot& slot = slots[indexOf(role)];
        std::lock_guard lock(slot.mutex);
        if (!slot.socket || !slot.socket->is_open())
            return;
        slot.socket->async_receive_from(
            asio::buffer(slot.buffer), slot.sender,
            [this, role](const error_code& error, size_t size) { received(role, error, size); });
    }

    void keep(Slot& slot, size_t size) {
        if (slot.sender.address() != slot.lastAddress || slot.lastHost.isEmpty()) {
            slot.lastAddress = slot.sender.address();
            slot.lastHost = QString::fromStdString(slot.lastAddress.to_string());
        }
        slot.batch.push_back(
            {QByteArray(slot.buffer.data(), qsizetype(size)), slot.lastHost, slot.sender.port()});
    }

    // Takes the datagrams the socket already holds, without waiting, until the batch is full.
    void takeQueued(Slot& slot) {
        while (slot.batch.size() < size_t(kMaxBatch)) {
            std::lock_guard lock(slot.mutex);
            if (!slot.socket || !slot.socket->is_open())
                return;
            error_code error;
            // Nothing queued (an empty datagram also reads as nothing: it comes with the next batch).
            if (slot.socket->available(error) == 0 || error)
                return;
            const size_t size = slot.socket->receive_from(asio::buffer(slot.buffer), slot.sender, 0, error);
            if (error)
                return;
            keep(slot, size);
        }
    }

    void received(UdpSocketRole role, const error_code& error, size_t size) {
        if (error == asio::error::operation_aborted || error == asio::error::bad_descriptor)
            return; // closed
        Slot& slot = slots[indexOf(role)];
        if (!error) {
            keep(slot, size);
            takeQueued(slot);
            slot.receiver(role, slot.batch);
            slot.batch.clear();
        } else {
            LOG_DEBUG("udp receive on port {} failed: {}", slot.port, error.message());
        }
        arm(role);
    }
};

AsioDatagramTransport::AsioDatagramTransport(int threads)
    : impl_(std::make_unique<Impl>()) {
    for (int i = 0; i < threads; ++i)
        impl_->threads.emplace_back([this] { impl_->io.run(); });
}

AsioDatagramTransport::~AsioDatagramTransport() {
    closeAll();
    impl_->work.reset();
    impl_->io.stop();
    for (auto& t : impl_->threads)
        t.join();
}

std::optional<QString> AsioDatagramTransport::listen(UdpSocketRole role, quint16 port, Receiver receiver) {
    Slot& slot = impl_->slots[indexOf(role)];
    {
        std::lock_guard lock(slot.mutex);
        auto socket = std::make_unique<udp::socket>(impl_->io);
        error_code error;
        socket->open(udp::v4(), error);
        if (!error) {
            error_code ignored; // a refused option changes nothing else
            socket->set_option(asio::socket_base::broadcast(true), ignored);
            socket->set_option(asio::socket_base::receive_buffer_size(kReceiveBufferBytes), ignored);
            socket->bind(udp::endpoint(asio::ip::address_v4::any(), port), error);
        }
        if (error)
            return QString::fromStdString(error.message());
        slot.socket = std::move(socket);
        slot.receiver = std::move(receiver);
        slot.port = port;
        slot.batch.reserve(size_t(kMaxBatch));
    }
    impl_->arm(role);
    return std::nullopt;
}

void AsioDatagramTransport::openUnbound(UdpSocketRole role) {
    Slot& slot = impl_->slots[indexOf(role)];
    std::lock_guard lock(slot.mutex);
    auto socket = std::make_unique<udp::socket>(impl_->io);
    error_code error;
    socket->open(udp::v4(), error);
    if (error) {
        LOG_ERROR("cannot open a udp socket: {}", error.message());
        return;
    }
    slot.socket = std::move(socket);
}

void AsioDatagramTransport::send(UdpSocketRole role, const QString& host, quint16 port,
                                 const QByteArray& data) {
    error_code error;
    const auto address = asio::ip::make_address_v4(host.toStdString(), error);
    if (error) {
        LOG_DEBUG("not sending to \"{}\": {}", host, error.message());
        return;
    }
    Slot& slot = impl_->slots[indexOf(role)];
    std::lock_guard lock(slot.mutex);
    if (!slot.socket || !slot.socket->is_open())
        return;
    slot.socket->send_to(asio::buffer(data.constData(), size_t(data.size())), udp::endpoint(address, port), 0,
                         error);
    if (error)
        LOG_DEBUG("udp send to {}:{} failed: {}", host, port, error.message());
}

void AsioDatagramTransport::closeAll() {
    for (Slot& slot : impl_->slots) {
        std::lock_guard lock(slot.mutex);
        if (slot.socket) {
            error_code ignored;
            slot.socket->close(ignored);
        }
    }
}

QString AsioDatagramTransport::describe(UdpSocketRole role) const {
    Slot& slot = impl_->slots[indexOf(role)];
    std::lock_guard lock(slot.mutex);
    if (!slot.socket || !slot.socket->is_open())
        return QStringLiteral("(null)");
    error_code error;
    const auto local = slot.socket->local_endpoint(error);
    if (error)
        return QStringLiteral("<udp socket>");
    return QStringLiteral("<udp socket %1:%2>")
        .arg(QString::fromStdString(local.address().to_string()))
        .arg(local.port());
}

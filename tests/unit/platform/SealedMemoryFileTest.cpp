#include "platform/SealedMemoryFile.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

using platform::SealedMemoryFile;

namespace {

// A TCP connection over loopback: the sending end non-blocking, as the server's sockets are.
struct Connection {
    Connection() {
        const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        EXPECT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
        EXPECT_EQ(::listen(listener, 1), 0);
        EXPECT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
        sender = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        EXPECT_EQ(::connect(sender, reinterpret_cast<sockaddr*>(&address), length), 0);
        receiver = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        ::close(listener);
        ::fcntl(sender, F_SETFL, ::fcntl(sender, F_GETFL) | O_NONBLOCK);
    }
    ~Connection() {
        ::close(sender);
        ::close(receiver);
    }
    void receive(QByteArray& into) const {
        char buffer[65536];
        ssize_t n;
        while ((n = ::read(receiver, buffer, sizeof buffer)) > 0)
            into.append(buffer, n);
    }
    int sender = -1, receiver = -1;
};

QByteArray patterned(qsizetype size) {
    QByteArray out(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        out[i] = char(i % 251);
    return out;
}

std::unique_ptr<SealedMemoryFile> fileOf(const QByteArray& bytes) {
    std::error_code error;
    auto file = SealedMemoryFile::create(bytes, error);
    EXPECT_TRUE(file) << error.message();
    return file;
}

bool pipeSignal(bool pending) {
    sigset_t set;
    sigemptyset(&set);
    if (pending)
        sigpending(&set);
    else
        pthread_sigmask(SIG_BLOCK, nullptr, &set);
    return sigismember(&set, SIGPIPE) == 1;
}

// SIGPIPE ends the process while one lives, as it does in a program that never wrote to a Qt socket.
struct DefaultBrokenPipe {
    void (*const previous)(int) = std::signal(SIGPIPE, SIG_DFL);
    ~DefaultBrokenPipe() { std::signal(SIGPIPE, previous); }
};

} // namespace

// Several sends from an offset, each as much as the socket takes, give the bytes from there on in order;
// an offset at the end is refused.
TEST(SealedMemoryFile, SendsItsBytesFromAnOffsetInPieces) {
    const QByteArray bytes = patterned(3 * 1024 * 1024);
    const auto file = fileOf(bytes);
    ASSERT_TRUE(file);
    ASSERT_EQ(file->size(), size_t(bytes.size()));
    Connection connection;
    QByteArray received;
    size_t offset = 1000;
    for (int rounds = 0; offset < file->size() && rounds < 100000; ++rounds) {
        const auto sent = file->sendTo(connection.sender, offset);
        ASSERT_FALSE(sent.error) << sent.error.message();
        offset += sent.bytes;
        connection.receive(received);
    }
    ASSERT_EQ(offset, file->size());
    for (int rounds = 0; received.size() < bytes.size() - 1000 && rounds < 1000; ++rounds) {
        ::usleep(1000);
        connection.receive(received);
    }
    EXPECT_TRUE(received == bytes.mid(1000)) << received.size() << " bytes received";
    EXPECT_TRUE(file->sendTo(connection.sender, file->size()).error);
}

// A send into a connection that can take no more bytes is an error and ends no process: the signal the
// kernel raises for it is taken back, and the thread's signals are left as they were, a SIGPIPE that was
// pending before the send included.
TEST(SealedMemoryFile, ABrokenConnectionIsAnErrorThatRaisesNoSignal) {
    const auto file = fileOf(patterned(100000));
    ASSERT_TRUE(file);
    const DefaultBrokenPipe brokenPipe;
    Connection connection;
    ASSERT_EQ(::shutdown(connection.sender, SHUT_WR), 0);
    const auto sent = file->sendTo(connection.sender, 0);
    EXPECT_EQ(sent.error, std::error_code(EPIPE, std::system_category())) << sent.error.message();
    EXPECT_FALSE(pipeSignal(true)) << "a SIGPIPE left pending";
    EXPECT_FALSE(pipeSignal(false)) << "SIGPIPE left blocked";

    sigset_t pipe, previous;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &pipe, &previous), 0);
    ASSERT_EQ(pthread_kill(pthread_self(), SIGPIPE), 0);
    EXPECT_TRUE(file->sendTo(connection.sender, 0).error);
    EXPECT_TRUE(pipeSignal(true)) << "the SIGPIPE pending before the send was taken";
    EXPECT_TRUE(pipeSignal(false)) << "SIGPIPE no longer blocked";
    const timespec now{0, 0};
    EXPECT_EQ(sigtimedwait(&pipe, nullptr, &now), SIGPIPE);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

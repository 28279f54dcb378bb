// The blocking stream socket: result numbers of reads and writes, time-outs,
// a peer that goes away, and connecting over loopback and local paths.
#include "net/SocketLibSyncSocket.h"

#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <QDir>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

struct Pair
{
    std::unique_ptr<SocketLibSyncSocket> a;
    std::unique_ptr<SocketLibSyncSocket> b;
};

Pair makePair()
{
    int fds[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    return {std::make_unique<SocketLibSyncSocket>(fds[0]), std::make_unique<SocketLibSyncSocket>(fds[1])};
}

QByteArray readAll(SocketLibSyncSocket &socket, qsizetype expected)
{
    QByteArray received;
    char buffer[65536];
    while (received.size() < expected) {
        std::size_t n = 0;
        const int status = socket.read(buffer, sizeof buffer, &n);
        if (status != 0) break;
        received.append(buffer, qsizetype(n));
    }
    return received;
}

QByteArray pattern(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 251) & 0xff);
    return bytes;
}

// A listening loopback TCP socket on a free port.
struct Listener
{
    int fd = -1;
    quint16 port = 0;
    Listener()
    {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        EXPECT_EQ(::listen(fd, 4), 0);
        socklen_t length = sizeof address;
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
        port = ntohs(address.sin_port);
    }
    ~Listener()
    {
        if (fd >= 0) ::close(fd);
    }
};

} // namespace

TEST(SyncSocketRead, ResultNumbers)
{
    Pair p = makePair();
    char buffer[16];
    std::size_t n = 99;

    // Data: 0 and the count.
    ASSERT_EQ(p.b->writeExactly(QByteArray("hello")), 0);
    EXPECT_EQ(p.a->read(buffer, sizeof buffer, &n), SocketLibSyncSocket::kResultOK);
    EXPECT_EQ(n, 5u);
    EXPECT_EQ(QByteArray(buffer, 5), "hello");

    // Nothing there on a non-blocking socket: 35.
    ASSERT_EQ(p.a->setNonBlocking(true), 0);
    EXPECT_EQ(p.a->read(buffer, sizeof buffer, &n), SocketLibSyncSocket::kResultWouldBlock);
    EXPECT_EQ(n, 0u);
    ASSERT_EQ(p.a->setNonBlocking(false), 0);

    // Silence beyond the receive time-out on a blocking socket: 60.
    ASSERT_EQ(p.a->setReadTimeout(30), 0);
    EXPECT_EQ(p.a->read(buffer, sizeof buffer, &n), SocketLibSyncSocket::kResultTimedOut);

    // Bytes written before the peer closed are still read; then 32.
    ASSERT_EQ(p.b->writeExactly(QByteArray("bye")), 0);
    p.b.reset();
    EXPECT_EQ(p.a->read(buffer, sizeof buffer, &n), 0);
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(p.a->read(buffer, sizeof buffer, &n), SocketLibSyncSocket::kResultPeerClosed);

    // A closed socket answers the system error.
    SocketLibSyncSocket closed(-1);
    EXPECT_EQ(closed.read(buffer, sizeof buffer, &n), EBADF);
    EXPECT_EQ(closed.writeExactly(QByteArray("x")), EBADF);
}

TEST(SyncSocketWrite, WholeBufferArrivesThroughAFullSocket)
{
    // Several megabytes cannot fit in the socket buffer: the writer has to
    // wait for the reader, blocking and non-blocking alike.
    for (bool nonBlocking : {false, true}) {
        SCOPED_TRACE(nonBlocking ? "non-blocking" : "blocking");
        Pair p = makePair();
        ASSERT_EQ(p.a->setNonBlocking(nonBlocking), 0);
        const QByteArray data = pattern(4 * 1024 * 1024 + 17);
        QByteArray received;
        std::thread reader([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            received = readAll(*p.b, data.size());
        });
        EXPECT_EQ(p.a->writeExactly(data), 0);
        reader.join();
        EXPECT_TRUE(received == data);
    }
}

TEST(SyncSocketWrite, PeerGoneGivesAnErrorNotASignal)
{
    Pair p = makePair();
    p.b.reset();
    // Without MSG_NOSIGNAL this would end the test process with SIGPIPE.
    EXPECT_EQ(p.a->writeExactly(pattern(100000)), EPIPE);
}

TEST(SyncSocketWrite, TimeOutWhenThePeerNeverReads)
{
    {
        Pair p = makePair();
        ASSERT_EQ(p.a->setWriteTimeout(40), 0);
        EXPECT_EQ(p.a->writeExactly(pattern(8 * 1024 * 1024)), SocketLibSyncSocket::kResultTimedOut);
    }
    {
        // A non-blocking socket gives up once the write time-out passed without progress.
        Pair p = makePair();
        ASSERT_EQ(p.a->setNonBlocking(true), 0);
        ASSERT_EQ(p.a->setWriteTimeout(40), 0);
        EXPECT_EQ(p.a->writeExactly(pattern(8 * 1024 * 1024)), SocketLibSyncSocket::kResultTimedOut);
    }
}

TEST(SyncSocketConnect, LoopbackHost)
{
    Listener listener;
    int error = -1;
    auto client = SocketLibSyncSocket::connectToHost(QStringLiteral("127.0.0.1"), listener.port, 2000, &error);
    ASSERT_TRUE(client) << error;
    EXPECT_EQ(error, 0);
    SocketLibSyncSocket server(::accept(listener.fd, nullptr, nullptr));
    ASSERT_TRUE(server.isOpen());
    // The connected socket is blocking again after a connect with a time-out.
    EXPECT_FALSE(client->isNonBlocking());
    ASSERT_EQ(client->writeExactly(QByteArray("ping")), 0);
    EXPECT_EQ(readAll(server, 4), "ping");

    // Nobody listens on a port that was just closed.
    quint16 port = 0;
    {
        Listener gone;
        port = gone.port;
    }
    EXPECT_FALSE(SocketLibSyncSocket::connectToHost(QStringLiteral("127.0.0.1"), port, 2000, &error));
    EXPECT_EQ(error, ECONNREFUSED);
    EXPECT_FALSE(SocketLibSyncSocket::connectToHost(QStringLiteral("127.0.0.1"), port, 0, &error));
    EXPECT_EQ(error, ECONNREFUSED);
}

TEST(SyncSocketConnect, LocalPath)
{
    const QString dir = testenv::makeTempDir();
    const QString path = dir + QStringLiteral("/agent.sock");
    const int listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray encoded = path.toLocal8Bit();
    ASSERT_LT(std::size_t(encoded.size()), sizeof address.sun_path);
    memcpy(address.sun_path, encoded.constData(), std::size_t(encoded.size()));
    ASSERT_EQ(::bind(listenFd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listenFd, 1), 0);

    int error = -1;
    auto client = SocketLibSyncSocket::connectToLocalPath(path, &error);
    ASSERT_TRUE(client) << error;
    SocketLibSyncSocket server(::accept(listenFd, nullptr, nullptr));
    ASSERT_EQ(server.writeExactly(QByteArray("pong")), 0);
    EXPECT_EQ(readAll(*client, 4), "pong");
    ::close(listenFd);

    EXPECT_FALSE(SocketLibSyncSocket::connectToLocalPath(dir + QStringLiteral("/missing.sock"), &error));
    EXPECT_EQ(error, ENOENT);
    EXPECT_FALSE(SocketLibSyncSocket::connectToLocalPath(dir + QString(200, QLatin1Char('x')), &error));
    EXPECT_EQ(error, ENAMETOOLONG);
}

#include "net/SocketLibSyncSocket.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr auto kRetryPause = std::chrono::milliseconds(5);

timeval toTimeval(int milliseconds)
{
    timeval tv{};
    if (milliseconds > 0) {
        tv.tv_sec = milliseconds / 1000;
        tv.tv_usec = (milliseconds % 1000) * 1000;
    }
    return tv;
}

bool wouldBlock(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK;
}

// Waits for a non-blocking connect to finish; answers 0 or the result number.
int finishConnect(int fd, int timeoutMs)
{
    pollfd pfd{fd, POLLOUT, 0};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int waitMs = -1;
        if (timeoutMs > 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return SocketLibSyncSocket::kResultTimedOut;
            waitMs = int(left.count());
        }
        const int n = ::poll(&pfd, 1, waitMs);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return SocketLibSyncSocket::kResultTimedOut;
        int soError = 0;
        socklen_t len = sizeof soError;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) < 0) return errno;
        return soError;
    }
}

int connectFd(int family, const sockaddr *address, socklen_t addressLength, int timeoutMs, int *fdOut)
{
    const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC | (timeoutMs > 0 ? SOCK_NONBLOCK : 0), 0);
    if (fd < 0) return errno;
    int result = 0;
    if (::connect(fd, address, addressLength) < 0) {
        result = errno;
        if (result == EINPROGRESS && timeoutMs > 0) result = finishConnect(fd, timeoutMs);
    }
    if (result == 0 && timeoutMs > 0) {
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) result = errno;
    }
    if (result != 0) {
        ::close(fd);
        return result;
    }
    *fdOut = fd;
    return 0;
}

} // namespace

SocketLibSyncSocket::SocketLibSyncSocket(int fd) : m_fd(fd < 0 ? -1 : fd) {}

SocketLibSyncSocket::~SocketLibSyncSocket()
{
    close();
}

void SocketLibSyncSocket::close()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

std::unique_ptr<SocketLibSyncSocket> SocketLibSyncSocket::connectToHost(const QString &host, quint16 port,
                                                                        int timeoutMs, int *error)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    const QByteArray hostBytes = host.toUtf8();
    const QByteArray portBytes = QByteArray::number(port);
    if (::getaddrinfo(hostBytes.constData(), portBytes.constData(), &hints, &found) != 0 || !found) {
        if (error) *error = EHOSTUNREACH;
        return nullptr;
    }
    int result = EHOSTUNREACH;
    int fd = -1;
    for (addrinfo *a = found; a; a = a->ai_next) {
        result = connectFd(a->ai_family, a->ai_addr, a->ai_addrlen, timeoutMs, &fd);
        if (result == 0) break;
    }
    ::freeaddrinfo(found);
    if (error) *error = result;
    if (result != 0) return nullptr;
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return std::make_unique<SocketLibSyncSocket>(fd);
}

std::unique_ptr<SocketLibSyncSocket> SocketLibSyncSocket::connectToLocalPath(const QString &path, int *error)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray encoded = path.toLocal8Bit();
    if (encoded.isEmpty() || encoded.contains('\0') || std::size_t(encoded.size()) >= sizeof address.sun_path) {
        if (error) *error = encoded.isEmpty() ? ENOENT : ENAMETOOLONG;
        return nullptr;
    }
    std::memcpy(address.sun_path, encoded.constData(), std::size_t(encoded.size()));
    int fd = -1;
    const int result = connectFd(AF_UNIX, reinterpret_cast<const sockaddr *>(&address), sizeof address, 0, &fd);
    if (error) *error = result;
    if (result != 0) return nullptr;
    return std::make_unique<SocketLibSyncSocket>(fd);
}

int SocketLibSyncSocket::setReadTimeout(int milliseconds)
{
    if (m_fd < 0) return EBADF;
    const timeval tv = toTimeval(milliseconds);
    if (::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) < 0) return errno;
    m_readTimeoutMs = milliseconds > 0 ? milliseconds : 0;
    return 0;
}

int SocketLibSyncSocket::setWriteTimeout(int milliseconds)
{
    if (m_fd < 0) return EBADF;
    const timeval tv = toTimeval(milliseconds);
    if (::setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) < 0) return errno;
    m_writeTimeoutMs = milliseconds > 0 ? milliseconds : 0;
    return 0;
}

int SocketLibSyncSocket::setNonBlocking(bool nonBlocking)
{
    if (m_fd < 0) return EBADF;
    const int flags = ::fcntl(m_fd, F_GETFL);
    if (flags < 0) return errno;
    const int wanted = nonBlocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    if (wanted != flags && ::fcntl(m_fd, F_SETFL, wanted) < 0) return errno;
    return 0;
}

bool SocketLibSyncSocket::isNonBlocking() const
{
    if (m_fd < 0) return false;
    const int flags = ::fcntl(m_fd, F_GETFL);
    return flags >= 0 && (flags & O_NONBLOCK);
}

int SocketLibSyncSocket::read(void *buffer, std::size_t size, std::size_t *actualBytes)
{
    if (actualBytes) *actualBytes = 0;
    if (m_fd < 0) return EBADF;
    // recv() of nothing answers 0 as for a closed peer; there is nothing to ask.
    if (size == 0) return kResultOK;
    for (;;) {
        const ssize_t n = ::recv(m_fd, buffer, size, 0);
        if (n > 0) {
            if (actualBytes) *actualBytes = std::size_t(n);
            return kResultOK;
        }
        if (n == 0) return kResultPeerClosed;
        const int error = errno;
        if (error == EINTR) continue;
        if (wouldBlock(error)) return isNonBlocking() ? kResultWouldBlock : kResultTimedOut;
        return error;
    }
}

int SocketLibSyncSocket::writeExactly(const void *bytes, std::size_t size)
{
    if (m_fd < 0) return EBADF;
    const char *next = static_cast<const char *>(bytes);
    std::size_t left = size;
    auto lastProgress = std::chrono::steady_clock::now();
    while (left > 0) {
        const ssize_t n = ::send(m_fd, next, left, MSG_NOSIGNAL);
        if (n > 0) {
            next += n;
            left -= std::size_t(n);
            lastProgress = std::chrono::steady_clock::now();
            continue;
        }
        const int error = n < 0 ? errno : EIO;
        if (error == EINTR) {
            std::this_thread::sleep_for(kRetryPause);
            continue;
        }
        if (wouldBlock(error)) {
            if (!isNonBlocking()) return kResultTimedOut; // SO_SNDTIMEO expired
            if (m_writeTimeoutMs > 0 &&
                std::chrono::steady_clock::now() - lastProgress >= std::chrono::milliseconds(m_writeTimeoutMs))
                return kResultTimedOut;
            std::this_thread::sleep_for(kRetryPause);
            continue;
        }
        return error;
    }
    return kResultOK;
}

int SocketLibSyncSocket::writeExactly(const QByteArray &data)
{
    return writeExactly(data.constData(), std::size_t(data.size()));
}

#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <memory>

// A blocking stream socket with read and write time-outs. It owns its file
// descriptor and closes it when destroyed.
//
// Every operation answers a result number rather than raising: 0 for success,
// one of the fixed numbers below, or the system's errno otherwise. The fixed
// numbers keep their values on every platform (they are not Linux's EAGAIN or
// ETIMEDOUT), so callers compare against the constants, never against errno
// names.
//
// Writes never raise SIGPIPE: a peer that went away shows up as an error
// number.
class SocketLibSyncSocket
{
public:
    static constexpr int kResultOK = 0;
    static constexpr int kResultPeerClosed = 32;
    static constexpr int kResultWouldBlock = 35;
    static constexpr int kResultTimedOut = 60;

    // Takes ownership of an already connected stream socket (for example one
    // end of socketpair()). A negative descriptor makes a closed socket whose
    // operations answer EBADF.
    explicit SocketLibSyncSocket(int fd);
    virtual ~SocketLibSyncSocket();

    SocketLibSyncSocket(const SocketLibSyncSocket &) = delete;
    SocketLibSyncSocket &operator=(const SocketLibSyncSocket &) = delete;

    // Connects to a TCP host and port. `timeoutMs` bounds the connection
    // attempt (0: the system's own limit). On failure answers nullptr and, when
    // `error` is given, stores the result number there (kResultTimedOut for a
    // connect time-out, else errno or a resolver failure as EHOSTUNREACH).
    static std::unique_ptr<SocketLibSyncSocket> connectToHost(const QString &host, quint16 port, int timeoutMs = 0,
                                                              int *error = nullptr);
    // Connects to a local (Unix domain) stream socket at `path`; a path too
    // long for the address answers ENAMETOOLONG.
    static std::unique_ptr<SocketLibSyncSocket> connectToLocalPath(const QString &path, int *error = nullptr);

    int fileDescriptor() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }
    void close();

    // Receive and send time-outs in milliseconds; 0 waits without limit.
    // Answer 0 or errno.
    int setReadTimeout(int milliseconds);
    int setWriteTimeout(int milliseconds);
    int readTimeout() const { return m_readTimeoutMs; }
    int writeTimeout() const { return m_writeTimeoutMs; }

    // Switches O_NONBLOCK. Answers 0 or errno.
    int setNonBlocking(bool nonBlocking);
    bool isNonBlocking() const;

    // One read of at most `size` bytes, retried after an interruption.
    // 0 with the count in *actualBytes; kResultPeerClosed when the peer closed
    // the stream; kResultWouldBlock when a non-blocking socket has nothing;
    // kResultTimedOut when the receive time-out expired; otherwise errno.
    // *actualBytes is 0 whenever the answer is not 0.
    virtual int read(void *buffer, std::size_t size, std::size_t *actualBytes);

    // Writes the whole buffer. After an interruption or while a non-blocking
    // socket is full it waits 5 ms and tries again (a non-blocking socket
    // gives up with kResultTimedOut once the write time-out, when one is set,
    // has passed without progress). A blocking socket whose send time-out
    // expires answers kResultTimedOut. Otherwise 0 or errno.
    virtual int writeExactly(const void *bytes, std::size_t size);
    int writeExactly(const QByteArray &data);

private:
    int m_fd = -1;
    int m_readTimeoutMs = 0;
    int m_writeTimeoutMs = 0;
};

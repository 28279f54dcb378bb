#pragma once

#include <QFile>

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

namespace testenv {

// While it lives, the code under test cannot take the machine with it: the
// process ends when its data grows by `megabytes` more (an allocation fails;
// the sanitizers stop the process) or after `seconds` (SIGALRM). A loop that
// is a fault then fails its test instead of hanging it or exhausting memory.
// The seconds are a generous guard only; nothing waits for them.
class ResourceGuard
{
public:
    explicit ResourceGuard(rlim_t megabytes = 512, unsigned seconds = 120)
    {
        ::getrlimit(RLIMIT_DATA, &m_saved);
        rlimit bounded = m_saved;
        const rlim_t wanted = dataBytes() + (megabytes << 20);
        if (dataBytes() > 0 && (bounded.rlim_max == RLIM_INFINITY || wanted < bounded.rlim_max))
            bounded.rlim_cur = wanted;
        EXPECT_EQ(::setrlimit(RLIMIT_DATA, &bounded), 0);
        ::alarm(seconds);
    }
    ~ResourceGuard()
    {
        ::alarm(0);
        ::setrlimit(RLIMIT_DATA, &m_saved);
    }
    ResourceGuard(const ResourceGuard &) = delete;
    ResourceGuard &operator=(const ResourceGuard &) = delete;

private:
    // What RLIMIT_DATA counts now ("VmData"; under AddressSanitizer mostly
    // its reserved shadow).
    static rlim_t dataBytes()
    {
        QFile status(QStringLiteral("/proc/self/status"));
        if (!status.open(QIODevice::ReadOnly)) return 0;
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("VmData:"))
                return rlim_t(line.mid(7).trimmed().split(' ').value(0).toULongLong()) << 10;
        return 0;
    }

    rlimit m_saved{};
};

} // namespace testenv

#include "sources/host/BackgroundRead.h"

#include <QCoreApplication>
#include <QThread>

#include <exception>
#include <future>

namespace vtr {

void runWhileServingEvents(const std::function<void()> &work, const std::function<void()> &tick,
                           std::chrono::milliseconds interval)
{
    // The future's own wait carries the end of the work and any exception.
    std::future<void> done = std::async(std::launch::async, work);
    const bool onEventThread =
        QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
    // The tick runs at least once, however soon the work ends: a caller's
    // progress message is never skipped.
    do {
        if (tick) tick();
        if (onEventThread) QCoreApplication::processEvents(QEventLoop::AllEvents, int(interval.count()));
    } while (done.wait_for(interval) != std::future_status::ready);
    done.get();
}

}  // namespace vtr

#include "sources/host/BackgroundRead.h"

#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <exception>
#include <thread>

namespace vtr {

void runWhileServingEvents(const std::function<void()> &work, const std::function<void()> &tick,
                           std::chrono::milliseconds interval)
{
    std::atomic<bool> running{true};
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        running = false;
    });
    const bool onEventThread =
        QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
    while (running) {
        if (tick) tick();
        if (onEventThread) QCoreApplication::processEvents(QEventLoop::AllEvents, int(interval.count()));
        QThread::msleep(static_cast<unsigned long>(interval.count()));
    }
    worker.join();
    if (failure) std::rethrow_exception(failure);
}

}  // namespace vtr

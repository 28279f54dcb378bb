#pragma once

#include <QString>

#include <functional>

// A read from the old phone that fails is tried once more, as a phone may
// fail one transfer and serve the next: but not once the work is stopped,
// and not once the phone has gone, where a second try would only wait out
// the phone's time-out again.
struct PhoneReads
{
    // True when the work is to stop. Empty: never.
    std::function<bool()> cancelled;
    // True when the phone has gone. Empty: never.
    std::function<bool()> phoneGone;

    // Runs `read` (true: done); a read that fails (false, or VtrException)
    // is logged as `what` ("Reading \"a.mp3\"") and tried once more. A read
    // that fails for good answers false, with why in `*failure`; without
    // `failure` its exception is thrown again. When the phone has gone
    // after a failure there is no second try and its exception is always
    // thrown again. Throws "StopSyncException" when the work is cancelled
    // after a try.
    bool twice(const QString &what, const std::function<bool()> &read, QString *failure = nullptr) const;

    void throwIfCancelled() const;
};

// The exception that ends work the person stopped.
[[noreturn]] void throwTransferStopped();

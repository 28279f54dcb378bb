#include "migration/PhoneReads.h"

#include "foundation/Log.h"
#include "platform/Strings.h"
#include "platform/VtrException.h"

#include <exception>

void throwTransferStopped()
{
    throw VtrException(QStringLiteral("StopSyncException"), vtrLocalized("The transfer was stopped."));
}

void PhoneReads::throwIfCancelled() const
{
    if (cancelled && cancelled()) throwTransferStopped();
}

bool PhoneReads::twice(const QString &what, const std::function<bool()> &read, QString *failure) const
{
    for (int attempt = 1;; ++attempt) {
        bool done = false;
        std::exception_ptr error;
        QString why = QStringLiteral("nothing arrived");
        try {
            done = read();
        } catch (const VtrException &e) {
            error = std::current_exception();
            why = e.reason();
        }
        throwIfCancelled();
        if (done) return true;
        const bool gone = phoneGone && phoneGone();
        const bool last = attempt == 2 || gone;
        if (error && (gone || (last && !failure))) std::rethrow_exception(error);
        if (last) {
            if (failure) *failure = why;
            return false;
        }
        VTR_LOG(2, QStringLiteral("%1 failed, trying once more: %2").arg(what, why));
    }
}

#pragma once

#include "devices/afc/AfcService.h"

#include <QByteArray>
#include <QHash>
#include <QMap>

#include <atomic>
#include <mutex>

// Phones whose file service answers from memory, for tests: a phone's files
// by path, a phone that refuses (locked, never trusting, denying), and a file
// whose reading fails after a number of bytes.
namespace vtr::afc {

class FakeAfcService final : public AfcService
{
public:
    struct Phone
    {
        Refusal refusal = Refusal::None;
        // Files by path below the media partition's root; folders follow.
        QMap<QString, QByteArray> files;
        // Reading these files fails once this many bytes have been read.
        QHash<QString, qint64> failAfter;
    };

    // Adds (or replaces) the phone whose UDID is `udid`.
    void setPhone(const QString &udid, Phone phone);
    void removePhone(const QString &udid);
    // How often open() was asked.
    int openings() const { return m_openings.load(); }

    AfcOpening open(const QString &serial) override;

private:
    mutable std::mutex m_mutex;
    QHash<QString, std::shared_ptr<const Phone>> m_phones; // by udid key
    std::atomic<int> m_openings{0};
};

} // namespace vtr::afc

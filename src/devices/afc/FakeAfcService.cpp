#include "devices/afc/FakeAfcService.h"

#include "devices/usb/AppleMediaMounts.h"

#include <QSet>

#include <algorithm>
#include <cstring>

namespace vtr::afc {

namespace {

class FakeFile final : public AfcFile
{
public:
    FakeFile(QByteArray bytes, qint64 failAfter) : m_bytes(std::move(bytes)), m_failAfter(failAfter) {}

    qint64 read(char *data, qint64 maxSize) override
    {
        qint64 count = std::clamp<qint64>(m_bytes.size() - m_position, 0, maxSize);
        if (m_failAfter >= 0) {
            if (m_read >= m_failAfter) {
                m_error = QStringLiteral("the connection to the phone was lost");
                return -1;
            }
            count = std::min(count, m_failAfter - m_read);
        }
        std::memcpy(data, m_bytes.constData() + m_position, size_t(count));
        m_position += count;
        m_read += count;
        return count;
    }
    bool seek(qint64 offset) override
    {
        if (offset < 0) return false;
        m_position = std::min<qint64>(offset, m_bytes.size());
        return true;
    }
    qint64 size() const override { return m_bytes.size(); }
    QString errorText() const override { return m_error; }

private:
    QByteArray m_bytes;
    qint64 m_failAfter;
    qint64 m_position = 0;
    qint64 m_read = 0;
    QString m_error;
};

class FakeConnection final : public AfcConnection
{
public:
    explicit FakeConnection(std::shared_ptr<const FakeAfcService::Phone> phone) : m_phone(std::move(phone)) {}

    std::optional<QStringList> list(const QString &folder, qsizetype maxNames, bool *more) override
    {
        *more = false;
        if (!isFolder(folder)) return fail(m_phone->files.contains(folder) ? Failure::Other : Failure::NotFound);
        const QString prefix = folder.isEmpty() ? QString() : folder + QLatin1Char('/');
        QSet<QString> names;
        for (auto it = m_phone->files.cbegin(); it != m_phone->files.cend(); ++it)
            if (it.key().startsWith(prefix)) names.insert(it.key().mid(prefix.size()).section(QLatin1Char('/'), 0, 0));
        QStringList sorted(names.cbegin(), names.cend());
        sorted.sort();
        if (sorted.size() > maxNames) {
            *more = true;
            sorted.resize(std::max<qsizetype>(maxNames, 0));
        }
        return sorted;
    }
    std::optional<EntryInfo> info(const QString &path) override
    {
        EntryInfo entry;
        if (m_phone->files.contains(path)) {
            entry.isFile = true;
            entry.size = m_phone->files.value(path).size();
            return entry;
        }
        if (!isFolder(path)) return fail(Failure::NotFound);
        entry.isFolder = true;
        return entry;
    }
    std::unique_ptr<AfcFile> open(const QString &path) override
    {
        if (!m_phone->files.contains(path)) {
            fail(Failure::NotFound);
            return nullptr;
        }
        return std::make_unique<FakeFile>(m_phone->files.value(path), m_phone->failAfter.value(path, -1));
    }
    Failure lastFailure() const override { return m_failure; }
    QString lastErrorText() const override { return m_error; }

private:
    bool isFolder(const QString &path) const
    {
        if (path.isEmpty()) return true;
        const QString prefix = path + QLatin1Char('/');
        return std::any_of(m_phone->files.keyBegin(), m_phone->files.keyEnd(),
                           [&](const QString &file) { return file.startsWith(prefix); });
    }
    std::nullopt_t fail(Failure failure)
    {
        m_failure = failure;
        m_error = failure == Failure::NotFound ? QStringLiteral("no such file or folder on the phone")
                                               : QStringLiteral("the phone failed");
        return std::nullopt;
    }

    std::shared_ptr<const FakeAfcService::Phone> m_phone;
    Failure m_failure = Failure::None;
    QString m_error;
};

} // namespace

void FakeAfcService::setPhone(const QString &udid, Phone phone)
{
    std::lock_guard lock(m_mutex);
    m_phones.insert(vtr::apple::udidKey(udid), std::make_shared<const Phone>(std::move(phone)));
}

void FakeAfcService::removePhone(const QString &udid)
{
    std::lock_guard lock(m_mutex);
    m_phones.remove(vtr::apple::udidKey(udid));
}

AfcOpening FakeAfcService::open(const QString &serial)
{
    ++m_openings;
    std::shared_ptr<const Phone> phone;
    {
        std::lock_guard lock(m_mutex);
        phone = m_phones.value(vtr::apple::udidKey(serial));
    }
    AfcOpening opening;
    if (!phone) {
        opening.refusal = Refusal::NoPhone;
        opening.detail = QStringLiteral("no such phone");
    } else if (phone->refusal != Refusal::None) {
        opening.refusal = phone->refusal;
        opening.detail = QStringLiteral("refused");
    } else {
        opening.connection = std::make_unique<FakeConnection>(phone);
    }
    return opening;
}

} // namespace vtr::afc

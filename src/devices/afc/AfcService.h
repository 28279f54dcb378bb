#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

// An iPhone's media partition reached through the phone's own file service
// (over the USB multiplexing daemon), for a desktop that does not mount the
// phone. The phone answers only once it is unlocked and trusts this computer;
// until then the service is refused with the reason.
//
// The application uses the system's library (makeLibraryAfcService()); tests
// and demonstrations put a FakeAfcService in its place (setSharedAfcService()).
// Paths are relative to the media partition's root, with "/" between names.
namespace vtr::afc {

// Why a phone's file service could not be used.
enum class Refusal {
    None,
    NoPhone,      // no such phone reaches this computer (or no multiplexing daemon runs)
    Locked,       // the phone is locked with its passcode
    TrustPending, // the phone asks its owner whether to trust this computer
    TrustDenied,  // the owner did not trust this computer
    Failed,       // anything else; see the detail
};

struct EntryInfo
{
    bool isFolder = false;
    bool isFile = false; // a regular file (links and others are neither)
    qint64 size = 0;
};

// What a failed call met: the entry does not exist, or another error.
enum class Failure {
    None,
    NotFound,
    Other,
};

// One file of the phone, open for reading. Not shared between threads.
class AfcFile
{
public:
    virtual ~AfcFile() = default;
    // Up to `maxSize` bytes from the current position: the count read, 0 at
    // the end, -1 when the phone failed (errorText() says how).
    virtual qint64 read(char *data, qint64 maxSize) = 0;
    // Moves to `offset` from the start; false when the phone refused.
    virtual bool seek(qint64 offset) = 0;
    virtual qint64 size() const = 0;
    virtual QString errorText() const = 0;
};

// The media partition of one phone. Used by one thread at a time.
class AfcConnection
{
public:
    virtual ~AfcConnection() = default;
    // The names in `folder` ("." and ".." left out), sorted; nullopt on
    // failure. At most `maxNames` of them are kept (which ones is the
    // phone's choice); `*more` tells whether the folder held others.
    virtual std::optional<QStringList> list(const QString &folder, qsizetype maxNames, bool *more) = 0;
    // nullopt on failure.
    virtual std::optional<EntryInfo> info(const QString &path) = 0;
    // nullptr on failure.
    virtual std::unique_ptr<AfcFile> open(const QString &path) = 0;
    // The last failed call's kind and text.
    virtual Failure lastFailure() const = 0;
    virtual QString lastErrorText() const = 0;
};

struct AfcOpening
{
    std::unique_ptr<AfcConnection> connection; // null when refused
    Refusal refusal = Refusal::None;
    QString detail; // what the service said, for the log
};

class AfcService
{
public:
    virtual ~AfcService() = default;
    // Connects to the media partition of the phone whose UDID is `serial`,
    // as the USB serial number gives it (without "-"; any letter case).
    virtual AfcOpening open(const QString &serial) = 0;
};

std::shared_ptr<AfcService> makeLibraryAfcService();
// The service the application uses: the library's unless one was set.
std::shared_ptr<AfcService> sharedAfcService();
// null restores the library's.
void setSharedAfcService(std::shared_ptr<AfcService> service);

} // namespace vtr::afc

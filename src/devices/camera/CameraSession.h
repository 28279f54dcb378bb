#pragma once

#include "devices/camera/CameraDetector.h"

#include <QHash>
#include <QString>
#include <QVariantList>

#include <atomic>
#include <chrono>
#include <mutex>

struct _Camera;
struct _GPContext;

namespace vtr::camera {

// Result codes are the camera library's (0 success, negative failures). Two
// of them carry our own meaning as well:
// - the camera is no longer attached (or never opened): kCameraGone;
// - an operation, or the wait for the camera, ran out of time: kCameraTimedOut.
inline constexpr int kCameraOK = 0;
inline constexpr int kCameraGone = -52;       // the library's "could not find the device"
inline constexpr int kCameraTimedOut = -10;   // the library's "time-out"
inline constexpr int kCameraNoSpace = -115;   // the library's "not enough space"
inline constexpr int kCameraOSFailure = -114; // the library's "operating-system failure"
inline constexpr int kCameraNotFound = -108;  // the library's "file not found"

// The library's text for a result code.
QString cameraResultText(int result);

// A camera whose session opened but which presents no storage is locked by
// its owner (an iPhone shows its camera roll only while unlocked and
// trusted). A camera whose driver cannot tell storages counts as unlocked.
bool cameraIsPasscodeLocked(bool opened, int storageResult, int storageCount);

// One opened camera. The camera library is not thread-safe: every call on the
// camera runs under this session's mutex, and library-wide calls (driver
// loading, detection) under one process-wide mutex, always taken after a
// session's mutex, never before.
//
// Shared by the connection and by every camera and object made from it. When
// the camera leaves, detach() marks it gone: a call in progress is cancelled
// at its next chance and the library's camera is released once the call has
// returned; later calls answer kCameraGone. Nothing is ever freed under a
// running call.
//
// Time-outs: waiting for the mutex is bounded by the time-out, and a running
// call is cancelled when it has made no progress for that long.
class CameraSession
{
public:
    CameraSession(CameraPort port, std::chrono::milliseconds timeout);
    ~CameraSession();
    CameraSession(const CameraSession &) = delete;
    CameraSession &operator=(const CameraSession &) = delete;

    const CameraPort &port() const { return m_port; }
    // Process-unique handle of this session (the camera dictionary's "icao").
    quint64 handle() const { return m_handle; }

    // Opens the camera; kCameraOK, or the library's result.
    int open();
    // Opened and not detached.
    bool isOpen() const { return m_opened.load() && !m_detached.load(); }
    bool isDetached() const { return m_detached.load(); }
    // The camera has left (see the class comment). Never waits for a running call.
    void detach();

    // Counts the storages the camera presents. Without `waitForLock` a busy
    // camera answers kCameraTimedOut at once.
    int storageCount(int *count, bool waitForLock);

    // Every file on the camera, depth first, folders and files in name order,
    // as object dictionaries: "icao" (qulonglong handle, stable for the
    // session), "ifil" (the camera's name, untrusted), "isiz" (qint64),
    // "0100" / "0101" (float width / height, only when the camera tells),
    // "mtime" (qint64 seconds since 1970 UTC, the file's date, only when the
    // camera tells).
    int listObjects(QVariantList *objects);
    // The number of objects the last successful listing found; -1 before one.
    int lastObjectCount() const { return m_lastObjectCount.load(); }
    // Writes the object's contents to `fd` (which stays open).
    int download(quint64 objectHandle, int fd);
    bool hasObject(quint64 objectHandle) const;

    std::chrono::milliseconds timeout() const { return m_timeout; }

    // For the library's context callbacks.
    bool shouldCancel();
    void noteProgress();

private:
    template <typename Fn> int withCamera(bool waitForLock, Fn &&fn);
    void releaseLocked();
    int walkFolder(const QString &folder, int depth, QVariantList &out);
    quint64 objectHandleFor(const QString &folder, const QString &name);

    struct ObjectLocation
    {
        QString folder;
        QString name;
    };

    const CameraPort m_port;
    const std::chrono::milliseconds m_timeout;
    const quint64 m_handle;

    std::timed_mutex m_mutex;
    _Camera *m_camera = nullptr;
    _GPContext *m_context = nullptr;
    std::atomic<bool> m_opened{false};
    std::atomic<bool> m_detached{false};
    // Progress watch of the running call.
    std::atomic<qint64> m_lastActivityMs{0};
    std::atomic<int> m_watchFd{-1};
    qint64 m_watchSize = 0;
    std::atomic<bool> m_timedOut{false};
    std::atomic<int> m_lastObjectCount{-1};

    // Object handles, guarded by m_objectsMutex (read without the camera's mutex).
    mutable std::mutex m_objectsMutex;
    QHash<QString, quint64> m_handleForPath;
    QHash<quint64, ObjectLocation> m_locations;
    quint64 m_nextObjectHandle = 1;
};

} // namespace vtr::camera

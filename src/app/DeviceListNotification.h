#pragma once

#include <QString>

// The announcement that a newer device list was stored, for other programs of
// the maker that keep a copy: a signal on the D-Bus session bus in place of
// the Mac's distributed notification. Without a session bus nothing is sent.
namespace vtrapp {

inline constexpr const char *kDeviceListNotificationName = "com.vantrel.solvennawindowsphone";
inline constexpr const char *kDeviceListNotificationObject = "Update Device List Notification";
inline constexpr const char *kDeviceListNotificationPath = "/com/vantrel/solvennawindowsphone";
inline constexpr const char *kDeviceListNotificationMember = "Notification";

// True when the signal was sent.
bool postDeviceListNotification();

}  // namespace vtrapp

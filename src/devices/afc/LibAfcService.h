#pragma once

#include "devices/afc/AfcService.h"

#include <libimobiledevice/lockdown.h>

namespace vtr::afc {

// What the phone's answer to the lockdown handshake or to starting its file
// service means for the person: a locked phone, a trust question not yet
// answered or answered "Don't Trust" each ask something of them; anything
// else is a failure.
Refusal refusalOfLockdownAnswer(lockdownd_error_t answer);

} // namespace vtr::afc

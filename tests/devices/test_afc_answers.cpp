// What the phone's answers to this computer's lockdown handshake mean for the
// person: each refusal that asks something of them is told apart, whatever
// else the phone answers is a failure.
#include "devices/afc/LibAfcService.h"

#include <gtest/gtest.h>

using vtr::afc::Refusal;

TEST(AfcAnswers, ThePhonesRefusalsAreToldApart)
{
    EXPECT_EQ(vtr::afc::refusalOfLockdownAnswer(LOCKDOWN_E_PASSWORD_PROTECTED), Refusal::Locked);
    EXPECT_EQ(vtr::afc::refusalOfLockdownAnswer(LOCKDOWN_E_PAIRING_DIALOG_RESPONSE_PENDING), Refusal::TrustPending);
    EXPECT_EQ(vtr::afc::refusalOfLockdownAnswer(LOCKDOWN_E_USER_DENIED_PAIRING), Refusal::TrustDenied);
    for (const lockdownd_error_t other : {LOCKDOWN_E_INVALID_HOST_ID, LOCKDOWN_E_SSL_ERROR, LOCKDOWN_E_MUX_ERROR,
                                          LOCKDOWN_E_INVALID_SERVICE, LOCKDOWN_E_UNKNOWN_ERROR})
        EXPECT_EQ(vtr::afc::refusalOfLockdownAnswer(other), Refusal::Failed) << int(other);
}

#pragma once

// What an uploader of Windows Live data tells the one who started it. Every
// call comes on the main thread. The receiver may drop the uploader (and the
// session) inside the completion or the cancel, even while the uploader's
// start call is still running: the uploader touches nothing of itself after
// either of them.
class LiveDelegate
{
public:
    virtual ~LiveDelegate() = default;
    // Answers so far over items to send, 0 to 1.
    virtual void liveProgressUpdate(float fraction) = 0;
    // Every item has been answered; the uploader's counters are final.
    virtual void liveOperationComplete() = 0;
    // The person closed the login sheet without logging in.
    virtual void liveUserCancelled() = 0;
};

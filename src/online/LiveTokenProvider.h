#pragma once

#include <QString>

#include <functional>

// Gives a Windows Live access token: the login sheet in the application, a
// fake in tests. The token is handed over in memory only.
class LiveTokenProvider
{
public:
    using Completion = std::function<void(const QString &token)>;

    virtual ~LiveTokenProvider() = default;
    // Asks for a token and calls `done` once, later (never before returning),
    // with the token or with an empty text when the person cancelled.
    virtual void requestAccessToken(Completion done) = 0;
};

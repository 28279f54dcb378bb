#pragma once

#include "LoopbackHttpServer.h"
#include "TestEnvironment.h"
#include "online/LiveDelegate.h"
#include "online/LiveTokenProvider.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace livetest {

using testenv::waitUntil;

// Hands out the scripted tokens in turn (an empty one is a cancel), from the
// event loop as the login sheet does.
class FakeTokenProvider : public LiveTokenProvider
{
public:
    explicit FakeTokenProvider(QStringList tokens, int *asked = nullptr) : m_tokens(std::move(tokens)), m_asked(asked) {}
    void requestAccessToken(Completion done) override;

private:
    QStringList m_tokens;
    int *m_asked;
};

class RecordingDelegate : public LiveDelegate
{
public:
    void liveProgressUpdate(float fraction) override { progress.append(fraction); }
    void liveOperationComplete() override
    {
        ++completions;
        if (onComplete) onComplete();
    }
    void liveUserCancelled() override { ++cancels; }
    bool ended() const { return completions + cancels > 0; }

    QList<float> progress;
    int completions = 0;
    int cancels = 0;
    std::function<void()> onComplete;
};

// Points the Live API host at `server` and answers the upload's requests:
// each calendar created gets the identifier "cal<n>" (n from 1) unless
// `answers` scripts otherwise; `answers(i)` gives the response of the
// i-th request (from 0) to the API.
void routeLiveApi(LoopbackHttpServer &server,
                  std::function<std::optional<LoopbackHttpServer::Response>(int index, const LoopbackHttpServer::Request &)> answers = {});
LoopbackHttpServer::Response created(const QByteArray &json = "{}");

// The access token a request carried, as a server decodes its query ("" when
// none).
QString tokenOf(const LoopbackHttpServer::Request &request);

QVariantMap contact(const QString &name);

}  // namespace livetest

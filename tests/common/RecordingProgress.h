#pragma once

// The progress object of the file and phone copy tests: it records every
// call and may ask to stop. Header only, so that a test folder whose library
// has no file objects never compiles it.

#include "fileinfo/VtrBaseFileInfo.h"

#include <QList>
#include <QPair>
#include <QString>

#include <functional>
#include <vector>

class RecordingProgress : public FileInfoReadProgress, public FileInfoWriteProgress, public FileInfoCopyProgress
{
public:
    bool readingContentsForFile(const VtrFileInfoPtr &, const QByteArray &, qint64 read, qint64 total, void *) override
    {
        calls.append({read, total});
        return stopping(calls.size());
    }
    bool writingContentsForFile(const VtrFileInfoPtr &, qint64 written, qint64 total, void *) override
    {
        calls.append({written, total});
        return stopping(calls.size());
    }
    bool copyingFile(const VtrFileInfoPtr &, const VtrFileInfoPtr &destination, float percentComplete,
                     void *userData) override
    {
        percents.push_back(percentComplete);
        userDatas.push_back(userData);
        lastDestinationName = destination ? destination->name() : QString();
        if (onCall) onCall(int(percents.size()));
        return stopping(qsizetype(percents.size()));
    }

    // Whole-file reads and writes: (bytes so far, total bytes) of each call.
    QList<QPair<qint64, qint64>> calls;
    // Copies: each call's percentage and user data, and the file last written.
    std::vector<float> percents;
    std::vector<void *> userDatas;
    QString lastDestinationName;
    // Answers YES from this call on (1-based, counted apart for copies and for
    // reads and writes); 0: never.
    int cancelAtCall = 0;
    // Copies: called with the call's number before the answer.
    std::function<void(int)> onCall;

private:
    bool stopping(qsizetype call) const { return cancelAtCall > 0 && call >= cancelAtCall; }
};

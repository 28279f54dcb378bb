#pragma once

// Header-only: for test folders that link the application library.

#include "app/AppServices.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>

// Answers the application's alerts from a script instead of asking a person.
// Each answer names the button to press by its title; an alert without a
// scripted answer gets its default button. Every alert is recorded, and a
// hook may act while an alert is "open" (a phone arriving meanwhile, a timer
// firing).
class ScriptedAlertPresenter final : public AlertPresenter
{
public:
    // Presses `buttonTitle` on the next alert.
    void answer(const QString &buttonTitle) { m_script.push_back(buttonTitle); }
    // Runs while the next alerts are open (until cleared).
    void setWhileOpen(std::function<void(const AlertRequest &)> hook) { m_whileOpen = std::move(hook); }

    int runAlert(const AlertRequest &request) override
    {
        m_shown.append(request);
        ++m_depth;
        // A copy: the hook may replace itself.
        if (const auto hook = m_whileOpen) hook(request);
        --m_depth;
        int index = request.defaultButton;
        if (!m_script.empty()) {
            const QString title = m_script.front();
            m_script.pop_front();
            index = request.buttons.indexOf(title);
            if (index < 0) m_unmatched.append(title);
        }
        return qBound(0, index, int(request.buttons.size()) - 1);
    }

    // The save panel answers this path (empty: cancelled).
    void setSavePath(const QString &path) { m_savePath = path; }
    QString runSavePanel(const QString &suggestedPath, const QString &) override
    {
        m_suggestedSavePath = suggestedPath;
        return m_savePath;
    }
    QString suggestedSavePath() const { return m_suggestedSavePath; }

    const QList<AlertRequest> &shown() const { return m_shown; }
    QStringList titles() const
    {
        QStringList titles;
        for (const AlertRequest &r : m_shown) titles.append(r.messageText);
        return titles;
    }
    // Scripted titles that named no button of their alert.
    QStringList unmatched() const { return m_unmatched; }
    int unusedAnswers() const { return int(m_script.size()); }
    bool isOpen() const { return m_depth > 0; }
    void clear() { m_shown.clear(); }

private:
    std::deque<QString> m_script;
    std::function<void(const AlertRequest &)> m_whileOpen;
    QList<AlertRequest> m_shown;
    QStringList m_unmatched;
    int m_depth = 0;
    QString m_savePath;
    QString m_suggestedSavePath;
};

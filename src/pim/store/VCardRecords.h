#pragma once

#include "pim/store/SyncStore.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

typedef struct _EVCard EVCard;

namespace syncstore {

// Splits a file of vCards into one text per card, with line ends and
// vCard 2.1 character sets made what the vCard parser reads: every line ends
// in CRLF, and a raw (not quoted-printable) value with a CHARSET other than
// UTF-8 is converted to UTF-8.
QList<QByteArray> splitVCards(const QByteArray &fileContents);

// Turns vCards into the contacts entities of one snapshot: a contact with its
// phone numbers, e-mail and street addresses, IMs, related names, web
// addresses and dates; groups from CATEGORIES and from group cards
// (KIND:group, X-ADDRESSBOOKSERVER-KIND:group) with their MEMBERs.
class ContactRecordBuilder
{
public:
    explicit ContactRecordBuilder(SyncRecordSink &sink) : m_sink(sink) {}

    // Adds one card; `fallbackUid` names a card without UID (its file name).
    // False when the card is not a vCard (left out, logged by the caller).
    bool addVCardText(const QByteArray &cardText, const QString &fallbackUid);
    bool addVCard(EVCard *card, const QString &fallbackUid);
    // Adds the groups found so far; call once after all cards.
    void finishGroups();
    qsizetype contactCount() const { return m_contacts; }

private:
    struct Group
    {
        QString name;
        QStringList memberUids;  // group cards: member UIDs, resolved in finishGroups
        QStringList memberIds;   // categories: contact identifiers
    };
    SyncRecordSink &m_sink;
    qsizetype m_contacts = 0;
    QHash<QString, QString> m_idForUid;
    QList<Group> m_groups;
    QHash<QString, qsizetype> m_categoryIndex;
};

}  // namespace syncstore

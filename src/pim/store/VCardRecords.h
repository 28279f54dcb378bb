#pragma once

#include "foundation/Log.h"
#include "foundation/VtrCalendarDate.h"
#include "pim/store/SyncStore.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QTimeZone>

#include <utility>

typedef struct _EVCard EVCard;

namespace syncstore {

// The log names a file's cards that one reason leaves out or reads in part,
// and the parser's warnings on them, for this many; then it counts the rest.
inline constexpr qsizetype kCardsNamed = kLogRepeatsWritten;

// What the reading of a vCard file tells of single cards, each named by its
// place in the file (0 for the first), in the file's order.
struct VCardFileNotes
{
    QList<qsizetype> tooLarge;  // more than kCardProperties properties: left out
    QList<qsizetype> unread;    // no card the parser reads: left out
    // Read as far as they go: cards that lost their END:VCARD, ended by the
    // next card's BEGIN or by the file's end...
    QList<qsizetype> lostEnd;
    // ...and cards that lost their END, or whose agent's card did, read up to
    // their AGENT: the lines after it are the next card (see splitVCards).
    QList<qsizetype> endedAtAgent;
    // The parser's own warnings while it read the cards (addVCardFile), each
    // with its card: the first kCardsNamed, and how many there were in all.
    // A crafted file gives one for every few bytes.
    QList<std::pair<qsizetype, QString>> parserWarnings;
    qsizetype parserWarningCount = 0;
    // The lines the splitter looked at, each time it did: no line is read
    // over and over (see splitVCards).
    qsizetype linesRead = 0;
    // The bytes it looked at for the lines' ends, each time it did: a run of
    // lone CRs (as many empty lines) is looked through once, not again for
    // each of its lines.
    qsizetype bytesRead = 0;
};

// Splits a file of vCards into one text per card, made what the vCard parser
// reads safely and whole: a UTF-16 file is read as UTF-8; every line ends in
// CRLF (a file's lines may end in LF, CRLF or a lone CR); a NUL byte is dropped
// (also before BEGIN:VCARD and END:VCARD are looked for); a quoted-printable
// value is one line, its soft line breaks ("=" at a line's end) joined and
// every "=" that starts no escape of two hex digits written "=3D"; a 2.1
// base64 value, which may go on over lines without a leading blank up to a
// blank line, is one line; a raw (not quoted-printable) 2.1 value with a
// CHARSET other than UTF-8 is converted to UTF-8; a text value in base64 (2.1
// BASE64, 3.0 ENCODING=b; not PHOTO, LOGO, SOUND or KEY) is decoded from its
// CHARSET and given as the quoted-printable value of its UTF-8 text.
//
// A card that lost its END:VCARD (or whose END line is something else, as
// "END:VCARDx") ends where the next card begins, or at the file's end, and
// is read as far as it goes (`lostEnd`): no card takes the next one with it.
// A BEGIN:VCARD line that a VERSION line follows begins the next card also
// as the text after a quoted-printable soft line break; without a VERSION
// line after it, it is that text, and when it ends the value there, the card
// is read on but named as one that lost its END (`lostEnd`).
//
// A 2.1 agent's card (the lines after an empty "AGENT:", BEGIN to END, agents
// of its own inside) stays inside its card and is passed over, as long as its
// card goes on after it. When the next card begins, or the file ends, instead
// (or within the agent's card, without an AGENT before it), either the card
// lost its END after an empty AGENT, or the agent's card lost its own END and
// took the rest of its card: the two look alike. The card is then read up to
// its AGENT (`endedAtAgent`) and the agent's card, from its BEGIN, as the next
// card: no card that follows an empty AGENT is lost, at worst an agent is read
// as a contact with what its card held after it. No line is read again so
// twice (a crafted file of nested agents would be read over and over): then
// such a card ends where the next one begins, as far as it goes (`lostEnd`).
//
// A card of more than kCardProperties properties (each category of
// CATEGORIES counted as one; an empty line is none) is no contact but
// crafted: the parser and the records hold hundreds of bytes for each. Such
// a card is an empty text in the list (`tooLarge`).
inline constexpr qsizetype kCardProperties = 10000;
QList<QByteArray> splitVCards(const QByteArray &fileContents, VCardFileNotes *notes = nullptr);

// Turns vCards into the contacts entities of one snapshot: a contact with its
// phone numbers, e-mail and street addresses, IMs, related names, web
// addresses and dates; groups from CATEGORIES and from group cards
// (KIND:group, X-ADDRESSBOOKSERVER-KIND:group) with their MEMBERs.
class ContactRecordBuilder
{
public:
    explicit ContactRecordBuilder(SyncRecordSink &sink) : m_sink(sink) {}

    // Adds the cards of a file's text (through splitVCards); `fallbackUid`
    // names a card without UID (the file's name; "-1", "-2"... added for the
    // cards after the first). The number of cards added (0 when the text
    // holds none); the cards that could not be read are left out. `notes`
    // tells the caller's log of the cards left out and of those read as far
    // as they go (only cards that were added are among these).
    int addVCardFile(const QByteArray &fileContents, const QString &fallbackUid, VCardFileNotes *notes = nullptr);
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
    // Dates are noon of their day in the default zone, one zone for all.
    const QTimeZone m_zone = vtr::defaultTimeZone();
    qsizetype m_contacts = 0;
    QHash<QString, QString> m_idForUid;
    QList<Group> m_groups;
    QHash<QString, qsizetype> m_categoryIndex;
};

}  // namespace syncstore

#pragma once

#include <QHash>
#include <QString>

// Every text that a user can see goes through vtrLocalized(): the key is the
// English text itself and is its own default, a loaded table may replace it.
QString vtrLocalized(const char *key);
QString vtrLocalized(const QString &key);

namespace platform {
// Replaces the table (key -> translation); an empty table restores the keys.
void setStringTable(const QHash<QString, QString> &table);
}

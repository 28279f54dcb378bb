#pragma once

#include <QString>
#include <QStringList>

// The desktop's keychain is its secret service (libsecret). Only item labels
// are read; no secret ever leaves the service.
namespace vtr::keychain {

// The labels of every item of every collection, collection by collection in
// the service's order. Empty (with a reason in *error) when the service
// cannot be reached.
QStringList itemLabels(QString *error = nullptr);

} // namespace vtr::keychain

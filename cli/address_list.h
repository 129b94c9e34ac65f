#pragma once

#include <QIODevice>
#include <QString>
#include <QStringList>

namespace lumiclip {

// Limits on a list of addresses, so that no input (an endless pipe, a file with no line ends) can use up
// the memory: the whole list is planned before the first page loads.
struct AddressListLimits {
    qsizetype maxLineBytes = qsizetype{64} * 1024;
    qsizetype maxAddresses = 1000000;
};

// Reads one address per line from device into *urls: lines end with "\n", "\r\n" or a lone "\r", are
// trimmed, and empty ones and those starting with "#" are skipped. False with *error (naming source and
// the line) when a line or the count goes over the limits, or the device cannot be read.
bool ReadAddressList(QIODevice& device, const QString& source, QStringList* urls, QString* error,
                     const AddressListLimits& limits = {});

}  // namespace lumiclip

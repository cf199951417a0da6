#pragma once
// What a drop from another program adds to the list: local files, and web addresses from a browser.
#include <QStringList>

class QMimeData;

// The list entries a drop carries: the local files of its text/uri-list, and the http and https
// addresses of its text/x-moz-url (lines of address and title, UTF-16 as browsers write it, or
// UTF-8) and text/uri-list, each address once. Local files keep the drop's order; addresses come
// back percent-encoded, as a request sends them, and only those the loader can fetch are taken.
// Other schemes are left out.
QStringList DroppedEntries(const QMimeData& mime);

// Whether a drop carries addresses of any kind (files or web), as opposed to text or other data that
// the control under the pointer may take.
bool CarriesAddresses(const QMimeData& mime);

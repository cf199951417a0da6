#pragma once
// Web addresses dropped from a browser.
#include <QStringList>

class QMimeData;

// The http and https addresses a drop carries, in the order given and each once: from text/x-moz-url
// (lines of address and title, UTF-16 as browsers write it, or UTF-8) and from text/uri-list. Only
// addresses the loader can fetch are taken; they come back percent-encoded, as a request sends them.
QStringList DroppedWebAddresses(const QMimeData& mime);

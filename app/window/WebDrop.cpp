#include "app/window/WebDrop.h"

#include "platform/net/WebAddress.h"

#include <QMimeData>
#include <QUrl>

namespace {
const QString kMozUrl = QStringLiteral("text/x-moz-url");

// Browsers write this type in UTF-16 (little-endian, sometimes with a byte order mark); a few in UTF-8.
QString DecodeMozUrl(const QByteArray& data) {
    const bool utf16 = data.size() >= 2 && data.size() % 2 == 0 &&
                       (data.startsWith("\xFF\xFE") || (data[1] == '\0' && data[0] != '\0'));
    if (!utf16) return QString::fromUtf8(data);
    QString text = QString::fromUtf16(reinterpret_cast<const char16_t*>(data.constData()), data.size() / 2);
    if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);
    return text;
}

bool IsHttpScheme(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

// Addresses are taken once each, wherever in the drop they appear.
void AddWebAddress(const QUrl& url, QStringList& out, QStringList& seen) {
    if (!url.isValid() || !IsHttpScheme(url)) return;
    const QString text = QString::fromLatin1(url.toEncoded());
    // Only what the loader can fetch: a host and a path after it, no user name.
    std::string reason;
    if (seen.contains(text) || !ParseWebAddress(text.toStdString(), reason)) return;
    seen.push_back(text);
    out.push_back(text);
}
} // namespace

QStringList DroppedEntries(const QMimeData& mime) {
    QStringList out, seen;
    if (mime.hasFormat(kMozUrl)) {
        // Address and title alternate, one per line.
        const QStringList lines = DecodeMozUrl(mime.data(kMozUrl)).split(QLatin1Char('\n'));
        for (qsizetype i = 0; i < lines.size(); i += 2) AddWebAddress(QUrl(lines[i].trimmed()), out, seen);
    }
    for (const QUrl& url : mime.urls()) {
        if (url.isLocalFile())
            out.push_back(url.toLocalFile());
        else
            AddWebAddress(url, out, seen);
    }
    return out;
}

bool CarriesAddresses(const QMimeData& mime) {
    return mime.hasUrls() || mime.hasFormat(kMozUrl);
}

#include "platform/net/WebAddress.h"
#include "platform/Ascii.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace {
constexpr std::string_view kHttpPrefix = "http://";
constexpr std::string_view kHttpsPrefix = "https://";
constexpr int kHighestPort = 65535;

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualsIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

// The text after "http://" or "https://"; false when there is no such prefix.
bool SplitScheme(std::string_view text, TWebScheme& scheme, std::string_view& rest) {
    if (StartsWithNoCase(text, kHttpPrefix)) {
        scheme = TWebScheme::Http;
        rest = text.substr(kHttpPrefix.size());
        return true;
    }
    if (StartsWithNoCase(text, kHttpsPrefix)) {
        scheme = TWebScheme::Https;
        rest = text.substr(kHttpsPrefix.size());
        return true;
    }
    return false;
}

int DefaultPort(TWebScheme scheme) {
    return scheme == TWebScheme::Https ? kDefaultHttpsPort : kDefaultHttpPort;
}

// A port number 1..65535, or 0 for anything else (the caller then takes the default).
int PortNumber(std::string_view text) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 1 || value > kHighestPort) return 0;
    return value;
}

// Letters, digits, "-", "." and "_", and bytes beyond ASCII (international names): nothing that
// means something else in an address.
bool IsHostNameChar(unsigned char c) {
    return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c >= 0x80;
}

bool IsIpv6Char(unsigned char c) {
    return std::isxdigit(c) || c == ':' || c == '.';
}

int HexValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool StartsEscape(std::string_view s, std::size_t i) {
    return i + 2 < s.size() && s[i] == '%' && HexValue(static_cast<unsigned char>(s[i + 1])) >= 0 &&
           HexValue(static_cast<unsigned char>(s[i + 2])) >= 0;
}

// Characters that may not stand in an address as they are.
bool NeedsEscape(unsigned char c) {
    static constexpr std::string_view kUnsafe = "\"<>\\^`{|}";
    return c <= 0x20 || c >= 0x7F || kUnsafe.find(static_cast<char>(c)) != std::string_view::npos;
}

// Host and port of "host", "host:port", "[v6]" or "[v6]:port"; false when the host is not one.
bool SplitHost(std::string_view authority, TWebAddress& out, std::string& reason) {
    if (authority.find('@') != std::string_view::npos) {
        reason = "web addresses with a user name are not supported";
        return false;
    }
    std::string_view host = authority, port;
    if (!authority.empty() && authority.front() == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos) {
            reason = "the web address has no valid host name";
            return false;
        }
        host = authority.substr(1, close - 1);
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty() && after.front() != ':') {
            reason = "the web address has no valid host name";
            return false;
        }
        if (!after.empty()) port = after.substr(1);
        if (host.empty() || !std::all_of(host.begin(), host.end(),
                                         [](char c) { return IsIpv6Char(static_cast<unsigned char>(c)); })) {
            reason = "the web address has no valid host name";
            return false;
        }
    } else {
        const std::size_t colon = authority.find(':');
        if (colon != std::string_view::npos) {
            host = authority.substr(0, colon);
            port = authority.substr(colon + 1);
        }
        if (host.empty() || !std::all_of(host.begin(), host.end(), [](char c) {
                return IsHostNameChar(static_cast<unsigned char>(c));
            })) {
            reason = "the web address has no valid host name";
            return false;
        }
    }
    out.Host = std::string(host);
    const int number = PortNumber(port);
    out.Port = number ? number : DefaultPort(out.Scheme);
    return true;
}
} // namespace

bool IsWebAddress(std::string_view text) {
    return StartsWithNoCase(text, kHttpPrefix) || StartsWithNoCase(text, kHttpsPrefix);
}

std::optional<TWebAddress> ParseWebAddress(std::string_view text, std::string& reason) {
    TWebAddress address;
    std::string_view rest;
    if (!SplitScheme(text, address.Scheme, rest)) {
        reason = "not a web address (http:// or https://)";
        return std::nullopt;
    }
    const std::size_t slash = rest.find('/');
    if (slash == std::string_view::npos) {
        reason = "the web address names no file: nothing follows the host";
        return std::nullopt;
    }
    if (!SplitHost(rest.substr(0, slash), address, reason)) return std::nullopt;
    std::string_view path = rest.substr(slash);
    path = path.substr(0, path.find('#'));
    address.Path = std::string(path);
    return address;
}

std::string HostAndPort(const TWebAddress& address) {
    const bool v6 = address.Host.find(':') != std::string::npos;
    return (v6 ? "[" + address.Host + "]" : address.Host) + ":" + std::to_string(address.Port);
}

std::string ComposeWebAddress(const TWebAddress& address) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string url =
        address.Scheme == TWebScheme::Https ? std::string(kHttpsPrefix) : std::string(kHttpPrefix);
    const bool v6 = address.Host.find(':') != std::string::npos;
    url += v6 ? "[" + address.Host + "]" : address.Host;
    if (address.Port != DefaultPort(address.Scheme)) url += ":" + std::to_string(address.Port);
    for (std::size_t i = 0; i < address.Path.size(); ++i) {
        const auto c = static_cast<unsigned char>(address.Path[i]);
        if (NeedsEscape(c) || (c == '%' && !StartsEscape(address.Path, i))) {
            url += '%';
            url += kHex[c >> 4];
            url += kHex[c & 0x0F];
        } else {
            url += static_cast<char>(c);
        }
    }
    return url;
}

std::string WebAddressPath(std::string_view text) {
    TWebScheme scheme{};
    std::string_view rest;
    if (!SplitScheme(text, scheme, rest)) return {};
    const std::size_t slash = rest.find('/');
    if (slash == std::string_view::npos) return {};
    std::string_view path = rest.substr(slash);
    return std::string(path.substr(0, path.find_first_of("?#")));
}

std::string WebAddressDisplayName(std::string_view text) {
    const std::string path = WebAddressPath(text);
    const std::string_view last = std::string_view(path).substr(path.find_last_of('/') + 1);
    if (last.empty()) {
        TWebScheme scheme{};
        std::string_view rest;
        SplitScheme(text, scheme, rest);
        return std::string(rest.substr(0, rest.find_first_of("/?#")));
    }
    // Escapes that stand for control characters stay as they are: a name shows, it does not act.
    std::string name;
    for (std::size_t i = 0; i < last.size(); ++i) {
        if (StartsEscape(last, i)) {
            const int byte = HexValue(static_cast<unsigned char>(last[i + 1])) * 16 +
                             HexValue(static_cast<unsigned char>(last[i + 2]));
            if (byte >= 0x20 && byte != 0x7F) {
                name += static_cast<char>(byte);
                i += 2;
                continue;
            }
        }
        name += last[i];
    }
    return name;
}

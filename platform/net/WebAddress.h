#pragma once
// Web addresses as list entries and downloads see them: recognising one, splitting it into host, port
// and path, writing it back as a request address, and the parts a list shows or an extension rule
// reads. Pure text work: nothing here touches the network.
#include <optional>
#include <string>
#include <string_view>

enum class TWebScheme { Http, Https };

struct TWebAddress {
    TWebScheme Scheme = TWebScheme::Http;
    std::string Host; // a name or an IPv4 address, or an IPv6 address without its brackets
    int Port = 80;
    std::string Path; // from the first "/" after the host, query included, fragment removed
};

inline constexpr int kDefaultHttpPort = 80;
inline constexpr int kDefaultHttpsPort = 443;

// True for text that begins with "http://" or "https://" (any case).
bool IsWebAddress(std::string_view text);

// Splits an address: host up to the first "/" after the scheme, the port after ":" in the host (the
// scheme's default when there is none or it is not a port number), the path from that "/". Without
// such a "/", with an empty or malformed host, or with a user name in it, the result is empty and
// reason says why.
std::optional<TWebAddress> ParseWebAddress(std::string_view text, std::string& reason);

// The address a request is sent to: the port only when it is not the scheme's default, and the bytes
// of the path that may not stand in an address (blanks, controls, non-ASCII, a "%" that starts no
// escape) percent-encoded.
std::string ComposeWebAddress(const TWebAddress& address);

// "host:port" as failure texts name a server (IPv6 hosts in brackets).
std::string HostAndPort(const TWebAddress& address);

// The path of a web address without query and fragment ("/a/b.gif" for ".../a/b.gif?x=1#y"); empty
// for text that is not a web address or has no path.
std::string WebAddressPath(std::string_view text);

// What a list shows for an address: the last component of its path, percent-escapes decoded where
// they give printable text; the host when the path ends in "/".
std::string WebAddressDisplayName(std::string_view text);

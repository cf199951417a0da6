// Web addresses come from drops, lists and redirects: any text must split cleanly, and what the
// client sends must read back as the same server and path.
#include "platform/net/WebAddress.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)WebAddressPath(text);
    (void)WebAddressDisplayName(text);
    std::string reason;
    const auto address = ParseWebAddress(text, reason);
    if (!address) return 0;
    const std::string composed = ComposeWebAddress(*address);
    const auto again = ParseWebAddress(composed, reason);
    if (!again || again->Host != address->Host || again->Port != address->Port ||
        again->Scheme != address->Scheme || ComposeWebAddress(*again) != composed)
        std::abort();
    return 0;
}

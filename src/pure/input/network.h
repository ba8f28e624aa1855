// The address checks of Django's validators and the interpreter's ipaddress
// module, as DRF's EmailField, URLField, SlugField and IPAddressField apply
// them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zembra::input {

// ipaddress.IPv4Address(text) accepts it.
bool is_ipv4(std::string_view text);
// Django's is_valid_ipv6_address(): at most 39 characters, then
// ipaddress.IPv6Address(text) (a "%scope" suffix included).
bool is_ipv6(std::string_view text);

// django.utils.ipv6.clean_ipv6_address(text, unpack_ipv4): the compressed
// lower-case form; an IPv4-mapped address becomes "a.b.c.d" when unpacking,
// else "::ffff:a.b.c.d". nullopt when the text is no IPv6 address.
std::optional<std::string> clean_ipv6(std::string_view text, bool unpack_ipv4);

// EmailValidator()(text) accepts it.
bool is_email(std::string_view text);

// URLValidator()(text) for the default schemes. Only ASCII texts are
// decided here (nullopt otherwise): beyond ASCII the interpreter's URL
// splitting applies Unicode normalization.
std::optional<bool> is_url(std::string_view text);

// The slug patterns: [-a-zA-Z0-9_]+ (a final newline tolerated, as the
// pattern's "$" does), or with allow_unicode [-\w]+; the latter is decided
// here only for ASCII texts.
std::optional<bool> is_slug(std::string_view text, bool allow_unicode);

}  // namespace zembra::input

#include "pure/input/network.h"

#include <array>
#include <cstdint>
#include <vector>

#include "pure/input/unicode.h"

namespace zembra::input {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_hex(char c) { return is_digit(c) || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f'); }

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = text.find(separator, start);
    if (at == std::string_view::npos) {
      parts.push_back(text.substr(start));
      return parts;
    }
    parts.push_back(text.substr(start, at - start));
    start = at + 1;
  }
}

std::optional<std::uint32_t> parse_ipv4(std::string_view text) {
  if (text.empty() || text.find('/') != std::string_view::npos) return std::nullopt;
  const auto octets = split(text, '.');
  if (octets.size() != 4) return std::nullopt;
  std::uint32_t value = 0;
  for (std::string_view octet : octets) {
    if (octet.empty() || octet.size() > 3) return std::nullopt;
    for (char c : octet) {
      if (!is_digit(c)) return std::nullopt;
    }
    if (octet.size() > 1 && octet[0] == '0') return std::nullopt;
    unsigned n = 0;
    for (char c : octet) n = n * 10 + static_cast<unsigned>(c - '0');
    if (n > 255) return std::nullopt;
    value = (value << 8) | n;
  }
  return value;
}

struct Ipv6 {
  std::uint16_t hextets[8] = {};
};

std::optional<Ipv6> parse_ipv6(std::string_view text, bool django_length_limit = true) {
  if (django_length_limit && more_code_points_than(text, 39)) return std::nullopt;
  if (text.find('/') != std::string_view::npos) return std::nullopt;
  if (const std::size_t percent = text.find('%'); percent != std::string_view::npos) {
    const std::string_view scope = text.substr(percent + 1);
    if (scope.empty() || scope.find('%') != std::string_view::npos) return std::nullopt;
    text = text.substr(0, percent);
  }
  if (text.empty()) return std::nullopt;
  auto parts = split(text, ':');
  if (parts.size() < 3) return std::nullopt;
  std::vector<std::uint16_t> tail;  // from an IPv4 suffix
  if (parts.back().find('.') != std::string_view::npos) {
    const auto v4 = parse_ipv4(parts.back());
    if (!v4) return std::nullopt;
    parts.pop_back();
    tail = {static_cast<std::uint16_t>(*v4 >> 16), static_cast<std::uint16_t>(*v4 & 0xFFFF)};
  }
  const std::size_t count = parts.size() + tail.size();
  if (count > 9) return std::nullopt;
  // Hextet i of the address: parts then the IPv4 tail.
  auto part_at = [&](std::size_t i) -> std::optional<std::uint16_t> {
    if (i >= parts.size()) return tail[i - parts.size()];
    const std::string_view h = parts[i];
    if (h.empty() || h.size() > 4) return std::nullopt;
    unsigned v = 0;
    for (char c : h) {
      if (!is_hex(c)) return std::nullopt;
      v = v * 16 + static_cast<unsigned>(is_digit(c) ? c - '0' : (c | 0x20) - 'a' + 10);
    }
    return static_cast<std::uint16_t>(v);
  };
  auto empty_at = [&](std::size_t i) { return i < parts.size() && parts[i].empty(); };
  std::optional<std::size_t> skip;
  for (std::size_t i = 1; i + 1 < count; ++i) {
    if (empty_at(i)) {
      if (skip) return std::nullopt;
      skip = i;
    }
  }
  std::size_t hi, lo, skipped;
  if (skip) {
    hi = *skip;
    lo = count - *skip - 1;
    if (empty_at(0)) {
      if (--hi) return std::nullopt;
    }
    if (empty_at(count - 1)) {
      if (--lo) return std::nullopt;
    }
    if (hi + lo >= 8) return std::nullopt;
    skipped = 8 - (hi + lo);
  } else {
    if (count != 8 || empty_at(0) || empty_at(count - 1)) return std::nullopt;
    hi = count;
    lo = 0;
    skipped = 0;
  }
  Ipv6 out;
  std::size_t k = 0;
  for (std::size_t i = 0; i < hi; ++i) {
    const auto h = part_at(i);
    if (!h) return std::nullopt;
    out.hextets[k++] = *h;
  }
  k += skipped;
  for (std::size_t i = count - lo; i < count; ++i) {
    const auto h = part_at(i);
    if (!h) return std::nullopt;
    out.hextets[k++] = *h;
  }
  return out;
}

void append_ipv4(std::uint32_t v, std::string& out) {
  for (int shift = 24; shift >= 0; shift -= 8) {
    out += std::to_string((v >> shift) & 0xFF);
    if (shift) out += '.';
  }
}

// The compressed form: the longest run of two or more zero hextets (the
// first of equal runs) becomes "::".
std::string compressed(const Ipv6& a) {
  int best_start = -1, best_len = 0, start = -1, len = 0;
  for (int i = 0; i < 8; ++i) {
    if (a.hextets[i] == 0) {
      if (start < 0) start = i;
      if (++len > best_len) {
        best_len = len;
        best_start = start;
      }
    } else {
      start = -1;
      len = 0;
    }
  }
  static constexpr char kHex[] = "0123456789abcdef";
  auto hex = [&](std::uint16_t v) {
    std::string s;
    bool started = false;
    for (int shift = 12; shift >= 0; shift -= 4) {
      const unsigned d = (v >> shift) & 0xF;
      if (d || started || shift == 0) {
        s += kHex[d];
        started = true;
      }
    }
    return s;
  };
  std::string out;
  if (best_len < 2) {
    for (int i = 0; i < 8; ++i) {
      if (i) out += ':';
      out += hex(a.hextets[i]);
    }
    return out;
  }
  for (int i = 0; i < best_start; ++i) {
    out += hex(a.hextets[i]);
    out += ':';
  }
  if (best_start == 0) out += ':';
  out += ':';
  for (int i = best_start + best_len; i < 8; ++i) {
    out += hex(a.hextets[i]);
    if (i < 7) out += ':';
  }
  return out;
}

// Classes of ASCII characters, a bit each: the address user part's atext,
// [a-z0-9] of host names, [a-z] and "-" of top-level domains.
constexpr std::uint8_t kAtext = 1, kHost = 2, kTld = 4;
constexpr std::array<std::uint8_t, 128> kAsciiClasses = [] {
  std::array<std::uint8_t, 128> table{};
  for (int c = '0'; c <= '9'; ++c) table[c] = kAtext | kHost;
  for (int c = 'a'; c <= 'z'; ++c) table[c] = table[c - 32] = kAtext | kHost | kTld;
  for (char c : std::string_view("-!#$%&'*+/=?^_`{}|~")) table[static_cast<unsigned char>(c)] |= kAtext;
  table['-'] |= kTld;
  return table;
}();

// [a-z0-9] and the Unicode range U+00A1..U+FFFF, case-insensitively.
bool is_host_char(char32_t c) { return c < 0x80 ? (kAsciiClasses[c] & kHost) != 0 : c >= 0xA1 && c <= 0xFFFF; }
bool is_tld_char(char32_t c) { return c < 0x80 ? (kAsciiClasses[c] & kTld) != 0 : c >= 0xA1 && c <= 0xFFFF; }

std::u32string decode(std::string_view text) {
  std::u32string out;
  for (const char* p = text.data(); p != text.data() + text.size();) out.push_back(next_code_point(p));
  return out;
}

// Code point i of a text held as code points, or of an ASCII text.
inline char32_t at(std::u32string_view s, std::size_t i) { return s[i]; }
inline char32_t at(std::string_view s, std::size_t i) { return static_cast<unsigned char>(s[i]); }

// hostname (\.label)* \.tld, as DomainNameValidator's pieces put together;
// with trailing_dot, one final "." may follow.
template <class View>
bool is_domain(View s, bool trailing_dot) {
  if (trailing_dot && !s.empty() && s.back() == '.') s.remove_suffix(1);
  const std::size_t last_dot = s.rfind('.');
  if (last_dot == View::npos) return false;  // a hostname and a TLD at least
  // Every label before the TLD: 1..63 characters, no "-" at either end.
  for (std::size_t start = 0; start <= last_dot;) {
    const std::size_t end = s.find('.', start);
    const View label = s.substr(start, end - start);
    start = end + 1;
    if (label.empty() || label.size() > 63) return false;
    if (label.front() == '-' || label.back() == '-') return false;
    for (std::size_t i = 0; i < label.size(); ++i) {
      const char32_t c = at(label, i);
      if (c != '-' && !is_host_char(c)) return false;
    }
  }
  const View tld = s.substr(last_dot + 1);
  if (tld.empty() || tld.front() == '-' || tld.back() == '-') return false;
  bool plain = tld.size() >= 2 && tld.size() <= 63;
  for (std::size_t i = 0; i < tld.size(); ++i) plain = plain && is_tld_char(at(tld, i));
  if (plain) return true;
  // xn--[a-z0-9]{1,59}
  if (tld.size() < 5 || tld.size() > 63) return false;
  if ((tld[0] | 0x20) != 'x' || (tld[1] | 0x20) != 'n' || tld[2] != '-' || tld[3] != '-') return false;
  for (std::size_t i = 4; i < tld.size(); ++i) {
    const char32_t c = at(tld, i);
    if (!((c >= '0' && c <= '9') || is_letter_ignoring_case(c))) return false;
  }
  return true;
}

bool is_atext(char32_t c) { return c < 0x80 ? (kAsciiClasses[c] & kAtext) != 0 : is_letter_ignoring_case(c); }

bool is_qtext(char32_t c) {
  if (c >= 0x80) return is_letter_ignoring_case(c);
  return (c >= 0x01 && c <= 0x08) || c == 0x0B || c == 0x0C || (c >= 0x0E && c <= 0x1F) || c == '!' ||
         (c >= 0x23 && c <= 0x5B) || (c >= 0x5D && c <= 0x7F);
}

bool is_quoted_pair_char(char32_t c) {
  if (c >= 0x80) return is_letter_ignoring_case(c);
  return (c >= 0x01 && c <= 0x09) || c == 0x0B || c == 0x0C || (c >= 0x0E && c <= 0x7F);
}

template <class View>
bool is_user_part(View user) {
  if (!user.empty() && user.front() == '"') {
    std::size_t i = 1;
    while (i < user.size()) {
      const char32_t c = at(user, i);
      if (c == '"') return i + 1 == user.size();
      if (c == '\\') {
        if (i + 1 >= user.size() || !is_quoted_pair_char(at(user, i + 1))) return false;
        i += 2;
        continue;
      }
      if (!is_qtext(c)) return false;
      ++i;
    }
    return false;
  }
  // dot-atom: atoms of atext joined by single dots.
  if (user.empty()) return false;
  bool atom_empty = true;
  for (std::size_t i = 0; i < user.size(); ++i) {
    const char32_t c = at(user, i);
    if (c == '.') {
      if (atom_empty) return false;
      atom_empty = true;
    } else if (is_atext(c)) {
      atom_empty = false;
    } else {
      return false;
    }
  }
  return !atom_empty;
}

bool is_ipv46(std::string_view text) { return is_ipv4(text) || is_ipv6(text); }

bool is_url_space(char c) { return is_space(static_cast<unsigned char>(c)); }

// ipv4_re of URLValidator (same as a strict dotted quad).
bool url_ipv4(std::string_view host) { return parse_ipv4(host).has_value(); }

// The host (ipv4 | [ipv6-ish] | domain | localhost), an optional port and
// an optional path, from `rest` to the end.
bool url_host_onwards(std::string_view rest) {
  std::size_t host_end;
  bool host_ok = false;
  if (!rest.empty() && rest.front() == '[') {
    const std::size_t close = rest.find(']');
    if (close == std::string_view::npos || close == 1) return false;
    for (std::size_t i = 1; i < close; ++i) {
      const char c = rest[i];
      if (!(is_hex(c) || c == ':' || c == '.')) return false;
    }
    host_end = close + 1;
    host_ok = true;
  } else {
    host_end = 0;
    while (host_end < rest.size()) {
      const char c = rest[host_end];
      if (!(is_digit(c) || is_letter_ignoring_case(static_cast<unsigned char>(c)) || c == '-' || c == '.')) break;
      ++host_end;
    }
    const std::string_view host = rest.substr(0, host_end);
    if (host.empty()) return false;
    if (url_ipv4(host)) {
      host_ok = true;
    } else {
      bool localhost = host.size() == 9;
      static constexpr char kLocal[] = "localhost";
      for (std::size_t i = 0; localhost && i < 9; ++i) localhost = (host[i] | 0x20) == kLocal[i];
      host_ok = localhost || is_domain(host, true);
    }
  }
  if (!host_ok) return false;
  std::size_t i = host_end;
  if (i < rest.size() && rest[i] == ':') {
    std::size_t digits = 0;
    ++i;
    while (i < rest.size() && is_digit(rest[i])) ++i, ++digits;
    if (digits == 0 || digits > 5) return false;
  }
  if (i == rest.size()) return true;
  if (rest[i] != '/' && rest[i] != '?' && rest[i] != '#') return false;
  for (; i < rest.size(); ++i) {
    if (is_url_space(rest[i])) return false;
  }
  return true;
}

// The interpreter's urlsplit() refusals for ASCII text: brackets that do
// not pair up, or whose first pair does not hold an IPv6 address (or an
// "IPvFuture" v... form).
bool netloc_splits(std::string_view netloc) {
  const std::size_t open = netloc.find('[');
  const bool has_close = netloc.find(']') != std::string_view::npos;
  if ((open != std::string_view::npos) != has_close) return false;
  if (open == std::string_view::npos) return true;
  std::string_view host = netloc.substr(open + 1);
  host = host.substr(0, host.find(']'));
  if (!host.empty() && host.front() == 'v') {
    // \Av[a-fA-F0-9]+\..+\Z
    std::size_t i = 1;
    while (i < host.size() && is_hex(host[i])) ++i;
    return i > 1 && i + 1 < host.size() && host[i] == '.';
  }
  if (is_ipv4(host)) return false;  // an IPv4 address may not be bracketed
  return parse_ipv6(host, false).has_value();
}

}  // namespace

bool is_ipv4(std::string_view text) { return parse_ipv4(text).has_value(); }

bool is_ipv6(std::string_view text) { return parse_ipv6(text).has_value(); }

std::optional<std::string> clean_ipv6(std::string_view text, bool unpack_ipv4) {
  const auto address = parse_ipv6(text);
  if (!address) return std::nullopt;
  const auto& h = address->hextets;
  const bool mapped = h[0] == 0 && h[1] == 0 && h[2] == 0 && h[3] == 0 && h[4] == 0 && h[5] == 0xFFFF;
  if (mapped) {
    std::string out = unpack_ipv4 ? "" : "::ffff:";
    append_ipv4((static_cast<std::uint32_t>(h[6]) << 16) | h[7], out);
    return out;
  }
  return compressed(*address);
}

bool is_email(std::string_view text) {
  if (text.empty() || text.find('@') == std::string_view::npos || more_code_points_than(text, 320)) return false;
  const std::size_t split = text.rfind('@');
  const std::string_view user = text.substr(0, split);
  const std::string_view domain = text.substr(split + 1);
  if (is_ascii(user) ? !is_user_part(user) : !is_user_part(std::u32string_view(decode(user)))) return false;
  if (domain == "localhost") return true;
  if (is_ascii(domain) ? is_domain(domain, false) : is_domain(std::u32string_view(decode(domain)), false)) return true;
  // [ipv4 or ipv6 literal]
  if (domain.size() >= 3 && domain.front() == '[' && domain.back() == ']') {
    const std::string_view inner = domain.substr(1, domain.size() - 2);
    for (char c : inner) {
      if (!(is_hex(c) || c == ':' || c == '.')) return false;
    }
    return is_ipv46(inner);
  }
  return false;
}

std::optional<bool> is_url(std::string_view text) {
  if (!is_ascii(text)) return std::nullopt;
  if (text.size() > 2048) return false;
  if (text.find_first_of("\t\r\n") != std::string_view::npos) return false;
  const std::size_t sep = text.find("://");
  const std::string_view scheme = text.substr(0, sep);
  std::string lower;
  for (char c : scheme) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  if (lower != "http" && lower != "https" && lower != "ftp" && lower != "ftps") return false;
  if (sep == std::string_view::npos) return false;
  const std::string_view after = text.substr(sep + 3);
  const std::string_view netloc = after.substr(0, after.find_first_of("/?#"));
  if (!netloc_splits(netloc)) return false;
  // The pattern, with or without the user:password@ part.
  bool matched = url_host_onwards(after);
  if (!matched) {
    const std::size_t at = after.find('@');
    if (at != std::string_view::npos) {
      const std::string_view user = after.substr(0, at);
      bool ok = !user.empty() && user.front() != ':';
      int colons = 0;
      for (char c : user) {
        if (c == '/' || is_url_space(c)) ok = false;
        if (c == ':') ++colons;
      }
      matched = ok && colons <= 1 && url_host_onwards(after.substr(at + 1));
    }
  }
  if (!matched) return false;
  // A bracketed host (with an optional port) must be a valid IPv6 address.
  if (!netloc.empty() && netloc.front() == '[') {
    const std::size_t close = netloc.rfind(']');
    if (close != std::string_view::npos && close > 1) {
      const std::string_view port = netloc.substr(close + 1);
      bool port_ok = port.empty();
      if (!port.empty() && port.front() == ':' && port.size() >= 2 && port.size() <= 6) {
        port_ok = true;
        for (char c : port.substr(1)) port_ok = port_ok && is_digit(c);
      }
      if (port_ok && !is_ipv6(netloc.substr(1, close - 1))) return false;
    }
  }
  // urlsplit's hostname: after the last "@", without port or brackets.
  const std::size_t at = netloc.rfind('@');
  const std::string_view hostinfo = at == std::string_view::npos ? netloc : netloc.substr(at + 1);
  std::string_view hostname;
  if (const std::size_t bracket = hostinfo.find('['); bracket != std::string_view::npos) {
    const std::string_view bracketed = hostinfo.substr(bracket + 1);
    hostname = bracketed.substr(0, bracketed.find(']'));
  } else {
    hostname = hostinfo.substr(0, hostinfo.find(':'));
  }
  return !hostname.empty() && hostname.size() <= 253;
}

std::optional<bool> is_slug(std::string_view text, bool allow_unicode) {
  if (allow_unicode && !is_ascii(text)) return std::nullopt;
  if (!allow_unicode) text = drop_final_newline(text);
  if (text.empty()) return false;
  for (char c : text) {
    if (!(is_digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '_')) return false;
  }
  return true;
}

}  // namespace zembra::input

// Host names and IPv4 addresses. An address is a 32-bit Int in host byte
// order with the first dotted component in the top byte: 127.0.0.1 is
// 127 * 2^24 + 1 (0x7F000001).
//
// Names are resolved through getaddrinfo (IPv4 only) and reverse lookups go
// through getnameinfo; both may block for as long as the system's resolver
// takes. Nothing here throws: a failed lookup gives an empty result.
#pragma once

#include <cstdint>

#include "runtime/Array.h"
#include "runtime/String.h"

namespace vrl {

/// The IPv4 addresses of `host` (a name or a dotted address) in the order the
/// resolver gives them, duplicates removed; an empty array of tag "i" when the
/// lookup fails or gives no IPv4 address.
Ref<Array> HostIps(String* host);
/// Element `index` of HostIps(host); 0 when the index is negative or out of
/// range (or the lookup fails).
int32_t HostIp(String* host, int32_t index = 0);
/// The name a reverse lookup gives for `ip`, or the empty string.
Ref<String> HostName(int32_t ip);
/// The four bytes of `ip`, high first, in decimal joined by ".".
Ref<String> DottedIP(int32_t ip);

}  // namespace vrl

#include "net/Host.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "runtime/NativeText.h"

namespace vrl {

namespace {

using AddrInfoList = std::unique_ptr<addrinfo, decltype(&freeaddrinfo)>;

}  // namespace

Ref<Array> HostIps(String* host) {
  std::vector<int32_t> ips;
  // The name's bytes as the system spells names (nullopt for a name with a 0
  // unit, which would silently be cut short). An empty name would make
  // getaddrinfo answer for the local host.
  std::optional<std::string> name = NativeText(host);
  if (name && !name->empty()) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(name->c_str(), nullptr, &hints, &found) == 0) {
      AddrInfoList list(found, &freeaddrinfo);
      for (const addrinfo* entry = found; entry; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET || !entry->ai_addr ||
            entry->ai_addrlen < static_cast<socklen_t>(sizeof(sockaddr_in)))
          continue;
        sockaddr_in address{};
        std::memcpy(&address, entry->ai_addr, sizeof address);
        auto ip = static_cast<int32_t>(ntohl(address.sin_addr.s_addr));
        if (std::find(ips.begin(), ips.end(), ip) == ips.end()) ips.push_back(ip);
      }
    }
  }
  Ref<Array> result = Array::New("i", static_cast<int32_t>(ips.size()));
  std::copy(ips.begin(), ips.end(), result->DataAs<int32_t>());
  return result;
}

int32_t HostIp(String* host, int32_t index) {
  if (index < 0) return 0;
  Ref<Array> ips = HostIps(host);
  if (index >= ips->Length()) return 0;
  return ips->Get<int32_t>(index);
}

Ref<String> HostName(int32_t ip) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(static_cast<uint32_t>(ip));
  char name[NI_MAXHOST] = {};
  if (getnameinfo(reinterpret_cast<const sockaddr*>(&address), sizeof address, name, sizeof name, nullptr, 0,
                  NI_NAMEREQD) != 0)
    return {};
  return String::FromUtf8(std::string_view(name));
}

Ref<String> DottedIP(int32_t ip) {
  auto bits = static_cast<uint32_t>(ip);
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", (bits >> 24) & 255U, (bits >> 16) & 255U,
                (bits >> 8) & 255U, bits & 255U);
  return String::FromNarrow(text);
}

}  // namespace vrl

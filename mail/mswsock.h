#pragma once
// The POSIX socket layer under the client socket: name resolution, the local
// host name, and the mapping of errno and resolver failures to the Winsock
// numbering that the library's error texts use ("Winsock error no 10061").

#include <sys/socket.h>

#include <string>
#include <vector>

namespace ms {

// Winsock error numbers used by the library.
enum : int {
  WSAEINTR = 10004,
  WSAEBADF = 10009,
  WSAEACCES = 10013,
  WSAEFAULT = 10014,
  WSAEINVAL = 10022,
  WSAEMFILE = 10024,
  WSAEWOULDBLOCK = 10035,
  WSAEINPROGRESS = 10036,
  WSAEALREADY = 10037,
  WSAENOTSOCK = 10038,
  WSAEMSGSIZE = 10040,
  WSAEPROTONOSUPPORT = 10043,
  WSAEOPNOTSUPP = 10045,
  WSAEAFNOSUPPORT = 10047,
  WSAEADDRINUSE = 10048,
  WSAEADDRNOTAVAIL = 10049,
  WSAENETDOWN = 10050,
  WSAENETUNREACH = 10051,
  WSAENETRESET = 10052,
  WSAECONNABORTED = 10053,
  WSAECONNRESET = 10054,
  WSAENOBUFS = 10055,
  WSAEISCONN = 10056,
  WSAENOTCONN = 10057,
  WSAESHUTDOWN = 10058,
  WSAETIMEDOUT = 10060,
  WSAECONNREFUSED = 10061,
  WSAENAMETOOLONG = 10063,
  WSAEHOSTDOWN = 10064,
  WSAEHOSTUNREACH = 10065,
  WSAHOST_NOT_FOUND = 11001,
  WSATRY_AGAIN = 11002,
  WSANO_RECOVERY = 11003,
  WSANO_DATA = 11004,
};

// The Winsock number of an errno value; an errno without a Winsock
// counterpart is returned unchanged.
int WinsockCodeFromErrno(int err);

// The Winsock number of a getaddrinfo failure (EAI_*); sysErrno is errno as
// it was right after the call (used for EAI_SYSTEM).
int WinsockCodeFromResolver(int gaiError, int sysErrno);

// Raises EWinsockError for errno / for the given Winsock code.
[[noreturn]] void RaiseErrno(int err);
[[noreturn]] void RaiseWinsockError(int code);

// One address a host name resolved to.
struct TmsResolvedAddress {
  sockaddr_storage Address{};
  socklen_t Length = 0;
  int Family = 0;
};

// Resolves host (a name, a dotted IPv4 address or an IPv6 literal, without
// brackets) for a TCP connection to port. IPv4 and IPv6 addresses are both
// returned, in the resolver's order. Failure raises EWinsockError (11001 for
// an unknown host).
std::vector<TmsResolvedAddress> ResolveHost(const std::string& host, int port);

// The numeric text of an address ("127.0.0.1", "::1").
std::string AddressText(const TmsResolvedAddress& address);

// The local host name (gethostname); failure raises EWinsockError.
std::string LocalHostName();

}  // namespace ms

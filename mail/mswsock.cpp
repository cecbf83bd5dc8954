#include "mail/mswsock.h"
#include "base/text.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "mail/msexcept.h"

namespace ms {

int WinsockCodeFromErrno(int err) {
  switch (err) {
    case EINTR:
      return WSAEINTR;
    case EBADF:
      return WSAEBADF;
    case EACCES:
      return WSAEACCES;
    case EPERM:
      return WSAEACCES;
    case EFAULT:
      return WSAEFAULT;
    case EINVAL:
      return WSAEINVAL;
    case EMFILE:
      return WSAEMFILE;
    case ENFILE:
      return WSAEMFILE;
    case EAGAIN:
      return WSAEWOULDBLOCK;
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
      return WSAEWOULDBLOCK;
#endif
    case EINPROGRESS:
      return WSAEINPROGRESS;
    case EALREADY:
      return WSAEALREADY;
    case ENOTSOCK:
      return WSAENOTSOCK;
    case EMSGSIZE:
      return WSAEMSGSIZE;
    case EPROTONOSUPPORT:
      return WSAEPROTONOSUPPORT;
    case EOPNOTSUPP:
      return WSAEOPNOTSUPP;
    case EAFNOSUPPORT:
      return WSAEAFNOSUPPORT;
    case EADDRINUSE:
      return WSAEADDRINUSE;
    case EADDRNOTAVAIL:
      return WSAEADDRNOTAVAIL;
    case ENETDOWN:
      return WSAENETDOWN;
    case ENETUNREACH:
      return WSAENETUNREACH;
    case ENETRESET:
      return WSAENETRESET;
    case ECONNABORTED:
      return WSAECONNABORTED;
    case ECONNRESET:
      return WSAECONNRESET;
    case EPIPE:
      return WSAECONNRESET;
    case ENOBUFS:
      return WSAENOBUFS;
    case ENOMEM:
      return WSAENOBUFS;
    case EISCONN:
      return WSAEISCONN;
    case ENOTCONN:
      return WSAENOTCONN;
    case ESHUTDOWN:
      return WSAESHUTDOWN;
    case ETIMEDOUT:
      return WSAETIMEDOUT;
    case ECONNREFUSED:
      return WSAECONNREFUSED;
    case ENAMETOOLONG:
      return WSAENAMETOOLONG;
    case EHOSTDOWN:
      return WSAEHOSTDOWN;
    case EHOSTUNREACH:
      return WSAEHOSTUNREACH;
    default:
      return err;
  }
}

int WinsockCodeFromResolver(int gaiError, int sysErrno) {
  switch (gaiError) {
    case EAI_NONAME:
      return WSAHOST_NOT_FOUND;
#ifdef EAI_NODATA
    case EAI_NODATA:
      return WSANO_DATA;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
      return WSANO_DATA;
#endif
    case EAI_AGAIN:
      return WSATRY_AGAIN;
    case EAI_FAIL:
      return WSANO_RECOVERY;
    case EAI_MEMORY:
      return WSAENOBUFS;
    case EAI_FAMILY:
      return WSAEAFNOSUPPORT;
    case EAI_SERVICE:
      return WSAEINVAL;
    case EAI_SOCKTYPE:
      return WSAEINVAL;
    case EAI_SYSTEM:
      return WinsockCodeFromErrno(sysErrno);
    default:
      return WSANO_RECOVERY;
  }
}

void RaiseErrno(int err) {
  throw EWinsockError(WinsockCodeFromErrno(err));
}

void RaiseWinsockError(int code) {
  throw EWinsockError(code);
}

std::vector<TmsResolvedAddress> ResolveHost(const std::string& host, int port) {
  // An empty name or one holding a NUL is no host at all; getaddrinfo would
  // take the empty name for the local host.
  if (host.empty() || host.find('\0') != std::string::npos) RaiseWinsockError(WSAHOST_NOT_FOUND);
  // Names under the reserved top-level domain "invalid" never exist (RFC 6761):
  // answered at once, without asking a name server.
  std::string lower = vigilo::AsciiLower(host);
  while (!lower.empty() && lower.back() == '.')
    lower.pop_back();
  if (lower == "invalid" || (lower.size() > 8 && lower.ends_with(".invalid")))
    RaiseWinsockError(WSAHOST_NOT_FOUND);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICSERV;
  const std::string service = std::to_string(port & 0xFFFF);
  addrinfo* list = nullptr;
  errno = 0;
  const int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
  const int sysErrno = errno;
  if (rc != 0) RaiseWinsockError(WinsockCodeFromResolver(rc, sysErrno));
  std::vector<TmsResolvedAddress> out;
  for (addrinfo* ai = list; ai; ai = ai->ai_next) {
    if (ai->ai_family != AF_INET && ai->ai_family != AF_INET6) continue;
    if (ai->ai_addrlen > sizeof(sockaddr_storage)) continue;
    TmsResolvedAddress a;
    std::memcpy(&a.Address, ai->ai_addr, ai->ai_addrlen);
    a.Length = ai->ai_addrlen;
    a.Family = ai->ai_family;
    out.push_back(a);
  }
  freeaddrinfo(list);
  if (out.empty()) RaiseWinsockError(WSANO_DATA);
  return out;
}

std::string AddressText(const TmsResolvedAddress& address) {
  char buf[INET6_ADDRSTRLEN] = {};
  const void* src = nullptr;
  if (address.Family == AF_INET)
    src = &reinterpret_cast<const sockaddr_in*>(&address.Address)->sin_addr;
  else
    src = &reinterpret_cast<const sockaddr_in6*>(&address.Address)->sin6_addr;
  if (!inet_ntop(address.Family, src, buf, sizeof buf)) return {};
  return buf;
}

std::string LocalHostName() {
  char buf[256] = {};
  if (gethostname(buf, sizeof buf - 1) != 0) RaiseErrno(errno);
  return buf;
}

}  // namespace ms

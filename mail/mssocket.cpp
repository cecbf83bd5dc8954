#include "mail/mssocket.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <istream>
#include <ostream>
#include <vector>

#include "base/text.h"
#include "mail/msexcept.h"
#include "mail/mspump.h"
#include "mail/mswsock.h"

namespace ms {
namespace {

constexpr int kSliceMs = 20;
constexpr int kMaxReplyLines = 10000;
constexpr size_t kMaxShortString = 255;

int ClampInt(int64_t v) {
  return static_cast<int>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

int Percent(int64_t position, int64_t total) {
  if (total <= 0) return -1;
  const int64_t p =
      std::llround(static_cast<double>(position) * 100.0 / static_cast<double>(total));
  return p > 100 ? 0 : static_cast<int>(p);
}

// A decimal port number 0..65535, or -1.
int ParsePort(const std::string& text) {
  if (text.empty() || text.size() > 5) return -1;
  int v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    v = v * 10 + (c - '0');
  }
  return v <= 65535 ? v : -1;
}

}  // namespace

// ---------------------------------------------------------------- base

TmsSocketBase::~TmsSocketBase() = default;

void TmsSocketBase::StartCounter() {
  lastProgress_ = std::chrono::steady_clock::now();
}

bool TmsSocketBase::TimedOut() const {
  const auto now = std::chrono::steady_clock::now();
  if (hasDeadline_ && now >= deadline_) return true;
  if (Blocking) return false;
  const auto limit = std::chrono::seconds(std::max(TimeOut, 1));
  return now - lastProgress_ >= limit;
}

TmsTimeLimit::TmsTimeLimit(TmsSocketBase& socket, std::chrono::steady_clock::duration limit)
    : socket_(socket), had_(socket.HasDeadline()), previous_(socket.Deadline()) {
  const auto end = std::chrono::steady_clock::now() + limit;
  socket_.SetDeadline(had_ ? std::min(previous_, end) : end);
}

TmsTimeLimit::~TmsTimeLimit() {
  if (had_)
    socket_.SetDeadline(previous_);
  else
    socket_.ClearDeadline();
}

// ---------------------------------------------------------------- TmsSocket

void TmsSocket::ResetState() {
  connected_ = false;
  closedByPeer_ = false;
  cancel_ = false;
  StartCounter();
}

void TmsSocket::WaitReady(short events, int handle) {
  if (cancel_) throw EmsCanceledError();
  if (TimedOut()) throw EmsTimedOutError();
  if (handle < 0) {
    if (!transport_) throw EWinsockError(WSAENOTCONN);
    handle = transport_->Handle();
  }
  pollfd p{handle, events, 0};
  const int rc = ::poll(&p, 1, kSliceMs);
  if (rc < 0 && errno != EINTR) RaiseErrno(errno);
  if (!Blocking) PumpMessages();
  if (cancel_) throw EmsCanceledError();
}

bool TmsSocket::FlushOutput() {
  while (outputPos_ < output_.size()) {
    if (!transport_) throw EWinsockError(WSAENOTCONN);
    const TmsIoResult r =
        transport_->Write(output_.data() + outputPos_, output_.size() - outputPos_);
    switch (r.Kind) {
      case TmsIoResult::Data:
        outputPos_ += r.Count;
        ResetCounter();
        break;
      case TmsIoResult::WouldBlock:
        return false;
      case TmsIoResult::Closed:
        throw EWinsockError(WSAECONNRESET);
      case TmsIoResult::Failed:
        throw EWinsockError(r.ErrorCode);
    }
  }
  DropOutput();
  return true;
}

size_t TmsSocket::ReadSome(char* buffer, size_t length) {
  for (;;) {
    if (cancel_) throw EmsCanceledError();
    if (!transport_) throw EWinsockError(WSAENOTCONN);
    const bool flushed = FlushOutput();
    const TmsIoResult r = transport_->Read(buffer, length);
    switch (r.Kind) {
      case TmsIoResult::Data:
        ResetCounter();
        return r.Count;
      case TmsIoResult::Closed:
        MarkClosedByPeer();
        return 0;
      case TmsIoResult::WouldBlock:
        WaitReady(
            static_cast<short>((r.WaitEvents ? r.WaitEvents : POLLIN) | (flushed ? 0 : POLLOUT)));
        break;
      case TmsIoResult::Failed:
        throw EWinsockError(r.ErrorCode);
    }
  }
}

void TmsSocket::Raise(const TmsNotifyEvent& event) {
  if (event) event(*this);
}

void TmsSocket::RaiseProgress(int perc, int64_t byteCount, int64_t lineCount) {
  if (OnTransferProgress) OnTransferProgress(*this, perc, ClampInt(byteCount), ClampInt(lineCount));
}

void TmsSocket::MarkClosedByPeer() {
  if (closedByPeer_) return;
  closedByPeer_ = true;
  Raise(OnDisconnected);
}

// ---------------------------------------------------------------- helpers

void SplitHostPort(const std::string& value, std::string& host, bool& hasPort, int& port) {
  hasPort = false;
  port = -1;
  if (!value.empty() && value[0] == '[') {
    const size_t close = value.find(']');
    if (close == std::string::npos) {
      host = value;
      return;
    }
    host = value.substr(1, close - 1);
    if (close + 1 < value.size() && value[close + 1] == ':') {
      hasPort = true;
      port = ParsePort(value.substr(close + 2));
    }
    return;
  }
  const size_t colon = value.find(':');
  if (colon == std::string::npos || value.find(':', colon + 1) != std::string::npos) {
    host = value;  // no port, or an IPv6 literal without brackets
    return;
  }
  host = value.substr(0, colon);
  hasPort = true;
  port = ParsePort(value.substr(colon + 1));
}

// ---------------------------------------------------------------- TmsClientSocket

TmsClientSocket::~TmsClientSocket() = default;

void TmsClientSocket::SetHost(const std::string& value) {
  const std::string v = value.substr(0, kMaxShortString);
  if (!proxyHost_.empty()) {
    host_ = v;
    if (defaultPort_ > 0) Port = defaultPort_;
    return;
  }
  std::string h;
  bool hasPort = false;
  int p = -1;
  SplitHostPort(v, h, hasPort, p);
  host_ = h;
  if (hasPort)
    Port = p >= 0 ? p : defaultPort_;
  else if (defaultPort_ > 0)
    Port = defaultPort_;
}

void TmsClientSocket::SetProxy(const std::string& value) {
  const std::string v = value.substr(0, kMaxShortString);
  if (v.empty()) {
    proxyHost_.clear();
    ProxyPort = 0;
    SetHost(host_);
    return;
  }
  std::string h;
  bool hasPort = false;
  int p = -1;
  SplitHostPort(v, h, hasPort, p);
  proxyHost_ = h;
  ProxyPort = hasPort ? std::max(p, 0) : 0;
}

bool TmsClientSocket::ConnectTo(const TmsResolvedAddress& address, int& lastError) {
  const int fd = ::socket(address.Family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    lastError = WinsockCodeFromErrno(errno);
    return false;
  }
  transport_ = std::make_unique<TmsPlainTransport>(fd);
  int rc;
  do {
    rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&address.Address), address.Length);
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) return true;
  if (errno != EINPROGRESS) {
    lastError = WinsockCodeFromErrno(errno);
    transport_.reset();
    return false;
  }
  StartCounter();
  for (;;) {
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, 0) > 0) {
      int err = 0;
      socklen_t len = sizeof err;
      if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
      if (err == 0) return true;
      lastError = WinsockCodeFromErrno(err);
      transport_.reset();
      return false;
    }
    try {
      WaitReady(POLLOUT);
    } catch (...) {
      transport_.reset();
      throw;
    }
  }
}

void TmsClientSocket::Connect() {
  ResetState();
  Raise(OnConnecting);
  const bool viaProxy = !proxyHost_.empty();
  const std::string host = viaProxy ? proxyHost_ : host_;
  const int port = viaProxy ? ProxyPort : Port;
  const std::vector<TmsResolvedAddress> addresses = ResolveHost(host, port);
  transport_.reset();
  DropInput();
  DropOutput();
  int lastError = WSAECONNREFUSED;
  bool ok = false;
  for (const TmsResolvedAddress& a : addresses) {
    if (ConnectTo(a, lastError)) {
      ok = true;
      break;
    }
  }
  if (!ok) RaiseWinsockError(lastError);
  if (TransportLayer) {
    StartCounter();
    transport_ = TransportLayer(*this, std::move(transport_));
    if (!transport_) throw EWinsockError(WSAENOTCONN);
  }
  connected_ = true;
  Raise(OnConnected);
}

void TmsClientSocket::Disconnect() {
  if (!transport_) return;
  transport_->Close();
  transport_.reset();
  DropInput();
  DropOutput();
  connected_ = false;
  Raise(OnDisconnected);
}

void TmsClientSocket::WriteLine(const std::string& text) {
  SendBuffer(text + "\r\n");
}

bool TmsClientSocket::FillInput() {
  if (inputPos_ == input_.size()) {
    DropInput();
  } else if (inputPos_ >= kBlockSize) {
    input_.erase(0, inputPos_);  // keeps the input within a few blocks
    inputPos_ = 0;
  }
  const size_t old = input_.size();
  input_.resize(old + kBlockSize);
  size_t n = 0;
  try {
    n = ReadSome(input_.data() + old, kBlockSize);
  } catch (...) {
    input_.resize(old);
    throw;
  }
  input_.resize(old + n);
  return n > 0;
}

size_t TmsClientSocket::ReadInput(char* buffer, size_t length) {
  const size_t have = input_.size() - inputPos_;
  if (have == 0) return ReadSome(buffer, length);
  const size_t n = std::min(have, length);
  std::memcpy(buffer, input_.data() + inputPos_, n);
  inputPos_ += n;
  if (inputPos_ == input_.size()) DropInput();
  return n;
}

std::string TmsClientSocket::ReadLine() {
  StartCounter();
  size_t scanned = 0;  // input bytes already known to hold no LF
  std::string line;
  for (;;) {
    const char* begin = input_.data() + inputPos_;
    const size_t have = input_.size() - inputPos_;
    const void* lf = std::memchr(begin + scanned, '\n', have - scanned);
    const size_t length = lf ? static_cast<size_t>(static_cast<const char*>(lf) - begin) : have;
    if (length >= kLineBufferSize)
      throw EmsError("Line too long: no line end within " + std::to_string(kLineBufferSize) +
                     " bytes");
    if (lf) {
      line.assign(begin, length);
      inputPos_ += length + 1;
      break;
    }
    scanned = have;
    if (!FillInput()) {
      line.assign(input_.data() + inputPos_, input_.size() - inputPos_);
      DropInput();
      break;
    }
  }
  const size_t cr = line.find('\r');
  if (cr != std::string::npos) line.erase(cr, 1);
  return line;
}

int TmsClientSocket::ReadReply() {
  LastReply = ReadLine();
  return ReplyCode(LastReply);
}

int TmsClientSocket::ReadMultiLineReply() {
  const int code = ReadReply();
  if (code >= 1 && LastReply.find('-') == 3) {
    for (int lines = 0;; ++lines) {
      if (closedByPeer_) break;
      if (lines >= kMaxReplyLines) throw EmsError("The server's reply has too many lines");
      const int next = ReadReply();
      if (next == code && (LastReply.size() == 3 || LastReply.find(' ') == 3)) break;
    }
  }
  return code;
}

int TmsClientSocket::ReplyCode(const std::string&) const {
  return 1;
}

void TmsClientSocket::QueueBuffer(const std::string& data) {
  if (outputPos_ > kBlockSize) {  // what was written goes, so the queue stays small
    output_.erase(0, outputPos_);
    outputPos_ = 0;
  }
  output_ += data;
}

void TmsClientSocket::SendBuffer(const char* data, size_t length) {
  StartCounter();
  while (!FlushOutput())  // what was queued before goes first
    WaitReady(POLLOUT);
  size_t sent = 0;
  while (sent < length) {
    if (cancel_) throw EmsCanceledError();
    if (!transport_) throw EWinsockError(WSAENOTCONN);
    const TmsIoResult r = transport_->Write(data + sent, length - sent);
    switch (r.Kind) {
      case TmsIoResult::Data:
        sent += r.Count;
        ResetCounter();
        break;
      case TmsIoResult::WouldBlock:
        WaitReady(r.WaitEvents ? r.WaitEvents : POLLOUT);
        break;
      case TmsIoResult::Closed:
        throw EWinsockError(WSAECONNRESET);
      case TmsIoResult::Failed:
        throw EWinsockError(r.ErrorCode);
    }
  }
}

void TmsClientSocket::SendStream(std::istream& stream) {
  stream.clear();
  stream.seekg(0, std::ios::end);
  const int64_t size = std::max<int64_t>(0, static_cast<int64_t>(stream.tellg()));
  stream.seekg(0);
  std::vector<char> block(kBlockSize);
  int64_t position = 0;
  for (;;) {
    stream.read(block.data(), static_cast<std::streamsize>(block.size()));
    const size_t n = static_cast<size_t>(stream.gcount());
    if (n > 0) SendBuffer(block.data(), n);
    position += static_cast<int64_t>(n);
    RaiseProgress(size > 0 ? Percent(position, size) : 100, position, -1);
    if (n < block.size()) break;
  }
  stream.clear();
}

void TmsClientSocket::RaiseTooLarge() const {
  throw EmsError("The data received exceed the limit of " + std::to_string(MaxDataSize) + " bytes");
}

void TmsClientSocket::ReceiveStream(std::ostream& stream, int64_t size, int64_t startPosition) {
  stream.seekp(startPosition);
  const bool known = size > 0;
  if (known && size > MaxDataSize) RaiseTooLarge();
  StartCounter();
  std::vector<char> block(kBlockSize);
  int64_t received = 0;
  while (!known || received < size) {
    const size_t want =
        known ? static_cast<size_t>(std::min<int64_t>(kBlockSize, size - received)) : kBlockSize;
    const size_t n = ReadInput(block.data(), want);
    if (n == 0) break;
    if (received + static_cast<int64_t>(n) > MaxDataSize) RaiseTooLarge();
    stream.write(block.data(), static_cast<std::streamsize>(n));
    received += static_cast<int64_t>(n);
    RaiseProgress(known ? Percent(received, size) : -1, startPosition + received, -1);
  }
}

void TmsClientSocket::ReceiveDotBlock(const TmsBlockSink& sink, int64_t expectedSize) {
  StartCounter();
  int64_t total = 0, lines = 0;
  bool lineStart = true;
  for (;;) {
    const size_t have = input_.size() - inputPos_;
    const char* p = input_.data() + inputPos_;
    // A line starting with "." needs its next bytes to tell the end from a stuffed dot.
    const bool undecided =
        lineStart && have > 0 && p[0] == '.' && (have < 2 || (p[1] == '\r' && have < 3));
    if (have == 0 || undecided) {
      RaiseProgress(Percent(total, expectedSize), total, lines);
      if (!FillInput()) throw EmsError("The connection was closed before the end of the data");
      continue;
    }
    size_t skip = 0;
    if (lineStart && p[0] == '.') {
      if (p[1] == '\n' || (p[1] == '\r' && p[2] == '\n')) {
        inputPos_ += p[1] == '\n' ? 2 : 3;
        if (inputPos_ == input_.size()) DropInput();
        break;
      }
      skip = 1;  // the doubled dot
    }
    const void* lf = std::memchr(p + skip, '\n', have - skip);
    const size_t end = lf ? static_cast<size_t>(static_cast<const char*>(lf) - p) + 1 : have;
    if (end > skip) sink(p + skip, end - skip);
    inputPos_ += end;
    total += static_cast<int64_t>(end);
    lineStart = lf != nullptr;
    if (lineStart) ++lines;
  }
  RaiseProgress(Percent(total, expectedSize), total, lines);
}

void TmsClientSocket::ReceiveDotBlock(std::string& out, int64_t expectedSize) {
  out.clear();
  ReceiveDotBlock(
      [&](const char* data, size_t length) {
        if (static_cast<int64_t>(out.size() + length) > MaxDataSize) RaiseTooLarge();
        out.append(data, length);
      },
      expectedSize);
}

void TmsClientSocket::ReceiveChunked(std::ostream& stream) {
  stream.seekp(0);
  int64_t total = 0;
  for (;;) {
    const std::string line = vigilo::Trim(ReadLine());
    if (line.empty() || line.size() > 15 ||
        line.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
      throw EmsError("Error receiving the stream");
    const int64_t size = std::stoll(line, nullptr, 16);
    if (size == 0) {
      ReadLine();
      break;
    }
    if (total + size > MaxDataSize) RaiseTooLarge();
    ReceiveStream(stream, size, total);
    const int64_t now = static_cast<int64_t>(stream.tellp());
    if (now != total + size) throw EmsError("Error receiving the stream");
    total = now;
    ReadLine();
  }
}

}  // namespace ms

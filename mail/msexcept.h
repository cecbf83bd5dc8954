#pragma once
// Exceptions of the mail library. Every failure inside a component is raised as
// one of these; the message text is what the user finally sees.

#include <stdexcept>
#include <string>

namespace ms {

// Base of every mail-library failure that carries only a message.
class EmsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A negative or unexpected server reply; the text is the server's line verbatim.
class EmsServerError : public EmsError {
 public:
  using EmsError::EmsError;
};

class EmsTimedOutError : public EmsError {
 public:
  EmsTimedOutError() : EmsError("Operation timed out") {}
};

class EmsCanceledError : public EmsError {
 public:
  EmsCanceledError() : EmsError("Operation has been canceled") {}
};

// A socket failure, numbered as Winsock numbers it ("Winsock error no 10061").
class EWinsockError : public EmsError {
 public:
  explicit EWinsockError(int code)
      : EmsError("Winsock error no " + std::to_string(code)), code_(code) {}
  EWinsockError(int code, const std::string& text) : EmsError(text), code_(code) {}
  int Code() const { return code_; }

 private:
  int code_;
};

class EMessageParserError : public EmsError {
 public:
  using EmsError::EmsError;
};

class EMessageError : public EmsError {
 public:
  using EmsError::EmsError;
};

}  // namespace ms

// The socket layer's exceptions. Every one carries its message text; the
// classes mirror what callers catch.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace quillon {

class EIdException : public std::runtime_error {
 public:
  explicit EIdException(const std::string& message) : std::runtime_error(message) {}
  std::string Message() const { return what(); }
};

class EIdSilentException : public EIdException {
  using EIdException::EIdException;
};

// A failed socket call or lookup, with its (Winsock-numbered) error code.
class EIdSocketError : public EIdException {
 public:
  EIdSocketError(std::int32_t errorCode, const std::string& message)
      : EIdException(message), ErrorCode(errorCode) {}
  std::int32_t ErrorCode;
};

class EIdStackError : public EIdException {
  using EIdException::EIdException;
};
class EIdStackInitializationFailed : public EIdStackError {
 public:
  EIdStackInitializationFailed() : EIdStackError("Winsock Initialization Error.") {}
};
class EIdInvalidIPAddress : public EIdStackError {
 public:
  explicit EIdInvalidIPAddress(const std::string& text)
      : EIdStackError(text + " is not a valid IP address.") {}
};
class EIdStackSetSizeExceeded : public EIdStackError {
 public:
  EIdStackSetSizeExceeded() : EIdStackError("Set Size Exceeded.") {}
};
class EIdInvalidSocket : public EIdException {
 public:
  EIdInvalidSocket() : EIdException("Cannot allocate socket.") {}
};
class EIdInvalidServiceName : public EIdException {
 public:
  explicit EIdInvalidServiceName(const std::string& name)
      : EIdException(name + " is not a valid service.") {}
};

class EIdSocketHandleError : public EIdException {
  using EIdException::EIdException;
};
class EIdPackageSizeTooBig : public EIdSocketHandleError {
 public:
  EIdPackageSizeTooBig() : EIdSocketHandleError("Package Size Too Big.") {}
};
class EIdNotAllBytesSent : public EIdSocketHandleError {
 public:
  EIdNotAllBytesSent() : EIdSocketHandleError("Not all bytes sent.") {}
};
class EIdConnClosedGracefully : public EIdSilentException {
 public:
  EIdConnClosedGracefully() : EIdSilentException("Connection Closed Gracefully.") {}
};

class EIdIcmpException : public EIdException {
  using EIdException::EIdException;
};

// How the message of a host that no trace can go to begins.
inline constexpr const char* Id_CANNOT_TRACE = "Cannot trace ";

// A host typed as an address that no trace can go to (the unspecified address,
// a link-local one without its zone, a zone where none belongs); the message
// says why, after Id_CANNOT_TRACE and the host.
class EIdInvalidTarget : public EIdException {
 public:
  EIdInvalidTarget(const std::string& host, const std::string& reason)
      : EIdException(Id_CANNOT_TRACE + host + ": " + reason) {}
};

}  // namespace quillon

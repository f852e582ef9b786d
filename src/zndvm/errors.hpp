// The closed set of failures of the zndvm interpreter, named exactly as the report prints them.
// A failure travels as a thrown Failure and is caught only where the language consumes it (the
// driver, or the executor for Return); the system-error names come first so that a SysError
// converts by value.
#pragma once
#include <cstdint>
#include <string_view>

#include "common/sys_error.hpp"

#define ZANDLE_ZNDVM_ERRORS(X)                                                                     \
  X(UnterminatedString)                                                                            \
  X(UnknownInstruction)                                                                            \
  X(UnknownAddressingMode)                                                                         \
  X(UnknownVariable)                                                                               \
  X(InvalidPointer)                                                                                \
  X(UnknownEscape)                                                                                 \
  X(InvalidFunction)                                                                               \
  X(UnknownFunction)                                                                               \
  X(Return)                                                                                        \
  X(InvalidPC)                                                                                     \
  X(NotNumeric)                                                                                    \
  X(OutOfMemory)                                                                                   \
  X(EndOfStream)                                                                                   \
  X(ReadFailed)                                                                                    \
  X(WriteFailed)                                                                                   \
  X(InvalidArgument)

namespace zandle::zndvm {

enum class Error : std::uint8_t {
#define ZANDLE_ENUM_ITEM(name) name,
  ZANDLE_SYS_ERRORS(ZANDLE_ENUM_ITEM) ZANDLE_ZNDVM_ERRORS(ZANDLE_ENUM_ITEM)
#undef ZANDLE_ENUM_ITEM
};

static_assert(static_cast<int>(Error::Unexpected) == static_cast<int>(SysError::Unexpected));

inline Error fromSys(SysError e) { return static_cast<Error>(e); }

std::string_view errorName(Error e);

// A failure of the running program. std::bad_alloc is reported as OutOfMemory by whoever
// catches at the top.
struct Failure {
  Error error;
};

[[noreturn]] inline void fail(Error e) { throw Failure{e}; }
[[noreturn]] inline void fail(SysError e) { throw Failure{fromSys(e)}; }

}  // namespace zandle::zndvm

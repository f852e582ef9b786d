// The closed set of failures of the vm interpreter, named exactly as the report prints them.
// A failure travels as a thrown Failure and is caught only by the driver (or an embedder);
// the system-error names come first so that a SysError converts by value.
#pragma once
#include <cstdint>
#include <string_view>

#include "common/sys_error.hpp"

#define ZANDLE_VM_ERRORS(X)                                                                        \
  X(UnterminatedString)                                                                            \
  X(UnknownVariable)                                                                               \
  X(UnknownEscape)                                                                                 \
  X(UnknownFunction)                                                                               \
  X(MissingOperand)                                                                                \
  X(Return)                                                                                        \
  X(OutOfMemory)                                                                                   \
  X(Overflow)                                                                                      \
  X(DivisionByZero)                                                                                \
  X(EndOfStream)                                                                                   \
  X(ReadFailed)                                                                                    \
  X(InvalidCharacter)                                                                              \
  X(OutOfBounds)                                                                                   \
  X(VariableNotFound)                                                                              \
  X(ChildNotFound)

namespace zandle::vm {

enum class Error : std::uint8_t {
#define ZANDLE_ENUM_ITEM(name) name,
  ZANDLE_SYS_ERRORS(ZANDLE_ENUM_ITEM) ZANDLE_VM_ERRORS(ZANDLE_ENUM_ITEM)
#undef ZANDLE_ENUM_ITEM
};

static_assert(static_cast<int>(Error::Unexpected) == static_cast<int>(SysError::Unexpected));

inline Error fromSys(SysError e) { return static_cast<Error>(e); }

std::string_view errorName(Error e);

// A failure of the running script.
struct Failure {
  Error error;
};

[[noreturn]] inline void fail(Error e) { throw Failure{e}; }
[[noreturn]] inline void fail(SysError e) { throw Failure{fromSys(e)}; }

}  // namespace zandle::vm

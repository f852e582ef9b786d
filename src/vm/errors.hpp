// The closed set of failures of the vm interpreter, named exactly as the report prints them.
// A failure is recorded in the machine and travels back as a false return; the driver (or an
// embedder) reads it from the run's outcome. The shared system names (OutOfMemory among them)
// come first so that a SysError converts by value.
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
  X(Overflow)                                                                                      \
  X(DivisionByZero)                                                                                \
  X(EndOfStream)                                                                                   \
  X(ReadFailed)                                                                                    \
  X(InvalidCharacter)                                                                              \
  X(OutOfBounds)                                                                                   \
  X(VariableNotFound)                                                                              \
  X(ChildNotFound)                                                                                 \
  X(EscapeFailed)                                                                                  \
  X(HostError)

namespace zandle::vm {

ZANDLE_DEFINE_ERRORS(ZANDLE_VM_ERRORS)

}  // namespace zandle::vm

// The closed set of failures of the zndvm interpreter, named exactly as the report prints them.
// A failure is recorded in the machine and travels back as a false return (or, from the
// expression evaluators, as a failed Value); the driver or an embedder reads it from the run's
// outcome. The shared system names (OutOfMemory among them) come first so that a SysError
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
  X(EndOfStream)                                                                                   \
  X(ReadFailed)                                                                                    \
  X(WriteFailed)                                                                                   \
  X(InvalidArgument)                                                                               \
  X(VariableNotFound)                                                                              \
  X(OutOfBounds)                                                                                   \
  X(ChildNotFound)                                                                                 \
  X(InvalidExe)                                                                                    \
  X(ArgumentListTooLong)                                                                           \
  X(NotATerminal)                                                                                  \
  X(NoTerminalReply)                                                                               \
  X(EscapeFailed)                                                                                  \
  X(HostError)

namespace zandle::zndvm {

ZANDLE_DEFINE_ERRORS(ZANDLE_ZNDVM_ERRORS)

}  // namespace zandle::zndvm

// Texts compiled into the programs are packed, which roughly halves what they cost in the
// program. The format is a run of items: a byte below 0x80 is followed by that many plus one
// literal bytes; a byte from 0x80 up copies (its low seven bits plus four) bytes from a
// distance back in the output, given by the two bytes that follow, low byte first.
// tools/pack writes it at build time.
#pragma once
#include <string_view>

#include "vec.hpp"

namespace zandle {

// Appends the text packed in `packed` to `out`; false when memory runs out or the bytes are
// not a packed text.
[[nodiscard]] bool unpack(std::string_view packed, Buffer& out);

}  // namespace zandle

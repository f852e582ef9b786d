// The standard library beyond the console and std.misc: strings (std.str), the terminal
// (std.term), files and directories (std.fs) and processes (std.proc), and what their
// routines share. Unlike print and sleep, these escapes insist on their arguments: a missing
// argument variable, or a name that holds no variable, is the failure VariableNotFound.
// Arguments and results are given by their index in the running escape's convention
// (escapes::arg and escapes::ret); a failed escape stores nothing.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/vec.hpp"
#include "zndvm/value.hpp"

namespace zandle::zndvm {

class Machine;

namespace escapes {

// Argument `index`, or null with VariableNotFound recorded.
const Value* requiredArgument(Machine& m, unsigned index);

// The text of a required argument: a str's bytes, a number's printed form (in `buf`, of
// value_text_capacity bytes). False with VariableNotFound recorded.
bool textArgument(Machine& m, unsigned index, char* buf, std::string_view& text);

// The whole number a value holds, as a sign and a magnitude: a word, a sword, a float (when
// it is whole, or truncated toward zero and saturated at 2^64 - 1 when `truncate`), or a str
// that reads as one of those. False for anything else (fractional, beyond 64 bits, not a
// number).
struct Whole {
  bool negative;
  std::uint64_t magnitude;
};
bool wholeOf(const Value& v, bool truncate, Whole& out);

// A count or position: a word, a sword or float holding a whole number that is not
// negative, or a str that reads as one. False for anything else (negative, fractional,
// beyond 64 bits, not a number).
bool wholeNumber(const Value& v, std::uint64_t& out);
// The same for an offset that may be negative, within the signed 64-bit range.
bool signedNumber(const Value& v, std::int64_t& out);

// Stores result `index`; false with OutOfMemory recorded when there is no room.
bool storeText(Machine& m, unsigned index, std::string_view text);
bool storeWord(Machine& m, unsigned index, std::uint64_t word);

// Writes bytes to the machine's output: WriteFailed (FileTooBig past the file-size limit)
// when they cannot be written.
bool emit(Machine& m, std::string_view bytes);

// std.str
bool strLen(Machine& m);
bool strFind(Machine& m);
bool strSplitLeft(Machine& m);
bool strSplitRight(Machine& m);

// std.term
bool screenClear(Machine& m);
bool cursorMoveAbsolute(Machine& m);
bool cursorMoveRelative(Machine& m);
bool cursorGet(Machine& m);
bool colorFore(Machine& m);
bool colorBack(Machine& m);
bool colorReset(Machine& m);

// A terminal's reply to the position query (ESC [ row ; column R) and where it stands among
// the bytes read: [start, end).
struct CursorReply {
  std::uint64_t row, column;
  std::size_t start, end;
};
// The last complete reply in whatever the terminal sent (keys typed ahead around it); false
// when `bytes` hold none.
bool findCursorReply(std::string_view bytes, CursorReply& out);
// The same, for the position alone.
bool parseCursorReply(std::string_view reply, std::uint64_t& row, std::uint64_t& column);

// std.fs
bool dirGet(Machine& m);
bool dirChange(Machine& m);
bool dirList(Machine& m);
bool fileRead(Machine& m);
bool fileWrite(Machine& m);
bool fileAppend(Machine& m);

// std.proc
bool procSpawn(Machine& m);
bool procWait(Machine& m);
bool procCapture(Machine& m);
bool procExit(Machine& m);

// A command line cut into words at runs of white space (space and the ASCII controls tab
// to carriage return, as the tokenizer sees them). Each word goes into `bytes` followed by
// a zero byte, its offset into `starts`. False when memory runs out.
bool commandWords(std::string_view line, Buffer& bytes, Vec<std::size_t>& starts);

// The files tried for a command, each followed by a zero byte: the command itself when it
// holds a "/", otherwise each directory of the search path (`path_env`, or the default one
// when it is null) joined to it by "/", an empty directory standing for the working
// directory. False when memory runs out.
bool commandCandidates(std::string_view command, const char* path_env, Buffer& out);

}  // namespace escapes

}  // namespace zandle::zndvm

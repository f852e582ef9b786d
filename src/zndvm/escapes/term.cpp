// std.term: the screen, the cursor and the eight basic colours, as ANSI escape sequences
// written through the machine's output like any print, so an embedder that collects the
// output collects them too. Positions count from 1, column (x) first.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <iterator>

#include "common/bytes.hpp"
#include "common/decimal.hpp"
#include "common/files.hpp"
#include "common/line_reader.hpp"
#include "common/output.hpp"
#include "library.hpp"
#include "zndvm/machine.hpp"

namespace zandle::zndvm::escapes {

namespace {

// Larger positions and moves are surely mistakes, and no terminal has that many cells.
constexpr std::uint64_t position_max = 65535;

// An ESC [ sequence: "\x1b[" followed by the pieces, into `out`.
struct Sequence {
  char bytes[64];
  std::size_t size = 2;
  Sequence() {
    bytes[0] = '\x1b';
    bytes[1] = '[';
  }
  // Enough room for every use below: at most two numbers of five digits and two letters.
  void add(std::string_view piece) {
    for (char c : piece) bytes[size++] = c;
  }
  void addNumber(std::uint64_t n) {
    char digits[24];
    add(formatU64(n, digits));
  }
  std::string_view view() const { return {bytes, size}; }
};

bool position(Machine& m, unsigned index, std::uint64_t& n) {
  const Value* v = requiredArgument(m, index);
  if (v == nullptr) return false;
  if (!wholeNumber(*v, n) || n < 1 || n > position_max) return m.fail(Error::InvalidArgument);
  return true;
}

bool offset(Machine& m, unsigned index, std::int64_t& n) {
  const Value* v = requiredArgument(m, index);
  if (v == nullptr) return false;
  const auto max = static_cast<std::int64_t>(position_max);
  if (!signedNumber(*v, n) || n < -max || n > max) return m.fail(Error::InvalidArgument);
  return true;
}

// A colour by number (0 to 7) or by name, in the terminals' order.
bool colour(Machine& m, unsigned index, std::uint64_t& n) {
  static constexpr std::string_view names[] = {"black", "red",     "green", "yellow",
                                               "blue",  "magenta", "cyan",  "white"};
  const Value* v = requiredArgument(m, index);
  if (v == nullptr) return false;
  if (wholeNumber(*v, n)) {
    if (n < 8) return true;
  } else if (v->type == Type::str) {
    for (n = 0; n < 8; ++n) {
      if (v->text() == names[n]) return true;
    }
  }
  return m.fail(Error::InvalidArgument);
}

bool setColour(Machine& m, char layer) {
  std::uint64_t n;
  if (!colour(m, 0, n)) return false;
  const char code[] = {layer, static_cast<char>('0' + n), 'm'};
  Sequence s;
  s.add({code, sizeof code});
  return emit(m, s.view());
}

long millisecondsSince(const timespec& start) {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long>(now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
}

// How long a terminal may take to answer the position query.
constexpr long reply_timeout_ms = 1000;

}  // namespace

bool screenClear(Machine& m) { return emit(m, "\x1b[2J"); }

bool cursorMoveAbsolute(Machine& m) {
  std::uint64_t x, y;
  if (!position(m, 0, x) || !position(m, 1, y)) return false;
  Sequence s;
  s.addNumber(y);
  s.add(";");
  s.addNumber(x);
  s.add("H");
  return emit(m, s.view());
}

bool cursorMoveRelative(Machine& m) {
  std::int64_t dx, dy;
  if (!offset(m, 0, dx) || !offset(m, 1, dy)) return false;
  // Right C, left D, down B, up A; a move of 0 writes nothing, since terminals read an
  // explicit 0 as 1.
  char text[32];
  std::size_t size = 0;
  for (int axis = 0; axis < 2; ++axis) {
    const std::int64_t d = axis == 0 ? dx : dy;
    if (d == 0) continue;
    Sequence s;
    s.addNumber(static_cast<std::uint64_t>(d < 0 ? -d : d));
    s.add(axis == 0 ? (d > 0 ? "C" : "D") : (d > 0 ? "B" : "A"));
    for (char c : s.view()) text[size++] = c;
  }
  return emit(m, {text, size});
}

bool findCursorReply(std::string_view bytes, CursorReply& out) {
  // The last complete reply: keys typed before the query came first, and an arrow key
  // (ESC [ A) is no reply.
  for (std::size_t start = bytes.rfind("\x1b["); start != std::string_view::npos;
       start = start == 0 ? std::string_view::npos : bytes.rfind("\x1b[", start - 1)) {
    std::uint64_t numbers[2] = {0, 0};
    int which = 0;
    std::size_t digits = 0;
    for (std::size_t i = start + 2; i < bytes.size(); ++i) {
      const char c = bytes[i];
      if (c >= '0' && c <= '9' && digits < 5) {
        ++digits;
        numbers[which] = numbers[which] * 10 + static_cast<std::uint64_t>(c - '0');
      } else if (c == ';' && which == 0 && digits > 0) {
        which = 1;
        digits = 0;
      } else if (c == 'R' && which == 1 && digits > 0) {
        out = {numbers[0], numbers[1], start, i + 1};
        return true;
      } else {
        break;
      }
    }
  }
  return false;
}

bool parseCursorReply(std::string_view reply, std::uint64_t& row, std::uint64_t& column) {
  CursorReply r;
  if (!findCursorReply(reply, r)) return false;
  row = r.row;
  column = r.column;
  return true;
}

namespace {

// The terminal's modes while cursor.get waits for the answer, put back by a signal that
// ends the process meanwhile. Process-wide, as signal dispositions are.
constexpr int guarded_signals[] = {SIGINT, SIGTERM, SIGHUP};
termios guarded_modes;
struct sigaction guarded_previous[std::size(guarded_signals)];
bool guarded_installed[std::size(guarded_signals)];

extern "C" void restoreTerminalAndRaise(int sig) {
  // A host's handler may let the run go on, which must find errno as it was.
  const int saved_errno = errno;
  ::tcsetattr(0, TCSANOW, &guarded_modes);
  for (std::size_t i = 0; i < std::size(guarded_signals); ++i) {
    if (guarded_signals[i] == sig) ::sigaction(sig, &guarded_previous[i], nullptr);
  }
  // Delivered once this handler returns, to whatever was in place before: by default the
  // signal ends the process as it would have.
  ::raise(sig);
  errno = saved_errno;
}

// Installed for the signals not ignored (a program started with nohup keeps ignoring them).
void guardTerminal(const termios& modes) {
  guarded_modes = modes;
  struct sigaction restore {};
  restore.sa_handler = restoreTerminalAndRaise;
  sigemptyset(&restore.sa_mask);
  for (std::size_t i = 0; i < std::size(guarded_signals); ++i) {
    struct sigaction& previous = guarded_previous[i];
    guarded_installed[i] = ::sigaction(guarded_signals[i], nullptr, &previous) == 0 &&
                           previous.sa_handler != SIG_IGN &&
                           ::sigaction(guarded_signals[i], &restore, nullptr) == 0;
  }
}

void unguardTerminal() {
  for (std::size_t i = 0; i < std::size(guarded_signals); ++i) {
    if (guarded_installed[i]) ::sigaction(guarded_signals[i], &guarded_previous[i], nullptr);
  }
}

// The terminal standard input reads from, opened for writing; -1 when it cannot be.
int openInputTerminal() {
  char name[256];
  if (::ttyname_r(0, name, sizeof name) != 0) return -1;
  return ::open(name, O_WRONLY | O_NOCTTY | O_CLOEXEC);
}

// The program's output, when it is this process's standard output and that is a terminal.
bool outputIsTerminal(const Machine& m) {
  const Sink out = m.output(), stdout_sink = fdSink(1);
  return out.fn == stdout_sink.fn && out.user == stdout_sink.user && ::isatty(1) != 0;
}

}  // namespace

// Asks the terminal where the cursor is. The answer comes on standard input, which must be a
// terminal read by this machine; the question goes through the program's output when that is
// a terminal, and otherwise straight to the terminal of standard input, never into a file the
// output is redirected to. The terminal is switched to unbuffered, silent input for the
// answer and put back as it was, also when a signal ends the process meanwhile. Keys typed
// while waiting are kept for std.io.input. Without a terminal, or without an answer within a
// second, the escape fails instead of waiting for input that will not come.
bool cursorGet(Machine& m) {
  if (&m.input() != &stdinReader() || ::isatty(0) == 0) return m.fail(Error::NotATerminal);
  int tty = -1;
  if (!outputIsTerminal(m) && (tty = openInputTerminal()) < 0) return m.fail(Error::NotATerminal);
  termios saved{};
  if (::tcgetattr(0, &saved) != 0) {
    if (tty >= 0) ::close(tty);
    return m.fail(Error::NotATerminal);
  }
  termios raw = saved;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  raw.c_cc[VMIN] = 0;
  raw.c_cc[VTIME] = 0;
  guardTerminal(saved);
  if (::tcsetattr(0, TCSANOW, &raw) != 0) {
    unguardTerminal();
    if (tty >= 0) ::close(tty);
    return m.fail(Error::NotATerminal);
  }

  constexpr std::string_view query = "\x1b[6n";
  // A reply is at most 14 bytes (two five-digit numbers): whatever came before that, when the
  // buffer fills, was typed ahead.
  constexpr std::size_t reply_max = 16;
  char bytes[256];
  std::size_t size = 0;
  CursorReply reply{};
  bool answered = false;
  bool ok = tty < 0 ? emit(m, query) : writeAll(tty, query) == 0 || m.fail(Error::WriteFailed);
  timespec start{};
  ::clock_gettime(CLOCK_MONOTONIC, &start);
  while (ok && !answered) {
    const long left = reply_timeout_ms - millisecondsSince(start);
    if (left <= 0) break;
    pollfd p{0, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    if (size == sizeof bytes) {
      (void)m.input().keep({bytes, size - reply_max});
      std::memmove(bytes, bytes + size - reply_max, reply_max);
      size = reply_max;
    }
    const ssize_t n = ::read(0, bytes + size, sizeof bytes - size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    size += static_cast<std::size_t>(n);
    answered = findCursorReply({bytes, size}, reply);
  }
  ::tcsetattr(0, TCSANOW, &saved);
  unguardTerminal();
  if (tty >= 0) ::close(tty);
  // What is not the reply was typed; a machine that reads input gets it back.
  const std::string_view got(bytes, size);
  if (answered) {
    (void)m.input().keep(slice(got, 0, reply.start));
    (void)m.input().keep(sliceFrom(got, reply.end));
  } else {
    (void)m.input().keep(got);
  }
  if (!ok) return false;
  if (!answered) return m.fail(Error::NoTerminalReply);
  return storeWord(m, 0, reply.column) && storeWord(m, 1, reply.row);
}

bool colorFore(Machine& m) { return setColour(m, '3'); }

bool colorBack(Machine& m) { return setColour(m, '4'); }

bool colorReset(Machine& m) { return emit(m, "\x1b[0m"); }

}  // namespace zandle::zndvm::escapes

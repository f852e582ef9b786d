// Rules of zndvm's library worth pinning apart from the program: how numbers are read from
// any value, how spawn cuts a command line and where it looks for the command, how the
// terminal's answer is read, and the promises about the system: no descriptor left open,
// no child left unwaited, a failed start reported by name, a file never half replaced.
#include <gtest/gtest.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/output.hpp"
#include "embedding.hpp"
#include "escapes/library.hpp"
#include "escapes/table.hpp"
#include "machine.hpp"
#include "pipe_input.hpp"
#include "process_state.hpp"

using namespace zandle;
using namespace zandle::zndvm;
using Strings = std::vector<std::string>;
using test_support::StringSink;

using test_support::openDescriptors;

namespace {

Strings words(std::string_view line) {
  Memory memory;
  Buffer bytes(memory);
  Vec<std::size_t> starts(memory);
  EXPECT_TRUE(escapes::commandWords(line, bytes, starts));
  Strings out;
  for (std::size_t start : starts) out.emplace_back(bytes.data() + start);
  return out;
}

Strings candidates(std::string_view command, const char* path_env) {
  Memory memory;
  Buffer bytes(memory);
  EXPECT_TRUE(escapes::commandCandidates(command, path_env, bytes));
  return test_support::zeroTerminated(bytes);
}

bool whole(const Value& v, std::uint64_t expected) {
  std::uint64_t n = 12345;
  return escapes::wholeNumber(v, n) && n == expected;
}

bool notWhole(const Value& v) {
  std::uint64_t n;
  return !escapes::wholeNumber(v, n);
}

// True when this process has no child at all, running or ended and not waited for. The
// check itself waits for none (WNOWAIT).
bool noChildren() {
  siginfo_t info{};
  return ::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) < 0 && errno == ECHILD;
}

std::string readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), {}};
}

void writeFile(const std::string& path, const std::string& text, mode_t mode = 0644) {
  std::ofstream(path, std::ios::binary) << text;
  ::chmod(path.c_str(), mode);
}

Strings entries(const std::string& dir) {
  Strings out;
  DIR* d = ::opendir(dir.c_str());
  while (const dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    if (name != "." && name != "..") out.push_back(name);
  }
  ::closedir(d);
  std::sort(out.begin(), out.end());
  return out;
}

class LibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/zandle-library-XXXXXX";
    ASSERT_NE(::mkdtemp(name), nullptr);
    dir_ = name;
  }
  void TearDown() override {
    std::string cmd = "rm -rf " + dir_;
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  // Runs a program on a fresh machine with every escape; `d` in it stands for the
  // temporary directory.
  Outcome run(std::string program) {
    for (std::size_t at; (at = program.find("{d}")) != std::string::npos;) program.replace(at, 3, dir_);
    Machine m(Options{.output = out_.sink(), .input = &input_.reader()});
    return m.run(program);
  }

  std::string dir_;
  StringSink out_;
  PipeInput input_{""};
};

}  // namespace

TEST(LibraryNumbers, WholeNumbersFromEveryType) {
  EXPECT_TRUE(whole(Value::ofWord(7), 7));
  EXPECT_TRUE(whole(Value::ofWord(UINT64_MAX), UINT64_MAX));
  EXPECT_TRUE(whole(Value::ofSword(5), 5));
  EXPECT_TRUE(whole(Value::ofFloat(4.0), 4));  // what arithmetic gives
  EXPECT_TRUE(whole(Value::ofFloat(-0.0), 0));
  EXPECT_TRUE(whole(Value::ofFloat(9007199254740992.0), 9007199254740992u));
  EXPECT_TRUE(whole(Value::ofStr("12"), 12));  // a line read by std.io.input
  EXPECT_TRUE(whole(Value::ofStr("0x10"), 16));
  EXPECT_TRUE(notWhole(Value::ofSword(-1)));
  EXPECT_TRUE(notWhole(Value::ofFloat(2.5)));
  EXPECT_TRUE(notWhole(Value::ofFloat(-1.0)));
  EXPECT_TRUE(notWhole(Value::ofFloat(18446744073709551616.0)));
  EXPECT_TRUE(notWhole(Value::ofFloat(__builtin_nan(""))));
  EXPECT_TRUE(notWhole(Value::ofFloat(__builtin_inf())));
  EXPECT_TRUE(notWhole(Value::ofStr("")));
  EXPECT_TRUE(notWhole(Value::ofStr("3 ")));
  EXPECT_TRUE(notWhole(Value::ofStr("-2")));
  EXPECT_TRUE(notWhole(Value::failure(Error::NotNumeric)));
  // Truncated, as a duration is: toward zero, saturated past 64 bits, never from a non-finite.
  escapes::Whole w{};
  EXPECT_TRUE(escapes::wholeOf(Value::ofFloat(2.9), true, w) && !w.negative && w.magnitude == 2);
  EXPECT_TRUE(escapes::wholeOf(Value::ofFloat(-0.5), true, w) && w.negative && w.magnitude == 0);
  EXPECT_TRUE(escapes::wholeOf(Value::ofFloat(1e300), true, w) && w.magnitude == UINT64_MAX);
  EXPECT_TRUE(escapes::wholeOf(Value::ofSword(INT64_MIN), false, w) && w.negative &&
              w.magnitude == std::uint64_t{1} << 63);
  EXPECT_FALSE(escapes::wholeOf(Value::ofFloat(__builtin_inf()), true, w));
  EXPECT_FALSE(escapes::wholeOf(Value::ofFloat(__builtin_nan("")), true, w));
}

TEST(LibraryNumbers, SignedOffsetsWithinTheSignedRange) {
  std::int64_t n = 0;
  EXPECT_TRUE(escapes::signedNumber(Value::ofSword(-3), n) && n == -3);
  EXPECT_TRUE(escapes::signedNumber(Value::ofFloat(-2.0), n) && n == -2);
  EXPECT_TRUE(escapes::signedNumber(Value::ofStr("-9223372036854775808"), n) && n == INT64_MIN);
  EXPECT_TRUE(escapes::signedNumber(Value::ofWord(INT64_MAX), n) && n == INT64_MAX);
  EXPECT_FALSE(escapes::signedNumber(Value::ofWord(std::uint64_t{INT64_MAX} + 1), n));
  EXPECT_FALSE(escapes::signedNumber(Value::ofFloat(9223372036854775808.0), n));
  EXPECT_FALSE(escapes::signedNumber(Value::ofFloat(-0.5), n));
  EXPECT_FALSE(escapes::signedNumber(Value::ofStr("up"), n));
}

TEST(LibrarySpawn, WordsAreRunsOfNonBlanks) {
  EXPECT_EQ(words("echo a b"), (Strings{"echo", "a", "b"}));
  EXPECT_EQ(words("  a \t\r b\n"), (Strings{"a", "b"}));
  EXPECT_EQ(words("a\vb\fc"), (Strings{"a", "b", "c"}));
  EXPECT_EQ(words(""), Strings{});
  EXPECT_EQ(words(" \t "), Strings{});
  // Quotes mean nothing: a word is what lies between blanks.
  EXPECT_EQ(words("sh -c 'a b'"), (Strings{"sh", "-c", "'a", "b'"}));
}

TEST(LibrarySpawn, ACommandWithASlashIsTheOnlyCandidate) {
  EXPECT_EQ(candidates("./tool", "/bin"), (Strings{"./tool"}));
  EXPECT_EQ(candidates("/bin/sh", nullptr), (Strings{"/bin/sh"}));
}

TEST(LibrarySpawn, PathDirectoriesInOrderAnEmptyOneBeingTheWorkingDirectory) {
  EXPECT_EQ(candidates("ls", "/x:/y/"), (Strings{"/x/ls", "/y//ls"}));
  EXPECT_EQ(candidates("ls", nullptr), (Strings{"/usr/local/bin/ls", "/bin//ls", "/usr/bin/ls"}));
  EXPECT_EQ(candidates("ls", "a::b:"), (Strings{"a/ls", "ls", "b/ls", "ls"}));
  EXPECT_EQ(candidates("ls", ""), (Strings{"ls"}));
}

TEST(LibraryTerminal, TheCursorReplyIsTheLastCompleteOne) {
  std::uint64_t row = 0, column = 0;
  EXPECT_TRUE(escapes::parseCursorReply("\x1b[12;34R", row, column));
  EXPECT_EQ(row, 12u);
  EXPECT_EQ(column, 34u);
  EXPECT_TRUE(escapes::parseCursorReply("typed\x1b[A\x1b[1;2R", row, column));
  EXPECT_EQ(row, 1u);
  EXPECT_EQ(column, 2u);
  // Keys typed after the reply arrived in the same read: the reply is found, and where it is.
  escapes::CursorReply reply{};
  ASSERT_TRUE(escapes::findCursorReply("ab\x1b[3;4R\x1b[Acd", reply));
  EXPECT_EQ(reply.row, 3u);
  EXPECT_EQ(reply.column, 4u);
  EXPECT_EQ(reply.start, 2u);
  EXPECT_EQ(reply.end, 8u);
  for (std::string_view bad : {"", "\x1b[12;34", "\x1b[12R", "\x1b[;3R", "\x1b[1;R", "\x1b[1;2;3R",
                               "\x1b[123456;1R", "12;34R", "\x1b[1x;2R"}) {
    EXPECT_FALSE(escapes::parseCursorReply(bad, row, column)) << bad.substr(1);
  }
}

TEST(LibraryEmbedding, TerminalSequencesGoToTheSinkAndExitHaltsWithItsStatus) {
  StringSink out;
  Machine m(Options{.output = out.sink()});
  Outcome o = m.run(
      "Escape std.term.screen.clear\nNew s '3'\nNew __Escape_std.proc.exit_ARG0 <s>\n"
      "Escape std.proc.exit\nEscape std.term.screen.clear\n");
  EXPECT_EQ(o.ending, Ending::halted);
  EXPECT_EQ(o.reason, HaltReason::exit);
  EXPECT_EQ(o.status, 3);
  EXPECT_EQ(out.text, "\x1b[2J");
}

TEST(LibraryEmbedding, TheSandboxHasStringsButNoFilesProcessesOrTerminal) {
  StringSink out;
  Machine sandbox(Options{.output = out.sink(), .escapes = sandboxEscapes()});
  EXPECT_EQ(sandbox.run("New s 'abc'\nNew __Escape_std.str.len_ARG0 <s>\nEscape std.str.len\n").ending,
            Ending::finished);
  for (const char* name : {"std.fs.dir.get", "std.fs.file.read", "std.proc.spawn", "std.proc.exit",
                           "std.proc.capture", "std.fs.file.write", "std.term.color.basic.reset",
                           "std.term.cursor.get"}) {
    EXPECT_EQ(sandbox.run(std::string("Escape ") + name + "\n").error, Error::UnknownEscape) << name;
  }
  Machine console(Options{.output = out.sink(), .escapes = consoleEscapes()});
  for (const char* name : {"std.str.len", "std.term.screen.clear", "std.fs.dir.get"}) {
    EXPECT_EQ(console.run(std::string("Escape ") + name + "\n").error, Error::UnknownEscape) << name;
  }
  EXPECT_EQ(out.text, "");
}

// The position query needs the process's own terminal: a machine given another input
// fails at once, whatever descriptor 0 is.
TEST(LibraryEmbedding, CursorGetWithoutTheProcesssInputIsNotATerminal) {
  StringSink out;
  PipeInput input("line\n");
  Machine m(Options{.output = out.sink(), .input = &input.reader()});
  EXPECT_EQ(m.run("Escape std.term.cursor.get\n").error, Error::NotATerminal);
  EXPECT_EQ(out.text, "");
}

TEST(LibraryEmbedding, AFailedEscapeStoresNothing) {
  StringSink out;
  Machine m(Options{.output = out.sink()});
  ASSERT_EQ(m.run("New s 'abc'\nNew n '1'\nNew __Escape_std.str.split.num.left_ARG0 <s>\n"
                  "New __Escape_std.str.split.num.left_ARG1 <n>\nEscape std.str.split.num.left\n")
                .ending,
            Ending::finished);
  EXPECT_EQ(m.run("New n '9'\nEscape std.str.split.num.left\n").error, Error::OutOfBounds);
  EXPECT_EQ(m.run("New n 'x'\nEscape std.str.split.num.left\n").error, Error::InvalidArgument);
  const Value* left = m.vars().find("__Escape_std.str.split.num.left_RET0");
  ASSERT_NE(left, nullptr);
  EXPECT_EQ(left->text(), "a");
  EXPECT_EQ(m.run("New f '/nonexistent/zandle'\nNew __Escape_std.fs.file.read_ARG0 <f>\n"
                  "Escape std.fs.file.read\n")
                .error,
            Error::FileNotFound);
  EXPECT_EQ(m.vars().find("__Escape_std.fs.file.read_RET0"), nullptr);
}

TEST_F(LibraryTest, EveryDescriptorIsClosedWhateverTheOutcome) {
  writeFile(path("file"), "content");
  writeFile(path("data.txt"), "not a program");
  ASSERT_EQ(::symlink("file", path("link").c_str()), 0);
  ASSERT_EQ(::mkdir(path("sub").c_str(), 0755), 0);
  struct Step {
    const char* program;
    Error expected;
  };
  const Step steps[] = {
      {"New f '{d}/file'\nNew __Escape_std.fs.file.read_ARG0 <f>\nEscape std.fs.file.read\n", Error::ok},
      {"New f '{d}/none'\nNew __Escape_std.fs.file.read_ARG0 <f>\nEscape std.fs.file.read\n", Error::FileNotFound},
      {"New f '{d}/sub'\nNew __Escape_std.fs.file.read_ARG0 <f>\nEscape std.fs.file.read\n", Error::IsDir},
      {"New f '{d}'\nNew __Escape_std.fs.dir.list_ARG0 <f>\nEscape std.fs.dir.list\n", Error::ok},
      {"New f '{d}/file'\nNew __Escape_std.fs.dir.list_ARG0 <f>\nEscape std.fs.dir.list\n", Error::NotDir},
      {"New x 'new'\nNew f '{d}/file'\nNew __Escape_std.fs.file.write_ARG0 <x>\n"
       "New __Escape_std.fs.file.write_ARG1 <f>\nEscape std.fs.file.write\n", Error::ok},
      {"New x 'new'\nNew f '{d}/link'\nNew __Escape_std.fs.file.write_ARG0 <x>\n"
       "New __Escape_std.fs.file.write_ARG1 <f>\nEscape std.fs.file.write\n", Error::ok},
      {"New x 'new'\nNew f '{d}/sub'\nNew __Escape_std.fs.file.write_ARG0 <x>\n"
       "New __Escape_std.fs.file.write_ARG1 <f>\nEscape std.fs.file.write\n", Error::IsDir},
      {"New x 'new'\nNew f '/dev/full'\nNew __Escape_std.fs.file.write_ARG0 <x>\n"
       "New __Escape_std.fs.file.write_ARG1 <f>\nEscape std.fs.file.write\n", Error::NoSpaceLeft},
      {"New x 'more'\nNew f '{d}/file'\nNew __Escape_std.fs.file.append_ARG0 <x>\n"
       "New __Escape_std.fs.file.append_ARG1 <f>\nEscape std.fs.file.append\n", Error::ok},
      {"New x 'more'\nNew f '/dev/full'\nNew __Escape_std.fs.file.append_ARG0 <x>\n"
       "New __Escape_std.fs.file.append_ARG1 <f>\nEscape std.fs.file.append\n", Error::NoSpaceLeft},
      {"New c 'true'\nNew __Escape_std.proc.spawn_ARG0 <c>\nEscape std.proc.spawn\n"
       "New __Escape_std.proc.wait_ARG0 '__Escape_std.proc.spawn_RET0'\nEscape std.proc.wait\n", Error::ok},
      {"New c 'no-such-command-zandle'\nNew __Escape_std.proc.spawn_ARG0 <c>\nEscape std.proc.spawn\n",
       Error::FileNotFound},
      {"New c '{d}/data.txt'\nNew __Escape_std.proc.spawn_ARG0 <c>\nEscape std.proc.spawn\n",
       Error::AccessDenied},
      {"New c 'echo hi'\nNew __Escape_std.proc.capture_ARG0 <c>\nEscape std.proc.capture\n", Error::ok},
      {"New c '{d}/data.txt'\nNew __Escape_std.proc.capture_ARG0 <c>\nEscape std.proc.capture\n",
       Error::AccessDenied},
  };
  for (const Step& step : steps) {
    const std::size_t before = openDescriptors();
    const Outcome o = run(step.program);
    EXPECT_EQ(o.error, step.expected) << step.program;
    EXPECT_EQ(openDescriptors(), before) << step.program;
    EXPECT_TRUE(noChildren()) << step.program;
  }
  EXPECT_EQ(readFile(path("file")), "newmore");
  EXPECT_EQ(entries(dir_), (Strings{"data.txt", "file", "link", "sub"}));
}

// A start that fails is the parent's failure, named after the reason, and the child that
// tried is waited for at once.
TEST_F(LibraryTest, AFailedStartIsNamedAndLeavesNoChild) {
  writeFile(path("plain"), "data", 0644);
  writeFile(path("script"), "echo no interpreter line\n", 0755);
  struct Step {
    std::string command;
    Error expected;
  };
  const Step steps[] = {
      {"no-such-command-zandle", Error::FileNotFound},
      {path("plain"), Error::AccessDenied},
      {path("script"), Error::InvalidExe},
      {path("plain/below"), Error::NotDir},
      {dir_, Error::AccessDenied},
  };
  for (const Step& step : steps) {
    for (const char* escape : {"spawn", "capture"}) {
      const std::string program = "New c '" + step.command + "'\nNew __Escape_std.proc." + escape +
                                  "_ARG0 <c>\nEscape std.proc." + escape + "\n";
      EXPECT_EQ(run(program).error, step.expected) << step.command << " " << escape;
      EXPECT_TRUE(noChildren()) << step.command << " " << escape;
    }
  }
}

TEST_F(LibraryTest, AWaitedChildIsGoneAndCannotBeWaitedForAgain) {
  StringSink out;
  Machine m(Options{.output = out.sink(), .input = &input_.reader()});
  ASSERT_EQ(m.run("New c 'sh -c exit'\nNew __Escape_std.proc.spawn_ARG0 <c>\nEscape std.proc.spawn\n"
                  "New __Escape_std.proc.wait_ARG0 '__Escape_std.proc.spawn_RET0'\n")
                .ending,
            Ending::finished);
  EXPECT_FALSE(noChildren());  // started and not yet waited for
  EXPECT_EQ(m.run("Escape std.proc.wait\n").ending, Ending::finished);
  EXPECT_TRUE(noChildren());
  EXPECT_EQ(m.run("Escape std.proc.wait\n").error, Error::ChildNotFound);
}

// The replacement is written beside the file and renamed over it: when the write fails part
// way, here at the file-size limit (in a child process, so the limit is its own), the name
// still holds the old content and the partial new file is gone.
TEST_F(LibraryTest, AReplacementThatFailsHalfWayLeavesTheOldContent) {
  writeFile(path("f"), "old content");
  writeFile(path("log"), "old line\n");
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const rlimit limit{4096, 4096};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    makeWriteSignalsHarmless();
    std::string program = "New d '" + std::string(64, 'x') + "'\n";
    for (int i = 0; i < 8; ++i) program += "New d \"d s++ d\"\n";  // 16 KiB
    program += "New __Escape_std.fs.file.write_ARG0 <d>\nNew __Escape_std.fs.file.append_ARG0 <d>\n";
    const std::string write = program + "New f '" + path("f") +
                              "'\nNew __Escape_std.fs.file.write_ARG1 <f>\nEscape std.fs.file.write\n";
    const std::string append = program + "New f '" + path("log") +
                               "'\nNew __Escape_std.fs.file.append_ARG1 <f>\nEscape std.fs.file.append\n";
    StringSink out;
    Machine a(Options{.output = out.sink()});
    Machine b(Options{.output = out.sink()});
    const bool ok = a.run(write).error == Error::FileTooBig && b.run(append).error == Error::FileTooBig;
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(readFile(path("f")), "old content");
  EXPECT_EQ(readFile(path("log")), "old line\n");
  EXPECT_EQ(entries(dir_), (Strings{"f", "log"}));
}

TEST_F(LibraryTest, AReplacedFileIsANewFileUnderTheOldName) {
  writeFile(path("f"), "old", 0640);
  const int reader = ::open(path("f").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  EXPECT_EQ(run("New x 'new'\nNew f '{d}/f'\nNew __Escape_std.fs.file.write_ARG0 <x>\n"
                "New __Escape_std.fs.file.write_ARG1 <f>\nEscape std.fs.file.write\n")
                .ending,
            Ending::finished);
  // Whoever had the file open still reads the old content whole: nothing was written into it.
  char buf[8] = {};
  EXPECT_EQ(::read(reader, buf, sizeof buf), 3);
  EXPECT_EQ(std::string(buf), "old");
  ::close(reader);
  EXPECT_EQ(readFile(path("f")), "new");
  struct stat st {};
  ASSERT_EQ(::stat(path("f").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

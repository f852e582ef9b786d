// Rules of the escape library worth pinning apart from the program: how SpawnProc cuts and
// resolves its command line and where it looks for the command, and the promises that a
// failed escape stores nothing, changes no directory and leaves no descriptor open.
#include <gtest/gtest.h>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "escapes/escapes.hpp"
#include "process_state.hpp"

using namespace zandle;
using namespace zandle::vm;
using Strings = std::vector<std::string>;

using test_support::currentDirectory;
using test_support::openDescriptors;

namespace {

std::optional<Error> runEscape(bool (*escape)(Machine&), Machine& m) {
  if (escape(m)) return std::nullopt;
  return m.outcome().error;
}

Strings arguments(std::string_view line, const Variables& vars) {
  Memory memory;
  Buffer bytes(memory);
  Vec<std::size_t> starts(memory);
  EXPECT_TRUE(escapes::commandArguments(line, vars, bytes, starts));
  Strings out;
  for (std::size_t i = 0; i < starts.size(); ++i) {
    const std::size_t end = i + 1 < starts.size() ? starts[i + 1] - 1 : bytes.size() - 1;
    out.emplace_back(bytes.data() + starts[i], end - starts[i]);
  }
  return out;
}

Strings candidates(std::string_view command, const char* path_env) {
  Memory memory;
  Buffer bytes(memory);
  EXPECT_TRUE(escapes::commandCandidates(command, path_env, bytes));
  return test_support::zeroTerminated(bytes);
}

class EscapeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/zandle-escapes-XXXXXX";
    ASSERT_NE(::mkdtemp(name), nullptr);
    dir_ = name;
    set("ARG1", "a");
    set("ARG2", "b");
  }
  void TearDown() override {
    std::string cmd = "rm -rf " + dir_;
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }
  std::string path(const char* name) const { return dir_ + "/" + name; }
  void set(std::string_view name, std::string_view value) { ASSERT_TRUE(m_.data().store(name, value)); }
  std::string get(std::string_view name) const {
    std::string_view value;
    return m_.data().find(name, value) ? std::string(value) : "<none>";
  }

  Machine m_{Options{.output = nullSink()}};
  std::string dir_;
};

}  // namespace

TEST(SpawnCommandLine, EverySpaceCutsAndEmptyPiecesCount) {
  Memory memory;
  Variables none(memory);
  EXPECT_EQ(arguments("echo a b", none), (Strings{"echo", "a", "b"}));
  EXPECT_EQ(arguments("a  b", none), (Strings{"a", "", "b"}));
  EXPECT_EQ(arguments(" a ", none), (Strings{"", "a", ""}));
  EXPECT_EQ(arguments("", none), (Strings{""}));
  EXPECT_EQ(arguments(" ", none), (Strings{"", ""}));
  // Only the space byte separates.
  EXPECT_EQ(arguments("a\tb\nc", none), (Strings{"a\tb\nc"}));
}

TEST(SpawnCommandLine, PiecesNamingVariablesTakeTheirWholeValueOnce) {
  Memory memory;
  Variables vars(memory);
  ASSERT_TRUE(vars.store("greeting", "hello  world"));
  ASSERT_TRUE(vars.store("x", "y"));
  ASSERT_TRUE(vars.store("y", "never"));
  ASSERT_TRUE(vars.store("", "empty name"));
  EXPECT_EQ(arguments("echo greeting x z", vars),
            (Strings{"echo", "hello  world", "y", "z"}));
  // An empty piece is the name of the variable "" too.
  EXPECT_EQ(arguments("echo  x", vars), (Strings{"echo", "empty name", "y"}));
  EXPECT_EQ(arguments("Greeting", vars), (Strings{"Greeting"}));
}

TEST(SpawnSearch, ACommandWithASlashIsTheOnlyCandidate) {
  EXPECT_EQ(candidates("./tool", "/bin"), (Strings{"./tool"}));
  EXPECT_EQ(candidates("/bin/sh", nullptr), (Strings{"/bin/sh"}));
  EXPECT_EQ(candidates("a/b", ""), (Strings{"a/b"}));
}

TEST(SpawnSearch, PathDirectoriesInOrderWithTheDefaultWhenUnset) {
  EXPECT_EQ(candidates("ls", "/x:/y/"), (Strings{"/x/ls", "/y//ls"}));
  EXPECT_EQ(candidates("ls", nullptr),
            (Strings{"/usr/local/bin/ls", "/bin//ls", "/usr/bin/ls"}));
  // Each element is joined as written, an empty one included.
  EXPECT_EQ(candidates("ls", "a::b:"), (Strings{"a/ls", "/ls", "b/ls", "/ls"}));
  EXPECT_EQ(candidates("ls", ""), (Strings{"/ls"}));
}

TEST_F(EscapeTest, FailedEscapesStoreNothing) {
  set("a", "hello");
  set("b", "6");
  set("strLeft", "kept");
  set("strRight", "kept");
  EXPECT_EQ(runEscape(escapes::strSplitNumL, m_), Error::OutOfBounds);
  EXPECT_EQ(runEscape(escapes::strSplitNumR, m_), Error::OutOfBounds);
  set("b", "x");
  EXPECT_EQ(runEscape(escapes::strSplitNumL, m_), Error::InvalidCharacter);
  EXPECT_EQ(get("strLeft"), "kept");
  EXPECT_EQ(get("strRight"), "kept");

  set("fileData", "kept");
  set("dirContents", "kept");
  set("a", path("missing"));
  EXPECT_EQ(runEscape(escapes::fread, m_), Error::FileNotFound);
  EXPECT_EQ(runEscape(escapes::listDir, m_), Error::FileNotFound);
  set("a", dir_);
  EXPECT_EQ(runEscape(escapes::fread, m_), Error::IsDir);
  EXPECT_EQ(get("fileData"), "kept");
  EXPECT_EQ(get("dirContents"), "kept");

  set("pid", "kept");
  set("ARG1", "missing");
  EXPECT_EQ(runEscape(escapes::spawnProc, m_), Error::VariableNotFound);
  EXPECT_EQ(get("pid"), "kept");
}

TEST_F(EscapeTest, AFailedChcwdLeavesTheDirectoryAsItWas) {
  const std::string before = currentDirectory();
  for (const std::string& target :
       {path("missing"), std::string(1024, 'x'), std::string("/tmp\0x", 6)}) {
    set("a", target);
    EXPECT_TRUE(runEscape(escapes::chcwd, m_).has_value());
    EXPECT_EQ(currentDirectory(), before);
  }
}

TEST_F(EscapeTest, DescriptorsAreClosedOnEveryPath) {
  const std::size_t before = openDescriptors();
  // Failures found after the open: a directory, a file over the limit (sparse), a full
  // device.
  set("a", dir_);
  EXPECT_EQ(runEscape(escapes::fread, m_), Error::IsDir);
  const std::string huge = path("huge");
  int fd = ::open(huge.c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, (off_t{1} << 29) + 1), 0);
  ::close(fd);
  set("a", huge);
  EXPECT_EQ(runEscape(escapes::fread, m_), Error::StreamTooLong);
  set("a", "x");
  set("b", "/dev/full");
  EXPECT_EQ(runEscape(escapes::fbwrite, m_), Error::NoSpaceLeft);
  EXPECT_EQ(runEscape(escapes::fwrite, m_), Error::NoSpaceLeft);
  // And the successful paths.
  set("a", dir_);
  EXPECT_EQ(runEscape(escapes::listDir, m_), std::nullopt);
  EXPECT_EQ(get("dirContents"), "huge\n");
  set("a", huge);
  set("b", path("copy"));
  EXPECT_EQ(runEscape(escapes::fbwrite, m_), std::nullopt);
  EXPECT_EQ(openDescriptors(), before);
}

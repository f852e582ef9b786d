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

using namespace zandle;
using namespace zandle::vm;
using Strings = std::vector<std::string>;

namespace {

std::optional<Error> runEscape(void (*escape)(Machine&), Machine& m) {
  try {
    escape(m);
  } catch (const Failure& f) {
    return f.error;
  }
  return std::nullopt;
}

std::size_t openDescriptors() {
  std::size_t count = 0;
  DIR* dir = ::opendir("/proc/self/fd");
  while (::readdir(dir) != nullptr) ++count;
  ::closedir(dir);
  return count;
}

std::string currentDirectory() {
  char buf[4096];
  return ::getcwd(buf, sizeof buf) != nullptr ? buf : "";
}

class EscapeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/zandle-escapes-XXXXXX";
    ASSERT_NE(::mkdtemp(name), nullptr);
    dir_ = name;
    m_.data().store("ARG1", "a");
    m_.data().store("ARG2", "b");
  }
  void TearDown() override {
    std::string cmd = "rm -rf " + dir_;
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }
  std::string path(const char* name) const { return dir_ + "/" + name; }

  NullSink sink_;
  Machine m_{Options{&sink_, nullptr}};
  std::string dir_;
};

}  // namespace

TEST(SpawnCommandLine, EverySpaceCutsAndEmptyPiecesCount) {
  Variables none;
  EXPECT_EQ(escapes::commandArguments("echo a b", none), (Strings{"echo", "a", "b"}));
  EXPECT_EQ(escapes::commandArguments("a  b", none), (Strings{"a", "", "b"}));
  EXPECT_EQ(escapes::commandArguments(" a ", none), (Strings{"", "a", ""}));
  EXPECT_EQ(escapes::commandArguments("", none), (Strings{""}));
  EXPECT_EQ(escapes::commandArguments(" ", none), (Strings{"", ""}));
  // Only the space byte separates.
  EXPECT_EQ(escapes::commandArguments("a\tb\nc", none), (Strings{"a\tb\nc"}));
}

TEST(SpawnCommandLine, PiecesNamingVariablesTakeTheirWholeValueOnce) {
  Variables vars;
  vars.store("greeting", "hello  world");
  vars.store("x", "y");
  vars.store("y", "never");
  vars.store("", "empty name");
  EXPECT_EQ(escapes::commandArguments("echo greeting x z", vars),
            (Strings{"echo", "hello  world", "y", "z"}));
  // An empty piece is the name of the variable "" too.
  EXPECT_EQ(escapes::commandArguments("echo  x", vars), (Strings{"echo", "empty name", "y"}));
  EXPECT_EQ(escapes::commandArguments("Greeting", vars), (Strings{"Greeting"}));
}

TEST(SpawnSearch, ACommandWithASlashIsTheOnlyCandidate) {
  EXPECT_EQ(escapes::commandCandidates("./tool", "/bin"), (Strings{"./tool"}));
  EXPECT_EQ(escapes::commandCandidates("/bin/sh", nullptr), (Strings{"/bin/sh"}));
  EXPECT_EQ(escapes::commandCandidates("a/b", ""), (Strings{"a/b"}));
}

TEST(SpawnSearch, PathDirectoriesInOrderWithTheDefaultWhenUnset) {
  EXPECT_EQ(escapes::commandCandidates("ls", "/x:/y/"), (Strings{"/x/ls", "/y//ls"}));
  EXPECT_EQ(escapes::commandCandidates("ls", nullptr),
            (Strings{"/usr/local/bin/ls", "/bin//ls", "/usr/bin/ls"}));
  // Each element is joined as written, an empty one included.
  EXPECT_EQ(escapes::commandCandidates("ls", "a::b:"), (Strings{"a/ls", "/ls", "b/ls", "/ls"}));
  EXPECT_EQ(escapes::commandCandidates("ls", ""), (Strings{"/ls"}));
}

TEST_F(EscapeTest, FailedEscapesStoreNothing) {
  m_.data().store("a", "hello");
  m_.data().store("b", "6");
  m_.data().store("strLeft", "kept");
  m_.data().store("strRight", "kept");
  EXPECT_EQ(runEscape(escapes::strSplitNumL, m_), Error::OutOfBounds);
  EXPECT_EQ(runEscape(escapes::strSplitNumR, m_), Error::OutOfBounds);
  m_.data().store("b", "x");
  EXPECT_EQ(runEscape(escapes::strSplitNumL, m_), Error::InvalidCharacter);
  EXPECT_EQ(*m_.data().find("strLeft"), "kept");
  EXPECT_EQ(*m_.data().find("strRight"), "kept");

  m_.data().store("fileData", "kept");
  m_.data().store("dirContents", "kept");
  m_.data().store("a", path("missing"));
  EXPECT_EQ(runEscape(escapes::fread, m_), Error::FileNotFound);
  EXPECT_EQ(runEscape(escapes::listDir, m_), Error::FileNotFound);
  m_.data().store("a", dir_);
  EXPECT_EQ(runEscape(escapes::fread, m_), Error::IsDir);
  EXPECT_EQ(*m_.data().find("fileData"), "kept");
  EXPECT_EQ(*m_.data().find("dirContents"), "kept");

  m_.data().store("pid", "kept");
  m_.data().store("ARG1", "missing");
  EXPECT_EQ(runEscape(escapes::spawnProc, m_), Error::VariableNotFound);
  EXPECT_EQ(*m_.data().find("pid"), "kept");
}

TEST_F(EscapeTest, AFailedChcwdLeavesTheDirectoryAsItWas) {
  const std::string before = currentDirectory();
  for (const std::string& target :
       {path("missing"), std::string(1024, 'x'), std::string("/tmp\0x", 6)}) {
    m_.data().store("a", target);
    EXPECT_TRUE(runEscape(escapes::chcwd, m_).has_value());
    EXPECT_EQ(currentDirectory(), before);
  }
}

TEST_F(EscapeTest, DescriptorsAreClosedOnEveryPath) {
  const std::size_t before = openDescriptors();
  // Failures found after the open: a directory, a file over the limit (sparse), a full
  // device.
  m_.data().store("a", dir_);
  EXPECT_EQ(runEscape(escapes::fread, m_), Error::IsDir);
  const std::string huge = path("huge");
  int fd = ::open(huge.c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, (off_t{1} << 29) + 1), 0);
  ::close(fd);
  m_.data().store("a", huge);
  EXPECT_EQ(runEscape(escapes::fread, m_), Error::StreamTooLong);
  m_.data().store("a", "x");
  m_.data().store("b", "/dev/full");
  EXPECT_EQ(runEscape(escapes::fbwrite, m_), Error::NoSpaceLeft);
  EXPECT_EQ(runEscape(escapes::fwrite, m_), Error::NoSpaceLeft);
  // And the successful paths.
  m_.data().store("a", dir_);
  EXPECT_EQ(runEscape(escapes::listDir, m_), std::nullopt);
  EXPECT_EQ(*m_.data().find("dirContents"), "huge\n");
  m_.data().store("a", huge);
  m_.data().store("b", path("copy"));
  EXPECT_EQ(runEscape(escapes::fbwrite, m_), std::nullopt);
  EXPECT_EQ(openDescriptors(), before);
}

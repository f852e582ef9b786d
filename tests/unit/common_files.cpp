#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "common/arena.hpp"
#include "common/files.hpp"
#include "common/memory.hpp"

using namespace zandle;

namespace {

std::string tempFile(const std::string& content) {
  char name[] = "/tmp/zandle-unit-XXXXXX";
  int fd = ::mkstemp(name);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(writeAll(fd, content), 0);
  ::close(fd);
  return name;
}

}  // namespace

TEST(Files, ReadsWholeFilesOfEverySize) {
  for (std::size_t size : {0u, 1u, 1023u, 1024u, 1025u, 100000u}) {
    std::string content(size, '\0');
    for (std::size_t i = 0; i < size; ++i) content[i] = static_cast<char>(i * 7);
    std::string path = tempFile(content);
    Memory memory;
    Buffer out(memory);
    ASSERT_TRUE(out.append("stale"));
    EXPECT_EQ(readWholeFile(path, out), std::nullopt);
    EXPECT_EQ(out.view(), content) << size;
    ::unlink(path.c_str());
  }
}

TEST(Files, LimitIsInclusive) {
  std::string path = tempFile(std::string(100, 'a'));
  Memory memory;
  Buffer out(memory);
  EXPECT_EQ(readWholeFile(path, out, 100), std::nullopt);
  EXPECT_EQ(readWholeFile(path, out, 99), SysError::StreamTooLong);
  ::unlink(path.c_str());
}

TEST(Files, LimitHoldsWhenTheSizeIsNotReported) {
  // A pipe reports no size, so the limit is found while reading.
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ASSERT_EQ(writeAll(fds[1], std::string(3000, 'p')), 0);
  ::close(fds[1]);
  std::string path = "/dev/fd/" + std::to_string(fds[0]);
  Memory memory;
  Buffer out(memory);
  EXPECT_EQ(readWholeFile(path, out, 2000), SysError::StreamTooLong);
  ::close(fds[0]);
}

TEST(Files, AFileLargerThanTheMemoryCapIsOutOfMemory) {
  std::string path = tempFile(std::string(50000, 'm'));
  Memory memory;
  memory.cap = 10000;
  Buffer out(memory);
  EXPECT_EQ(readWholeFile(path, out), SysError::OutOfMemory);
  EXPECT_LE(memory.peak(), 10000u);
  ::unlink(path.c_str());
}

TEST(Files, NamesAreCheckedBeforeTheSystemSeesThem) {
  Memory memory;
  Buffer out(memory);
  EXPECT_EQ(readWholeFile(std::string(1024, 'a'), out), SysError::NameTooLong);
  EXPECT_EQ(readWholeFile(std::string("/etc/passwd\0x", 13), out), SysError::BadPathName);
  EXPECT_EQ(checkPathName(std::string(1023, 'a')), std::nullopt);
  EXPECT_EQ(readWholeFile("/nonexistent/zandle", out), SysError::FileNotFound);
  EXPECT_EQ(readWholeFile("/tmp", out), SysError::IsDir);
}

TEST(Arena, KeepsEarlierAllocationsInPlaceAndResets) {
  Memory memory;
  Arena arena(memory, 64);
  std::string_view first, second, empty = "x";
  ASSERT_TRUE(arena.copy("hello", first));
  std::string big(10000, 'b');
  ASSERT_TRUE(arena.copy(big, second));
  EXPECT_EQ(first, "hello");
  EXPECT_EQ(second, big);
  ASSERT_TRUE(arena.copy("", empty));
  EXPECT_TRUE(empty.empty());
  auto* aligned = arena.allocateArray<double>(3);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(aligned) % alignof(double), 0u);
  std::size_t held = arena.capacity();
  arena.reset();
  EXPECT_LE(arena.capacity(), held);
  EXPECT_GE(arena.capacity(), big.size());
  arena.release();
  EXPECT_EQ(arena.capacity(), 0u);
  EXPECT_EQ(memory.held(), 0u);
}

TEST(Arena, AnAllocationPastTheCapIsNull) {
  Memory memory;
  memory.cap = 5000;
  Arena arena(memory, 1024);
  EXPECT_NE(arena.allocate(100), nullptr);
  EXPECT_EQ(arena.allocate(6000), nullptr);
  EXPECT_NE(arena.allocate(100), nullptr);  // the arena is still usable
  EXPECT_LE(memory.peak(), 5000u);
}

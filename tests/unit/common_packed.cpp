// Unpacking the texts compiled into the programs: literals, copies from behind (overlapping
// ones too), and packed bytes that are not a text.
#include <gtest/gtest.h>

#include <string>

#include "common/packed.hpp"

using namespace zandle;

namespace {

bool unpackTo(const std::string& packed, std::string& text, std::size_t cap = SIZE_MAX) {
  Memory memory;
  memory.cap = cap;
  Buffer out(memory);
  const bool ok = unpack(packed, out);
  text.assign(out.data() == nullptr ? "" : std::string(out.view()));
  return ok;
}

}  // namespace

TEST(Packed, LiteralsAndCopies) {
  std::string text;
  // "abcd" literally, then 8 bytes copied from 4 back: the copy overlaps its own output.
  ASSERT_TRUE(unpackTo(std::string("\x03" "abcd" "\x84\x04\x00", 8), text));
  EXPECT_EQ(text, "abcdabcdabcd");
  ASSERT_TRUE(unpackTo("", text));
  EXPECT_EQ(text, "");
  // The longest copy: 131 bytes of one letter.
  ASSERT_TRUE(unpackTo(std::string("\x00" "z" "\xff\x01\x00", 5), text));
  EXPECT_EQ(text, std::string(132, 'z'));
}

TEST(Packed, BytesThatAreNoTextAreRefused) {
  std::string text;
  EXPECT_FALSE(unpackTo("\x05" "ab", text));                          // literals cut short
  EXPECT_FALSE(unpackTo(std::string("\x80\x01", 2), text));           // a copy cut short
  EXPECT_FALSE(unpackTo(std::string("\x80\x01\x00", 3), text));       // nothing to copy from
  EXPECT_FALSE(unpackTo(std::string("\x00" "a" "\x80\x02\x00", 5), text));  // from before the start
  EXPECT_FALSE(unpackTo(std::string("\x00" "a" "\x80\x00\x00", 5), text));  // from no distance
}

TEST(Packed, RunningOutOfMemoryIsReported) {
  std::string text;
  EXPECT_FALSE(unpackTo(std::string("\x00" "z" "\xff\x01\x00", 5), text, 64));
}

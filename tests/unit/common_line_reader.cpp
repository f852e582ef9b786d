#include <gtest/gtest.h>

#include <string>

#include "common/line_reader.hpp"
#include "pipe_input.hpp"

using namespace zandle;

TEST(LineReader, KeepsBytesBeyondTheFirstLine) {
  PipeInput in("a\nb\r\n\nlast");
  BufferedReader reader(fdSource(in.fd()));
  char storage[LineReader::line_max];
  std::string_view line;
  ASSERT_EQ(reader.readLine(1023, 1024, storage, line), LineStatus::ok);
  EXPECT_EQ(line, "a");
  ASSERT_EQ(reader.readLine(1023, 1024, storage, line), LineStatus::ok);
  EXPECT_EQ(line, "b\r");
  ASSERT_EQ(reader.readLine(1023, 1024, storage, line), LineStatus::ok);
  EXPECT_EQ(line, "");
  ASSERT_EQ(reader.readLine(1023, 1024, storage, line), LineStatus::ok);
  EXPECT_EQ(line, "last");
  EXPECT_EQ(reader.readLine(1023, 1024, storage, line), LineStatus::end_of_stream);
}

TEST(LineReader, LengthLimitsAtNewlineAndAtEnd) {
  char storage[LineReader::line_max];
  std::string_view line;
  {
    PipeInput in(std::string(1023, 'x') + "\n");
    BufferedReader reader(fdSource(in.fd()));
    ASSERT_EQ(reader.readLine(1023, 1024, storage, line), LineStatus::ok);
    EXPECT_EQ(line.size(), 1023u);
  }
  {
    PipeInput in(std::string(1024, 'x'));
    BufferedReader reader(fdSource(in.fd()));
    ASSERT_EQ(reader.readLine(1023, 1024, storage, line), LineStatus::ok);
    EXPECT_EQ(line.size(), 1024u);
  }
  {
    PipeInput in(std::string(1024, 'x'));
    BufferedReader reader(fdSource(in.fd()));
    EXPECT_EQ(reader.readLine(1023, 1023, storage, line), LineStatus::stream_too_long);
  }
  {
    PipeInput in(std::string(1024, 'x') + "\n");
    BufferedReader reader(fdSource(in.fd()));
    EXPECT_EQ(reader.readLine(1023, 1024, storage, line), LineStatus::stream_too_long);
  }
}

TEST(LineReader, ReadFailureIsReported) {
  BufferedReader reader(fdSource(-1));
  char storage[LineReader::line_max];
  std::string_view line;
  EXPECT_EQ(reader.readLine(1023, 1024, storage, line), LineStatus::read_failed);
}

// Bytes kept from elsewhere come after what the reader already holds and before what it reads
// next; what does not fit is refused whole.
TEST(LineReader, KeptBytesFollowThePendingOnes) {
  PipeInput in("a\nb");
  BufferedReader reader(fdSource(in.fd()));
  char storage[LineReader::line_max];
  std::string_view line;
  ASSERT_EQ(reader.readLine(1023, 1024, storage, line), LineStatus::ok);
  ASSERT_TRUE(reader.keep("kept\nmore"));
  ASSERT_EQ(reader.readLine(1023, 1024, storage, line), LineStatus::ok);
  EXPECT_EQ(line, "bkept");
  ASSERT_EQ(reader.readLine(1023, 1024, storage, line), LineStatus::ok);
  EXPECT_EQ(line, "more");
  EXPECT_FALSE(reader.keep(std::string(LineReader::buffer_size + 1, 'x')));
  EXPECT_EQ(reader.readLine(1023, 1024, storage, line), LineStatus::end_of_stream);
}

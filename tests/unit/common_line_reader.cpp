#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "common/line_reader.hpp"

using namespace zandle;

namespace {

// A pipe whose writer delivers the given chunks, then closes.
struct PipeInput {
  int fds[2];
  explicit PipeInput(const std::string& data) {
    EXPECT_EQ(::pipe(fds), 0);
    writer = std::thread([fd = fds[1], data] {
      std::size_t done = 0;
      while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
      }
      ::close(fd);
    });
  }
  ~PipeInput() {
    writer.join();
    ::close(fds[0]);
  }
  std::thread writer;
};

}  // namespace

TEST(LineReader, KeepsBytesBeyondTheFirstLine) {
  PipeInput in("a\nb\r\n\nlast");
  LineReader reader(in.fds[0]);
  std::string_view line;
  ASSERT_EQ(reader.readLine(1023, 1024, line), LineStatus::ok);
  EXPECT_EQ(line, "a");
  ASSERT_EQ(reader.readLine(1023, 1024, line), LineStatus::ok);
  EXPECT_EQ(line, "b\r");
  ASSERT_EQ(reader.readLine(1023, 1024, line), LineStatus::ok);
  EXPECT_EQ(line, "");
  ASSERT_EQ(reader.readLine(1023, 1024, line), LineStatus::ok);
  EXPECT_EQ(line, "last");
  EXPECT_EQ(reader.readLine(1023, 1024, line), LineStatus::end_of_stream);
}

TEST(LineReader, LengthLimitsAtNewlineAndAtEnd) {
  std::string_view line;
  {
    PipeInput in(std::string(1023, 'x') + "\n");
    LineReader reader(in.fds[0]);
    ASSERT_EQ(reader.readLine(1023, 1024, line), LineStatus::ok);
    EXPECT_EQ(line.size(), 1023u);
  }
  {
    PipeInput in(std::string(1024, 'x'));
    LineReader reader(in.fds[0]);
    ASSERT_EQ(reader.readLine(1023, 1024, line), LineStatus::ok);
    EXPECT_EQ(line.size(), 1024u);
  }
  {
    PipeInput in(std::string(1024, 'x'));
    LineReader reader(in.fds[0]);
    EXPECT_EQ(reader.readLine(1023, 1023, line), LineStatus::stream_too_long);
  }
  {
    PipeInput in(std::string(1024, 'x') + "\n");
    LineReader reader(in.fds[0]);
    EXPECT_EQ(reader.readLine(1023, 1024, line), LineStatus::stream_too_long);
  }
}

TEST(LineReader, ReadFailureIsReported) {
  LineReader reader(-1);
  std::string_view line;
  EXPECT_EQ(reader.readLine(1023, 1024, line), LineStatus::read_failed);
}

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <istream>
#include <streambuf>
#include <string>
#include <thread>

#include "app/LineReader.h"

namespace wex {
namespace {

// Hands out a text in small pieces and counts what it has handed out, so
// that a test can see how far ahead a reader has read.
class CountingBuffer : public std::streambuf {
 public:
  explicit CountingBuffer(std::string text) : text_(std::move(text)) {}
  size_t handedOut() const { return handedOut_.load(); }

 protected:
  int_type underflow() override {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    if (position_ >= text_.size()) return traits_type::eof();
    const size_t piece = std::min<size_t>(4096, text_.size() - position_);
    char* begin = text_.data() + position_;
    setg(begin, begin, begin + piece);
    position_ += piece;
    handedOut_ += piece;
    return traits_type::to_int_type(*begin);
  }

 private:
  std::string text_;
  size_t position_ = 0;
  std::atomic<size_t> handedOut_{0};
};

TEST(LineReaderTest, InputComingFasterThanItIsTakenWaitsAndArrivesWholeAndInOrder) {
  constexpr int kLines = 40;
  const size_t lineLength = LineReader::kMaxLineLength / 2;
  std::string text;
  for (int i = 0; i < kLines; ++i) {
    text += std::to_string(i) + std::string(lineLength, 'x') + "\n";
  }
  CountingBuffer buffer(text);
  std::istream in(&buffer);
  LineReader reader;
  reader.start(in);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_LE(buffer.handedOut(), LineReader::kMaxQueuedBytes + 2 * LineReader::kMaxLineLength)
      << "the reader read on while nothing was taken";

  int taken = 0;
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (taken < kLines && std::chrono::steady_clock::now() < giveUp) {
    auto line = reader.next();
    if (!line) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    ASSERT_EQ(*line, std::to_string(taken) + std::string(lineLength, 'x'));
    ++taken;
  }
  EXPECT_EQ(taken, kLines);
  reader.stop();
}

TEST(LineReaderTest, StoppingEndsAReaderThatWaitsForRoom) {
  std::string text;
  for (int i = 0; i < 40; ++i) text += std::string(LineReader::kMaxLineLength / 2, 'y') + "\n";
  CountingBuffer buffer(text);
  std::istream in(&buffer);
  LineReader reader;
  reader.start(in);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  reader.stop();  // returns: the test would hang otherwise
  EXPECT_LT(buffer.handedOut(), text.size());
}

}  // namespace
}  // namespace wex

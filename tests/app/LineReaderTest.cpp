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

// Input that comes faster than it is taken, in shapes that cost memory in
// different ways: each must wait within the queue's bound and then arrive
// whole and in order.
struct FloodShape {
  const char* name;
  std::string line;     // as sent, without its line end
  const char* lineEnd;  // "\n" or "\r\n"
  int lines;
  bool numbered;  // each line starts with its number, so that order shows
  std::string lineAt(int i) const { return (numbered ? std::to_string(i) : "") + line; }
};

TEST(LineReaderTest, InputComingFasterThanItIsTakenWaitsAndArrivesWholeAndInOrder) {
  const FloodShape shapes[] = {
      {"long lines", std::string(LineReader::kMaxLineLength / 2, 'x'), "\n", 40, true},
      {"blank lines", "", "\n", 2'000'000, false},
      {"carriage returns alone", "", "\r\n", 1'000'000, false},
  };
  for (const auto& shape : shapes) {
    SCOPED_TRACE(shape.name);
    std::string text;
    for (int i = 0; i < shape.lines; ++i) text += shape.lineAt(i) + shape.lineEnd;
    CountingBuffer buffer(text);
    std::istream in(&buffer);
    LineReader reader;
    reader.start(in);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    // Each queued line costs its bookkeeping at least, and the reader is a
    // line and a piece ahead.
    const size_t lineCost = shape.line.size() + LineReader::kLineBookkeeping;
    const size_t queuedLines = LineReader::kMaxQueuedBytes / lineCost + 1;
    const size_t bound = queuedLines * (shape.line.size() + 10) + 4096 + shape.line.size() + 10;
    EXPECT_LE(buffer.handedOut(), bound) << "the reader read on while nothing was taken";

    int taken = 0;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (taken < shape.lines && std::chrono::steady_clock::now() < giveUp) {
      auto line = reader.next();
      if (!line) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        continue;
      }
      ASSERT_EQ(*line, shape.lineAt(taken));
      ++taken;
    }
    EXPECT_EQ(taken, shape.lines);
    reader.stop();
  }
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

// A JSON text whose top is a list, read one element at a time from a stream, so that a list
// of any length is read in the memory of its largest element. Built for the card import:
// each element that is an object gives its members in the order written, and each value is
// brought down to what a card field can take (null, a text, a whole number) or marked as
// something else. The whole text is still checked as JSON (RFC 8259: strict grammar, UTF-8,
// escapes and surrogate pairs); a UTF-8 byte order mark at the start is passed over.
#pragma once

#include <cstdint>
#include <streambuf>
#include <string>
#include <vector>

namespace korawin::app {

struct JsonValue {
  enum Kind { kNull, kText, kWhole, kOther };
  Kind kind = kNull;
  std::string text;   // kText: the text, UTF-8, escapes decoded
  int64_t whole = 0;  // kWhole: the number, held at the nearer limit when beyond int64
};

struct JsonMember {
  std::string name;
  JsonValue value;
};

// One element of the list. members keeps its capacity from element to element: only the
// first count are this element's (duplicate names kept as written).
struct JsonElement {
  bool object = false;
  size_t count = 0;
  std::vector<JsonMember> members;
};

class JsonListReader {
 public:
  enum Result { kMalformed = -2, kNotAList = -1, kEnd = 0, kElement = 1 };

  // buffer: the bytes read from in at a time (at least 8).
  explicit JsonListReader(std::streambuf& in, size_t buffer = 256 * 1024);

  // The next element into *e (kElement); kEnd once the list has closed and nothing but
  // blanks follows it; kNotAList when the text is some other JSON value; kMalformed when the
  // text is not JSON, with why() and where(). Once the reading has ended, every call gives the
  // same answer again.
  Result Next(JsonElement* e);

  const std::string& why() const { return why_; }
  // The byte offset of the fault from the start of the text.
  uint64_t where() const { return where_; }

 private:
  int Peek();
  void Take() { ++pos_; }
  bool Fill();
  size_t Ensure(size_t n);
  uint64_t Offset() const { return base_ + static_cast<uint64_t>(pos_ - buf_.data()); }
  bool Fail(const char* why);
  bool FailAt(uint64_t where, const char* why);
  void SkipBlanks();
  bool Expect(char c, const char* why);
  bool ReadString(std::string* out);
  bool ReadEscape(std::string* out);
  bool ReadUtf8(std::string* out);
  bool ReadNumber(JsonValue* v);
  bool ReadLiteral(const char* word, size_t length);
  bool ReadValue(JsonValue* v);
  bool ReadNested();
  bool ReadObject(JsonElement* e);

  enum class State { kStart, kFirst, kInList, kAfterElement, kAfterList, kDone };
  // Every call after the reading ended gives how it ended.
  Result End(Result r) {
    state_ = State::kDone;
    return ended_ = r;
  }

  std::streambuf& in_;
  std::vector<char> buf_;
  char* pos_ = nullptr;
  char* end_ = nullptr;
  uint64_t base_ = 0;  // the offset of buf_[0] in the text
  State state_ = State::kStart;
  Result ended_ = kEnd;
  std::vector<char> open_;  // the brackets of the nested values being passed over
  std::string scratch_;
  std::string why_;
  uint64_t where_ = 0;
};

}  // namespace korawin::app

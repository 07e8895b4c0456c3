// Step objects: map key values of a list to the positions 1 to 100 of its scroll thumb and
// back, so that the thumb shows roughly where the highlighted record lies in the key and a drag
// of the thumb can locate a record.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace korawin::framework {

// Controls bits of StepStringClass.
enum StepControls : uint8_t {
  StepLetters = 1,
  StepPunctuation = 2,
  StepDigits = 4,
  StepCaseSensitive = 8,  // without it letters compare in upper case
  StepDescending = 16,
};

// Table kinds of StepStringClass (LookupMode).
enum StepLookup : uint8_t { StepLookupNames = 1, StepLookupLetters = 2, StepLookupComputed = 3 };

class StepClass {
 public:
  virtual ~StepClass() = default;
  // Takes the first and last key values of the list's range.
  virtual void SetLimit(std::string_view low, std::string_view high) = 0;
  // The thumb step 1..100 of a key value.
  virtual int GetPercentile(std::string_view value) const = 0;
  // The key value that stands for a thumb step 1..100.
  virtual std::string GetValue(int step) const = 0;
};

class StepStringClass : public StepClass {
 public:
  // controls: StepControls bits; mode: StepLookup.
  void Init(uint8_t controls, uint8_t mode);
  void SetLimit(std::string_view low, std::string_view high) override;
  int GetPercentile(std::string_view value) const override;
  std::string GetValue(int step) const override;

  // Characters of one table entry for the mode.
  int Width() const;

  // Fields, in the order of the design.
  uint8_t Controls = StepLetters;
  uint8_t LookupMode = StepLookupLetters;
  std::string Ref;        // 100 entries of Width() characters
  std::string Root;       // at most 40: the prefix common to the range
  std::string SortChars;  // characters that can occur in the key, in code order
  uint8_t TestLen = 0;

 private:
  void BuildSortChars();
};

// The built-in tables: 100 three-character name prefixes and 100 two-letter prefixes.
std::string_view StepNameTable();
std::string_view StepTwoLetterTable();

}  // namespace korawin::framework

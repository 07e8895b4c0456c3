// Collation and case folding of the text components of keys: the three 256-entry tables
// (ANSI weights, case partners with classes, OEM weights) and the environment file that
// changes them. Text is Windows-1251 throughout; OEM means code page 866.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "storage/driver.h"

namespace korawin::storage::dat {

// Case classes of a character (bits).
inline constexpr uint8_t kCaseUpper = 0x1;
inline constexpr uint8_t kCaseLower = 0x2;
inline constexpr uint8_t kCaseDigit = 0x4;

class Collation {
 public:
  // Identity weights, the 26 ASCII case pairs, ASCII digits, no digraphs.
  Collation();

  // Applies the settings of an environment file's text to a default table set. Unknown
  // settings and malformed values are skipped (*warnings, when given, lists them); 0, or 81
  // when the system's collator is unavailable for "WINDOWS" (the identity is kept then).
  static Code Parse(std::string_view text, Collation* out, std::string* warnings = nullptr);
  // Reads and parses an environment file; a missing file leaves the defaults and returns 0.
  static Code Load(const std::string& path, Collation* out, std::string* warnings = nullptr);

  uint8_t Weight(uint8_t c) const { return ansiWeight_[c]; }
  uint8_t OemWeight(uint8_t c) const { return oemWeight_[c]; }
  uint8_t CasePartner(uint8_t c) const { return partner_[c]; }
  uint8_t CaseClass(uint8_t c) const { return class_[c]; }
  // The upper-case form of c (c itself when it is not a lower-case letter with a partner).
  uint8_t Upper(uint8_t c) const {
    return (class_[c] & kCaseLower) && partner_[c] ? partner_[c] : c;
  }
  bool has_digraphs() const { return !digraphs_.empty(); }

  // Translates n bytes of a text component into its key bytes (exactly n written): upper-cased
  // when nocase, digraphs expanded (cut to n), converted to OEM and weighed by the OEM table
  // when oem, else weighed by the ANSI table.
  void Translate(const unsigned char* in, size_t n, bool nocase, bool oem,
                 unsigned char* out) const;

 private:
  struct Digraph {
    uint8_t from;
    uint8_t first;
    uint8_t second;
  };

  void SetAsciiCase();
  Code SetWindowsOrder();
  void SetWindowsCase();
  static void OrderFromList(std::string_view list, uint8_t* weights);
  void DeriveOem();
  void DeriveAnsi();
  // Derives weighed_ and digraphAt_ from the tables above; called whenever they change.
  void Precompute();

  uint8_t ansiWeight_[256];
  uint8_t oemWeight_[256];
  uint8_t partner_[256];
  uint8_t class_[256];
  std::vector<Digraph> digraphs_;
  // The key byte of each character, by (nocase ? 2 : 0) + (oem ? 1 : 0): case folding, the OEM
  // conversion and the weight in one lookup.
  uint8_t weighed_[4][256];
  // The first digraph whose character is c, or -1.
  int16_t digraphAt_[256];
};

// The environment file of the program: "korawin1.ENV" in the executable's folder (found
// without regard to letter case), or the file set with SetEnvironmentPath.
std::string EnvironmentPath();
// Overrides the environment file (for `--env FILE` and for tests); "" restores the default.
void SetEnvironmentPath(const std::string& path);

// The program's tables. Keys hold a pointer to this object, which stays valid for the whole run.
const Collation& ActiveCollation();
// Replaces the program's tables (at start, before any file is opened).
void SetActiveCollation(const Collation& collation);
// Loads EnvironmentPath() into the program's tables; codes as Collation::Load.
Code LoadActiveCollation(std::string* warnings = nullptr);

}  // namespace korawin::storage::dat

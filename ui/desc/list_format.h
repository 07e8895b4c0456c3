// Column formats of list controls, as the windows store them, for example
// "80L(2)@s20@[12R(1)@n3@/]" or "256L(2)~Лексемы~C(0)@s64@".
//
// A column is: its width in dialog units; its alignment L, R, C or D (decimal) with an optional
// indent in brackets; then, in any order, the marks "|" (a line on its right), "M" (the user may
// resize it), "F" (fixed: it does not scroll sideways), "_" (underlined), "/" (the next column
// starts a new line of the group), "Y" and "?" (kept, drawn as plain columns), a heading
// between "~" optionally followed by the heading's own alignment and indent, and a picture
// between "@". Square brackets group columns under one heading: "[" columns "]" then, like a
// column, an optional width in brackets, marks and a heading.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace korawin::ui {

struct ListColumn {
  int width = 0;          // dialog units
  char align = 'L';       // L, R, C or D
  int indent = 0;         // dialog units from the aligned edge
  std::string heading;    // may be empty
  char headingAlign = 0;  // 0: the column's own alignment
  int headingIndent = 0;
  std::string picture;    // "@s20"; empty: shown as text
  bool rightBorder = false;
  bool resizable = false;
  bool fixed = false;
  bool underline = false;
  bool lastOnLine = false;
  int group = -1;         // index in ListFormat::groups, -1 outside a group
};

struct ListGroup {
  std::string heading;
  char headingAlign = 0;
  int width = 0;          // 0: the sum of its columns
  bool rightBorder = false;
  bool resizable = false;
  int first = 0;          // first column of the group
  int count = 0;          // number of columns in it
};

struct ListFormat {
  std::vector<ListColumn> columns;
  std::vector<ListGroup> groups;
};

// Parses text into *out. False on a malformed format, with the reason and the offset of the
// fault in *why. Pictures are checked as well.
bool ParseListFormat(std::string_view text, ListFormat* out, std::string* why = nullptr);

}  // namespace korawin::ui

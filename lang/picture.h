// Display pictures of FORMAT and DEFORMAT (also the pictures of list columns and report
// fields). A picture may start with "@"; its letter is read without regard to case:
//   @s<w>                  text, cut or padded with blanks to w characters
//   @n[-][0|*|_]<w>[.<p>][b] number right-aligned in w characters with p decimals; fill 0 or *
//                          pads with that character instead of blanks; a negative number
//                          always shows its minus; b leaves zero blank; a number that does not
//                          fit shows w "#" characters
//   @d<k>[.|-|_][b]        date (day number, day 4 = 1 January 1801): 1 mm/dd/yy, 2 mm/dd/yyyy,
//                          3 MMM dd,yyyy, 4 Month dd, yyyy, 5 dd/mm/yy, 6 dd/mm/yyyy, 7 dd MMM yy,
//                          8 dd MMM yyyy, 9 yy/mm/dd, 10 yyyy/mm/dd, 11 yymmdd, 12 yyyymmdd,
//                          13 mm/yy, 14 mm/yyyy, 15 yy/mm, 16 yyyy/mm, 17 as 6, 18 as 4; the
//                          character after k replaces "/" (_ is a blank); a day number below 1
//                          is blank
//   @t<k>[.|-|_][b]        time (hundredths since midnight + 1): 1 hh:mm, 2 hhmm, 3 hh:mmXM,
//                          4 hh:mm:ss, 5 hhmmss, 6 hh:mm:ssXM; a time below 1 is blank
//   @p<pattern>p           digits into the positions "#" (always a digit) and "<" (blank for a
//                          leading zero), from the right; other characters are copied
// Any other picture formats the value as plain text.
#pragma once

#include <string>
#include <string_view>

#include "lang/types.h"

namespace korawin::lang {

// The value formatted by picture, written into *out.
std::string_view FormatPicture(const Value& v, std::string_view picture, std::string* out);
// The value behind text formatted by picture, as text: a number for @n, @p and no picture
// (blanks, grouping and other marks dropped), a day number for @d, a time for @t ("0" when the
// text is not a date or time), the text itself for @s.
std::string_view DeformatPicture(std::string_view text, std::string_view picture, std::string* out);

// True when picture is one of the forms above with sound numbers (@s with a width, @n with a
// width, @d1 to @d18, @t1 to @t6, @p...p holding at least one "#" or "<"); otherwise false,
// with the reason in *why when given. Windows and reports are checked with it when they are
// built, so a malformed picture never reaches a user.
bool CheckPicture(std::string_view picture, std::string* why = nullptr);
// The number of characters a value formatted by picture takes; 0 for a picture whose width
// varies or that is not valid.
int PictureWidth(std::string_view picture);

}  // namespace korawin::lang

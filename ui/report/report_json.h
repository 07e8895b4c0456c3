// Reading report descriptions from their JSON form, and the program's table of them.
//
// A file holds one report object or a list of them:
//   {"module": "korawin1$koraw067", "report": "P1$REPORT", "cname": "TaxonomList",
//    "paper": "A4", "orientation": "portrait" | "landscape",
//    "margins": [left, top, right, bottom],
//    "font": {"name": "Courier", "size": 10, "style": ["bold", "italic", "underline"]},
//    "header": {"height": 600, "controls": [...]},
//    "details": [{"id": "?Detail", "height": 250, "page": "before" | "after",
//                 "controls": [...]}],
//    "footer": {"height": 300, "controls": [...]}}
// A control: {"type": "label" | "field" | "pageno" | "line" | "box", "at": [x, y, w, h],
//    "text": "...", "use": "TAX:T", "picture": "@s140", "font": {...}, "align": "left" |
//    "center" | "right", "wrap": true, "pen": 10}
// Positions, sizes, margins and pens are thousandths of an inch; font sizes are points. A
// control's font takes what it leaves out from the report's font. A label needs its text, a
// field its variable and picture, a page number its picture (@p or @n). Only detail bands
// wrap: a header or footer keeps its designed height on every page. Texts are UTF-8 in the
// file and Windows-1251 once read; a character Windows-1251 lacks is refused.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ui/report/report_desc.h"

namespace korawin::ui::report {

// Reads the reports of one file. False on any fault, with a message naming the report, the
// band and the control and what is wrong in *why; *out is then unspecified.
bool ParseReportDescs(std::string_view json, std::vector<ReportDesc>* out, std::string* why);

// Adds the reports of a file that was checked when the program was built; a fault here is a
// fault of the build, and ends the program with its message.
void RegisterReportDescs(std::string_view json);
// The registered report of a module; nullptr when there is none. Names are compared without
// regard to case. Descriptions stay valid until the program ends.
const ReportDesc* FindReportDesc(std::string_view module, std::string_view name);

}  // namespace korawin::ui::report

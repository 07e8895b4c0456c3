// Reading window descriptions from their JSON form, and the program's table of descriptions.
//
// A file holds one window object or a list of them:
//   {"module": "korawin1$koraw051", "window": "P1$BROWSEWINDOW", "cname": "LexemeList",
//    "kind": "child" | "frame" | "dialog", "modal": false, "resizable": true,
//    "caption": "...", "icon": "...", "font": "...", "help": "help id",
//    "helptext": "a line saying what the window is for", "size": [w, h],
//    "status": [zone widths], "menu": [...], "toolbar": [...], "controls": [...]}
// A control: {"type": "entry", "id": "?Name", "text": "...", "use": "glo:fr1",
//    "picture": "@s20", "tip": "...", "status": "...", "icon": "...", "key": "Ctrl+Enter",
//    "font": "...", "flags": ["disabled", "hidden", "readonly", "default", "skip", "immediate",
//    "checked", "upper", "password", "vscroll", "hscroll", "drop"], "std": "close", "width": 80,
//    "height": 12, "lines": 10, "stretch": 1, "range": [low, high], "step": 1,
//    "format": "80L(2)@s20@", "controls": [...]}
// Layout types ("row", "column", "form", "stretch") only hold others. A sheet holds tabs, an
// option holds radios, a menu holds items, separators and menus. Texts are UTF-8 in the file
// and Windows-1251 once read; a character Windows-1251 lacks is refused.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ui/desc/window_desc.h"

namespace korawin::ui {

// Reads the windows of one file. False on any fault, with a message naming the window, the
// control and what is wrong in *why; *out is then unspecified.
bool ParseWindowDescs(std::string_view json, std::vector<WindowDesc>* out, std::string* why);

// Adds the windows of a file that was checked when the program was built; a fault here is a
// fault of the build, and ends the program with its message.
void RegisterWindowDescs(std::string_view json);
// The registered window of a module; nullptr when there is none. Names are compared without
// regard to case. Descriptions stay valid until the program ends.
const WindowDesc* FindWindowDesc(std::string_view module, std::string_view name);
// Every registered window, in the order of registration.
std::vector<const WindowDesc*> AllWindowDescs();

}  // namespace korawin::ui

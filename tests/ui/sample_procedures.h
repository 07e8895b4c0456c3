// The procedures of the sample windows (windows/sample.json, windows/sample_frame.json): a frame
// that starts lists, a list that shows one page of items and pages through them, and a form
// that changes one item. The Qt backend's test and its demo run them.
#pragma once

#include <string>
#include <vector>

namespace korawin::ui::sample {

struct Item {
  std::string word;  // Windows-1251
  int number = 0;
};

// The items every list shows: program data, touched only with the runtime lock held.
std::vector<Item>& Items();
// Fills the items with count verbs and their numbers.
void ResetItems(int count);

// The frame: its menu item and toolbar button start a list on a thread of its own; closing it
// closes every list first.
void FrameProcedure();
// A list of the items, one page at a time; "Изменить" (or Enter) opens the form on the list's
// thread; closing asks first.
void ListProcedure();
// A card of many fields on two tabs; it only shows. It opens on the tab of that number.
void CardProcedure();
extern int cardTab;
// The form over one item; true when OK saved it.
bool EditItem(Item* item);

}  // namespace korawin::ui::sample

#pragma once
// How the device list (ComboBox1) shows its entries: each entry's full text as its tooltip and
// the list's tooltip the selected entry's (an entry is often wider than the list), the list's
// drop-down as wide as its longest entry, and an empty list that still drops down, showing a
// disabled "Нет устройств" line instead of staying shut.

#include <functional>

class QComboBox;

namespace ui {

// Keeps the tooltips and the drop-down's width in line with the entries from now on, and lets
// a click on the empty list drop it down too.
void attachDeviceListLook(QComboBox* list);
// Drops the list down; an empty list shows its "Нет устройств" line.
void dropDownList(QComboBox* list);
// Whether the list (or its empty line) is dropped down; closes it.
bool listDroppedDown(const QComboBox* list);
void closeDropDown(QComboBox* list);
// A dropped-down list would take the input of questions asked meanwhile and close them: runs
// ask, which calls beforeAsking before its first question and returns how many it asked, with
// the list closed from then on, and drops it down again after when it was down and anything
// was asked.
void askWithListClosed(QComboBox* list,
                       const std::function<int(const std::function<void()>& beforeAsking)>& ask);

}  // namespace ui

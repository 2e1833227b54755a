#pragma once
// How the device list (ComboBox1) shows its entries: each entry's full text as its tooltip and
// the list's tooltip the selected entry's (an entry is often wider than the list), the list's
// drop-down as wide as its longest entry, and an empty list that still drops down, showing a
// disabled "Нет устройств" line instead of staying shut.

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

}  // namespace ui

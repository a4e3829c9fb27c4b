// The parts of the form that are plain data, the same whatever shows the form.

#include "platform/ui/form.h"

#include <cmath>

namespace ui {

Control* Form::Find(const std::string& name) {
  for (auto& c : Controls)
    if (c.Name == name) return &c;
  return nullptr;
}

const Control* Form::Find(const std::string& name) const {
  for (const auto& c : Controls)
    if (c.Name == name) return &c;
  return nullptr;
}

int ScaleLength(int length, double scale) {
  return static_cast<int>(std::lround(length * scale));
}

int SelectionForText(const ComboItems& items, int picked, const std::string& text) {
  if (picked >= 0 && picked < items.Count() && items.Items[picked] == text) return picked;
  for (int i = 0; i < items.Count(); ++i)
    if (items.Items[i] == text) return i;
  return -1;
}

}  // namespace ui

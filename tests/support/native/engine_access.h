// What the tests need of an engine beyond its operations: a layout changed
// a value at a time, as a host's layout call would set it whole.
#pragma once
#include "engine/print_control.h"

template <typename Change>
void ChangeLayout(CPrintControl& engine, Change change) {
  LayoutData layout = engine.Layout();
  change(layout);
  engine.SetLayout(layout);
}

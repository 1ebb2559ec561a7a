// What the tests see of an engine: the stream as its printer receives it,
// and a layout they keep themselves and hand over whole, as a host's layout
// call does.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "engine/print_control.h"
#include "support/native/fakes.h"

// Everything the engine has built, as `printer` (the job's printer) has
// received it: what was still unwritten is written first.
inline const std::vector<uint8_t>& Written(CPrintControl& engine, MemoryPrinter& printer) {
  EXPECT_EQ(engine.SendToPrinter(), result::kOk);
  return printer.output;
}

template <typename Change>
void ChangeLayout(CPrintControl& engine, LayoutData& layout, Change change) {
  change(layout);
  engine.SetLayout(layout);
}

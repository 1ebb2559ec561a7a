// What the configuration dialog reads from the settings store when it opens
// and what it writes back on OK, over the core's printer interface so that the
// order of the writes and a save that fails half-way can be checked natively.
#pragma once
#include <cstdint>
#include <optional>

#include "platform/printer_port.h"

// The stored settings as the dialog shows them (not the job's encoded forms).
struct DialogStartValues {
  int32_t mediaType = 0;
  int32_t printQuality = 0;
  bool bidirectional = false;
  bool bandingReduction = false;
  bool autoCut = false;
  int32_t cutTiming = 0;
  uint32_t cutInterval = 0;
  int32_t vOffset = 0;
  int32_t hOffset = 0;
  int32_t unit = 0;
  bool printErrors = false;
  bool forcePrinting = false;
};

// Reads in the dialog's order: media and quality, cutting, position, errors.
DialogStartValues ReadDialogStartValues(PrinterPort& printer);

struct CutChoice {
  bool autoCut = false;
  int32_t timing = 0;
  int32_t interval = 0;
};

// The controls' values at OK. `cut` is empty when the auto cut section could
// not hand its values over, which fails the save after the earlier groups.
struct DialogSaveValues {
  int32_t mediaSelection = 0;
  int32_t quality = 0;
  bool bidirectional = false;
  bool bandingReduction = false;
  int32_t vOffset = 0;
  int32_t hOffset = 0;
  int32_t unit = 0;
  bool printErrors = false;
  bool forcePrintingChecked = false;
  std::optional<CutChoice> cut;
};

// A media selection the list cannot hold is saved as 0.
int32_t MediaIndexToSave(int32_t selection);

// Writes the groups in order (media, quality, position, errors, cutting) and
// stops at the first failure; earlier groups stay written. True when all were written.
bool SaveDialogValues(PrinterPort& printer, const DialogSaveValues& values);

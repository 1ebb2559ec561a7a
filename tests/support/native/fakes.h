// In-memory stand-ins for the platform the core runs on.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/log_sink.h"
#include "platform/printer_port.h"
#include "platform/text_renderer.h"

// A printer whose settings are a map and whose output is a byte vector.
class MemoryPrinter : public PrinterPort {
 public:
  std::map<std::u16string, uint32_t> settings;
  std::vector<std::u16string> reads;   // names in the order they were read
  std::vector<std::u16string> writes;  // names in the order they were written
  std::vector<uint8_t> output;
  std::vector<size_t> sends;           // byte counts of the write calls, as offered
  // Settings writes fail from this many successful writes on (none when empty).
  std::optional<size_t> failWritesAfter;
  // Write behaviour: how many bytes a call accepts (default: all); false = the call fails.
  std::function<bool(uint32_t offered, uint32_t& accepted)> writeBehaviour;

  void Set(std::u16string name, uint32_t value) { settings[std::move(name)] = value; }

  std::optional<uint32_t> ReadSetting(std::u16string_view name) override {
    reads.emplace_back(name);
    auto it = settings.find(std::u16string(name));
    if (it == settings.end()) return std::nullopt;
    return it->second;
  }
  bool WriteSetting(std::u16string_view name, uint32_t value) override {
    if (failWritesAfter && writes.size() >= *failWritesAfter) return false;
    writes.emplace_back(name);
    settings[std::u16string(name)] = value;
    return true;
  }
  bool Write(const uint8_t* data, uint32_t count, uint32_t& written) override {
    sends.push_back(count);
    uint32_t accepted = count;
    if (writeBehaviour && !writeBehaviour(count, accepted)) return false;
    written = accepted;
    output.insert(output.end(), data, data + std::min(accepted, count));
    return true;
  }
  std::string OutputText() const { return std::string(output.begin(), output.end()); }
};

class FixedClock : public Clock {
 public:
  LocalTime time{2026, 12, 7, 21, 5, 9, 42};
  LocalTime Now() override { return time; }
};

class RecordingLog : public LogSink {
 public:
  struct Entry {
    std::u16string message;
    std::u16string source;
  };
  std::vector<Entry> entries;
  void WriteLogEntry(std::u16string_view message, std::u16string_view source) noexcept override {
    entries.push_back({std::u16string(message), std::u16string(source)});
  }
};

// Draws every character as a black 8 × 10 cell, one row of cells per line,
// so that tests can check sizes and positions without a real font.
class BlockTextRenderer : public TextRenderer {
 public:
  static constexpr int32_t kCellWidth = 8;
  static constexpr int32_t kCellHeight = 10;
  std::vector<std::u16string> rendered;
  ResultCode failWith = 0;

  ResultCode RenderMessageText(RasterPoint& position, std::u16string_view text, int32_t height,
                               std::u16string_view faceName, int32_t rotation, RasterImage& raster) noexcept override;
};

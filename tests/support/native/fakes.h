// In-memory stand-ins for the platform the core runs on.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "frame/plugin_protocol.h"
#include "platform/clock.h"
#include "platform/host_bitmap.h"
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
  std::vector<size_t> sends;  // byte counts of the write calls, as offered
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
    try {
      entries.push_back({std::u16string(message), std::u16string(source)});
    } catch (...) {
      // out of memory: the line is lost, as a log line may be
    }
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

  ResultCode RenderMessageText(DotPoint& position, std::u16string_view text, int32_t height,
                               std::u16string_view faceName, int32_t rotation, RasterImage& raster) noexcept override;
};

// A port that hands every call on to a printer the test owns, so the test
// keeps the printer when the engine's port goes.
class PortOn : public PrinterPort {
 public:
  explicit PortOn(PrinterPort& target) : target_(target) {}
  std::optional<uint32_t> ReadSetting(std::u16string_view name) override { return target_.ReadSetting(name); }
  bool WriteSetting(std::u16string_view name, uint32_t value) override { return target_.WriteSetting(name, value); }
  bool Write(const uint8_t* data, uint32_t count, uint32_t& written) override {
    return target_.Write(data, count, written);
  }

 private:
  PrinterPort& target_;
};

// Opens every job's port on one in-memory printer and records the handles.
class MemoryPortFactory : public PrinterPortFactory {
 public:
  explicit MemoryPortFactory(PrinterPort& target) : printer(target) {}
  std::unique_ptr<PrinterPort> OpenPort(void* printerHandle) override;
  PrinterPort& printer;
  std::vector<void*> opened;
};

// A host bitmap that delivers the rows it holds (401 when `readResult` says so).
class MemoryHostBitmap : public HostBitmap {
 public:
  DibRows rows;
  ResultCode readResult = result::kOk;
  ResultCode Read(DibRows& out) noexcept override {
    if (readResult != result::kOk) return readResult;
    try {
      out = rows;
    } catch (...) {
      return result::kBadSourceBitmap;  // out of memory: the bitmap cannot be read
    }
    return result::kOk;
  }
  // A 24-bit bitmap of one colour with 4-byte row padding.
  static MemoryHostBitmap Solid(int32_t width, int32_t height, uint8_t blue, uint8_t green, uint8_t red);
};

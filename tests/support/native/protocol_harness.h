// A plug-in call protocol over in-memory stand-ins, with the host's records
// and a sample job, for the protocol tests, the fault tests and the fuzzer.
#pragma once
#include <array>
#include <cstdint>
#include <cstring>

#include "frame/plugin_protocol.h"
#include "support/native/fakes.h"

struct HostRecords {
  std::array<uint8_t, kHostJobRecordSize> job{};
  std::array<uint8_t, kHostExtraRecordSize> extra{};
  explicit HostRecords(int16_t resolution = printer_limits::kResolution) {
    std::memcpy(job.data() + kResolutionOffset, &resolution, sizeof resolution);
  }
};

template <typename Log = RecordingLog>
struct ProtocolHarness {
  MemoryPrinter printer;
  FixedClock clock;
  BlockTextRenderer text;
  Log log;
  MemoryPortFactory ports{printer};
  PluginProtocol protocol{ports, clock, text, log};
  HostRecords records;
  int hostPrinter = 0;  // its address stands for the host's printer handle

  void Initialize() { protocol.lpxInitialize(&hostPrinter, records.job.data(), records.extra.data()); }
  bool Header(int32_t width = 832, int32_t length = 1200) {
    const int32_t header[2] = {width, length};
    return protocol.lpxWritePrintJobHeader(header);
  }
  bool Send(int32_t width, int32_t height, const char* name) {
    MemoryHostBitmap bitmap = MemoryHostBitmap::Solid(width, height, 10, 20, 200);
    return protocol.lpxSendBitmap(&bitmap, name);
  }

  // A whole sample job: set-up, a 1 × 2 layout, two pages with base,
  // variable bitmap and clock, start and end labels, an empty page, and the
  // writes between them. Stops at the first call that returns false. Every
  // host call runs inside `around(call)`, which returns the call's result;
  // the test's own work (making bitmaps) stays outside it.
  template <typename Around>
  bool SampleJob(Around&& around) {
    if (!around([&] {
          Initialize();
          return protocol.State() == PluginState::Initialized;
        })) {
      return false;
    }
    if (!around([&] { return Header(); })) return false;
    around([&] {
      protocol.lpxSendLayoutData(LayoutData{0, 0, 0, 0, 600, 0, 0, 0, 0, 0, 1, 2, 0});
      return true;
    });
    // Every job sends its base design with its first page.
    const DotPoint origin{0, 0};
    const DotPoint second{0, 425};
    const DotPoint field{40, 60};
    auto send = [&](int32_t width, int32_t height, const char* name) {
      MemoryHostBitmap bitmap = MemoryHostBitmap::Solid(width, height, 10, 20, 200);
      return around([&] { return protocol.lpxSendBitmap(&bitmap, name); });
    };
    if (!send(120, 60, "START01") || !around([&] { return protocol.lpxReferToStartLabel(&origin); })) return false;
    for (int page = 0; page < 2; ++page) {
      if (!around([&] { return protocol.lpxCreateNewPage(); })) return false;
      if (page == 0 && !send(400, 300, "BASE01")) return false;
      if (!around([&] { return protocol.lpxReferToBaseBitmap(&origin); }) ||
          !around([&] { return protocol.lpxReferToBaseBitmap(&second); })) {
        return false;
      }
      if (!send(50 + page * 30, 20, "LOT") ||
          !around([&] { return protocol.lpxReferToVariableBitmap("LOT", &field); })) {
        return false;
      }
      if (!around(
              [&] { return protocol.lpxWriteClock(page == 0 ? u"12:00" : u"12:01\n21.12.", &second, 24, u"Arial"); })) {
        return false;
      }
      if (!around([&] { return page == 0 ? protocol.lpxCloseNewPageStatic(2) : protocol.lpxCloseNewPageDynamic(1); })) {
        return false;
      }
      if (!around([&] { return protocol.lpxCloseNewPageFinal(); }) ||
          !around([&] { return protocol.lpxWritePrinter(); })) {
        return false;
      }
    }
    if (!around([&] { return protocol.lpxAddEmptyPage(); })) return false;
    if (!send(120, 60, "END01") || !around([&] { return protocol.lpxReferToEndLabel(&origin); })) return false;
    return around([&] { return protocol.lpxWritePrinter(); });
  }
  bool SampleJob() {
    return SampleJob([](auto&& call) { return call(); });
  }
};

// Host bitmaps of every depth a label application could hand over, through
// the DLL's table: 1 and 24 bits are printed, every other depth is refused
// with 401 in the log before GDI is asked for its rows, and the object takes
// the next job after a new initialisation.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "win32/engine/whole_job_support.h"
#include "win32/frame/log_files.h"

namespace {

using namespace wholejob;

constexpr const wchar_t* kDepthPrinter = L"QVR Bitmap Depth Printer";
constexpr int32_t kDepthPageWidth = 832;
constexpr int32_t kDepthPageLength = 1200;
constexpr int kColourTableEntries = 256;

enum class Kind { DibSection, DeviceDependent };

struct Size {
  int32_t width;
  int32_t height;
};

bool Printable(WORD bits) { return bits == 1 || bits == 24; }

// The bytes of pixel (x, y) in a row: a pattern that differs along both axes.
uint8_t PatternByte(int32_t x, int32_t y, int channel) {
  return static_cast<uint8_t>((x * 37 + y * 11 + channel * 85) & 0xFF);
}
bool PatternBit(int32_t x, int32_t y) { return (x * 7 + y * 3) % 5 < 2; }

// A bitmap of `bits` per pixel filled with the pattern, and (for the depths
// the plug-in prints) the picture it should print: set bits white, 24-bit
// pixels as blue, green, red bytes.
struct DepthPicture {
  UniqueBitmap bitmap;
  RgbImage expected;
};

void FillRows(uint8_t* rows, size_t stride, WORD bits, Size size, RgbImage& expected) {
  expected = RgbImage::White(size.width, size.height);
  for (int32_t y = 0; y < size.height; ++y) {
    uint8_t* row = rows + stride * static_cast<size_t>(y);
    for (int32_t x = 0; x < size.width; ++x) {
      uint8_t* out = expected.rgb.data() + expected.RowBytes() * static_cast<size_t>(y) + static_cast<size_t>(x) * 3;
      if (bits == 1) {
        const bool set = PatternBit(x, y);
        if (set) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        out[0] = out[1] = out[2] = set ? 255 : 0;
      } else if (bits == 24) {
        for (int c = 0; c < 3; ++c) row[x * 3 + c] = PatternByte(x, y, c);
        out[0] = row[x * 3 + 2];
        out[1] = row[x * 3 + 1];
        out[2] = row[x * 3];
      } else {
        // Deeper or paletted rows are never read; any content will do.
        for (int b = 0; b < (bits + 7) / 8; ++b) row[x * bits / 8 + b] = PatternByte(x, y, b);
      }
    }
  }
}

DepthPicture MakePicture(Kind kind, WORD bits, Size size) {
  DepthPicture picture;
  if (kind == Kind::DibSection) {
    // Room for the longest colour table; a grey ramp (black and white at 1 bit).
    std::vector<uint8_t> memory(sizeof(BITMAPINFOHEADER) + kColourTableEntries * sizeof(RGBQUAD), 0);
    auto* info = reinterpret_cast<BITMAPINFO*>(memory.data());
    info->bmiHeader = {sizeof(BITMAPINFOHEADER), size.width, -size.height, 1, bits, BI_RGB, 0, 0, 0, 0, 0};
    const int entries = bits <= 8 ? 1 << bits : 0;
    for (int i = 0; i < entries; ++i) {
      const auto grey = static_cast<BYTE>(i * 255 / (entries - 1));
      info->bmiColors[i] = {grey, grey, grey, 0};
    }
    void* pixels = nullptr;
    picture.bitmap.reset(CreateDIBSection(nullptr, info, DIB_RGB_COLORS, &pixels, nullptr, 0));
    if (!picture.bitmap || pixels == nullptr) return picture;
    const size_t stride = ((static_cast<size_t>(size.width) * bits + 31) / 32) * 4;
    FillRows(static_cast<uint8_t*>(pixels), stride, bits, size, picture.expected);
    GdiFlush();
  } else {
    // Rows of a device-dependent bitmap are word aligned.
    const size_t stride = ((static_cast<size_t>(size.width) * bits + 15) / 16) * 2;
    std::vector<uint8_t> rows(stride * static_cast<size_t>(size.height), 0);
    FillRows(rows.data(), stride, bits, size, picture.expected);
    picture.bitmap.reset(CreateBitmap(size.width, size.height, 1, bits, rows.data()));
  }
  return picture;
}

class HostBitmapDepth : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(plugin.Loaded());
    ASSERT_TRUE(StoreNeutralSettings(kDepthPrinter));
  }
  LoadedPlugin plugin;
};

TEST_F(HostBitmapDepth, OnlyOneAndTwentyFourBitsArePrintedEveryOtherDepthFailsWith401) {
  const logfiles::LogFiles log = logfiles::Files();
  const Size sizes[] = {{3, 437}, {40, 20}, {1, 1}, {437, 3}};
  const WORD depths[] = {1, 4, 8, 16, 24, 32};
  for (const Kind kind : {Kind::DibSection, Kind::DeviceDependent}) {
    for (const Size size : sizes) {
      SCOPED_TRACE((kind == Kind::DibSection ? "DIB section " : "device-dependent ") + std::to_string(size.width) +
                   " x " + std::to_string(size.height));
      HostSession host(plugin, kDepthPrinter, L"depth.prn");
      ASSERT_TRUE(host.Ready());
      std::vector<RgbImage> expected;
      for (const WORD bits : depths) {
        SCOPED_TRACE(std::to_string(bits) + " bits");
        const DepthPicture picture = MakePicture(kind, bits, size);
        ASSERT_TRUE(picture.bitmap);
        BITMAP described{};
        ASSERT_EQ(GetObjectW(picture.bitmap.get(), sizeof described, &described), int{sizeof described});
        ASSERT_EQ(described.bmBitsPixel, bits) << "GDI made another depth than asked for";

        // Every job starts afresh, also the one after a refusal.
        host.Initialize();
        ASSERT_TRUE(host.Header(kDepthPageWidth, kDepthPageLength));
        const size_t logged = logfiles::ReadAll(log.file).size();
        UniqueScreenDc screen(GetDC(nullptr));
        const bool sent = host.T().sendBitmap(host.Object(), screen.get(), picture.bitmap.get(), "START01");
        const std::string added = logfiles::ReadAll(log.file).substr(logged);
        if (Printable(bits)) {
          EXPECT_TRUE(sent);
          EXPECT_EQ(added, "");
          EXPECT_TRUE(host.StartLabel(0, 0));
          RgbImage label = RgbImage::White(kDepthPageWidth, kDepthPageLength);
          Blit(label, picture.expected, 0, 0);
          expected.push_back(label);
          EXPECT_TRUE(host.Write());
        } else {
          EXPECT_FALSE(sent);
          const std::vector<std::string> lines = logfiles::SplitLines(added);
          ASSERT_EQ(lines.size(), 1u);
          EXPECT_TRUE(logfiles::IsLogLine(lines[0], "lpxSendBitmap", "ERROR: 401"));
          EXPECT_FALSE(host.StartLabel(0, 0));  // the job failed: nothing was taken
          EXPECT_FALSE(host.Write());
        }
      }
      const PrintedJob job = host.Finish();
      ASSERT_FALSE(job.parsed.error) << job.parsed.error->message;
      ASSERT_FALSE(job.check.error) << job.check.error->message;
      ASSERT_EQ(job.labels.size(), expected.size());
      for (size_t i = 0; i < expected.size(); ++i) EXPECT_TRUE(SameLabel(job.labels[i], expected[i])) << i;
    }
  }
}

}  // namespace

namespace {

TEST_F(HostBitmapDepth, HandlesThatAreNoLongerOrNeverWereBitmapsFailWith401) {
  const logfiles::LogFiles log = logfiles::Files();
  HostSession host(plugin, kDepthPrinter, L"not-bitmaps.prn");
  ASSERT_TRUE(host.Ready());
  HBITMAP deleted = CreateBitmap(8, 8, 1, 1, nullptr);
  ASSERT_NE(deleted, nullptr);
  DeleteObject(deleted);
  UniqueFont font(CreateFontW(20, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0, 0, L"Arial"));
  UniqueAny<handle_traits::GdiObject<HBRUSH>> brush(CreateSolidBrush(RGB(1, 2, 3)));
  ASSERT_TRUE(font && brush);
  struct Case {
    const char* what;
    HGDIOBJ handle;
  } cases[] = {{"deleted bitmap", deleted}, {"font", font.get()}, {"brush", brush.get()}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    host.Initialize();
    ASSERT_TRUE(host.Header(kDepthPageWidth, kDepthPageLength));
    const size_t logged = logfiles::ReadAll(log.file).size();
    UniqueScreenDc screen(GetDC(nullptr));
    EXPECT_FALSE(host.T().sendBitmap(host.Object(), screen.get(), static_cast<HBITMAP>(c.handle), "START01"));
    const std::vector<std::string> lines = logfiles::SplitLines(logfiles::ReadAll(log.file).substr(logged));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(logfiles::IsLogLine(lines[0], "lpxSendBitmap", "ERROR: 401"));
  }
  // The object takes a real bitmap in the next job.
  const DepthPicture picture = MakePicture(Kind::DibSection, 24, {40, 20});
  host.Initialize();
  ASSERT_TRUE(host.Header(kDepthPageWidth, kDepthPageLength));
  UniqueScreenDc screen(GetDC(nullptr));
  EXPECT_TRUE(host.T().sendBitmap(host.Object(), screen.get(), picture.bitmap.get(), "START01"));
  EXPECT_TRUE(host.StartLabel(0, 0));
}

}  // namespace

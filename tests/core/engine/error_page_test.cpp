#include <gtest/gtest.h>
#include <png.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/print_control.h"
#include "support/native/engine_access.h"
#include "support/native/fakes.h"

namespace {

// The error page as the printer would show it: every band decoded and
// painted at its recall position; `shape` lists the commands with each band
// written "[x,y wxh]".
struct PrintedPage {
  int32_t width = 0, height = 0;
  std::vector<uint8_t> rgb;  // starts grey, so that unpainted pixels show
  std::string shape;

  PrintedPage(int32_t w, int32_t h) : width(w), height(h), rgb(static_cast<size_t>(w) * h * 3, 128) {}

  void Read(const std::string& s) {
    size_t at = 0;
    constexpr std::string_view kDownload = "~DYR:DIFF,B,P,";
    while (at < s.size()) {
      if (s.compare(at, kDownload.size(), kDownload) != 0) {
        shape.push_back(s[at++]);
        continue;
      }
      at += kDownload.size();
      size_t used = 0;
      const size_t count = std::stoul(s.substr(at, 20), &used);
      at += used + 3;  // ",0,"
      png_image image{};
      image.version = PNG_IMAGE_VERSION;
      ASSERT_TRUE(png_image_begin_read_from_memory(&image, s.data() + at, count));
      image.format = PNG_FORMAT_RGB;
      std::vector<uint8_t> band(PNG_IMAGE_SIZE(image));
      ASSERT_TRUE(png_image_finish_read(&image, nullptr, band.data(), 0, nullptr));
      at += count;
      int x = 0, y = 0, n = 0;
      ASSERT_EQ(std::sscanf(s.c_str() + at, "^FO%d,%d^IMR:DIFF.PNG^FS%n", &x, &y, &n), 2);
      at += static_cast<size_t>(n);
      shape += "[" + std::to_string(x) + "," + std::to_string(y) + " " + std::to_string(image.width) + "x" +
               std::to_string(image.height) + "]";
      for (uint32_t row = 0; row < image.height; ++row) {
        ASSERT_LE(y + row, static_cast<uint32_t>(height));
        ASSERT_LE(x + image.width, static_cast<uint32_t>(width));
        std::copy_n(&band[size_t{row} * image.width * 3], image.width * 3, &rgb[((y + row) * width + x) * 3]);
      }
    }
  }
  // True when every pixel of the rectangle has the grey value `v` in all three channels.
  bool Filled(int32_t x, int32_t y, int32_t w, int32_t h, uint8_t v) const {
    for (int32_t j = y; j < y + h; ++j)
      for (int32_t i = x * 3; i < (x + w) * 3; ++i)
        if (rgb[static_cast<size_t>(j) * width * 3 + i] != v) return false;
    return true;
  }
};

class ErrorPrintOut : public testing::Test {
 protected:
  MemoryPrinter printer;
  FixedClock clock;
  BlockTextRenderer text;
  RecordingLog log;
  std::unique_ptr<CPrintControl> engine = std::make_unique<CPrintControl>(360, printer, JobServices{clock, text, log});

  ResultCode Header(int32_t width, int32_t length) {
    const int32_t header[2] = {width, length};
    return engine->WritePrintJobHeader(header);
  }
  // The second write: the page format of the error label.
  std::string PageWrite() const {
    EXPECT_EQ(printer.sends.size(), 2u);
    return printer.OutputText().substr(printer.sends.empty() ? 0 : printer.sends[0]);
  }
};

TEST_F(ErrorPrintOut, ThePageIsWhiteWithTheMessageAt57) {
  ASSERT_EQ(Header(2000, 1000), 102);
  PrintedPage page(1587, 212);
  page.Read(PageWrite());
  // "ERROR: Invalid Paper Size": 25 characters of 8 x 10 black blocks.
  EXPECT_EQ(page.shape, "^XA[0,0 1587x212][57,57 200x10]^XZ");
  EXPECT_TRUE(page.Filled(57, 57, 200, 10, 0));
  EXPECT_TRUE(page.Filled(0, 0, 1587, 57, 255));
  EXPECT_TRUE(page.Filled(0, 67, 1587, 145, 255));
  EXPECT_TRUE(page.Filled(0, 57, 57, 10, 255));
  EXPECT_TRUE(page.Filled(257, 57, 1330, 10, 255));

  // The line feed of the cutting message makes a second line.
  printer.output.clear();
  printer.sends.clear();
  engine = std::make_unique<CPrintControl>(360, printer, JobServices{clock, text, log});
  ASSERT_EQ(Header(1000, 211), 102);
  PrintedPage twoLines(1000, 212);
  twoLines.Read(PageWrite());
  EXPECT_EQ(twoLines.shape, "^XA[0,0 1000x212][57,57 200x20]^XZ");
  EXPECT_TRUE(twoLines.Filled(57, 57, 48, 20, 0));
  EXPECT_EQ(text.rendered.back(), u"ERROR:\nPaper is too short to cut");
}

TEST_F(ErrorPrintOut, TheImageIsResetAndNothingElseOfTheEngineChanges) {
  // A first job on this engine leaves a composed 2 x 3 base behind.
  ASSERT_EQ(Header(1000, 1000), 0);
  LayoutData layout;
  ChangeLayout(*engine, layout, [&](LayoutData& l) { l.labelRows = 2; });
  ChangeLayout(*engine, layout, [&](LayoutData& l) { l.labelColumns = 3; });
  ChangeLayout(*engine, layout, [&](LayoutData& l) { l.horizontalPitch = 254; });
  ChangeLayout(*engine, layout, [&](LayoutData& l) { l.verticalPitch = 254; });
  struct Bitmap : HostBitmap {
    ResultCode Read(DibRows& rows) noexcept override {
      rows = {4, 4, 24, std::vector<uint8_t>(48, 0)};
      return 0;
    }
  } bitmap;
  ASSERT_EQ(engine->ReceiveBitmap(bitmap, "BASE01"), 0);
  engine->CreateNewPage();
  const DotPoint at{10, 10};
  ASSERT_EQ(engine->ReferToBaseBitmap(at), 0);
  ASSERT_EQ(engine->CloseNewPageStatic(2), 0);
  ASSERT_EQ(engine->SendToPrinter(), 0);
  ASSERT_EQ(engine->ReceiveBitmap(bitmap, "BASE01"), 0);
  printer.sends.clear();

  // The next job does not fit: the error page goes out and the image is emptied.
  EXPECT_EQ(Header(3000, 1000), 102);
  EXPECT_EQ(printer.sends.size(), 2u);
  EXPECT_FALSE(engine->HasBase());
  EXPECT_EQ(engine->Page().Grid().cell.width, 0);
  const size_t printed = printer.output.size();
  EXPECT_EQ(Written(*engine, printer).size(), printed);  // nothing of the print-out stays unwritten
  // The job's own counts stay: a further base reference sends nothing, and
  // the page's close still adds its one extra copy.
  ASSERT_EQ(engine->ReferToBaseBitmap(at), 0);
  EXPECT_EQ(Written(*engine, printer).size(), printed);
  ASSERT_EQ(engine->CloseNewPageFinal(), 0);
  Written(*engine, printer);
  EXPECT_TRUE(printer.OutputText().ends_with("^XZ^XA^C(L^C(S^XZ")) << printer.OutputText().substr(printed, 40);
  // The waiting bitmap went with the images: a new one is taken.
  EXPECT_EQ(engine->ReceiveBitmap(bitmap, "BASE01"), 0);
}

TEST_F(ErrorPrintOut, ARefusedPageWriteLeavesNoUnfinishedFormat) {
  // The set-up goes out, the page format is refused: nothing of it may stay
  // ahead of the forced job's own set-up.
  size_t calls = 0;
  printer.writeBehaviour = [&calls](uint32_t, uint32_t&) { return ++calls == 1; };
  printer.Set(u"ForcePrinting", 1);
  EXPECT_EQ(Header(2000, 1000), 0);
  ASSERT_EQ(printer.sends.size(), 2u);
  EXPECT_EQ(printer.output.size(), printer.sends[0]);
  printer.writeBehaviour = nullptr;
  const size_t printed = printer.output.size();
  Written(*engine, printer);
  const std::string buffer = printer.OutputText().substr(printed);
  EXPECT_EQ(buffer.rfind("^XA^FXLTCommand^FS^XZ^XA^S(CLM,T,M2^S(CLS,P,1587^S(CLS,L,1000^", 0), 0u);
  EXPECT_EQ(buffer.find("~DYR"), std::string::npos);
  EXPECT_TRUE(buffer.ends_with("^C(D^XZ")) << buffer;
}

}  // namespace

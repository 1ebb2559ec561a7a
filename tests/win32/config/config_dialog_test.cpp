// The configuration dialog under Wine's real user32: defaults, the rules of
// each section driven by the controls' own notifications, saving, and the
// plug-in's configuration operation around it.
#include <windows.h>
#include <commctrl.h>
#include <winspool.h>

#include <gtest/gtest.h>

#include "resources/resource_ids.h"
#include "config/win32/config_dialog.h"
#include "frame/win32/module_state.h"
#include "support/win32/test_printer.h"
#include "win32/config/dialog_driver.h"

namespace {

constexpr const wchar_t* kDll = L"QVR_PLUGIN_ZK-R41x0.dll";
std::wstring kPrinter;  // a fresh printer without data for every test

HMODULE PluginModule() {
  static HMODULE module = [] {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    return LoadLibraryW(kDll);
  }();
  return module;
}

std::optional<uint32_t> Stored(const wchar_t* name) { return ReadTestSetting(kPrinter, name); }

class ConfigDialog : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(PluginModule(), nullptr);
    kPrinter = FreshTestPrinterName(L"QVR Config Dialog Test");
    ASSERT_EQ(InstallTestPrinter(kPrinter), kPrinter);
  }
  void TearDown() override { RemoveTestPrinter(kPrinter); }

  // Opens the dialog as the configuration operation does, on an admin handle.
  DialogRun Open(const std::function<void(HWND)>& script, bool validPrinter = true) {
    PRINTER_DEFAULTSW defaults{nullptr, nullptr, PRINTER_ACCESS_ADMINISTER};
    HANDLE printer = nullptr;
    if (validPrinter) {
      EXPECT_TRUE(OpenPrinterW(const_cast<wchar_t*>(kPrinter.c_str()), &printer, &defaults));
    }
    module_state::ConfigPrinterHandle() = printer;
    DialogRun run = DriveModal(
        [] { return DialogBoxParamW(PluginModule(), MAKEINTRESOURCEW(IDD_CONFIG), nullptr, ConfigDialogProc, 0); },
        script);
    module_state::ConfigPrinterHandle() = nullptr;
    if (printer != nullptr) ClosePrinter(printer);
    return run;
  }
};

auto PressOk = [](HWND dialog) { SendMessageW(dialog, WM_COMMAND, IDOK, 0); };

TEST_F(ConfigDialog, ShowsTheDefaultsForAPrinterWithoutDataAndOkSavesAllTwelve) {
  const DialogRun run = Open([](HWND d) {
    wchar_t caption[64] = {};
    GetWindowTextW(d, caption, 64);
    EXPECT_STREQ(caption, L"ZK-R41x0 Configuration");
    EXPECT_EQ(TextOf(d, IDC_PRINT_ERRORS), L"Print out error messages\non the paper");
    EXPECT_EQ(TextOf(d, IDC_CUT_GROUP), L"Settings for Paper Handling After Print");
    EXPECT_EQ(SendDlgItemMessageW(d, IDC_MEDIA_LIST, CB_GETCOUNT, 0, 0), 6);
    EXPECT_EQ(TextOf(d, IDC_MEDIA_LIST), L"Matte Paper2");
    EXPECT_EQ(SliderPos(d), 0);
    EXPECT_EQ(SendDlgItemMessageW(d, IDC_QUALITY_SLIDER, TBM_GETRANGEMAX, 0, 0), 1);
    EXPECT_TRUE(IsEnabled(d, IDC_QUALITY_SLIDER));
    EXPECT_TRUE(IsCheckedBox(d, IDC_BIDIRECTIONAL));
    EXPECT_TRUE(IsCheckedBox(d, IDC_BANDING_REDUCTION));
    EXPECT_TRUE(IsEnabled(d, IDC_BANDING_REDUCTION));
    EXPECT_TRUE(IsCheckedBox(d, IDC_AUTO_CUT));
    EXPECT_EQ(TextOf(d, IDC_CUT_TIMING), L"After Every Page");
    EXPECT_EQ(TextOf(d, IDC_CUT_INTERVAL), L"");
    EXPECT_FALSE(IsEnabled(d, IDC_CUT_INTERVAL));
    EXPECT_FALSE(IsEnabled(d, IDC_CUT_INTERVAL_LABEL));
    EXPECT_EQ(TextOf(d, IDC_VERTICAL_EDIT), L"0.0");
    EXPECT_EQ(TextOf(d, IDC_HORIZONTAL_EDIT), L"0.0");
    EXPECT_EQ(TextOf(d, IDC_VERTICAL_RANGE), L"(-1016.0 - 1016.0)");
    EXPECT_EQ(TextOf(d, IDC_HORIZONTAL_RANGE), L"(-103.9 - 103.9)");
    EXPECT_TRUE(IsCheckedBox(d, IDC_UNIT_MM));
    EXPECT_FALSE(IsCheckedBox(d, IDC_UNIT_INCH));
    EXPECT_TRUE(IsCheckedBox(d, IDC_PRINT_ERRORS));
    EXPECT_FALSE(IsCheckedBox(d, IDC_FORCE_PRINTING));
    EXPECT_FALSE(IsEnabled(d, IDC_FORCE_PRINTING));
    EXPECT_EQ(CountTestSettings(kPrinter), 0);  // nothing before OK
    PressOk(d);
  });
  ASSERT_TRUE(run.scriptRan);
  EXPECT_EQ(run.result, 1);
  EXPECT_TRUE(run.messages.empty());
  EXPECT_EQ(CountTestSettings(kPrinter), 12);
  EXPECT_EQ(Stored(L"MediaType"), 2u);
  EXPECT_EQ(Stored(L"PrintQuality"), 0u);
  EXPECT_EQ(Stored(L"Bi-d"), 1u);
  EXPECT_EQ(Stored(L"BandR"), 1u);
  EXPECT_EQ(Stored(L"VOffset"), 0u);
  EXPECT_EQ(Stored(L"Unit"), 0u);
  EXPECT_EQ(Stored(L"PrintError"), 1u);
  EXPECT_EQ(Stored(L"ForcePrinting"), 0u);
  EXPECT_EQ(Stored(L"AutoCut"), 1u);
  EXPECT_EQ(Stored(L"CutTiming"), 0u);
  EXPECT_EQ(Stored(L"CutInterval"), 1u);
}

TEST_F(ConfigDialog, CancelEscapeAndCloseBoxWriteNothing) {
  const std::function<void(HWND)> closers[] = {
      [](HWND d) { Click(d, IDCANCEL); },
      [](HWND d) {
        SetFocus(GetDlgItem(d, IDC_VERTICAL_EDIT));
        PostMessageW(GetDlgItem(d, IDC_VERTICAL_EDIT), WM_KEYDOWN, VK_ESCAPE, 0);
      },
      [](HWND d) { SendMessageW(d, WM_SYSCOMMAND, SC_CLOSE, 0); },
  };
  for (const auto& close : closers) {
    const DialogRun run = Open([&](HWND d) {
      SelectInList(d, IDC_MEDIA_LIST, 0);
      Click(d, IDC_NO_AUTO_CUT);
      close(d);
    });
    EXPECT_EQ(run.result, 2);
    EXPECT_EQ(CountTestSettings(kPrinter), 0);
  }
}

TEST_F(ConfigDialog, MediaListAndSliderKeepTheirRules) {
  ASSERT_TRUE(StoreTestSetting(kPrinter, L"MediaType", 1));
  ASSERT_TRUE(StoreTestSetting(kPrinter, L"Bi-d", 0));
  const DialogRun run = Open([](HWND d) {
    HWND slider = GetDlgItem(d, IDC_QUALITY_SLIDER);
    PressKey(slider, VK_RIGHT);  // to Quality: banding checked and greyed
    ASSERT_EQ(SliderPos(d), 1);
    EXPECT_TRUE(IsCheckedBox(d, IDC_BANDING_REDUCTION));
    EXPECT_FALSE(IsEnabled(d, IDC_BANDING_REDUCTION));

    SelectInList(d, IDC_MEDIA_LIST, 5);  // Glossy Paper: back to Speed
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);  // the posted position
    EXPECT_EQ(SliderPos(d), 0);
    EXPECT_TRUE(IsCheckedBox(d, IDC_BANDING_REDUCTION));
    EXPECT_TRUE(IsEnabled(d, IDC_BANDING_REDUCTION));

    Click(d, IDC_BANDING_REDUCTION);  // the user may clear it at Speed
    EXPECT_FALSE(IsCheckedBox(d, IDC_BANDING_REDUCTION));

    SelectInList(d, IDC_MEDIA_LIST, 0);  // Plain Paper greys everything
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
    EXPECT_FALSE(IsEnabled(d, IDC_QUALITY_SLIDER));
    EXPECT_FALSE(IsEnabled(d, IDC_SPEED_LABEL));
    EXPECT_FALSE(IsEnabled(d, IDC_QUALITY_LABEL));
    EXPECT_FALSE(IsCheckedBox(d, IDC_BANDING_REDUCTION));
    EXPECT_FALSE(IsEnabled(d, IDC_BANDING_REDUCTION));
    EXPECT_FALSE(IsCheckedBox(d, IDC_BIDIRECTIONAL));  // never touched by the rules
    SelectInList(d, IDC_MEDIA_LIST, 0);                // the same media again changes nothing

    SelectInList(d, IDC_MEDIA_LIST, 2);  // Matte Paper2 frees them again
    EXPECT_TRUE(IsEnabled(d, IDC_QUALITY_SLIDER));
    EXPECT_TRUE(IsEnabled(d, IDC_SPEED_LABEL));
    EXPECT_TRUE(IsCheckedBox(d, IDC_BANDING_REDUCTION));
    EXPECT_TRUE(IsEnabled(d, IDC_BANDING_REDUCTION));
    PressOk(d);
  });
  ASSERT_TRUE(run.scriptRan);
  EXPECT_TRUE(run.messages.empty());
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(Stored(L"MediaType"), 2u);
  EXPECT_EQ(Stored(L"PrintQuality"), 0u);
  EXPECT_EQ(Stored(L"Bi-d"), 0u);
  EXPECT_EQ(Stored(L"BandR"), 1u);
}

TEST_F(ConfigDialog, StoredPlainPaperAtQualityStaysGreyAndIsSavedAsStored) {
  ASSERT_TRUE(StoreTestSetting(kPrinter, L"MediaType", 0));
  ASSERT_TRUE(StoreTestSetting(kPrinter, L"PrintQuality", 1));
  const DialogRun run = Open([](HWND d) {
    EXPECT_EQ(SliderPos(d), 1);
    EXPECT_FALSE(IsEnabled(d, IDC_QUALITY_SLIDER));
    EXPECT_FALSE(IsCheckedBox(d, IDC_BANDING_REDUCTION));
    PressOk(d);
  });
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(Stored(L"PrintQuality"), 1u);
  EXPECT_EQ(Stored(L"BandR"), 0u);
}

TEST_F(ConfigDialog, AutoCutShowsHidesAndCorrectsTheInterval) {
  ASSERT_TRUE(StoreTestSetting(kPrinter, L"AutoCut", 0));
  ASSERT_TRUE(StoreTestSetting(kPrinter, L"CutTiming", 2));
  ASSERT_TRUE(StoreTestSetting(kPrinter, L"CutInterval", 5));
  const DialogRun run = Open([](HWND d) {
    EXPECT_TRUE(IsCheckedBox(d, IDC_NO_AUTO_CUT));
    EXPECT_EQ(Selection(d, IDC_CUT_TIMING), -1);
    EXPECT_FALSE(IsEnabled(d, IDC_CUT_TIMING));
    EXPECT_EQ(TextOf(d, IDC_CUT_INTERVAL), L"");
    EXPECT_FALSE(IsEnabled(d, IDC_CUT_INTERVAL));

    Click(d, IDC_AUTO_CUT);
    EXPECT_EQ(Selection(d, IDC_CUT_TIMING), 2);
    EXPECT_EQ(TextOf(d, IDC_CUT_INTERVAL), L"5");
    EXPECT_TRUE(IsEnabled(d, IDC_CUT_INTERVAL));
    EXPECT_TRUE(IsEnabled(d, IDC_CUT_INTERVAL_LABEL));
    Click(d, IDC_AUTO_CUT);  // already checked: nothing changes
    EXPECT_TRUE(IsEnabled(d, IDC_CUT_INTERVAL));

    TypeAndLeave(d, IDC_CUT_INTERVAL, L"0");
    EXPECT_EQ(TextOf(d, IDC_CUT_INTERVAL), L"1");
    TypeAndLeave(d, IDC_CUT_INTERVAL, L"999");
    EXPECT_EQ(TextOf(d, IDC_CUT_INTERVAL), L"255");
    TypeAndLeave(d, IDC_CUT_INTERVAL, L"");
    EXPECT_EQ(TextOf(d, IDC_CUT_INTERVAL), L"1");
    TypeAndLeave(d, IDC_CUT_INTERVAL, L"42");

    SelectInList(d, IDC_CUT_TIMING, 1);
    EXPECT_EQ(TextOf(d, IDC_CUT_INTERVAL), L"");
    EXPECT_FALSE(IsEnabled(d, IDC_CUT_INTERVAL));
    SelectInList(d, IDC_CUT_TIMING, 2);
    EXPECT_EQ(TextOf(d, IDC_CUT_INTERVAL), L"42");

    Click(d, IDC_NO_AUTO_CUT);
    EXPECT_EQ(Selection(d, IDC_CUT_TIMING), -1);
    EXPECT_FALSE(IsEnabled(d, IDC_CUT_INTERVAL));
    PressOk(d);
  });
  ASSERT_TRUE(run.scriptRan);
  EXPECT_TRUE(run.messages.empty());
  EXPECT_EQ(Stored(L"AutoCut"), 0u);
  EXPECT_EQ(Stored(L"CutTiming"), 2u);
  EXPECT_EQ(Stored(L"CutInterval"), 42u);
}

TEST_F(ConfigDialog, IntervalIsCorrectedOnOkWithoutLeavingTheBox) {
  ASSERT_TRUE(StoreTestSetting(kPrinter, L"CutTiming", 2));
  ASSERT_TRUE(StoreTestSetting(kPrinter, L"CutInterval", 0));
  const DialogRun run = Open([](HWND d) {
    EXPECT_EQ(TextOf(d, IDC_CUT_INTERVAL), L"0");
    SetDlgItemTextW(d, IDC_CUT_INTERVAL, L"0");
    PressOk(d);
  });
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(Stored(L"CutInterval"), 1u);
}

TEST_F(ConfigDialog, PositionValuesAreRoundedClampedAndConverted) {
  const DialogRun run = Open([](HWND d) {
    TypeAndLeave(d, IDC_VERTICAL_EDIT, L"1.25");
    EXPECT_EQ(TextOf(d, IDC_VERTICAL_EDIT), L"1.3");
    TypeAndLeave(d, IDC_VERTICAL_EDIT, L"2000");
    EXPECT_EQ(TextOf(d, IDC_VERTICAL_EDIT), L"1016.0");
    TypeAndLeave(d, IDC_HORIZONTAL_EDIT, L"12abc");
    EXPECT_EQ(TextOf(d, IDC_HORIZONTAL_EDIT), L"12.0");
    EXPECT_EQ(SendDlgItemMessageW(d, IDC_VERTICAL_EDIT, EM_GETLIMITTEXT, 0, 0), 7);
    EXPECT_EQ(SendDlgItemMessageW(d, IDC_HORIZONTAL_EDIT, EM_GETLIMITTEXT, 0, 0), 6);

    Click(d, IDC_UNIT_INCH);
    EXPECT_EQ(TextOf(d, IDC_VERTICAL_EDIT), L"40.00");
    EXPECT_EQ(TextOf(d, IDC_VERTICAL_RANGE), L"(-40.00 - 40.00)");
    EXPECT_EQ(TextOf(d, IDC_HORIZONTAL_RANGE), L"(-4.09 - 4.09)");
    TypeAndLeave(d, IDC_HORIZONTAL_EDIT, L"-5");
    EXPECT_EQ(TextOf(d, IDC_HORIZONTAL_EDIT), L"-4.09");
    TypeAndLeave(d, IDC_VERTICAL_EDIT, L"0.006");
    EXPECT_EQ(TextOf(d, IDC_VERTICAL_EDIT), L"0.01");
    PressOk(d);
  });
  ASSERT_TRUE(run.scriptRan);
  EXPECT_EQ(Stored(L"VOffset"), 3u);
  EXPECT_EQ(Stored(L"HOffset"), static_cast<uint32_t>(-1039));
  EXPECT_EQ(Stored(L"Unit"), 1u);
}

TEST_F(ConfigDialog, SmallValueShownInInchesIsSavedFromTheInchText) {
  ASSERT_TRUE(StoreTestSetting(kPrinter, L"VOffset", 2));
  ASSERT_TRUE(StoreTestSetting(kPrinter, L"HOffset", 5000));  // outside the limits
  ASSERT_TRUE(StoreTestSetting(kPrinter, L"Unit", 1));
  const DialogRun run = Open([](HWND d) {
    EXPECT_TRUE(IsCheckedBox(d, IDC_UNIT_INCH));
    EXPECT_EQ(TextOf(d, IDC_VERTICAL_EDIT), L"0.01");
    EXPECT_EQ(TextOf(d, IDC_HORIZONTAL_EDIT), L"4.09");
    PressOk(d);
  });
  EXPECT_EQ(Stored(L"VOffset"), 3u);
  EXPECT_EQ(Stored(L"HOffset"), 1039u);
}

TEST_F(ConfigDialog, StoredValuesTheListsCannotShowCancelTheDialog) {
  ASSERT_TRUE(StoreTestSetting(kPrinter, L"MediaType", 6));
  DialogRun run = Open([](HWND) {});
  EXPECT_EQ(run.result, 2);
  EXPECT_EQ(run.messages, std::vector<std::wstring>{L"Initialize Error"});

  RemoveTestPrinter(kPrinter);
  kPrinter = FreshTestPrinterName(L"QVR Config Dialog Test");
  ASSERT_EQ(InstallTestPrinter(kPrinter), kPrinter);
  ASSERT_TRUE(StoreTestSetting(kPrinter, L"CutTiming", 5));
  run = Open([](HWND) {});
  EXPECT_EQ(run.result, 2);
  EXPECT_EQ(run.messages, std::vector<std::wstring>{L"Initialize Error"});
  EXPECT_EQ(CountTestSettings(kPrinter), 1);

  // With auto cut off the dialog opens; switching it on cannot select timing 5.
  ASSERT_TRUE(StoreTestSetting(kPrinter, L"AutoCut", 0));
  run = Open([](HWND d) { Click(d, IDC_AUTO_CUT); });
  EXPECT_TRUE(run.scriptRan);
  EXPECT_EQ(run.result, 2);
  EXPECT_EQ(run.messages, std::vector<std::wstring>{L"Settings Error"});
  EXPECT_EQ(CountTestSettings(kPrinter), 2);
}

TEST_F(ConfigDialog, ErrorPrintOutExcludesForcePrinting) {
  ASSERT_TRUE(StoreTestSetting(kPrinter, L"PrintError", 1));
  ASSERT_TRUE(StoreTestSetting(kPrinter, L"ForcePrinting", 1));
  DialogRun run = Open([](HWND d) {
    EXPECT_FALSE(IsCheckedBox(d, IDC_FORCE_PRINTING));
    EXPECT_FALSE(IsEnabled(d, IDC_FORCE_PRINTING));
    Click(d, IDC_PRINT_ERRORS);  // off: force printing becomes available, unchecked
    EXPECT_TRUE(IsEnabled(d, IDC_FORCE_PRINTING));
    EXPECT_FALSE(IsCheckedBox(d, IDC_FORCE_PRINTING));
    Click(d, IDC_FORCE_PRINTING);
    EXPECT_TRUE(IsCheckedBox(d, IDC_FORCE_PRINTING));
    Click(d, IDC_PRINT_ERRORS);  // on again: force printing cleared and greyed
    EXPECT_FALSE(IsCheckedBox(d, IDC_FORCE_PRINTING));
    EXPECT_FALSE(IsEnabled(d, IDC_FORCE_PRINTING));
    PressOk(d);
  });
  EXPECT_EQ(Stored(L"PrintError"), 1u);
  EXPECT_EQ(Stored(L"ForcePrinting"), 0u);

  run = Open([](HWND d) {
    Click(d, IDC_PRINT_ERRORS);
    Click(d, IDC_FORCE_PRINTING);
    PressOk(d);
  });
  EXPECT_EQ(Stored(L"PrintError"), 0u);
  EXPECT_EQ(Stored(L"ForcePrinting"), 1u);
}

TEST_F(ConfigDialog, RefusedSaveIsReportedAndStillEndsWithOk) {
  // Without a usable printer handle every read gives its default and every write fails.
  const DialogRun run = Open(PressOk, /*validPrinter=*/false);
  EXPECT_TRUE(run.scriptRan);
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(run.messages, std::vector<std::wstring>{L"Config save failed"});
}

// The configuration operation (slot 1) called the way the host calls it.
using CreateFn = void* (*)();
using DeleteFn = void (*)(void*);
using ConfigFn = int32_t (*)(void* self, const wchar_t* printerName);

int32_t CallConfigPlugin(const wchar_t* printerName, const std::function<void(HWND)>& script,
                         std::vector<std::wstring>& messages) {
  const auto create = reinterpret_cast<CreateFn>(GetProcAddress(PluginModule(), "CreatePluginObject"));
  const auto destroy = reinterpret_cast<DeleteFn>(GetProcAddress(PluginModule(), "DeletePluginObject"));
  EXPECT_NE(create, nullptr);
  EXPECT_NE(destroy, nullptr);
  if (create == nullptr || destroy == nullptr) return -1;
  void* object = create();
  void** table = *static_cast<void***>(object);
  const auto config = reinterpret_cast<ConfigFn>(table[1]);
  int32_t answer = -1;
  const DialogRun run = DriveModal(
      [&] {
        answer = config(object, printerName);
        return INT_PTR{0};
      },
      script);
  messages = run.messages;
  destroy(object);
  return answer;
}

TEST_F(ConfigDialog, ConfigurationOperationOpensTheNamedPrinter) {
  std::vector<std::wstring> messages;
  EXPECT_EQ(CallConfigPlugin(
                L"No Such Printer Here", [](HWND) {}, messages),
            1);
  EXPECT_EQ(messages, std::vector<std::wstring>{L"Cannot open the printer"});

  EXPECT_EQ(CallConfigPlugin(
                kPrinter.c_str(), [](HWND d) { Click(d, IDCANCEL); }, messages),
            0);
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(CountTestSettings(kPrinter), 0);

  EXPECT_EQ(CallConfigPlugin(
                kPrinter.c_str(),
                [](HWND d) {
                  SelectInList(d, IDC_MEDIA_LIST, 4);
                  Click(d, IDOK);
                },
                messages),
            0);
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(Stored(L"MediaType"), 4u);
  EXPECT_EQ(CountTestSettings(kPrinter), 12);
}

}  // namespace

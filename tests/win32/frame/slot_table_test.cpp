// Every slot of the host's table reaches the operation of its place: each
// operation announces itself on the debugger output before anything else.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "host/plugin_abi.h"
#include "support/win32/debug_trace_listener.h"

namespace {

TEST(SlotTable, EverySlotAnswersWithItsOwnOperation) {
  DebugTraceListener traces;
  ASSERT_TRUE(traces.Listening());
  // The DLL announces itself when it is loaded, which is here unless a test
  // before this one keeps it loaded (the dialog's tests do, for the process).
  const bool loadedHere = GetModuleHandleW(L"QVR_PLUGIN_ZK-R41x0.dll") == nullptr;
  LoadedPlugin plugin;
  ASSERT_TRUE(plugin.Loaded());
  HostPluginObject* object = plugin.Create();
  ASSERT_NE(object, nullptr);
  const HostPluginVtbl& t = *object->vtbl;
  const HostDotPoint at{0, 0};

  // In the Created state every checked operation is refused right after its trace,
  // and a printer that cannot be opened only shows a message box (not reached here:
  // slot 1 is covered by the configuration tests).
  t.initialize(object, nullptr, nullptr, nullptr);
  t.sendBitmap(object, nullptr, nullptr, nullptr);
  t.createNewPage(object);
  t.referToBaseBitmap(object, &at);
  t.referToVariableBitmap(object, "V", &at);
  t.closeNewPageStatic(object, 1);
  t.closeNewPageDynamic(object, 1);
  t.closeNewPageFinal(object);
  t.writePrintJobHeader(object, nullptr);
  t.addEmptyPage(object);
  t.referToEndLabel(object, &at);
  t.referToStartLabel(object, &at);
  t.writeText(object, nullptr);
  t.referToBarcode(object, L"1", nullptr);
  t.writeRFID(object, nullptr);
  t.writeClock(object, L"12:00", &at, 20, L"Arial");
  t.sendLayoutData(object, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 0);
  t.eject(object, nullptr);
  t.clear(object);
  t.writePrinter(object);
  EXPECT_EQ(t.destructor(object, 1), static_cast<void*>(object));

  std::vector<std::string> expected = {"PluginNOVRA(): start\n",
                                       "lpxInitialize(): start\n",
                                       "lpxSendBitmap(): start\n",
                                       "lpxCreateNewPage(): start\n",
                                       "lpxReferToBaseBitmap(): start\n",
                                       "lpxReferToVariableBitmap(): start\n",
                                       "lpxCloseNewPageStatic(): start\n",
                                       "lpxCloseNewPageDynamic(): start\n",
                                       "lpxCloseNewPageFinal(): start\n",
                                       "lpxWritePrintJobHeader(): start\n",
                                       "lpxAddEmptyPage(): start\n",
                                       "lpxReferToEndLabel(): start\n",
                                       "lpxReferToStartLabel(): start\n",
                                       "lpxWriteText(): start\n",
                                       "lpxReferToBarcode(): start\n",
                                       "lpxWriteRFID(): start\n",
                                       "lpxWriteClock(): start\n",
                                       "lpxSendLayoutData(): start\n",
                                       "lpxEject(): start\n",
                                       "lpxClear(): start\n",
                                       "lpxWritePrinter(): start\n",
                                       "~PluginNOVRA(): start\n"};
  if (loadedHere) expected.insert(expected.begin(), "QVR_PLUGIN_ZK-R41x0.dllInitializing!\n");
  // The debugger output arrives asynchronously: wait for the last trace.
  std::vector<std::string> seen;
  for (int i = 0; i < 100 && (seen.empty() || seen.back() != expected.back()); ++i) {
    Sleep(20);
    for (std::string& text : traces.Take()) seen.push_back(std::move(text));
  }
  EXPECT_EQ(seen, expected);
}

}  // namespace

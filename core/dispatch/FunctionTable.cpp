#include "core/dispatch/FunctionTable.h"

#include "core/ipc/IpcCallbackMessage.h"

#include <algorithm>
#include <iterator>

namespace {

// Sorted by id, which nameOf relies on.
const FunctionTableEntry kEntries[] = {
    {1, "BcxDiscovery"},
    {2, "BcxGetClientId"},
    {3, "BcxGetDiscoveryDefaults"},
    {4, "BcxInitialize"},
    {5, "BcxRemoveTransport"},
    {6, "BcxSetDiscoveryDefaults"},
    {7, "BcxSetClientInfo"},
    {8, "BcxUninitialize"},
    {9, "BcxInstall"},
    {10, "BcxUninstall"},
    {11, "BcxResume"},
    {12, "BcxSuspend"},
    {13, "BcxAddTransport"},
    {14, "BcxAddMonitor"},
    {15, "BcxGetHostInfo"},
    {16, "BcxSetHostInfo"},
    {17, "BcxRegisterForSystemNotifications"},
    {18, "BcxUnregisterForSystemNotifications"},
    {19, "BcxCancelDiscovery"},
    {20, "BcxCancelJobPrinter"},
    {21, "BcxClosePrinter"},
    {22, "BcxDeletePrinter"},
    {23, "BcxEndJobPrinter"},
    {24, "BcxEnumPrinters"},
    {25, "BcxEnumSpecificPrinter"},
    {26, "BcxExchangeNpaPrinter"},
    {27, "BcxExchangeBidiPrinter"},
    {28, "BcxGetByteArrayPrinter"},
    {29, "BcxGetCachePrinter"},
    {30, "BcxGetCurrentStatePrinter"},
    {31, "BcxGetLongPrinter"},
    {32, "BcxGetStringPrinter"},
    {33, "BcxGetWideStringPrinter"},
    {34, "BcxOpenPrinter"},
    {35, "BcxRegisterForAlertsPrinter"},
    {36, "BcxRegisterForNotificationsPrinter"},
    {37, "BcxSetByteArrayPrinter"},
    {38, "BcxSetLongPrinter"},
    {39, "BcxSetStringPrinter"},
    {40, "BcxStartJobPrinter"},
    {41, "BcxStartJobPrinterW"},
    {42, "BcxUnregisterForAlertsPrinter"},
    {43, "BcxUnregisterForNotificationsPrinter"},
    {44, "BcxWritePrinter"},
    {45, "BcxValidatePortName"},
    {46, "BcxEnumWindowsPrinters"},
    {47, "BcxEnumSpecificScanner"},
    {48, "BcxEnumScanners"},
    {49, "BcxOpenScanner"},
    {50, "BcxStartJobScanner"},
    {51, "BcxEndJobScanner"},
    {52, "BcxCloseScanner"},
    {53, "BcxCancelJobScanner"},
    {54, "BcxExchangeDataScanner"},
    {55, "BcxGetStringScanner"},
    {56, "BcxGetLongScanner"},
    {57, "BcxDeleteScanner"},
    {58, "BcxRegisterForAsyncDataScanner"},
    {59, "BcxUnregisterForAsyncDataScanner"},
    {60, "BcxSetJobStringScanner"},
    {61, "BcxGetJobStringScanner"},
    {62, "BcxEnumWindowsScanners"},
    {63, "BcxGetCurrentStateScanner"},
    {66, "BcxEnumHids"},
    {67, "BcxEnumSpecificHid"},
    {68, "BcxOpenHid"},
    {69, "BcxCloseHid"},
    {70, "BcxDeleteHid"},
    {71, "BcxGetLongHid"},
    {72, "BcxGetStringHid"},
    {73, "BcxRegisterForReportsHid"},
    {74, "BcxUnregisterForReportsHid"},
    {75, "BcxRegisterForNotificationsHid"},
    {76, "BcxUnregisterForNotificationsHid"},
    {77, "BcxGetCurrentStateHid"},
    {78, "BcxEnumWindowsHids"},
    {79, "BcxFirewallAddPortException"},
    {80, "BcxFirewallRemovePortException"},
    {81, "BcxFirewallTestForPortException"},
    {82, "BcxFirewallAddProgramException"},
    {83, "BcxFirewallRemoveProgramException"},
    {84, "BcxFirewallTestForProgramException"},
    {85, "BcxFirewallIsEnabled"},
    {86, "BcxFirewallIsPresent"},
    {87, "BcxFirewallIsWindowsFirewallPresent"},
    {88, "BcxEnumCardReaders"},
    {89, "BcxEnumSpecificCardReader"},
    {90, "BcxOpenCardReader"},
    {91, "BcxCloseCardReader"},
    {92, "BcxExchangeBidiCardReader"},
    {93, "BcxRegisterForNotificationsCardReader"},
    {94, "BcxUnregisterForNotificationsCardReader"},
    {95, "BcxRegisterForReportsCardReader"},
    {96, "BcxUnregisterForReportsCardReader"},
    {97, "BcxRegisterForAsyncDataCardReader"},
    {98, "BcxUnregisterForAsyncDataCardReader"},
    {99, "BcxSetJobStringPrinter"},
    {100, "BcxSetStringScanner"},
    {101, "BcxOpenPrinterEx"},
    {IpcCallbackMessage::kFunctionId, "onCallback"},
};

static_assert(sizeof kEntries / sizeof kEntries[0] == FunctionTable::kEntryCount,
              "the wire vocabulary has exactly this many functions");

}  // namespace

namespace FunctionTable {

const FunctionTableEntry* begin() {
    return std::begin(kEntries);
}

const FunctionTableEntry* end() {
    return std::end(kEntries);
}

const char* nameOf(uint16_t id) {
    const FunctionTableEntry* found =
        std::lower_bound(begin(), end(), id, [](const FunctionTableEntry& e, uint16_t key) { return e.id < key; });
    return found != end() && found->id == id ? found->name : nullptr;
}

bool idOf(const std::string& name, uint16_t& id) {
    for (const FunctionTableEntry* e = begin(); e != end(); ++e) {
        if (name == e->name) {
            id = e->id;
            return true;
        }
    }
    return false;
}

}  // namespace FunctionTable

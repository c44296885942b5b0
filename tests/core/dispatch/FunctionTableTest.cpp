#include "core/dispatch/FunctionTable.h"
#include "core/ipc/IpcCallbackMessage.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

TEST(FunctionTable, HasTheHundredIdsInOrderWithTheKnownGaps) {
    // 1 to 63, 66 to 101 and "onCallback": 63 + 36 + 1.
    std::vector<uint16_t> expected;
    for (uint16_t id = 1; id <= 101; ++id) {
        if (id != 64 && id != 65) {
            expected.push_back(id);
        }
    }
    expected.push_back(1001);
    std::vector<uint16_t> ids;
    std::set<std::string> names;
    for (const FunctionTableEntry* e = FunctionTable::begin(); e != FunctionTable::end(); ++e) {
        ids.push_back(e->id);
        names.insert(e->name);
    }
    EXPECT_EQ(ids, expected);
    EXPECT_EQ(ids.size(), FunctionTable::kEntryCount);
    EXPECT_EQ(names.size(), FunctionTable::kEntryCount) << "names are not unique";
}

TEST(FunctionTable, NamesEachFamilyCorrectly) {
    struct Case {
        uint16_t id;
        const char* name;
    };
    const Case cases[] = {
        // system
        {1, "BcxDiscovery"}, {2, "BcxGetClientId"}, {7, "BcxSetClientInfo"}, {17, "BcxRegisterForSystemNotifications"},
        {19, "BcxCancelDiscovery"}, {45, "BcxValidatePortName"},
        // printer, with the eleven this service handles
        {20, "BcxCancelJobPrinter"}, {21, "BcxClosePrinter"}, {24, "BcxEnumPrinters"}, {25, "BcxEnumSpecificPrinter"},
        {26, "BcxExchangeNpaPrinter"}, {27, "BcxExchangeBidiPrinter"}, {33, "BcxGetWideStringPrinter"},
        {34, "BcxOpenPrinter"}, {35, "BcxRegisterForAlertsPrinter"}, {38, "BcxSetLongPrinter"},
        {39, "BcxSetStringPrinter"}, {41, "BcxStartJobPrinterW"}, {42, "BcxUnregisterForAlertsPrinter"},
        {44, "BcxWritePrinter"}, {46, "BcxEnumWindowsPrinters"}, {99, "BcxSetJobStringPrinter"},
        {101, "BcxOpenPrinterEx"},
        // scanner
        {47, "BcxEnumSpecificScanner"}, {54, "BcxExchangeDataScanner"}, {63, "BcxGetCurrentStateScanner"},
        {100, "BcxSetStringScanner"},
        // HID
        {66, "BcxEnumHids"}, {73, "BcxRegisterForReportsHid"}, {78, "BcxEnumWindowsHids"},
        // firewall
        {79, "BcxFirewallAddPortException"}, {84, "BcxFirewallTestForProgramException"},
        {87, "BcxFirewallIsWindowsFirewallPresent"},
        // card reader
        {88, "BcxEnumCardReaders"}, {92, "BcxExchangeBidiCardReader"}, {98, "BcxUnregisterForAsyncDataCardReader"},
        // the callback, sent by the service
        {1001, "onCallback"},
    };
    for (const Case& c : cases) {
        const char* name = FunctionTable::nameOf(c.id);
        ASSERT_NE(name, nullptr) << c.id;
        EXPECT_STREQ(name, c.name) << c.id;
        uint16_t id = 0;
        EXPECT_TRUE(FunctionTable::idOf(c.name, id)) << c.name;
        EXPECT_EQ(id, c.id) << c.name;
    }
    EXPECT_EQ(IpcCallbackMessage::kFunctionId, 1001);
}

TEST(FunctionTable, LooksEveryEntryUpBothWays) {
    for (const FunctionTableEntry* e = FunctionTable::begin(); e != FunctionTable::end(); ++e) {
        EXPECT_EQ(FunctionTable::nameOf(e->id), e->name);
        uint16_t id = 0;
        EXPECT_TRUE(FunctionTable::idOf(e->name, id));
        EXPECT_EQ(id, e->id);
    }
}

TEST(FunctionTable, UnknownIdsAndNamesAreNotFound) {
    for (uint16_t id : {0, 64, 65, 102, 1000, 1002, 65535}) {
        EXPECT_EQ(FunctionTable::nameOf(static_cast<uint16_t>(id)), nullptr) << id;
    }
    for (const char* name : {"", "bcxopenprinter", "BcxOpenPrinter ", " BcxOpenPrinter", "BcxOpen", "OnCallback"}) {
        uint16_t id = 7;
        EXPECT_FALSE(FunctionTable::idOf(name, id)) << '"' << name << '"';
        EXPECT_EQ(id, 7) << '"' << name << '"';
    }
    // A name with a zero inside is not a prefix match.
    uint16_t id = 7;
    EXPECT_FALSE(FunctionTable::idOf(std::string("BcxOpenPrinter\0x", 16), id));
}

}  // namespace

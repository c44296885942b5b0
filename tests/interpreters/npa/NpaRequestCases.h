#pragma once
// Request texts and the packets they must produce, at least one per command of the NPA plug-in.
// Shared by the native tests of the core and by the test that drives the built DLL.
#include "NpaTestBytes.h"

#include <cstdint>
#include <string>
#include <vector>

struct NpaRequestCase {
    std::string name;               // the command name the case exercises
    std::string text;               // the request's property text
    std::vector<uint8_t> bytes;     // the packet; empty when the request must be refused
};

inline std::string Named(const std::string& name, const std::string& rest = std::string()) {
    return "<CommandName>" + name + "</CommandName>" + rest;
}

inline std::vector<uint8_t> Concat(std::vector<uint8_t> head, const std::string& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

inline std::vector<NpaRequestCase> NpaRequestCases() {
    const std::string jobString = "HT:;UR:;SC:TCP 9400;JN:;QU:;AN:;";
    const std::string namedJob = "HT:host;UR:ann;SC:TCP 9400;JN:report;QU:q1;AN:42;";
    return {
        {"startNpaMode", Named("startNpaMode"),
         Hex("A5 00 10 80 A4 5B A4 5B 10 EF A4 5B 11 EE 00 FF 13 EC 2E")},
        {"dcSummary", Named("dcSummary", "<JobId>5</JobId><Data>A5</Data>"), Hex("A5 00 03 50 01 00")},
        {"queryAll", Named("queryAll"), Hex("A5 00 05 50 E0 81 00 FF")},
        {"getPrinterLanguage", Named("getPrinterLanguage"), Hex("A5 00 0B 50 E0 B2 02 00 00 01 00 01 00 0F")},
        {"queryAdapterVariables",
         Named("queryAdapterVariables", std::string("<Component><Comp>\x06</Comp><Vid>\x18</Vid></Component>") +
                                            "<Component><Comp>\x06</Comp><Vid></Vid></Component>"),
         Hex("A5 00 08 50 E0 D7 00 06 18 06 00")},
        {"queryAdapterVariables", Named("queryAdapterVariables"), Hex("A5 00 04 50 E0 D7 00")},
        // Written with attributes, an element can be read but not removed: taken once, not forever.
        {"queryAdapterVariables",
         Named("queryAdapterVariables", "<Component n=\"1\"><Comp>\x06</Comp><Vid>\x0C</Vid></Component>"),
         Hex("A5 00 06 50 E0 D7 00 06 0C")},
        {"startJob", Named("startJob", "<JobId>9</JobId>"), Hex("A5 00 06 50 05 00 00 00 00")},
        {"endJob", Named("endJob", "<JobId>74565</JobId>"), Hex("A5 00 06 50 05 01 00 23 45")},
        {"endJob", Named("endJob"), Hex("A5 00 06 50 05 01 00 00 00")},
        {"namePrintJob", Named("namePrintJob", "<JobId>7</JobId>"),
         Concat(Hex("A5 00 27 50 E0 02 00 07 21"), jobString + std::string(1, '\0'))},
        {"namePrintJob",
         Named("namePrintJob", "<QueueName>q1</QueueName><JobId>65794</JobId><KeyHostName>host</KeyHostName>"
                               "<UserName>ann</UserName><JobName>report</JobName><AccountNumber>42</AccountNumber>"),
         Concat(Hex("A5 00 38 50 E0 02 01 02 32"), namedJob + std::string(1, '\0'))},
        {"setJobId", Named("setJobId", "<TripletJobId>0A0B0C0D</TripletJobId>"),
         Hex("A5 00 0E 50 E0 81 00 01 00 01 05 14 04 0A 0B 0C 0D")},
        {"setJobId", Named("setJobId", "<TripletJobId>0A0B</TripletJobId>"),
         Hex("A5 00 0E 50 E0 81 00 01 00 01 05 14 04 00 00 0A 0B")},
        {"setJobId", Named("setJobId", "<TripletJobId>0A0B0C0D0E</TripletJobId>"), {}},
        {"setJobId", Named("setJobId"), {}},
        {"setLastDate", Named("setLastDate", "<LastDate>66051</LastDate><CpdPrinterHostId>0102030405A6</CpdPrinterHostId>"),
         Hex("A5 00 0D 50 E0 84 00 01 02 03 01 02 03 04 05 A6")},
        {"setLastDate", Named("setLastDate", "<LastDate>513</LastDate>"),
         Hex("A5 00 0D 50 E0 84 00 01 02 01 00 00 00 00 00 00")},
        {"setLastDate", Named("setLastDate", "<CpdPrinterHostId>0102030405</CpdPrinterHostId>"), {}},
        {"aioLock", Named("aioLock"), Hex("A5 00 0B 50 E0 82 02 03 00 04 27 D8 02 00")},
        {"aioSwathLock", Named("aioSwathLock"), Hex("A5 00 0B 50 E0 82 02 03 04 04 27 D8 02 00")},
        {"aioLegacyLock", Named("aioLegacyLock"), Hex("A5 00 05 50 E0 82 02 01")},
        {"aioUnlock", Named("aioUnlock"), Hex("A5 00 05 50 E0 82 02 02")},
        {"rawData", Named("rawData", "<Data>A5000550E0810001</Data>"), Hex("A5 00 05 50 E0 81 00 01")},
        {"rawData", "<Data>A5000310F001</Data>", Hex("A5 00 03 10 F0 01")},
        {"registerForDeviceStatusAlerts", Named("registerForDeviceStatusAlerts", "<NewAlertMask>1</NewAlertMask>"),
         Hex("A5 00 06 50 03 03 00 08 00")},
        {"registerForQuorvelExtendedAlerts",
         Named("registerForQuorvelExtendedAlerts", "<NewAlertMask>1048576</NewAlertMask>"),
         Hex("A5 00 06 50 E0 73 01 01 10")},
        {"registerForQuorvelExtendedAlertsWithLanguageId",
         Named("registerForQuorvelExtendedAlertsWithLanguageId", "<NewAlertMask>2097152</NewAlertMask>"),
         Hex("A5 00 0F 50 E0 73 07 08 00 01 00 00 00 00 00 00 01 00")},
        {"registerForQuorvelExtensionAlerts", Named("registerForQuorvelExtensionAlerts", "<NewAlertMask>1024</NewAlertMask>"),
         Hex("A5 00 04 50 E0 03 01")},
        {"registerForPanelAlerts", Named("registerForPanelAlerts", "<NewAlertMask>524288</NewAlertMask>"),
         Hex("A5 00 05 50 E0 E1 03 01")},
        {"registerForPanelAlerts", Named("registerForPanelAlerts"), Hex("A5 00 05 50 E0 E1 03 00")},
    };
}

// The twenty names in the order the plug-in creates its prototypes.
inline std::vector<std::string> NpaCommandNames() {
    return {"dcSummary", "startJob", "rawData", "startNpaMode", "setLastDate", "queryAll",
            "registerForPanelAlerts", "registerForDeviceStatusAlerts", "registerForQuorvelExtendedAlerts",
            "registerForQuorvelExtendedAlertsWithLanguageId", "registerForQuorvelExtensionAlerts", "namePrintJob",
            "aioLock", "aioSwathLock", "aioLegacyLock", "aioUnlock", "getPrinterLanguage", "endJob",
            "queryAdapterVariables", "setJobId"};
}

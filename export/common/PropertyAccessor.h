#pragma once
// Typed access to a property text through descriptors `<Name>N</Name><Type>T</Type><Access>A</Access>`.
// Stateless: instantiate where needed. Every operation returns a Windows error code, 0 on success;
// a failed setter leaves the text unchanged. Getters ignore Access.
#include <cstdint>
#include <string>
#include <vector>

class PropertyAccessor {
public:
    // Element names and words of a descriptor.
    static constexpr const char* NameElement = "Name";
    static constexpr const char* TypeElement = "Type";
    static constexpr const char* AccessElement = "Access";
    static constexpr const char* StringType = "String";
    static constexpr const char* LongType = "Long";
    static constexpr const char* ByteArrayType = "ByteArray";
    static constexpr const char* ReadOnlyAccess = "ReadOnly";
    static constexpr const char* WriteableAccess = "Writeable";

    // The descriptor vocabulary shared by the service and every interpreter plug-in.
    static constexpr const char* CommandName = "<Name>CommandName</Name><Type>String</Type><Access>Writeable</Access>";
    static constexpr const char* DataByteArray = "<Name>Data</Name><Type>ByteArray</Type><Access>Writeable</Access>";
    static constexpr const char* DataString = "<Name>Data</Name><Type>String</Type><Access>Writeable</Access>";
    static constexpr const char* Interpreter = "<Name>Interpreter</Name><Type>String</Type><Access>Writeable</Access>";
    static constexpr const char* Handle = "<Name>Handle</Name><Type>Long</Type><Access>ReadOnly</Access>";
    static constexpr const char* Handler = "<Name>Handler</Name><Type>String</Type><Access>Writeable</Access>";
    static constexpr const char* ClientId = "<Name>ClientId</Name><Type>Long</Type><Access>Writeable</Access>";
    static constexpr const char* Prefix = "<Name>Prefix</Name><Type>String</Type><Access>Writeable</Access>";
    static constexpr const char* NewAlertMask = "<Name>NewAlertMask</Name><Type>Long</Type><Access>Writeable</Access>";
    static constexpr const char* CurrentAlertMask = "<Name>CurrentAlertMask</Name><Type>Long</Type><Access>Writeable</Access>";
    static constexpr const char* LanguageId = "<Name>LanguageId</Name><Type>String</Type><Access>Writeable</Access>";
    static constexpr const char* AioLocked = "<Name>AioLocked</Name><Type>Long</Type><Access>Writeable</Access>";
    static constexpr const char* MaxWritePacketSize = "<Name>MaxWritePacketSize</Name><Type>Long</Type><Access>Writeable</Access>";
    static constexpr const char* NpaRevisionLevel = "<Name>NpaRevisionLevel</Name><Type>ByteArray</Type><Access>Writeable</Access>";
    static constexpr const char* SerialNumber = "<Name>SerialNumber</Name><Type>String</Type><Access>ReadOnly</Access>";
    static constexpr const char* Manufacturer = "<Name>Manufacturer</Name><Type>String</Type><Access>ReadOnly</Access>";
    static constexpr const char* Model = "<Name>Model</Name><Type>String</Type><Access>ReadOnly</Access>";
    static constexpr const char* JobId = "<Name>JobId</Name><Type>Long</Type><Access>Writeable</Access>";
    static constexpr const char* PrinterLanguage = "<Name>PrinterLanguage</Name><Type>Long</Type><Access>Writeable</Access>";
    static constexpr const char* Component = "<Name>Component</Name><Type>String</Type><Access>Writeable</Access>";
    static constexpr const char* Comp = "<Name>Comp</Name><Type>String</Type><Access>Writeable</Access>";
    static constexpr const char* Vid = "<Name>Vid</Name><Type>String</Type><Access>Writeable</Access>";
    static constexpr const char* JobName = "<Name>JobName</Name><Type>String</Type><Access>Writeable</Access>";
    static constexpr const char* UserName = "<Name>UserName</Name><Type>String</Type><Access>Writeable</Access>";
    static constexpr const char* QueueName = "<Name>QueueName</Name><Type>String</Type><Access>Writeable</Access>";
    static constexpr const char* KeyHostName = "<Name>KeyHostName</Name><Type>String</Type><Access>Writeable</Access>";
    static constexpr const char* AccountNumber = "<Name>AccountNumber</Name><Type>String</Type><Access>Writeable</Access>";
    static constexpr const char* HbnResponse = "<Name>HbnResponse</Name><Type>Long</Type><Access>Writeable</Access>";
    static constexpr const char* NpaResponse = "<Name>NpaResponse</Name><Type>Long</Type><Access>Writeable</Access>";
    static constexpr const char* TripletJobId = "<Name>TripletJobId</Name><Type>ByteArray</Type><Access>Writeable</Access>";
    static constexpr const char* LastDate = "<Name>LastDate</Name><Type>Long</Type><Access>Writeable</Access>";
    static constexpr const char* CpdPrinterHostId = "<Name>CpdPrinterHostId</Name><Type>ByteArray</Type><Access>Writeable</Access>";
    static constexpr const char* Transport = "<Name>Transport</Name><Type>String</Type><Access>ReadOnly</Access>";
    static constexpr const char* TransportType = "<Name>TransportType</Name><Type>String</Type><Access>ReadOnly</Access>";
    static constexpr const char* PrinterModel = "<Name>Printer Model</Name><Type>String</Type><Access>ReadOnly</Access>";
    static constexpr const char* ScannerModel = "<Name>Scanner Model</Name><Type>String</Type><Access>ReadOnly</Access>";
    static constexpr const char* PcName = "<Name>PcName</Name><Type>String</Type><Access>Writeable</Access>";
    static constexpr const char* CodePage = "<Name>CodePage</Name><Type>String</Type><Access>Writeable</Access>";
    static constexpr const char* PinNumber = "<Name>PinNumber</Name><Type>String</Type><Access>Writeable</Access>";
    static constexpr const char* DeviceId1284 = "<Name>1284DeviceId</Name><Type>String</Type><Access>Writeable</Access>";
    static constexpr const char* CodePageLong = "<Name>CodePageLong</Name><Type>Long</Type><Access>Writeable</Access>";

    // 0; 1629 if desc's Type is not String; 1168 if desc has no Name or bag no such element.
    uint32_t GetString(const std::string& bag, const std::string& desc, std::string& out) const;
    // As GetString for Type Long. Decimal digits are summed without validation, modulo 2^32.
    uint32_t GetLong(const std::string& bag, const std::string& desc, uint32_t& out) const;
    // As GetString for Type ByteArray; 122 (with length set) if capacity < decoded length, 87 if
    // buf is null while bytes are to be written. length is 0 after any other failure.
    uint32_t GetByteArray(const std::string& bag, const std::string& desc, uint8_t* buf, uint32_t capacity,
                          uint32_t& length) const;
    // The same decoding into a vector sized to fit; out is unchanged on failure.
    uint32_t GetByteArray(const std::string& bag, const std::string& desc, std::vector<uint8_t>& out) const;

    // 0; 1629 if desc's Access is not Writeable or its Type does not match; 1359 if desc has no Name.
    uint32_t SetString(std::string& bag, const std::string& desc, const std::string& value) const;
    uint32_t SetLong(std::string& bag, const std::string& desc, uint32_t value) const;
    // As above; 87 if p is null while n > 0.
    uint32_t SetByteArray(std::string& bag, const std::string& desc, const uint8_t* p, uint32_t n) const;

    // Removes the element named by desc, if desc has a Name.
    void Remove(std::string& bag, const std::string& desc) const;

    bool IsString(const std::string& desc) const;
    bool IsLong(const std::string& desc) const;
    bool IsByteArray(const std::string& desc) const;
    bool IsWriteable(const std::string& desc) const;
};

#include "config/ConfigurationFromHinge.h"

#include "runtime/Exception.h"
#include "runtime/Win32.h"

#include <msxml2.h>
#include <ole2.h>

namespace {

// The version-3 XML DOM document and its document interface.
const CLSID kClsidDomDocument30 = {0xF5078F32, 0xC551, 0x11D3, {0x89, 0xB9, 0x00, 0x00, 0xF8, 0x1F, 0xE2, 0x21}};
const IID kIidXmlDomDocument = {0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

const char kParserError[] = "ConfigurationFromHinge::LoadConfig parse error";

template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() {
        if (p_ != nullptr) p_->Release();
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    T** put() { return &p_; }

private:
    T* p_ = nullptr;
};

class Bstr {
public:
    explicit Bstr(const std::wstring& text) : b_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    Bstr() = default;
    ~Bstr() { SysFreeString(b_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR get() const { return b_; }
    BSTR* put() { return &b_; }

private:
    BSTR b_ = nullptr;
};

// COM for this thread for the duration of one load. Released on the same thread: the branding
// record may be destroyed on another thread than the one that read the file.
class ComApartment {
public:
    ComApartment() {
        const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED | COINIT_DISABLE_OLE1DDE);
        // S_FALSE (already initialised in this model) needs its own uninitialise as well;
        // RPC_E_CHANGED_MODE means somebody else's apartment, which stays as it is.
        mustUninitialize_ = SUCCEEDED(hr);
    }
    ~ComApartment() {
        if (mustUninitialize_) CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool mustUninitialize_;
};

std::wstring widen(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) throw Win32Exception(kParserError, static_cast<int32_t>(GetLastError()));
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
    return wide;
}

std::string narrow(BSTR text) {
    const int length = static_cast<int>(SysStringLen(text));
    if (length == 0) return std::string();
    const int n = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (n <= 0) throw Win32Exception(kParserError, static_cast<int32_t>(GetLastError()));
    std::string result(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, length, &result[0], n, nullptr, nullptr);
    return result;
}

// Every parser call that reports a failure counts as an unreadable file, so that the built-in
// table takes over instead of a half-read record.
void check(HRESULT hr, const char* message) {
    if (FAILED(hr)) throw Win32Exception(message, static_cast<int32_t>(hr & 0xFFFF));
}

}  // namespace

ConfigurationFromHinge::ConfigurationFromHinge() = default;
ConfigurationFromHinge::~ConfigurationFromHinge() = default;

bool ConfigurationFromHinge::load(const std::string& filePath) {
    entries_.clear();
    try {
        loadConfig(filePath);
        return true;
    } catch (const Win32Exception&) {
        entries_.clear();
        return false;
    }
}

bool ConfigurationFromHinge::get(const std::string& key, std::string& value) const {
    const auto it = entries_.find(key);
    if (it == entries_.end()) return false;
    value = it->second;
    return true;
}

void ConfigurationFromHinge::loadConfig(const std::string& filePath) {
    ComApartment apartment;
    const char* noParser = "ConfigurationFromHinge::LoadConfig unable to load parser";
    ComPtr<IUnknown> unknown;
    // 23: in-process server and handler, local and remote server.
    check(CoCreateInstance(kClsidDomDocument30, nullptr, 23, IID_IUnknown, reinterpret_cast<void**>(unknown.put())),
          noParser);
    check(OleRun(unknown.get()), noParser);
    ComPtr<IXMLDOMDocument> document;
    check(unknown->QueryInterface(kIidXmlDomDocument, reinterpret_cast<void**>(document.put())), noParser);

    check(document->put_async(VARIANT_FALSE), kParserError);
    // Without it the parser trims the texts, and a value such as "1 " would read as "1".
    check(document->put_preserveWhiteSpace(VARIANT_TRUE), kParserError);
    const Bstr pathText(widen(filePath));
    VARIANT source;
    VariantInit(&source);
    source.vt = VT_BSTR;
    source.bstrVal = pathText.get();
    VARIANT_BOOL loaded = VARIANT_FALSE;
    const HRESULT loadResult = document->load(source, &loaded);
    if (loadResult != S_OK || loaded != VARIANT_TRUE) throw Win32Exception(kParserError, 0);

    // "//config/" would be the natural query for the element's content, but it crashes msxml3
    // under Wine; "//config" selects the same element everywhere.
    const Bstr query(L"//config");
    ComPtr<IXMLDOMNode> config;
    const HRESULT selected = document->selectSingleNode(query.get(), config.put());
    check(selected, kParserError);
    if (config.get() == nullptr) throw Win32Exception(kParserError, 0);

    ComPtr<IXMLDOMNodeList> children;
    check(config->get_childNodes(children.put()), kParserError);
    long count = 0;
    if (children.get() != nullptr) check(children->get_length(&count), kParserError);
    std::map<std::string, std::string> entries;
    for (long i = 0; i < count; ++i) {
        ComPtr<IXMLDOMNode> child;
        check(children->get_item(i, child.put()), kParserError);
        if (child.get() == nullptr) throw Win32Exception(kParserError, 0);
        DOMNodeType type = NODE_INVALID;
        check(child->get_nodeType(&type), kParserError);
        // Kept blanks show up as text nodes between the elements; only elements are entries.
        if (type != NODE_ELEMENT) continue;
        Bstr name;
        Bstr text;
        check(child->get_nodeName(name.put()), kParserError);
        check(child->get_text(text.put()), kParserError);
        entries[narrow(name.get())] = narrow(text.get());
    }
    if (entries.empty()) throw Win32Exception("ConfigurationFromHinge::LoadConfig no child nodes present", 0);
    entries_.swap(entries);
}

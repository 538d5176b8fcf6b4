#include "classlib/xmldoc.h"

#include <windows.h>
#include <msxml2.h>
#include <oleauto.h>

namespace {
// Owns a BSTR for the length of a call.
struct Bstr {
    BSTR value = nullptr;
    Bstr() = default;
    explicit Bstr(const std::wstring& text) : value(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    ~Bstr() { SysFreeString(value); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    std::wstring Text() const { return value ? std::wstring(value, SysStringLen(value)) : std::wstring(); }
};

template <typename T>
struct ComRef {
    T* p = nullptr;
    ~ComRef() {
        if (p) p->Release();
    }
    T** operator&() { return &p; }
    T* operator->() const { return p; }
};

DOMNodeType TypeOf(IXMLDOMNode* node) {
    DOMNodeType type = NODE_INVALID;
    node->get_nodeType(&type);
    return type;
}
}  // namespace

// --- TXMLNode --------------------------------------------------------------

TXMLNode::TXMLNode(IXMLDOMNode* node) : node_(node) {
    if (node_) node_->AddRef();
}

TXMLNode::TXMLNode(const TXMLNode& other) : TXMLNode(other.node_) {}

TXMLNode& TXMLNode::operator=(const TXMLNode& other) {
    if (other.node_) other.node_->AddRef();
    if (node_) node_->Release();
    node_ = other.node_;
    return *this;
}

TXMLNode::~TXMLNode() {
    if (node_) node_->Release();
}

IXMLDOMNode* TXMLNode::Checked() const {
    if (!node_) throw EXMLDocError("Node is missing");
    return node_;
}

std::wstring TXMLNode::NodeName() const {
    Bstr name;
    Checked()->get_nodeName(&name.value);
    return name.Text();
}

bool TXMLNode::IsElement() const { return node_ && TypeOf(node_) == NODE_ELEMENT; }

bool TXMLNode::HasAttribute(const std::wstring& name) const {
    ComRef<IXMLDOMElement> element;
    if (Checked()->QueryInterface(IID_IXMLDOMElement, reinterpret_cast<void**>(&element)) != S_OK) return false;
    ComRef<IXMLDOMAttribute> attribute;
    Bstr key(name);
    return element->getAttributeNode(key.value, &attribute) == S_OK && attribute.p;
}

std::wstring TXMLNode::Attribute(const std::wstring& name) const {
    ComRef<IXMLDOMElement> element;
    if (Checked()->QueryInterface(IID_IXMLDOMElement, reinterpret_cast<void**>(&element)) != S_OK) return L"";
    VARIANT value;
    VariantInit(&value);
    Bstr key(name);
    std::wstring result;
    if (element->getAttribute(key.value, &value) == S_OK && value.vt == VT_BSTR && value.bstrVal)
        result.assign(value.bstrVal, SysStringLen(value.bstrVal));
    VariantClear(&value);
    return result;
}

int TXMLNode::ChildCount() const {
    ComRef<IXMLDOMNodeList> children;
    long count = 0;
    if (Checked()->get_childNodes(&children) == S_OK && children.p) children->get_length(&count);
    return static_cast<int>(count);
}

TXMLNode TXMLNode::ChildNode(int index) const {
    ComRef<IXMLDOMNodeList> children;
    ComRef<IXMLDOMNode> child;
    if (index >= 0 && Checked()->get_childNodes(&children) == S_OK && children.p &&
        children->get_item(index, &child) == S_OK && child.p)
        return TXMLNode(child.p);
    throw EXMLDocError("List index out of bounds (" + std::to_string(index) + ")");
}

std::wstring TXMLNode::Text() const {
    IXMLDOMNode* node = Checked();
    DOMNodeType type = TypeOf(node);
    if (type != NODE_ELEMENT) {
        Bstr text;
        node->get_text(&text.value);
        return text.Text();
    }
    int count = ChildCount();
    if (count == 0) return L"";
    if (count == 1) {
        TXMLNode child = ChildNode(0);
        DOMNodeType childType = TypeOf(child.node_);
        if (childType == NODE_TEXT || childType == NODE_CDATA_SECTION) {
            Bstr text;
            child.node_->get_text(&text.value);
            return text.Text();
        }
    }
    throw EXMLDocError("Element \"" + WideToAnsi(NodeName()) + "\" does not contain a single text node");
}

// --- TXMLDocument ----------------------------------------------------------

TXMLDocument::TXMLDocument(TComponent* owner) : TComponent(owner) {}

TXMLDocument::~TXMLDocument() { SetActive(false); }

void TXMLDocument::SetXML(const std::wstring& text) {
    SetActive(false);
    text_ = text;
}

void TXMLDocument::SetActive(bool active) {
    if (!active) {
        if (document_) document_->Release();
        document_ = nullptr;
        return;
    }
    if (document_) return;
    CLSID classId;
    HRESULT hr = CLSIDFromProgID(L"Msxml2.DOMDocument", &classId);
    IXMLDOMDocument* document = nullptr;
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument,
                              reinterpret_cast<void**>(&document));
    if (FAILED(hr) || !document) throw EOleSysError("The XML parser " + DOMVendor + " is not available", hr);
    document->put_async(VARIANT_FALSE);
    Bstr text(text_);
    VARIANT_BOOL loaded = VARIANT_FALSE;
    document->loadXML(text.value, &loaded);
    if (loaded != VARIANT_TRUE) {
        std::wstring reason = L"The XML text is not well-formed";
        ComRef<IXMLDOMParseError> error;
        if (document->get_parseError(&error) == S_OK && error.p) {
            Bstr why;
            if (error->get_reason(&why.value) == S_OK && why.value && SysStringLen(why.value) > 0) reason = why.Text();
        }
        document->Release();
        while (!reason.empty() && (reason.back() == L'\n' || reason.back() == L'\r' || reason.back() == L' '))
            reason.pop_back();
        throw EDOMParseError(WideToAnsi(reason));
    }
    document_ = document;
}

TXMLNode TXMLDocument::DocumentElement() const {
    if (!document_) throw EXMLDocError("The XML document is not active");
    ComRef<IXMLDOMElement> root;
    if (document_->get_documentElement(&root) != S_OK || !root.p) return TXMLNode();
    return TXMLNode(root.p);
}

std::string XmlEscape(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': escaped += "&amp;"; break;
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        default: escaped += c; break;
        }
    }
    return escaped;
}

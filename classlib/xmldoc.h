// An XML document over MSXML's DOM ("Msxml2.DOMDocument"), with the node access the
// programs need: the document element, attributes, child nodes by index and text values.
#pragma once
#include <string>

#include "classlib/classes.h"

struct IXMLDOMDocument;
struct IXMLDOMNode;

// Text with &, < and > written as XML entities, fit to stand as an element's text.
std::string XmlEscape(const std::string& text);

class EXMLDocError : public Exception {
    using Exception::Exception;
};
class EDOMParseError : public EXMLDocError {
    using EXMLDocError::EXMLDocError;
};

// A reference to one node of a document; empty when default-made.
class TXMLNode {
public:
    TXMLNode() = default;
    explicit TXMLNode(IXMLDOMNode* node);  // takes a reference of its own
    TXMLNode(const TXMLNode& other);
    TXMLNode& operator=(const TXMLNode& other);
    ~TXMLNode();

    bool IsEmpty() const { return node_ == nullptr; }
    std::wstring NodeName() const;
    bool IsElement() const;
    // An attribute's value; "" when the node has no such attribute.
    std::wstring Attribute(const std::wstring& name) const;
    bool HasAttribute(const std::wstring& name) const;
    int ChildCount() const;
    // Raises EXMLDocError "List index out of bounds (i)" outside 0..ChildCount()-1.
    TXMLNode ChildNode(int index) const;
    // The text of an element that holds one text node and nothing else ("" when it holds
    // nothing); raises EXMLDocError for any other element, and for an empty reference.
    std::wstring Text() const;

private:
    IXMLDOMNode* Checked() const;
    IXMLDOMNode* node_ = nullptr;
};

class TXMLDocument : public TComponent {
public:
    explicit TXMLDocument(TComponent* owner);
    ~TXMLDocument() override;

    std::string DOMVendor = "MSXML";
    // The text to parse when the document is made active; setting it deactivates the document.
    void SetXML(const std::wstring& text);
    const std::wstring& XML() const { return text_; }
    bool Active() const { return document_ != nullptr; }
    // Parses the text; raises EDOMParseError with the parser's reason when it is not well-formed.
    void SetActive(bool active);
    // The root element; raises EXMLDocError when the document is not active.
    TXMLNode DocumentElement() const;

private:
    std::wstring text_;
    IXMLDOMDocument* document_ = nullptr;
};

#pragma once

// The XML document layer: libxml2 and libxslt behind a small interface. This
// header and xml.cpp are the only places that know about those libraries.
//
// Documents are parsed safely: no DTD loading, no external entities, no
// network, no XInclude, bounded entity expansion, depth and text sizes. Text
// nodes holding only white space are dropped on loading, so indentation never
// shows as child nodes.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct _xmlNode;
struct _xmlDoc;
struct _xsltStylesheet;

namespace xml {

class Document;

// Bounds of the files Document::Load reads. Real settings and catalogue files
// are a few kilobytes, with a few hundred elements of a handful of attributes;
// within these a hostile file is refused in well under a second and 200 MB.
inline constexpr std::uintmax_t kMaxFileBytes = 16 * 1024 * 1024;
// On one element, namespace declarations included: the root config has hw
// and sw, a description's item about a dozen.
inline constexpr int kMaxAttributes = 256;
// Elements, attributes, comments and processing instructions of a document
// (text nodes lie between them): each takes about 160 bytes of memory, from as
// little as 4 bytes of file.
inline constexpr int kMaxNodes = 250000;

enum class NodeType { Element, Attribute, Text, ProcessingInstruction, Comment, Document, Other };

// Where and why a text failed to parse.
struct ParseError {
    int line = 0;
    std::string reason;     // the parser's own words
    std::string sourceText; // the text of the failing line
};

// A node inside a document. A handle that owns nothing: it stays valid as long
// as its document lives, also after the node has been removed from its parent.
class Node {
public:
    Node() = default;
    explicit Node(_xmlNode *node) : m_node(node) {}

    explicit operator bool() const { return m_node != nullptr; }
    bool operator==(const Node &other) const { return m_node == other.m_node; }
    bool operator!=(const Node &other) const { return m_node != other.m_node; }

    NodeType Type() const;
    bool IsElement() const { return m_node && Type() == NodeType::Element; }
    // Element and attribute names as written (prefix included); "#text",
    // "#comment" and "#document" for those kinds of node.
    std::string Name() const;
    // An element's local name as the document keeps it, valid while the node lives.
    std::string_view LocalName() const;
    // True for an element or attribute in a namespace (ChildElement never finds those).
    bool HasNamespace() const;

    // The text of all descendant text nodes, in document order.
    std::string Text() const;
    // Replaces the children by one text node (none for an empty text).
    void SetText(std::string_view text) const;

    bool HasAttribute(const std::string &name) const;
    std::optional<std::string> Attribute(const std::string &name) const;
    void SetAttribute(const std::string &name, std::string_view value) const;

    bool HasChildNodes() const;
    Node FirstChild() const;
    Node NextSibling() const;
    Node Parent() const;
    std::vector<Node> ChildNodes() const;
    // The first child element of that name, without an XPath evaluation.
    Node ChildElement(std::string_view name) const;

    // XPath 1.0, evaluated with this node as the context node. Only node-sets
    // count; an expression that cannot be evaluated raises EXmlError.
    std::vector<Node> Select(const std::string &xpath) const;
    Node SelectSingle(const std::string &xpath) const;

    // Appends child as the last child, moving it from its parent or from
    // another document. Returns the appended node.
    Node AppendChild(Node child) const;
    // Creates an element and appends it as the last child in one step.
    // Raises EXmlError for a name that is not a valid XML name.
    Node AppendNewElement(const std::string &name) const;
    // Detaches child from this node; its handle stays valid.
    void RemoveChild(Node child) const;
    // A deep copy of this node owned by target, not yet in its tree.
    Node CloneInto(Document &target) const;

    _xmlNode *Raw() const { return m_node; }

private:
    _xmlNode *m_node = nullptr;
};

struct DocumentDeleter {
    void operator()(_xmlDoc *doc) const;
};
using DocumentPtr = std::unique_ptr<_xmlDoc, DocumentDeleter>;

struct StylesheetDeleter {
    void operator()(_xsltStylesheet *sheet) const;
};
using StylesheetPtr = std::unique_ptr<_xsltStylesheet, StylesheetDeleter>;

class Document {
public:
    // A new empty document without declaration.
    Document();
    explicit Document(DocumentPtr doc);

    // Parses text; on failure returns nullopt and fills error. encoding,
    // when given, overrides whatever the text declares.
    static std::optional<Document> Parse(std::string_view text, ParseError &error, const char *encoding = nullptr);
    // Reads and parses a settings or catalogue file: a regular file of at most
    // kMaxFileBytes, without a document type declaration, within kMaxAttributes
    // and kMaxNodes. Anything else fails with the reason in the user's words,
    // as soon as the parser meets it; a file that is not read at all, at line 0.
    static std::optional<Document> Load(const std::filesystem::path &path, ParseError &error);

    Node AsNode() const;
    Node DocumentElement() const;
    // Makes element the root, replacing any previous root.
    void SetDocumentElement(Node element);

    // Raises EXmlError for a name that is not a valid XML name.
    Node CreateElement(const std::string &name);
    // The "xml" target sets the declaration (version and encoding) instead of
    // making a node, as a DOM does; any other target appends a node.
    void AppendProcessingInstruction(const std::string &target, const std::string &data);

    // Declared encoding; empty when there is no declaration.
    std::string Encoding() const;

    // Serialised in the declared encoding (UTF-8 without one), declaration
    // included, without added indentation.
    std::string Save() const;
    // The text Save would give after copies of children (of any document) were
    // appended to the childless root, without making the copies.
    std::string SaveWithChildren(const std::vector<Node> &children) const;

    _xmlDoc *Raw() const { return m_doc.get(); }

private:
    friend class Stylesheet;
    DocumentPtr m_doc;
};

// An XSLT 1.0 stylesheet.
class Stylesheet {
public:
    // Raises EXmlError when the text is not a usable stylesheet.
    static Stylesheet Parse(std::string_view text);

    // Transforms input and serialises the result by the stylesheet's output
    // settings (method, encoding, indentation).
    std::string TransformToText(const Document &input) const;

private:
    explicit Stylesheet(StylesheetPtr sheet) : m_sheet(std::move(sheet)) {}
    StylesheetPtr m_sheet;
};

// A name usable as an element or attribute name.
bool IsValidName(std::string_view name);

} // namespace xml

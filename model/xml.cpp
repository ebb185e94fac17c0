#include "model/xml.h"

#include "model/cp1251.h"
#include "model/errors.h"
#include "model/files.h"

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>
#include <libxslt/security.h>
#include <libxslt/transform.h>
#include <libxslt/xslt.h>
#include <libxslt/xsltInternals.h>
#include <libxslt/xsltutils.h>

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstring>
#include <mutex>

namespace xml {

namespace {

// No network, no dictionary (so nodes move freely between documents), no
// CDATA nodes (their text joins the text nodes), errors collected, not printed.
// Entities are not substituted; DTDs are not loaded; the parser's own limits on
// depth, text size and entity amplification stay on.
constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NODICT | XML_PARSE_NOCDATA | XML_PARSE_NOERROR
                              | XML_PARSE_NOWARNING;

// The longest piece of a failing line quoted in a message.
constexpr std::size_t kMaxSourceText = 200;

const xmlChar *toXml(const std::string &text)
{
    return reinterpret_cast<const xmlChar *>(text.c_str());
}

std::string fromXml(const xmlChar *text)
{
    return text ? std::string(reinterpret_cast<const char *>(text)) : std::string();
}

// Takes ownership of a string libxml2 allocated.
std::string takeXml(xmlChar *text)
{
    std::string result = fromXml(text);
    xmlFree(text);
    return result;
}

xmlParserInputPtr refuseExternalEntity(const char *, const char *, xmlParserCtxtPtr)
{
    return nullptr;
}

void ignoreGenericError(void *, const char *, ...) {}

void ensureInitialised()
{
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        xmlSetExternalEntityLoader(refuseExternalEntity);
        xsltInit();
        xsltSecurityPrefsPtr prefs = xsltNewSecurityPrefs();
        for (const auto option : {XSLT_SECPREF_READ_FILE, XSLT_SECPREF_WRITE_FILE, XSLT_SECPREF_CREATE_DIRECTORY,
                                  XSLT_SECPREF_READ_NETWORK, XSLT_SECPREF_WRITE_NETWORK})
            xsltSetSecurityPrefs(prefs, option, xsltSecurityForbid);
        xsltSetDefaultSecurityPrefs(prefs);
    });
}

// Collects the first error libxml2 or libxslt raises on this thread while it
// lives, and keeps them off standard error.
class ErrorCapture {
public:
    ErrorCapture()
    {
        ensureInitialised();
        xmlSetStructuredErrorFunc(this, &ErrorCapture::onError);
        xmlSetGenericErrorFunc(nullptr, ignoreGenericError);
        xsltSetGenericErrorFunc(nullptr, ignoreGenericError);
    }
    ~ErrorCapture()
    {
        xmlSetStructuredErrorFunc(nullptr, nullptr);
        xmlSetGenericErrorFunc(nullptr, nullptr);
        xsltSetGenericErrorFunc(nullptr, nullptr);
    }
    ErrorCapture(const ErrorCapture &) = delete;
    ErrorCapture &operator=(const ErrorCapture &) = delete;

    bool HasError() const { return m_has; }
    int Line() const { return m_line; }
    const std::string &Message() const { return m_message; }

private:
    static void onError(void *self, xmlErrorPtr error)
    {
        auto *capture = static_cast<ErrorCapture *>(self);
        if (capture->m_has || !error || error->level < XML_ERR_ERROR)
            return;
        capture->m_has = true;
        capture->m_line = error->line;
        capture->m_message = error->message ? error->message : "";
        while (!capture->m_message.empty() && (capture->m_message.back() == '\n' || capture->m_message.back() == ' '))
            capture->m_message.pop_back();
        // The mismatch's own details name lines in English; the line of the error is given anyway.
        if (const char *russian = parserReason(error->code))
            capture->m_message =
                russian + (error->code == XML_ERR_TAG_NAME_MISMATCH ? std::string() : detailOf(capture->m_message));
    }

    // The technician reads Russian: the parser's commonest complaints in its words.
    static const char *parserReason(int code)
    {
        switch (code) {
        case XML_ERR_DOCUMENT_EMPTY:
            return "документ пуст";
        case XML_ERR_DOCUMENT_START:
            return "документ должен начинаться с элемента (\"<\" не найден)";
        case XML_ERR_DOCUMENT_END:
            return "лишний текст после конца документа";
        case XML_ERR_TAG_NAME_MISMATCH:
            return "открывающий и закрывающий теги не совпадают";
        case XML_ERR_TAG_NOT_FINISHED:
            return "документ оборван внутри элемента";
        case XML_ERR_GT_REQUIRED:
            return "ожидался символ \">\"";
        case XML_ERR_LT_IN_ATTRIBUTE:
            return "символ \"<\" в значении атрибута";
        case XML_ERR_ATTRIBUTE_NOT_STARTED:
        case XML_ERR_ATTRIBUTE_WITHOUT_VALUE:
            return "значение атрибута должно быть в кавычках";
        case XML_ERR_ATTRIBUTE_REDEFINED:
            return "атрибут повторяется";
        case XML_ERR_NAME_REQUIRED:
            return "ожидалось имя";
        case XML_ERR_INVALID_CHAR:
            return "недопустимый символ";
        case XML_ERR_UNDECLARED_ENTITY:
            return "ссылка на необъявленную сущность";
        case XML_ERR_UNSUPPORTED_ENCODING:
            return "неподдерживаемая кодировка";
        case XML_ERR_INVALID_ENCODING:
            return "текст не соответствует объявленной кодировке";
        default:
            return nullptr;
        }
    }

    // What the parser said after its first colon (the names involved), kept after the Russian words.
    static std::string detailOf(const std::string &message)
    {
        const std::size_t colon = message.find(": ");
        return colon == std::string::npos ? std::string() : message.substr(colon);
    }

    bool m_has = false;
    int m_line = 0;
    std::string m_message;
};

// The line'th line of text (counting from 1), as UTF-8, cut to a sensible length.
std::string sourceLine(std::string_view text, int line, const char *encoding)
{
    std::size_t start = 0;
    for (int n = 1; n < line && start < text.size(); ++n) {
        const auto eol = text.find('\n', start);
        if (eol == std::string_view::npos)
            return {};
        start = eol + 1;
    }
    auto end = text.find('\n', start);
    if (end == std::string_view::npos)
        end = text.size();
    std::string_view raw = text.substr(start, std::min(end - start, kMaxSourceText));
    while (!raw.empty() && raw.back() == '\r')
        raw.remove_suffix(1);
    const bool cp1251 = encoding && std::string_view(encoding) == "windows-1251";
    if (!cp1251 && xmlCheckUTF8(reinterpret_cast<const xmlChar *>(std::string(raw).c_str())))
        return std::string(raw);
    return Cp1251ToUtf8(raw);
}

bool isBlank(const xmlChar *text)
{
    if (!text)
        return true;
    for (; *text; ++text)
        if (*text != ' ' && *text != '\t' && *text != '\n' && *text != '\r')
            return false;
    return true;
}

// Drops text nodes of white space only, as a DOM that does not preserve white
// space does; indentation never counts as content.
void stripBlankText(xmlNodePtr root)
{
    std::vector<xmlNodePtr> pending{root};
    while (!pending.empty()) {
        xmlNodePtr node = pending.back();
        pending.pop_back();
        for (xmlNodePtr child = node->children; child;) {
            xmlNodePtr next = child->next;
            if (child->type == XML_TEXT_NODE && isBlank(child->content)) {
                xmlUnlinkNode(child);
                xmlFreeNode(child);
            } else if (child->type == XML_ELEMENT_NODE) {
                pending.push_back(child);
            }
            child = next;
        }
    }
}

bool isAscii(const xmlChar *name)
{
    for (; name && *name; ++name)
        if (*name >= 0x80)
            return false;
    return true;
}

// True when every element and attribute name of the document is plain ASCII.
bool namesAreAscii(xmlDocPtr doc)
{
    std::vector<xmlNodePtr> pending;
    for (xmlNodePtr child = doc->children; child; child = child->next)
        pending.push_back(child);
    while (!pending.empty()) {
        const xmlNodePtr node = pending.back();
        pending.pop_back();
        if (node->type != XML_ELEMENT_NODE)
            continue;
        if (!isAscii(node->name) || (node->ns && !isAscii(node->ns->prefix)))
            return false;
        for (xmlAttrPtr attribute = node->properties; attribute; attribute = attribute->next)
            if (!isAscii(attribute->name) || (attribute->ns && !isAscii(attribute->ns->prefix)))
                return false;
        for (xmlNodePtr child = node->children; child; child = child->next)
            pending.push_back(child);
    }
    return true;
}

// True when no element or attribute under node (itself included) has a namespace or a name outside ASCII.
bool subtreeIsPlain(xmlNodePtr node)
{
    std::vector<xmlNodePtr> pending{node};
    while (!pending.empty()) {
        const xmlNodePtr current = pending.back();
        pending.pop_back();
        if (current->type != XML_ELEMENT_NODE)
            continue;
        if (current->ns || current->nsDef || !isAscii(current->name))
            return false;
        for (xmlAttrPtr attribute = current->properties; attribute; attribute = attribute->next)
            if (attribute->ns || !isAscii(attribute->name))
                return false;
        for (xmlNodePtr child = current->children; child; child = child->next)
            pending.push_back(child);
    }
    return true;
}

// Value elements as devices exchange them: no attributes, no namespaces, ASCII
// names, nothing inside but text and further such elements.
bool isPlainValue(xmlNodePtr node)
{
    if (node->type == XML_TEXT_NODE)
        return true;
    if (node->type != XML_ELEMENT_NODE || node->properties || node->ns || node->nsDef || !isAscii(node->name))
        return false;
    for (xmlNodePtr child = node->children; child; child = child->next)
        if (!isPlainValue(child))
            return false;
    return true;
}

// Writes a plain value as libxml2 saves it in Windows-1251: markup characters
// and carriage returns escaped, characters the code page lacks as decimal references.
void appendPlainValue(std::string &text, xmlNodePtr node)
{
    if (node->type == XML_TEXT_NODE) {
        const std::string_view content =
            node->content ? std::string_view(reinterpret_cast<const char *>(node->content)) : std::string_view();
        for (std::size_t pos = 0; pos < content.size();) {
            const char32_t code = NextCodePoint(content, pos);
            std::uint8_t byte = 0;
            if (code == '<')
                text += "&lt;";
            else if (code == '>')
                text += "&gt;";
            else if (code == '&')
                text += "&amp;";
            else if (code == '\r')
                text += "&#13;";
            else if (code != 0x98 && UnicodeToCp1251(code, byte)) // 0x98 has no character in the code page
                text += static_cast<char>(byte);
            else
                text += "&#" + std::to_string(static_cast<std::uint32_t>(code)) + ";";
        }
        return;
    }
    const std::string_view name(reinterpret_cast<const char *>(node->name));
    text += '<';
    text += name;
    if (!node->children) {
        text += "/>";
        return;
    }
    text += '>';
    for (xmlNodePtr child = node->children; child; child = child->next)
        appendPlainValue(text, child);
    text += "</";
    text += name;
    text += '>';
}

// Removed nodes are parked under a node that belongs to the document but not
// to its tree, so handles to them stay valid until the document is freed.
xmlNodePtr parkingFor(xmlDocPtr doc)
{
    if (!doc->_private)
        doc->_private = xmlNewDocNode(doc, nullptr, BAD_CAST "removed", nullptr);
    return static_cast<xmlNodePtr>(doc->_private);
}

void park(xmlNodePtr node)
{
    xmlUnlinkNode(node);
    if (!node->doc) {
        xmlFreeNode(node);
        return;
    }
    // One holder per node, so adjacent text nodes are never merged away.
    xmlNodePtr holder = xmlNewDocNode(node->doc, nullptr, BAD_CAST "holder", nullptr);
    xmlAddChild(parkingFor(node->doc), holder);
    xmlAddChild(holder, node);
}

xmlNodePtr raw(Node node)
{
    return node.Raw();
}

[[noreturn]] void fail(const std::string &message)
{
    throw EXmlError(message, 0, message, std::string());
}

void requireNode(const Node &node, const char *operation)
{
    if (!node)
        fail(std::string("Обращение к отсутствующему узлу документа (") + operation + ")");
}

// Parses the text of a settings or catalogue file, handing it to the parser in
// pieces and stopping it as soon as it meets what no such file holds.
class TFileParse {
public:
    explicit TFileParse(std::string_view text) : m_text(text) {}

    std::optional<Document> Run(ParseError &error)
    {
        ErrorCapture capture;
        std::unique_ptr<xmlParserCtxt, decltype(&xmlFreeParserCtxt)> context(
            xmlCreateIOParserCtxt(nullptr, nullptr, &TFileParse::read, &TFileParse::close, this,
                                  XML_CHAR_ENCODING_NONE),
            &xmlFreeParserCtxt);
        if (!context) {
            error = {0, "Out of memory", std::string()};
            return std::nullopt;
        }
        m_context = context.get();
        xmlCtxtUseOptions(m_context, kParseOptions);
        m_context->_private = this;
        m_context->sax->internalSubset = &TFileParse::onDoctype;
        m_context->sax->startElementNs = &TFileParse::onElement;
        m_context->sax->comment = &TFileParse::onComment;
        m_context->sax->processingInstruction = &TFileParse::onProcessingInstruction;
        xmlParseDocument(m_context);
        DocumentPtr doc(m_context->myDoc);
        m_context->myDoc = nullptr;
        if (m_refusal) {
            error = {m_refusalLine, *m_refusal, sourceLine(m_text, m_refusalLine, nullptr)};
            return std::nullopt;
        }
        if (!doc || !m_context->wellFormed) {
            error.line = capture.HasError() ? capture.Line() : 0;
            error.reason = capture.HasError() ? capture.Message() : "документ составлен с ошибками";
            error.sourceText = sourceLine(m_text, error.line, nullptr);
            return std::nullopt;
        }
        stripBlankText(reinterpret_cast<xmlNodePtr>(doc.get()));
        return Document(std::move(doc));
    }

private:
    // libxml2 2.9 checks every attribute of a start tag against all earlier
    // ones before any callback sees the tag: 200,000 attributes take minutes.
    // Its attribute and namespace tables, which grow with the largest tag so
    // far, give such a tag away while it is read; past this many entries, far
    // beyond kMaxAttributes however the tables grow, the input ends there.
    static constexpr int kRunawayEntries = 5 * 4 * kMaxAttributes;

    static TFileParse &of(void *context)
    {
        return *static_cast<TFileParse *>(static_cast<xmlParserCtxtPtr>(context)->_private);
    }

    static int read(void *self, char *buffer, int length)
    {
        auto &parse = *static_cast<TFileParse *>(self);
        const xmlParserCtxtPtr context = parse.m_context;
        if (context && (context->maxatts > kRunawayEntries || context->nsMax > kRunawayEntries)) {
            parse.record(tooManyAttributes());
            return 0;
        }
        const std::size_t piece = std::min(static_cast<std::size_t>(length), parse.m_text.size() - parse.m_position);
        std::memcpy(buffer, parse.m_text.data() + parse.m_position, piece);
        parse.m_position += piece;
        return static_cast<int>(piece);
    }

    static int close(void *) { return 0; }

    static void onDoctype(void *context, const xmlChar *, const xmlChar *, const xmlChar *)
    {
        // Entities declared there could expand a few kilobytes into gigabytes.
        of(context).refuse("объявление типа документа (DOCTYPE) не допускается");
    }

    static void onElement(void *context, const xmlChar *localName, const xmlChar *prefix, const xmlChar *uri,
                          int namespaceCount, const xmlChar **namespaces, int attributeCount, int defaultedCount,
                          const xmlChar **attributes)
    {
        TFileParse &parse = of(context);
        if (namespaceCount + attributeCount > kMaxAttributes)
            return parse.refuse(tooManyAttributes());
        if (!parse.count(1 + namespaceCount + attributeCount))
            return;
        xmlSAX2StartElementNs(context, localName, prefix, uri, namespaceCount, namespaces, attributeCount,
                              defaultedCount, attributes);
    }

    static void onComment(void *context, const xmlChar *value)
    {
        if (of(context).count(1))
            xmlSAX2Comment(context, value);
    }

    static void onProcessingInstruction(void *context, const xmlChar *target, const xmlChar *data)
    {
        if (of(context).count(1))
            xmlSAX2ProcessingInstruction(context, target, data);
    }

    static std::string tooManyAttributes()
    {
        return "у элемента больше " + std::to_string(kMaxAttributes) + " атрибутов";
    }

    bool count(int nodes)
    {
        m_nodes += nodes;
        if (m_nodes <= kMaxNodes)
            return true;
        refuse("в документе больше " + std::to_string(kMaxNodes) + " элементов и атрибутов");
        return false;
    }

    void record(const std::string &reason)
    {
        if (m_refusal)
            return;
        m_refusal = reason;
        m_refusalLine = m_context->input ? m_context->input->line : 0;
    }

    // From a callback only: the parser's input is torn down at once.
    void refuse(const std::string &reason)
    {
        record(reason);
        xmlStopParser(m_context);
    }

    std::string_view m_text;
    std::size_t m_position = 0;
    xmlParserCtxtPtr m_context = nullptr;
    long m_nodes = 0;
    std::optional<std::string> m_refusal;
    int m_refusalLine = 0;
};

} // namespace

// ---------------------------------------------------------------------- Node

NodeType Node::Type() const
{
    switch (m_node->type) {
    case XML_ELEMENT_NODE:
        return NodeType::Element;
    case XML_ATTRIBUTE_NODE:
        return NodeType::Attribute;
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
        return NodeType::Text;
    case XML_PI_NODE:
        return NodeType::ProcessingInstruction;
    case XML_COMMENT_NODE:
        return NodeType::Comment;
    case XML_DOCUMENT_NODE:
        return NodeType::Document;
    default:
        return NodeType::Other;
    }
}

std::string_view Node::LocalName() const
{
    requireNode(*this, "LocalName");
    return m_node->name ? std::string_view(reinterpret_cast<const char *>(m_node->name)) : std::string_view();
}

bool Node::HasNamespace() const
{
    return m_node && m_node->ns;
}

std::string Node::Name() const
{
    requireNode(*this, "Name");
    switch (m_node->type) {
    case XML_ELEMENT_NODE:
    case XML_ATTRIBUTE_NODE:
        if (m_node->ns && m_node->ns->prefix)
            return fromXml(m_node->ns->prefix) + ":" + fromXml(m_node->name);
        return fromXml(m_node->name);
    case XML_TEXT_NODE:
        return "#text";
    case XML_CDATA_SECTION_NODE:
        return "#cdata-section";
    case XML_COMMENT_NODE:
        return "#comment";
    case XML_DOCUMENT_NODE:
        return "#document";
    default:
        return fromXml(m_node->name);
    }
}

std::string Node::Text() const
{
    requireNode(*this, "Text");
    return takeXml(xmlNodeGetContent(m_node));
}

void Node::SetText(std::string_view text) const
{
    requireNode(*this, "SetText");
    const std::string value(text);
    if (m_node->type == XML_ATTRIBUTE_NODE) {
        if (m_node->parent)
            xmlSetProp(m_node->parent, m_node->name, toXml(value));
        return;
    }
    if (m_node->type != XML_ELEMENT_NODE) {
        xmlNodeSetContent(m_node, nullptr);
        xmlNodeAddContentLen(m_node, toXml(value), static_cast<int>(value.size()));
        return;
    }
    while (m_node->children)
        park(m_node->children);
    if (!value.empty())
        xmlAddChild(m_node, xmlNewDocTextLen(m_node->doc, toXml(value), static_cast<int>(value.size())));
}

bool Node::HasAttribute(const std::string &name) const
{
    return m_node && m_node->type == XML_ELEMENT_NODE && xmlHasProp(m_node, toXml(name)) != nullptr;
}

std::optional<std::string> Node::Attribute(const std::string &name) const
{
    if (!m_node || m_node->type != XML_ELEMENT_NODE)
        return std::nullopt;
    xmlAttrPtr attr = xmlHasProp(m_node, toXml(name));
    if (!attr)
        return std::nullopt;
    return takeXml(xmlNodeGetContent(reinterpret_cast<xmlNodePtr>(attr)));
}

void Node::SetAttribute(const std::string &name, std::string_view value) const
{
    requireNode(*this, "SetAttribute");
    if (!IsValidName(name))
        fail("Недопустимое имя атрибута \"" + name + "\"");
    xmlSetProp(m_node, toXml(name), toXml(std::string(value)));
}

bool Node::HasChildNodes() const
{
    return m_node && m_node->type != XML_ATTRIBUTE_NODE && m_node->children != nullptr;
}

Node Node::FirstChild() const
{
    return Node(m_node && m_node->type != XML_ATTRIBUTE_NODE ? m_node->children : nullptr);
}

Node Node::NextSibling() const
{
    return Node(m_node ? m_node->next : nullptr);
}

Node Node::Parent() const
{
    return Node(m_node ? m_node->parent : nullptr);
}

std::vector<Node> Node::ChildNodes() const
{
    std::vector<Node> children;
    for (Node child = FirstChild(); child; child = child.NextSibling())
        children.push_back(child);
    return children;
}

Node Node::ChildElement(std::string_view name) const
{
    for (xmlNodePtr child = FirstChild().Raw(); child; child = child->next)
        if (child->type == XML_ELEMENT_NODE && !child->ns && name == reinterpret_cast<const char *>(child->name))
            return Node(child);
    return Node();
}

std::vector<Node> Node::Select(const std::string &xpath) const
{
    requireNode(*this, "Select");
    ErrorCapture capture;
    std::unique_ptr<xmlXPathContext, decltype(&xmlXPathFreeContext)> context(xmlXPathNewContext(m_node->doc),
                                                                             &xmlXPathFreeContext);
    if (!context)
        fail("Недостаточно памяти для выражения XPath");
    context->node = m_node;
    std::unique_ptr<xmlXPathObject, decltype(&xmlXPathFreeObject)> result(
        xmlXPathEvalExpression(toXml(xpath), context.get()), &xmlXPathFreeObject);
    if (!result)
        fail("Ошибка в выражении XPath \"" + xpath + "\": " + (capture.HasError() ? capture.Message() : "?"));
    std::vector<Node> nodes;
    if (result->type == XPATH_NODESET && result->nodesetval) {
        for (int i = 0; i < result->nodesetval->nodeNr; ++i) {
            xmlNodePtr node = result->nodesetval->nodeTab[i];
            if (node && node->type != XML_NAMESPACE_DECL)
                nodes.emplace_back(node);
        }
    }
    return nodes;
}

Node Node::SelectSingle(const std::string &xpath) const
{
    const auto nodes = Select(xpath);
    return nodes.empty() ? Node() : nodes.front();
}

Node Node::AppendChild(Node child) const
{
    requireNode(*this, "AppendChild");
    requireNode(child, "AppendChild");
    xmlNodePtr node = raw(child);
    xmlUnlinkNode(node);
    xmlNodePtr added = xmlAddChild(m_node, node);
    if (!added)
        fail("Не удалось добавить узел \"" + child.Name() + "\"");
    return Node(added);
}

Node Node::AppendNewElement(const std::string &name) const
{
    requireNode(*this, "AppendNewElement");
    if (!IsValidName(name))
        fail("Недопустимое имя элемента \"" + name + "\"");
    return Node(xmlNewChild(m_node, nullptr, toXml(name), nullptr));
}

void Node::RemoveChild(Node child) const
{
    requireNode(*this, "RemoveChild");
    if (!child || raw(child)->parent != m_node)
        fail("Удаляемый узел не является дочерним");
    park(raw(child));
}

Node Node::CloneInto(Document &target) const
{
    requireNode(*this, "CloneInto");
    xmlNodePtr copy = xmlDocCopyNode(m_node, target.Raw(), 1);
    if (!copy)
        fail("Не удалось скопировать узел \"" + Name() + "\"");
    park(copy); // owned by the target until it is appended
    return Node(copy);
}

// ------------------------------------------------------------------ Document

void DocumentDeleter::operator()(_xmlDoc *doc) const
{
    if (doc->_private)
        xmlFreeNode(static_cast<xmlNodePtr>(doc->_private));
    doc->_private = nullptr;
    xmlFreeDoc(doc);
}

void StylesheetDeleter::operator()(_xsltStylesheet *sheet) const
{
    xsltFreeStylesheet(sheet);
}

Document::Document()
{
    ensureInitialised();
    m_doc.reset(xmlNewDoc(BAD_CAST "1.0"));
}

Document::Document(DocumentPtr doc) : m_doc(std::move(doc)) {}

std::optional<Document> Document::Parse(std::string_view text, ParseError &error, const char *encoding)
{
    ErrorCapture capture;
    if (text.size() > static_cast<std::size_t>(INT_MAX)) {
        error = {0, "Document too large", std::string()};
        return std::nullopt;
    }
    std::unique_ptr<xmlParserCtxt, decltype(&xmlFreeParserCtxt)> context(xmlNewParserCtxt(), &xmlFreeParserCtxt);
    if (!context) {
        error = {0, "Out of memory", std::string()};
        return std::nullopt;
    }
    // An imposed encoding also ignores the declared one, which may name an encoding nobody knows.
    DocumentPtr doc(xmlCtxtReadMemory(context.get(), text.data(), static_cast<int>(text.size()), nullptr, encoding,
                                      encoding ? kParseOptions | XML_PARSE_IGNORE_ENC : kParseOptions));
    if (!doc || !context->wellFormed) {
        error.line = capture.HasError() ? capture.Line() : 0;
        error.reason = capture.HasError() ? capture.Message() : "документ составлен с ошибками";
        error.sourceText = sourceLine(text, error.line, encoding);
        return std::nullopt;
    }
    stripBlankText(reinterpret_cast<xmlNodePtr>(doc.get()));
    return Document(std::move(doc));
}

std::optional<Document> Document::Load(const std::filesystem::path &path, ParseError &error)
{
    std::string reason;
    const std::optional<std::string> text = ReadRegularFile(path, kMaxFileBytes, reason);
    if (!text) {
        error = {0, reason, std::string()};
        return std::nullopt;
    }
    return TFileParse(*text).Run(error);
}

Node Document::AsNode() const
{
    return Node(reinterpret_cast<xmlNodePtr>(m_doc.get()));
}

Node Document::DocumentElement() const
{
    return Node(xmlDocGetRootElement(m_doc.get()));
}

void Document::SetDocumentElement(Node element)
{
    requireNode(element, "SetDocumentElement");
    xmlUnlinkNode(raw(element));
    xmlNodePtr old = xmlDocSetRootElement(m_doc.get(), raw(element));
    if (old)
        park(old);
}

Node Document::CreateElement(const std::string &name)
{
    if (!IsValidName(name))
        fail("Недопустимое имя элемента \"" + name + "\"");
    xmlNodePtr element = xmlNewDocNode(m_doc.get(), nullptr, toXml(name), nullptr);
    park(element); // owned by the document until it is appended
    return Node(element);
}

void Document::AppendProcessingInstruction(const std::string &target, const std::string &data)
{
    if (target != "xml") {
        xmlNodePtr pi = xmlNewDocPI(m_doc.get(), toXml(target), toXml(data));
        xmlAddChild(reinterpret_cast<xmlNodePtr>(m_doc.get()), pi);
        return;
    }
    // Pseudo-attributes of the declaration: version="..." encoding="...".
    auto pseudo = [&](const std::string &name) -> std::optional<std::string> {
        const auto at = data.find(name + "=");
        if (at == std::string::npos || at + name.size() + 1 >= data.size())
            return std::nullopt;
        const char quote = data[at + name.size() + 1];
        const auto begin = at + name.size() + 2;
        const auto end = data.find(quote, begin);
        if (end == std::string::npos)
            return std::nullopt;
        return data.substr(begin, end - begin);
    };
    if (const auto version = pseudo("version")) {
        xmlFree(const_cast<xmlChar *>(m_doc->version));
        m_doc->version = xmlStrdup(toXml(*version));
    }
    if (const auto encoding = pseudo("encoding")) {
        xmlFree(const_cast<xmlChar *>(m_doc->encoding));
        m_doc->encoding = xmlStrdup(toXml(*encoding));
    }
}

std::string Document::Encoding() const
{
    return fromXml(m_doc->encoding);
}

std::string Document::Save() const
{
    ErrorCapture capture;
    xmlChar *buffer = nullptr;
    int size = 0;
    const std::string encoding = m_doc->encoding ? fromXml(m_doc->encoding) : "UTF-8";
    xmlDocDumpFormatMemoryEnc(m_doc.get(), &buffer, &size, encoding.c_str(), 0);
    if (!buffer)
        fail("Не удалось сохранить документ в кодировке \"" + encoding + "\"");
    std::string text(reinterpret_cast<const char *>(buffer), static_cast<std::size_t>(size));
    xmlFree(buffer);
    // A name the encoding cannot hold comes out as a character reference, which no parser reads back.
    // Names in plain ASCII fit every encoding, so only documents with others are read back to be sure.
    if (namesAreAscii(m_doc.get()))
        return text;
    ParseError error;
    if (!Parse(text, error))
        fail("Документ нельзя записать в кодировке \"" + encoding + "\": строка " + std::to_string(error.line) + ": " +
             error.reason);
    return text;
}

std::string Document::SaveWithChildren(const std::vector<Node> &children) const
{
    const xmlNodePtr root = xmlDocGetRootElement(m_doc.get());
    const bool plain = root && !root->children && subtreeIsPlain(root) && m_doc->encoding &&
                       xmlStrcasecmp(m_doc->encoding, toXml("windows-1251")) == 0 &&
                       std::all_of(children.begin(), children.end(), [](Node child) { return isPlainValue(child.Raw()); });
    if (!plain) {
        // Copies reconcile namespaces, and libxml2 writes whatever else the elements hold.
        Document copy;
        copy.m_doc.reset(xmlCopyDoc(m_doc.get(), 1));
        if (!copy.m_doc)
            fail("Не удалось скопировать документ");
        const Node target = copy.DocumentElement();
        for (Node child : children)
            target.AppendChild(child.CloneInto(copy));
        return copy.Save();
    }
    std::string text = Save();
    if (children.empty())
        return text;
    // The childless root ends the text as "<name .../>\n": the children go where the "/>" was.
    const std::size_t close = text.rfind("/>");
    if (close == std::string::npos)
        fail("Не удалось сохранить документ");
    text.resize(close);
    text += '>';
    for (Node child : children)
        appendPlainValue(text, child.Raw());
    text += "</" + fromXml(root->name) + ">\n";
    return text;
}

// ---------------------------------------------------------------- Stylesheet

Stylesheet Stylesheet::Parse(std::string_view text)
{
    ParseError error;
    auto doc = Document::Parse(text, error);
    if (!doc)
        throw EXmlError("Строка " + std::to_string(error.line) + ": " + error.reason, error.line, error.reason,
                        error.sourceText);
    ErrorCapture capture;
    // The stylesheet takes the document over only when it succeeds.
    StylesheetPtr sheet(xsltParseStylesheetDoc(doc->Raw()));
    if (!sheet)
        fail("Не удалось разобрать таблицу стилей: " + capture.Message());
    [[maybe_unused]] _xmlDoc *ownedBySheet = doc->m_doc.release();
    return Stylesheet(std::move(sheet));
}

std::string Stylesheet::TransformToText(const Document &input) const
{
    ErrorCapture capture;
    DocumentPtr result(xsltApplyStylesheet(m_sheet.get(), input.Raw(), nullptr));
    if (!result)
        fail("Ошибка преобразования документа: " + capture.Message());
    xmlChar *buffer = nullptr;
    int size = 0;
    if (xsltSaveResultToString(&buffer, &size, result.get(), m_sheet.get()) != 0 || (!buffer && size != 0))
        fail("Ошибка сохранения результата преобразования: " + capture.Message());
    std::string text = buffer ? std::string(reinterpret_cast<const char *>(buffer), static_cast<std::size_t>(size))
                              : std::string();
    xmlFree(buffer);
    return text;
}

bool IsValidName(std::string_view name)
{
    ensureInitialised();
    return !name.empty() && xmlValidateName(toXml(std::string(name)), 0) == 0;
}

} // namespace xml

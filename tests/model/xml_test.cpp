#include "model/cp1251.h"
#include "model/errors.h"
#include "model/xml.h"
#include "tests/model/catalogue_fixture.h"

#include <gtest/gtest.h>

namespace {

xml::ParseError parseError(std::string_view text)
{
    xml::ParseError error;
    EXPECT_FALSE(xml::Document::Parse(text, error)) << text.substr(0, 80);
    return error;
}

std::string repeated(const std::string &unit, int count)
{
    std::string text;
    text.reserve(unit.size() * static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        text += unit;
    return text;
}

// A config root with hw, sw and count more attributes named prefix0, prefix1...
std::string wideConfig(int count, const std::string &prefix)
{
    std::string text = "<config hw=\"5\" sw=\"1\"";
    for (int i = 0; i < count; ++i)
        text += " " + prefix + std::to_string(i) + "=\"1\"";
    return text + "/>";
}

} // namespace

TEST(XmlDocument, IndentationIsNotContent)
{
    const auto doc = ParseOrFail("<devices>\n  <device hw=\"1\">\n    <block>  </block>\n  </device>\n</devices>\n");
    const xml::Node device = doc.DocumentElement().FirstChild();
    EXPECT_EQ(doc.DocumentElement().ChildNodes().size(), 1u);
    EXPECT_EQ(device.ChildNodes().size(), 1u);
    EXPECT_FALSE(device.FirstChild().HasChildNodes());
}

TEST(XmlDocument, TextsThatAreNotDocumentsFailWithTheirLineAndReason)
{
    const auto error = parseError("<config>\n  <a>1</a>\n  <b>2</a>\n</config>");
    EXPECT_EQ(error.line, 3);
    EXPECT_EQ(error.reason, "открывающий и закрывающий теги не совпадают");
    EXPECT_EQ(error.sourceText, "  <b>2</a>");
    const struct {
        std::string text;
        const char *reason; // the start: the parser's own details follow
    } cases[] = {
        {"", "документ пуст"},
        {"<?xml version=\"1.0\"?>\n<config hw=\"1\"><a>", "документ оборван внутри элемента"},
        {"<a/><b/>", "лишний текст после конца документа"},
        {std::string("<a>x\0y</a>", 10), "недопустимый символ"},
        {"<?xml version=\"1.0\" encoding=\"utf-8\"?><a>\xFF\xFE</a>", "недопустимый символ: 0xFF 0xFE"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(parseError(c.text).reason.rfind(c.reason, 0), 0u) << c.reason;
}

TEST(XmlDocument, EncodingOverrideTakesBytesAsWindows1251)
{
    const std::string declaredUtf8 = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";
    const auto doc = ParseOrFail(declaredUtf8 + "<c>\xCF\xF0\xE8\xE2\xE5\xF2</c>", "windows-1251");
    EXPECT_EQ(doc.DocumentElement().Text(), "Привет");
}

TEST(XmlDocument, SpecialCharactersRoundTripInBothEncodings)
{
    const std::string tricky = "a & b < c > d \" e ' f Привет №1";
    for (const std::string encoding : {"utf-8", "windows-1251"}) {
        xml::Document doc;
        doc.AppendProcessingInstruction("xml", "version=\"1.0\" encoding=\"" + encoding + "\"");
        xml::Node root = doc.CreateElement("config");
        root.SetAttribute("note", tricky);
        doc.SetDocumentElement(root);
        root.AppendChild(doc.CreateElement("text")).SetText(tricky);
        const std::string saved = doc.Save();
        EXPECT_NE(saved.find("encoding=\"" + encoding + "\""), std::string::npos) << saved;
        EXPECT_NE(saved.find(encoding == "utf-8" ? "Привет" : Utf8ToCp1251("Привет")), std::string::npos) << saved;
        const auto loaded = ParseOrFail(saved);
        EXPECT_EQ(loaded.DocumentElement().Attribute("note"), tricky) << encoding;
        EXPECT_EQ(loaded.DocumentElement().FirstChild().Text(), tricky) << encoding;
    }
}

TEST(XmlDocument, InvalidNamesAreRefused)
{
    xml::Document doc;
    for (const char *name : {"", "1abc", "a b"}) {
        EXPECT_THROW(doc.CreateElement(name), EXmlError) << name;
        EXPECT_FALSE(xml::IsValidName(name)) << name;
    }
    EXPECT_NO_THROW(doc.CreateElement("имя"));
    EXPECT_THROW(xml::Stylesheet::Parse("<not-a-stylesheet/>"), EXmlError);
}

TEST(XmlNode, SelectEvaluatesRelativeToTheNode)
{
    const auto doc = ParseOrFail(R"(<devices><device hw="1"><block><item name="a"/><item name="b"/></block>
                                    <array name="x" start="1"/></device></devices>)");
    const auto devices = doc.AsNode().Select("/devices/device");
    ASSERT_EQ(devices.size(), 1u);
    const xml::Node block = devices[0].SelectSingle("block");
    EXPECT_EQ(block.Select("item").size(), 2u);
    EXPECT_EQ(devices[0].SelectSingle("@hw").Text(), "1");
    EXPECT_FALSE(devices[0].SelectSingle("struct[@name=\"x\"]"));
    EXPECT_THROW(devices[0].Select("item[@name="), EXmlError);
}

TEST(XmlNode, ChildElementFindsTheFirstElementOfThatNameOutsideNamespaces)
{
    const auto doc = ParseOrFail(R"(<a><!--b--><n:b xmlns:n="urn:x">0</n:b><b xmlns="urn:y">1</b><b>2</b><b>3</b></a>)");
    EXPECT_EQ(doc.DocumentElement().ChildElement("b").Text(), "2");
    EXPECT_FALSE(doc.DocumentElement().ChildElement("c"));
}

TEST(XmlNode, TextConcatenatesAndSetTextReplaces)
{
    const auto doc = ParseOrFail("<a>x<b>y<c>z</c></b>w</a>");
    const xml::Node a = doc.DocumentElement();
    EXPECT_EQ(a.Text(), "xyzw");
    const xml::Node b = a.ChildElement("b");
    a.SetText("new");
    EXPECT_EQ(a.ChildNodes().size(), 1u);
    EXPECT_EQ(a.Text(), "new");
    EXPECT_EQ(b.Text(), "yz"); // a removed child stays readable
    a.SetText("");
    EXPECT_FALSE(a.HasChildNodes());
}

TEST(XmlNode, AppendMovesBetweenDocumentsRemoveKeepsHandlesCloneCopiesDeeply)
{
    const auto source = ParseOrFail("<config><p1>1</p1><p2>2</p2><arr><e><f>5</f></e></arr></config>");
    const auto target = ParseOrFail("<config hw=\"1\"><p0>0</p0></config>");
    xml::Node from = source.DocumentElement();
    xml::Node to = target.DocumentElement();
    const xml::Node array = from.ChildElement("arr");
    from.RemoveChild(array);
    while (from.FirstChild())
        to.AppendChild(from.FirstChild());
    EXPECT_FALSE(from.HasChildNodes());
    ASSERT_EQ(to.ChildNodes().size(), 3u);
    EXPECT_EQ(to.ChildNodes()[2].Name(), "p2");

    const xml::Node p1 = to.ChildElement("p1");
    to.RemoveChild(p1);
    EXPECT_EQ(p1.Text(), "1");
    EXPECT_EQ(to.ChildNodes().size(), 2u);
    EXPECT_THROW(to.RemoveChild(p1), EXmlError);

    xml::Document copyTarget;
    const xml::Node copy = array.CloneInto(copyTarget);
    array.FirstChild().FirstChild().SetText("6");
    EXPECT_EQ(copy.Text(), "5");
}

TEST(XmlDocumentLoad, WhatNoSettingsOrCatalogueFileHoldsIsRefusedAtOnce)
{
    const std::string doctype = "объявление типа документа (DOCTYPE) не допускается";
    const std::string attributes = "у элемента больше 256 атрибутов";
    const std::string nodes = "в документе больше 250000 элементов и атрибутов";
    const struct {
        const char *what;
        std::string text;
        std::string reason; // empty: the file loads
        int line;
    } cases[] = {
        {"billion laughs", "<?xml version=\"1.0\"?>\n" + BillionLaughsDoctype("config") + "\n<config>&k;</config>", doctype, 2},
        {"document type without entities", "<!DOCTYPE config>\n<config/>", doctype, 1},
        {"the most attributes", wideConfig(xml::kMaxAttributes - 2, "a"), "", 0},
        {"one attribute more", wideConfig(xml::kMaxAttributes - 1, "a"), attributes, 1},
        {"200,000 attributes", "\n" + wideConfig(200000, "a"), attributes, 2},
        {"namespace declarations count too", wideConfig(xml::kMaxAttributes - 1, "xmlns:a"), attributes, 1},
        {"200,000 namespace declarations", wideConfig(200000, "xmlns:a"), attributes, 1},
        {"the most nodes", "<config>" + repeated("<a/>", xml::kMaxNodes - 1) + "</config>", "", 0},
        {"one element more", "<config>" + repeated("<a/>", xml::kMaxNodes) + "</config>", nodes, 1},
        {"attributes count as nodes", "<config>" + repeated("<a b=\"1\"/>", xml::kMaxNodes / 2) + "</config>", nodes, 1},
        {"comments count as nodes", "<config>" + repeated("<!---->", xml::kMaxNodes) + "</config>", nodes, 1},
    };
    TTempDir dir;
    for (const auto &c : cases) {
        const std::string file = dir.Write("hostile.xml", c.text);
        xml::ParseError error;
        EXPECT_EQ(xml::Document::Load(file, error).has_value(), c.reason.empty()) << c.what << ": " << error.reason;
        EXPECT_EQ(error.reason, c.reason) << c.what;
        EXPECT_EQ(error.line, c.line) << c.what;
    }
}

// A block text is written straight from the value document; it must be the
// text that a save of copies of the same elements gives, byte for byte.
TEST(XmlDocument, SaveWithChildrenWritesWhatASaveOfCopiesWrites)
{
    std::string every; // every character up to U+04FF and some beyond, markup characters included
    for (char32_t code = 0x20; code < 0x500; ++code)
        AppendUtf8(every, code);
    for (char32_t code : {U'\t', U'\n', U'\r', U'№', U'€', U'™', U'中', U'😀'})
        AppendUtf8(every, code);
    auto values = ParseOrFail("<config xmlns:p=\"urn:p\"><plain/><nested><a>1</a><b/>x<c><d>&gt;</d></c></nested>"
                        "<attributed a=\"&quot;ё\">1</attributed><commented>1<!-- c --></commented>"
                        "<p:spaced>1</p:spaced><inner><p:spaced/></inner></config>");
    values.DocumentElement().FirstChild().SetText(every);
    const std::vector<xml::Node> elements = values.DocumentElement().ChildNodes();
    auto shell = [] {
        xml::Document document;
        document.AppendProcessingInstruction("xml", "version=\"1.0\" encoding=\"windows-1251\"");
        xml::Node config = document.CreateElement("config");
        config.SetAttribute("hw", "7");
        document.SetDocumentElement(config);
        return document;
    };
    const std::vector<std::vector<xml::Node>> cases = {
        {}, {elements[0]}, {elements[0], elements[1]}, elements, {elements[2]}, {elements[3]}, {elements[4]},
        {elements[5]}};
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE("case " + std::to_string(i));
        xml::Document copies = shell();
        for (xml::Node element : cases[i])
            copies.DocumentElement().AppendChild(element.CloneInto(copies));
        EXPECT_EQ(shell().SaveWithChildren(cases[i]), copies.Save());
    }
}

#include "model/cp1251.h"
#include "model/errors.h"
#include "model/xml.h"
#include "tests/model/catalogue_fixture.h"

#include <gtest/gtest.h>

namespace {

std::string repeated(const std::string &unit, int count)
{
    std::string text;
    while (count-- > 0)
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

TEST(XmlDocument, TextsThatAreNotDocumentsFailWithTheirReason)
{
    const struct {
        std::string text;
        const char *reason; // the start: the parser's own details follow
    } cases[] = {
        {"", "документ пуст"},
        {"<config>\n  <b>2</a>\n</config>", "открывающий и закрывающий теги не совпадают"},
        {"<?xml version=\"1.0\"?>\n<config hw=\"1\"><a>", "документ оборван внутри элемента"},
        {"<a/><b/>", "лишний текст после конца документа"},
        {"<?xml version=\"1.0\" encoding=\"utf-8\"?><a>\xFF\xFE</a>", "недопустимый символ: 0xFF 0xFE"},
    };
    for (const auto &c : cases) {
        xml::ParseError error;
        EXPECT_FALSE(xml::Document::Parse(c.text, error));
        EXPECT_EQ(error.reason.rfind(c.reason, 0), 0u) << c.reason << ": " << error.reason;
    }
}

TEST(XmlDocument, EncodingOverrideTakesBytesAsWindows1251WhateverTheDeclarationSays)
{
    const std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?><c>\xCF\xF0\xE8\xE2\xE5\xF2</c>";
    EXPECT_EQ(ParseOrFail(text, "windows-1251").DocumentElement().Text(), "Привет");
}

TEST(XmlDocument, InvalidNamesAreRefused)
{
    xml::Document doc;
    for (const char *name : {"", "1abc", "a b"})
        EXPECT_THROW(doc.CreateElement(name), EXmlError) << name;
    EXPECT_NO_THROW(doc.CreateElement("имя"));
}

TEST(XmlNode, SelectEvaluatesRelativeToTheNodeAndIndentationIsNotContent)
{
    const auto doc = ParseOrFail(R"(<devices><device hw="1"><block><item name="a"/><item name="b"/></block>
                                    <array name="x" start="1">  </array></device></devices>)");
    const auto devices = doc.AsNode().Select("/devices/device");
    ASSERT_EQ(devices.size(), 1u);
    // Indentation is not content.
    EXPECT_EQ(devices[0].ChildNodes().size(), 2u);
    EXPECT_FALSE(devices[0].ChildElement("array").HasChildNodes());
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

TEST(XmlNode, EditsMoveCopyAndReplaceNodesAndRemovedNodesStayReadable)
{
    const auto doc = ParseOrFail("<a>x<b>y<c>z</c></b>w</a>");
    const xml::Node a = doc.DocumentElement();
    EXPECT_EQ(a.Text(), "xyzw");
    const xml::Node b = a.ChildElement("b");
    a.SetText("new");
    EXPECT_EQ(a.Text(), "new");
    EXPECT_EQ(b.Text(), "yz"); // a removed child stays readable
    a.SetText("");
    EXPECT_FALSE(a.HasChildNodes());
    const auto source = ParseOrFail("<config><p1>1</p1><p2>2</p2><arr><e><f>5</f></e></arr></config>");
    const auto target = ParseOrFail("<config hw=\"1\"><p0>0</p0></config>");
    xml::Node from = source.DocumentElement();
    xml::Node to = target.DocumentElement();
    const xml::Node array = from.ChildElement("arr");
    from.RemoveChild(array);
    while (from.FirstChild())
        to.AppendChild(from.FirstChild());
    const xml::Node p1 = to.ChildElement("p1");
    to.RemoveChild(p1);
    EXPECT_EQ(p1.Text(), "1");
    ASSERT_EQ(to.ChildNodes().size(), 2u);
    EXPECT_EQ(to.ChildNodes()[1].Name(), "p2");
    EXPECT_THROW(to.RemoveChild(p1), EXmlError);
    xml::Document copyTarget;
    const xml::Node copy = array.CloneInto(copyTarget);
    array.FirstChild().FirstChild().SetText("6");
    EXPECT_EQ(copy.Text(), "5");
}

TEST(XmlDocumentLoad, WhatNoSettingsOrCatalogueFileHoldsIsRefusedAtOnce)
{
    const std::string attributes = "у элемента больше 256 атрибутов";
    const std::string nodes = "в документе больше 250000 элементов и атрибутов";
    const struct {
        const char *what;
        std::string text;
        std::string reason; // empty: the file loads
        int line;
    } cases[] = {
        {"document type", "<!DOCTYPE config>\n<config/>", "объявление типа документа (DOCTYPE) не допускается", 1},
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
    std::string every = "\t\n\r№€™中😀"; // and every character up to U+04FF, markup characters included
    for (char32_t code = 0x20; code < 0x500; ++code)
        AppendUtf8(every, code);
    auto values = ParseOrFail("<config xmlns:p=\"urn:p\"><plain/><nested><a>1</a><b/>x<c><d>&gt;</d></c></nested>"
                        "<attributed a=\"&quot;ё\">1</attributed><commented>1<!-- c --></commented>"
                        "<p:spaced>1</p:spaced><inner><p:spaced/></inner></config>");
    values.DocumentElement().FirstChild().SetText(every);
    const std::vector<xml::Node> elements = values.DocumentElement().ChildNodes();
    const auto shell = [] { return ParseOrFail(R"(<?xml version="1.0" encoding="windows-1251"?><config hw="7"/>)"); };
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

#include "model/cp1251.h"
#include "model/errors.h"
#include "model/xml.h"
#include "tests/model/catalogue_fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

namespace {

xml::Document parse(std::string_view text, const char *encoding = nullptr)
{
    xml::ParseError error;
    auto doc = xml::Document::Parse(text, error, encoding);
    if (!doc)
        ADD_FAILURE() << "line " << error.line << ": " << error.reason;
    return doc ? std::move(*doc) : xml::Document();
}

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
    auto doc = parse("<devices>\n  <device hw=\"1\">\n    <block>  </block>\n  </device>\n</devices>\n");
    const xml::Node device = doc.DocumentElement().FirstChild();
    EXPECT_EQ(device.Name(), "device");
    EXPECT_EQ(doc.DocumentElement().ChildNodes().size(), 1u);
    EXPECT_EQ(device.ChildNodes().size(), 1u);
    EXPECT_FALSE(device.FirstChild().HasChildNodes());
}

TEST(XmlDocument, TextsThatAreNotDocumentsFailWithTheirLineAndReason)
{
    const auto error = parseError("<config>\n  <a>1</a>\n  <b>2</a>\n</config>");
    EXPECT_EQ(error.line, 3);
    EXPECT_FALSE(error.reason.empty());
    EXPECT_EQ(error.sourceText, "  <b>2</a>");

    std::string laughs = "<?xml version=\"1.0\"?>\n<!DOCTYPE lolz [\n<!ENTITY lol \"lol\">\n";
    laughs += "<!ENTITY lol1 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">\n";
    for (int i = 2; i <= 9; ++i) {
        laughs += "<!ENTITY lol" + std::to_string(i) + " \"";
        for (int j = 0; j < 10; ++j)
            laughs += "&lol" + std::to_string(i - 1) + ";";
        laughs += "\">\n";
    }
    laughs += "]>\n<config hw=\"1\" sw=\"1\"><a>&lol9;</a></config>";
    std::string deep;
    for (int i = 0; i < 100000; ++i)
        deep += "<a>";
    const struct {
        const char *what;
        std::string text;
    } cases[] = {
        {"empty", ""},
        {"cut off", "<?xml version=\"1.0\"?>\n<config hw=\"1\"><a>"},
        {"two roots", "<a/><b/>"},
        {"NUL byte", std::string("<a>x\0y</a>", 10)},
        {"invalid UTF-8", "<?xml version=\"1.0\" encoding=\"utf-8\"?><a>\xFF\xFE</a>"},
        {"not XML", "hello"},
        // The parser's limits hold for hostile documents.
        {"billion laughs", laughs},
        {"100,000 levels", deep},
        {"50 MB attribute", "<a b=\"" + std::string(50 * 1024 * 1024, 'x') + "\"/>"},
    };
    for (const auto &c : cases)
        EXPECT_FALSE(parseError(c.text).reason.empty()) << c.what;
}

TEST(XmlDocument, ExternalEntitiesAreNeverRead)
{
    const auto secret = std::filesystem::path(::testing::TempDir()) / "configurator-secret.txt";
    std::ofstream(secret) << "TOP-SECRET-CONTENT";
    const std::string text = "<?xml version=\"1.0\"?>\n<!DOCTYPE config [<!ENTITY xxe SYSTEM \"file://"
                             + secret.string() + "\">]>\n<config hw=\"1\" sw=\"2\"><a>&xxe;</a></config>";
    xml::ParseError error;
    auto doc = xml::Document::Parse(text, error);
    if (doc) {
        EXPECT_EQ(doc->DocumentElement().Text().find("TOP-SECRET"), std::string::npos);
        EXPECT_EQ(doc->Save().find("TOP-SECRET"), std::string::npos);
    }
    EXPECT_EQ(error.sourceText.find("TOP-SECRET"), std::string::npos);
}

TEST(XmlDocument, EncodingOverrideTakesBytesAsWindows1251)
{
    const std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?><config><name>\xCF\xF0\xE8\xE2\xE5\xF2</name></config>";
    auto doc = parse(text, "windows-1251");
    EXPECT_EQ(doc.DocumentElement().Text(), "Привет");
}

TEST(XmlDocument, SpecialCharactersRoundTripInBothEncodings)
{
    const std::string tricky = "a & b < c > d \" e ' f Привет №1";
    for (const char *encoding : {"utf-8", "windows-1251"}) {
        xml::Document doc;
        doc.AppendProcessingInstruction("xml", std::string("version=\"1.0\" encoding=\"") + encoding + "\"");
        xml::Node root = doc.CreateElement("config");
        root.SetAttribute("note", tricky);
        doc.SetDocumentElement(root);
        root.AppendChild(doc.CreateElement("text")).SetText(tricky);
        const std::string saved = doc.Save();
        EXPECT_NE(saved.find(std::string("encoding=\"") + encoding + "\""), std::string::npos) << saved;
        if (std::string(encoding) == "windows-1251") {
            EXPECT_NE(saved.find(Utf8ToCp1251("Привет")), std::string::npos);
        }
        auto loaded = parse(saved);
        EXPECT_EQ(loaded.DocumentElement().Attribute("note"), tricky) << encoding;
        EXPECT_EQ(loaded.DocumentElement().FirstChild().Text(), tricky) << encoding;
    }
}

TEST(XmlNode, SelectEvaluatesRelativeToTheNode)
{
    auto doc = parse(R"(<devices><device hw="1"><block><item name="a"/><item name="b"/></block>
                        <array name="x" start="1"/></device></devices>)");
    const auto devices = doc.AsNode().Select("/devices/device");
    ASSERT_EQ(devices.size(), 1u);
    const xml::Node block = devices[0].SelectSingle("block");
    EXPECT_EQ(block.Select("item").size(), 2u);
    EXPECT_EQ(block.SelectSingle("item[@name=\"b\"]").Attribute("name"), "b");
    EXPECT_EQ(devices[0].SelectSingle("array[@name=\"x\"]").Attribute("start"), "1");
    EXPECT_EQ(devices[0].SelectSingle("@hw").Text(), "1");
    EXPECT_FALSE(devices[0].SelectSingle("struct[@name=\"x\"]"));
    EXPECT_THROW(devices[0].Select("item[@name="), EXmlError);
}

TEST(XmlNode, ChildElementFindsTheFirstElementOfThatNameOutsideNamespaces)
{
    auto doc = parse(R"(<a><!--b--><n:b xmlns:n="urn:x">0</n:b><b xmlns="urn:y">1</b><b>2</b><b>3</b></a>)");
    EXPECT_EQ(doc.DocumentElement().ChildElement("b").Text(), "2");
    EXPECT_FALSE(doc.DocumentElement().ChildElement("c"));
}

TEST(XmlNode, TextConcatenatesAndSetTextReplaces)
{
    auto doc = parse("<a>x<b>y<c>z</c></b>w</a>");
    xml::Node a = doc.DocumentElement();
    EXPECT_EQ(a.Text(), "xyzw");
    const xml::Node b = a.ChildElement("b");
    a.SetText("new");
    EXPECT_EQ(a.ChildNodes().size(), 1u);
    EXPECT_EQ(a.Text(), "new");
    EXPECT_EQ(b.Text(), "yz"); // a removed child stays readable
    a.SetText("");
    EXPECT_FALSE(a.HasChildNodes());
}

TEST(XmlNode, AppendMovesBetweenDocumentsAndRemoveKeepsHandles)
{
    auto source = parse("<config><p1>1</p1><p2>2</p2></config>");
    auto target = parse("<config hw=\"1\"><p0>0</p0></config>");
    xml::Node from = source.DocumentElement();
    xml::Node to = target.DocumentElement();
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
}

TEST(XmlNode, CloneIntoCopiesDeeply)
{
    auto source = parse("<config><arr><e><f>5</f></e></arr></config>");
    xml::Document target;
    xml::Node root = target.CreateElement("config");
    target.SetDocumentElement(root);
    const xml::Node copy = root.AppendChild(source.DocumentElement().FirstChild().CloneInto(target));
    source.DocumentElement().FirstChild().FirstChild().FirstChild().SetText("6");
    EXPECT_EQ(copy.Text(), "5");
    EXPECT_EQ(target.Save().find("<arr><e><f>5</f></e></arr>") != std::string::npos, true) << target.Save();
}

TEST(XmlDocument, InvalidNamesAreRefused)
{
    xml::Document doc;
    EXPECT_THROW(doc.CreateElement(""), EXmlError);
    EXPECT_THROW(doc.CreateElement("1abc"), EXmlError);
    EXPECT_THROW(doc.CreateElement("a b"), EXmlError);
    EXPECT_NO_THROW(doc.CreateElement("имя"));
    EXPECT_FALSE(xml::IsValidName(""));
    EXPECT_TRUE(xml::IsValidName("value"));
}

TEST(XmlStylesheet, IdentityTransformIndentsAndEncodes)
{
    const auto sheet = xml::Stylesheet::Parse(R"xsl(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="xml" encoding="windows-1251" indent="yes"/>
  <xsl:template match="@* | node()"><xsl:copy><xsl:apply-templates select="@* | node()"/></xsl:copy></xsl:template>
</xsl:stylesheet>)xsl");
    auto doc = parse("<config hw=\"5\" sw=\"300\"><a><value i=\"0\">Да</value></a><b/></config>");
    const std::string text = sheet.TransformToText(doc);
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n<config hw=\"5\" sw=\"300\">\n", 0), 0u) << text;
    EXPECT_NE(text.find("\n  <a>\n    <value i=\"0\">" + Utf8ToCp1251("Да") + "</value>\n  </a>\n  <b/>\n</config>"),
              std::string::npos)
        << text;
    EXPECT_THROW(xml::Stylesheet::Parse("<not-a-stylesheet/>"), EXmlError);
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
        const auto start = std::chrono::steady_clock::now();
        xml::ParseError error;
        const bool loaded = xml::Document::Load(file, error).has_value();
        const auto elapsed = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(loaded, c.reason.empty()) << c.what << ": " << error.reason;
        EXPECT_EQ(error.reason, c.reason) << c.what;
        EXPECT_EQ(error.line, c.line) << c.what;
        // Unbounded, the widest of these take minutes and gigabytes.
        EXPECT_LT(elapsed, std::chrono::seconds(3)) << c.what;
    }
}

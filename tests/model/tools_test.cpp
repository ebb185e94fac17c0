#include "model/errors.h"
#include "model/tools.h"
#include "tests/model/catalogue_fixture.h"

#include <gtest/gtest.h>

namespace {

xml::Document parse(std::string_view text)
{
    xml::ParseError error;
    auto doc = xml::Document::Parse(text, error);
    EXPECT_TRUE(doc) << error.reason;
    return std::move(*doc);
}

} // namespace

TEST(AttributeRules, ReadTextsIntegersAndDefaults)
{
    auto doc = parse(R"(<item name="a" min="-5" max="$10" empty="" bad="1x"/>)");
    const xml::Node item = doc.DocumentElement();
    const xml::Node none;

    EXPECT_TRUE(HasAttribute(item, "empty"));
    EXPECT_FALSE(HasAttribute(item, "absent"));
    EXPECT_FALSE(HasAttribute(none, "name"));

    EXPECT_EQ(GetIntAttribute(item, "min"), -5);
    EXPECT_EQ(GetIntAttribute(item, "max"), 16);
    EXPECT_EQ(GetIntAttribute(item, "absent", 7), 7);
    EXPECT_EQ(GetIntAttribute(item, "min", 7), -5);
    EXPECT_EQ(GetIntAttribute(none, "min", 7), 7);

    EXPECT_EQ(GetAttribute(item, "name"), "a");
    EXPECT_EQ(GetAttribute(item, "absent"), "");
    EXPECT_EQ(GetAttribute(item, "absent", "int"), "int");
    EXPECT_EQ(GetAttribute(item, "empty", "int"), "");
    EXPECT_EQ(GetAttribute(none, "type", "int"), "");
}

TEST(AttributeRules, BadIntegersRaiseTheStandardMessage)
{
    auto doc = parse(R"(<item bad="1x" empty=""/>)");
    const struct {
        const char *attribute;
        const char *message;
    } cases[] = {{"bad", "'1x' is not a valid integer value"},
                 {"empty", "'' is not a valid integer value"},
                 {"absent", "'' is not a valid integer value"}};
    for (const auto &c : cases)
        EXPECT_EQ(FailureOf([&] { GetIntAttribute(doc.DocumentElement(), c.attribute); }),
                  std::string("EConvertError: ") + c.message);
    EXPECT_THROW(GetIntAttribute(doc.DocumentElement(), "bad", 0), EConvertError);
}

TEST(XPathLiteral, QuotesAnyText)
{
    auto doc = parse(R"(<r><e name='say "hi"'/><e name="it's"/><e name="a&quot;b'c"/></r>)");
    for (const char *name : {"say \"hi\"", "it's", "a\"b'c"})
        EXPECT_TRUE(doc.DocumentElement().SelectSingle("e[@name=" + XPathLiteral(name) + "]")) << name;
}

TEST(GroupHasActiveDeactivator, LooksAtDeactivatorLeavesOnly)
{
    auto doc = parse("<v><on>1</on><off>0</off><other>5</other></v>");
    const xml::Node on = doc.DocumentElement().ChildElement("on");
    const xml::Node off = doc.DocumentElement().ChildElement("off");
    const xml::Node other = doc.DocumentElement().ChildElement("other");
    auto leaf = [](xml::Node value, bool deactivator) {
        TTreeData data;
        data.Value = value;
        data.Deactivator = deactivator;
        return data;
    };

    TTreeGrid grid;
    PVirtualNode element = grid.AddChild(nullptr, {});
    EXPECT_FALSE(GroupHasActiveDeactivator(grid, element)); // no children
    grid.AddChild(element, leaf(other, false));
    grid.AddChild(element, leaf(off, true));
    EXPECT_FALSE(GroupHasActiveDeactivator(grid, element));
    PVirtualNode nested = grid.AddChild(element, {});
    grid.AddChild(nested, leaf(on, true));
    EXPECT_TRUE(GroupHasActiveDeactivator(grid, element));
    on.SetText("0");
    EXPECT_FALSE(GroupHasActiveDeactivator(grid, element));
}

TEST(TreeHelpers, ClearTreeDataKeepsTheCaption)
{
    auto doc = parse("<a/>");
    TTreeData data;
    data.Caption = "c";
    data.Description = data.Value = data.ArrayDesc = doc.DocumentElement();
    data.Deactivator = data.Gray = true;
    ClearTreeData(data);
    EXPECT_EQ(data.Caption, "c");
    EXPECT_FALSE(data.Description || data.Value || data.ArrayDesc || data.Deactivator || data.Gray);

    TTreeGrid grid;
    PVirtualNode node = AddTreeNode(grid, nullptr, data);
    data.Caption = "changed";
    EXPECT_EQ(grid.Data(node).Caption, "c"); // the grid keeps a copy
}

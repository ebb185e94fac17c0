#include "model/errors.h"
#include "model/tools.h"
#include "tests/model/catalogue_fixture.h"

#include <gtest/gtest.h>

TEST(AttributeRules, ReadTextsIntegersAndDefaults)
{
    const auto doc = ParseOrFail(R"(<item name="a" min="-5" max="$10" empty="" bad="1x"/>)");
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

    // A default stands in for an absent attribute only, never for a bad one.
    const std::pair<const char *, const char *> refused[] = {{"bad", "1x"}, {"empty", ""}, {"absent", ""}};
    for (const auto &[attribute, text] : refused)
        EXPECT_EQ(FailureOf([&] { GetIntAttribute(item, attribute); }),
                  "EConvertError: '" + std::string(text) + "' is not a valid integer value");
    EXPECT_THROW(GetIntAttribute(item, "bad", 0), EConvertError);
}

TEST(XPathLiteral, QuotesAnyText)
{
    const auto doc = ParseOrFail(R"(<r><e name='say "hi"'/><e name="it's"/><e name="a&quot;b'c"/></r>)");
    for (const char *name : {"say \"hi\"", "it's", "a\"b'c"})
        EXPECT_TRUE(doc.DocumentElement().SelectSingle("e[@name=" + XPathLiteral(name) + "]")) << name;
}

TEST(GroupHasActiveDeactivator, LooksAtDeactivatorLeavesOnly)
{
    const auto doc = ParseOrFail("<v><on>1</on><off>0</off><other>5</other></v>");
    const auto leaf = [&](const char *value, bool deactivator) {
        TTreeData data;
        data.Value = doc.DocumentElement().ChildElement(value);
        data.Deactivator = deactivator;
        return data;
    };
    TTreeGrid grid;
    PVirtualNode element = grid.AddChild(nullptr, {});
    EXPECT_FALSE(GroupHasActiveDeactivator(grid, element)); // no children
    grid.AddChild(element, leaf("other", false));
    grid.AddChild(element, leaf("off", true));
    EXPECT_FALSE(GroupHasActiveDeactivator(grid, element));
    grid.AddChild(grid.AddChild(element, {}), leaf("on", true));
    EXPECT_TRUE(GroupHasActiveDeactivator(grid, element));
    doc.DocumentElement().ChildElement("on").SetText("0");
    EXPECT_FALSE(GroupHasActiveDeactivator(grid, element));
}

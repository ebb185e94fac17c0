#include "model/errors.h"
#include "model/tools.h"
#include "tests/model/catalogue_fixture.h"

#include <gtest/gtest.h>

TEST(AttributeRules, ReadTextsIntegersAndDefaults)
{
    const auto doc = ParseOrFail(R"(<item name="a" min="-5" empty="" bad="1x"/>)");
    const xml::Node item = doc.DocumentElement();
    const xml::Node none;
    EXPECT_FALSE(HasAttribute(none, "name"));
    EXPECT_EQ(GetIntAttribute(item, "absent", 7), 7);
    EXPECT_EQ(GetIntAttribute(item, "min", 7), -5);
    EXPECT_EQ(GetIntAttribute(none, "min", 7), 7);
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

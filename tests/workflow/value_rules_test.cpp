// The shared table of typed values against the description check, the
// encoder and the production line's --set.
#include "workflow/production.h"
#include "workflow/workflow.h"
#include "model/errors.h"
#include "tests/model/catalogue_fixture.h"
#include "tests/model/value_cases.h"

#include <gtest/gtest.h>

namespace {

class ValueRulesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegisterConfigModels();
        dir.Write("cases.xml", ValueCasesDevice());
    }

    // A model of the cases' device holding what a zeroed device image decodes to.
    TConfigModelPtr Fresh()
    {
        TConfigModelPtr model = CreateConfigModel(dir.Path(), 20, 1);
        const xml::Node block = model->GetBlock(0);
        DecodeBlocks(*model, {Bytes(static_cast<std::size_t>(model->BlockSize(block)), 0)});
        return model;
    }

    TTempDir dir;
};

std::string valueText(IConfigModel &model, std::size_t i)
{
    return model.ValueDocument().AsNode().SelectSingle("/config/p" + std::to_string(i) + "/value").Text();
}

} // namespace

TEST_F(ValueRulesTest, SetValuesAreCheckedAndEncodedAsTheDescriptionSays)
{
    const auto &cases = ValueCases();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const TValueCase &c = cases[i];
        const std::string what = std::string(c.type) + " " + c.attributes + " \"" + c.typed + "\"";
        const TConfigModelPtr model = Fresh();
        ApplyOverride(*model, {"p" + std::to_string(i), c.typed});

        // The check names this item only, by its captions, with the case's message.
        std::vector<std::string> named;
        for (const TValueProblem &problem : ValueProblems(*model))
            if (problem.message.rfind(ValueCaseCaption(i) + ":", 0) == 0)
                named.push_back(problem.Text());
        if (c.message)
            EXPECT_EQ(named, std::vector<std::string>{"B / " + ValueCaseCaption(i) + ": " + c.message}) << what;
        else
            EXPECT_TRUE(named.empty()) << what << ": " << named.front();

        if (c.rangeOnly)
            continue;
        // Accepted texts come back from the device as the table says; refused ones would not come back as typed.
        std::string readBack;
        try {
            const std::vector<Bytes> images = EncodeBlocks(*model);
            const TConfigModelPtr device = CreateConfigModel(dir.Path(), 20, 1);
            DecodeBlocks(*device, images);
            readBack = valueText(*device, i);
        } catch (const EError &e) {
            readBack = std::string("raised: ") + e.what();
        }
        if (c.readBack)
            EXPECT_EQ(readBack, c.readBack) << what;
        else
            EXPECT_NE(readBack, c.typed) << what;
    }
}

TEST_F(ValueRulesTest, XmlDevicesFollowTheRulesOfTheTypesTheyName)
{
    const struct {
        const char *item;
        const char *typed;
        const char *message; // nullptr: accepted
    } cases[] = {
        {R"(type="int" max="9999")", "99999", "X: значение 99999 больше 9999."},
        {R"(type="int")", "99999", nullptr}, // no field width: any integer
        {R"(type="hex")", "ZZZ", "X: допустимы только шестнадцатеричные цифры 0–9 и A–F."},
        {R"(type="hex")", "ABCDEF0123", nullptr},
        {R"(type="hex" size="2")", "ABCDE", "X: больше 4 цифр."},
        {R"(type="string")", "ёлка", "X: символ «ё» устройство не хранит."},
        {R"(type="ip_string")", "192.168.1.256", "X: часть адреса «256» должна быть числом от 0 до 255."},
        {R"(type="mode")", "anything", nullptr}, // an enumeration's values are the device's own
    };
    for (const auto &c : cases) {
        xml::ParseError error;
        auto document = xml::Document::Parse(
            std::string("<d><item name=\"x\" caption=\"X\" ") + c.item + "/><enum name=\"mode\"><!-- --><c value=\"a\"/></enum></d>",
            error);
        ASSERT_TRUE(document);
        const xml::Node item = document->DocumentElement().FirstChild();
        const TParamInfo info(item, document->DocumentElement().ChildElement("enum"), TStorage::Xml);
        EXPECT_EQ(info.Validate(c.typed).value_or("accepted"), c.message ? c.message : "accepted") << c.item;
        // The comment in the enumeration is no choice.
        EXPECT_EQ(info.Choices().size(), info.Kind() == TValueKind::Choice ? 1u : 0u) << c.item;
    }
}

#include "model/errors.h"
#include "model/model.h"
#include "model/tools.h"
#include "tests/model/catalogue_fixture.h"

#include <gtest/gtest.h>

namespace {

std::string devices(const std::string &body)
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<devices>\n" + body + "\n</devices>\n";
}

class CatalogueTest : public ::testing::Test {
protected:
    void SetUp() override { RegisterPlainTestModels(); }

    // The id of the chosen description, or "none".
    std::string chosen(std::uint16_t hw, std::uint16_t sw)
    {
        const auto model = CreateConfigModel(dir.Path(), hw, sw);
        return model ? GetAttribute(model->DeviceElement(), "id") : "none";
    }

    std::string messageOf(const std::string &file) { return MessageOf([&] { LoadSettingsFile(file, dir.Path()); }); }

    TTempDir dir;
};

} // namespace

TEST_F(CatalogueTest, FirstMatchWinsAcrossFilesAndWithinAFileInTheVersionRange)
{
    dir.Write("b.xml", devices(R"(<device id="b1" hw="5"/>)"));
    dir.Write("a.xml", devices(R"(<device id="a1" hw="5" sw_low="400"/><device id="a2" hw="5"/><device id="a3" hw="5"/>)"));
    dir.Write("c.xml", devices(R"(<device id="from200" hw="1" sw_low="200"/>
                                  <device id="upto50" hw="2" sw_high="50"/>)"));
    const struct {
        std::uint16_t hw, sw;
        const char *expected;
    } cases[] = {{5, 300, "a2"}, {5, 500, "a1"}, {6, 300, "none"}, {1, 199, "none"}, {1, 200, "from200"},
                 {1, 65535, "from200"}, {2, 0, "upto50"}, {2, 50, "upto50"}, {2, 51, "none"}};
    for (const auto &c : cases)
        EXPECT_EQ(chosen(c.hw, c.sw), c.expected) << c.hw << "/" << c.sw;
}

TEST_F(CatalogueTest, FilesThatDescribeNothingAreSkippedSilently)
{
    EXPECT_EQ(CreateConfigModel(dir.Path() / "missing", 5, 1), nullptr);
    dir.Write("b.xml", devices(R"(<device id="good" hw="5"/>)"));
    const std::pair<const char *, std::string> cases[] = {
        {"a.xml", "<devices><device id=\"broken\" hw=\"5\"></devices>"},
        {"a.xml", "<catalogue><device id=\"wrong-root\" hw=\"5\"/></catalogue>"},
        // A malformed device element abandons the rest of its file.
        {"a.xml", devices(R"(<device id="no-hw"/><device id="never" hw="5"/>)")},
        {"a.txt", devices(R"(<device id="txt" hw="5"/>)")},
    };
    for (const auto &[file, text] : cases) {
        dir.Write(file, text);
        EXPECT_EQ(chosen(5, 1), "good") << text;
        std::filesystem::remove(dir.Path() / file);
    }
}

TEST_F(CatalogueTest, FreshModelHoldsAnEmptyConfig)
{
    dir.Write("d.xml", devices(R"(<device hw="5" sw_low="100" sw_high="300" pswd="">
        <block caption="A"/><block caption="B"/><block caption="C"/>
        <array name="nostart" count="2"/><enum name="mode"/></device><device hw="2"/>)"));
    auto model = CreateConfigModel(dir.Path(), 5, 300);
    ASSERT_TRUE(model);
    EXPECT_EQ(model->ValueDocument().Save(),
              "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<config hw=\"5\" sw=\"300\"/>\n");
    EXPECT_EQ(model->DescriptionFile().filename(), "d.xml");
    EXPECT_EQ(GetAttribute(model->GetBlock(2), "caption"), "C");
    EXPECT_FALSE(model->GetBlock(3));
    EXPECT_FALSE(model->GetBlock(-1));
    auto &base = dynamic_cast<TAbstractConfigModel &>(*model);
    EXPECT_THROW(base.GetArrayStart("nostart"), EConvertError);
    EXPECT_EQ(base.NewValueDocument().Save(),
              "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n<config hw=\"5\" sw=\"300\"/>\n");
}

// Found by fuzz_settings: a name outside windows-1251 was saved as a character reference, which is not XML.
TEST_F(CatalogueTest, ASavedSettingsFileOpensAgainWithTheSameValuesOrIsNotSaved)
{
    dir.Write("catalogue/d.xml", devices(R"(<device hw="5"/>)"));
    auto model = CreateConfigModel(dir.Path() / "catalogue", 5, 300);
    xml::Node value = model->ValueDocument().DocumentElement().AppendNewElement("name").AppendNewElement("value");
    value.SetAttribute("idx", "1");
    value.SetText("Объект №5 <\"&'>");
    model->SaveToFile(dir.File("saved.cfg"));
    const std::string saved = dir.Read("saved.cfg");
    EXPECT_EQ(saved.substr(0, saved.find('\n')), "<?xml version=\"1.0\" encoding=\"windows-1251\"?>");
    EXPECT_NE(saved.find("\n  <name>\n    <value idx=\"1\">"), std::string::npos) << saved;
    auto loaded = LoadSettingsFile(dir.File("saved.cfg"), dir.Path() / "catalogue");
    EXPECT_EQ(loaded->GetSoftwareVersion(), 300);
    EXPECT_EQ(loaded->ValueDocument().AsNode().SelectSingle("/config/name/value[@idx=\"1\"]").Text(),
              "Объект №5 <\"&'>");
    for (const std::string settings :
         {"<?xml version=\"1.\" encoding=\"windows1252\"?><config hw=\"5\" sw=\"300\"><value a\xFF=\"\"></value></config>",
          "<?xml version=\"1.0\" encoding=\"utf-8\"?><config hw=\"5\" sw=\"300\"><x\xC3\xBF/></config>"}) {
        model = LoadSettingsFile(dir.Write("in.cfg", settings), dir.Path() / "catalogue");
        std::filesystem::remove(dir.Path() / "saved.cfg");
        if (FailureOf([&] { model->SaveToFile(dir.File("saved.cfg")); }) != "no error") {
            EXPECT_FALSE(std::filesystem::exists(dir.Path() / "saved.cfg"));
            continue;
        }
        EXPECT_NO_THROW(LoadSettingsFile(dir.File("saved.cfg"), dir.Path() / "catalogue")) << dir.Read("saved.cfg");
    }
}

TEST_F(CatalogueTest, SettingsFileMessages)
{
    dir.Write("d.xml", devices(R"(<device hw="5"/>)"));
    const std::string broken = dir.Write("broken.cfg", "<config hw=\"5\" sw=\"1\">\n<a>\n</config>\n");
    EXPECT_EQ(messageOf(broken), "Ошибка загрузки файла " + broken + "\r\nСтрока 3: открывающий и закрывающий теги "
                                 "не совпадают\r\n</config>");
    const struct {
        const char *text;
        const char *message;
    } cases[] = {
        {"<settings hw=\"5\" sw=\"1\"/>", "Файл не содержит настроек устройства."},
        {"<config hw=\"5\"/>", "В файле настроек нет атрибута \"sw\"."},
        {"<config hw=\"77\" sw=\"1\"/>", "Не найдено описание устройства. (код устройства 77)."},
        {"<config hw=\"65541\" sw=\"1\"/>", "Не найдено описание устройства. (код устройства 65541)."},
    };
    for (const auto &c : cases)
        EXPECT_EQ(messageOf(dir.Write("settings.cfg", c.text)), c.message) << c.text;
    // The description found for the same device stays: the catalogue is not read again.
    auto model = CreateConfigModel(dir.Path(), 5, 1);
    std::filesystem::remove(dir.Path() / "d.xml");
    EXPECT_NO_THROW(model->LoadFromFile(dir.Write("same.cfg", "<config hw=\"5\" sw=\"1\"><a>2</a></config>")));
    EXPECT_EQ(model->ValueDocument().DocumentElement().ChildElement("a").Text(), "2");
    // Loading into a model needs a description of the file's device too.
    EXPECT_EQ(FailureOf([&] { model->LoadFromFile(dir.Write("other.cfg", "<config hw=\"9\" sw=\"1\"/>")); }),
              "EConfigError: Не найдено описание устройства (код устройства 9).");
}

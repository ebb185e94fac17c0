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
                                  <device id="upto50" hw="2" sw_high="50"/>
                                  <device id="range" hw="3" sw_low="10" sw_high="20"/>
                                  <device id="all" hw="4"/>)"));
    const struct {
        std::uint16_t hw, sw;
        const char *expected;
    } cases[] = {{5, 300, "a2"}, {5, 500, "a1"}, {6, 300, "none"}, {1, 150, "none"}, {1, 200, "from200"},
                 {1, 65535, "from200"}, {2, 0, "upto50"}, {2, 50, "upto50"}, {2, 51, "none"}, {3, 9, "none"},
                 {3, 10, "range"}, {3, 20, "range"}, {3, 21, "none"}, {4, 0, "all"}, {4, 65535, "all"}};
    for (const auto &c : cases)
        EXPECT_EQ(chosen(c.hw, c.sw), c.expected) << c.hw << "/" << c.sw;
}

TEST_F(CatalogueTest, FilesThatDescribeNothingAreSkippedSilently)
{
    EXPECT_EQ(chosen(5, 1), "none");
    EXPECT_EQ(CreateConfigModel(dir.Path() / "missing", 5, 1), nullptr);
    dir.Write("b.xml", devices(R"(<device id="good" hw="5"/>)"));
    const struct {
        const char *file;
        std::string text;
    } cases[] = {
        {"a.xml", "<devices><device id=\"broken\" hw=\"5\"></devices>"},
        {"a.xml", "<catalogue><device id=\"wrong-root\" hw=\"5\"/></catalogue>"},
        // A malformed device element abandons the rest of its file.
        {"a.xml", devices(R"(<device id="no-hw"/><device id="never" hw="5"/>)")},
        {"a.xml", devices(R"(<device id="letters" hw="5" sw_low="abc"/><device id="never" hw="5"/>)")},
        {"a.xml", ""},
        {"a.txt", devices(R"(<device id="txt" hw="5"/>)")},
        {"a.xml", devices(R"(<device id="huge" hw="5"/>)") + std::string(xml::kMaxFileBytes, '\n')},
    };
    for (const auto &c : cases) {
        dir.Write(c.file, c.text);
        EXPECT_EQ(chosen(5, 1), "good") << c.text.substr(0, 80);
        std::filesystem::remove(dir.Path() / c.file);
    }
    std::filesystem::create_directory(dir.Path() / "a.xml");
    EXPECT_EQ(chosen(5, 1), "good") << "a folder";
}

TEST_F(CatalogueTest, FormatChoosesTheModel)
{
    dir.Write("f.xml", devices(R"(<device hw="1" format="xml"/><device hw="2" format="binary"/>
                                  <device hw="3" format="XML"/><device hw="4"/><device hw="5" format=""/>)"));
    for (const std::uint16_t hw : {1, 2, 3, 4, 5}) {
        const auto model = std::dynamic_pointer_cast<TPlainTestModel>(CreateConfigModel(dir.Path(), hw, 0));
        ASSERT_TRUE(model) << hw;
        EXPECT_EQ(model->xml, hw == 1) << hw;
    }
}

TEST_F(CatalogueTest, FreshModelHoldsAnEmptyConfig)
{
    dir.Write("d.xml", devices(R"(<device hw="5" sw_low="100" sw_high="300" pswd="">
        <block caption="A"/><block caption="B"/><block caption="C"/>
        <array name="arr" start="1" count="4"/><array name="nostart" count="2"/>
        <enum name="mode"><c value="1" caption="one"/></enum></device>
        <device hw="1" pswd="0" sw_low="10"/><device hw="2"/>)"));
    auto model = CreateConfigModel(dir.Path(), 5, 300);
    ASSERT_TRUE(model);
    EXPECT_EQ(model->ValueDocument().Save(),
              "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<config hw=\"5\" sw=\"300\"/>\n");
    EXPECT_EQ(model->DescriptionFile().filename(), "d.xml");
    EXPECT_EQ(model->GetBlockCount(), 3);
    EXPECT_EQ(GetAttribute(model->GetBlock(2), "caption"), "C");
    EXPECT_FALSE(model->GetBlock(3));
    EXPECT_FALSE(model->GetBlock(-1));
    EXPECT_EQ(GetAttribute(model->FindEnum("mode").FirstChild(), "caption"), "one");
    EXPECT_FALSE(model->FindEnum("other"));

    auto &base = dynamic_cast<TAbstractConfigModel &>(*model);
    EXPECT_EQ(base.GetArrayStart("arr"), 1);
    EXPECT_EQ(base.GetArrayCount("arr"), 4);
    EXPECT_THROW(base.GetArrayStart("nostart"), EConvertError);
    EXPECT_THROW(base.GetArrayCount("missing"), EConvertError);
    EXPECT_EQ(TAbstractConfigModel::DocumentToText(base.NewValueDocument()),
              "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n<config hw=\"5\" sw=\"300\"/>\n");

    // A password is required by the attribute's presence alone; without sw_high every version from sw_low fits.
    const auto from10 = CreateConfigModel(dir.Path(), 1, 10);
    EXPECT_TRUE(model->NeedsPassword());
    EXPECT_TRUE(from10->NeedsPassword());
    EXPECT_FALSE(CreateConfigModel(dir.Path(), 2, 0)->NeedsPassword());
    // The version range itself is the catalogue's choice above; here the model answers with its own description.
    EXPECT_TRUE(model->IsCompatible(5, 100));
    EXPECT_FALSE(model->IsCompatible(6, 200));
    EXPECT_TRUE(from10->IsCompatible(1, 65535));
}

TEST_F(CatalogueTest, SettingsFileRoundTrip)
{
    dir.Write("d.xml", devices(R"(<device hw="5"/>)"));
    auto model = CreateConfigModel(dir.Path(), 5, 300);
    xml::Document &values = model->ValueDocument();
    xml::Node value = values.DocumentElement().AppendNewElement("name").AppendNewElement("value");
    value.SetAttribute("idx", "1");
    value.SetText("Объект №5 <\"&'>");
    model->SaveToFile(dir.File("saved.cfg"));

    const std::string saved = dir.Read("saved.cfg");
    EXPECT_EQ(saved.substr(0, saved.find('\n')), "<?xml version=\"1.0\" encoding=\"windows-1251\"?>");
    EXPECT_NE(saved.find("\n  <name>\n    <value idx=\"1\">"), std::string::npos) << saved;
    auto loaded = LoadSettingsFile(dir.File("saved.cfg"), dir.Path());
    EXPECT_EQ(loaded->GetHardwareCode(), 5);
    EXPECT_EQ(loaded->GetSoftwareVersion(), 300);
    EXPECT_EQ(loaded->ValueDocument().AsNode().SelectSingle("/config/name/value[@idx=\"1\"]").Text(),
              "Объект №5 <\"&'>");
    // A UTF-8 file with Cyrillic loads too.
    const auto utf8 = dir.Write("utf8.cfg", "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                                            "<config hw=\"5\" sw=\"1\"><name>Склад №2</name></config>");
    EXPECT_EQ(LoadSettingsFile(utf8, dir.Path())->ValueDocument().DocumentElement().ChildElement("name").Text(),
              "Склад №2");
}

// Found by fuzz_settings: a name outside windows-1251 was saved as a character reference, which is not XML.
TEST_F(CatalogueTest, ASavedFileWithNamesOutsideTheCodePageOpensAgainOrIsNotSaved)
{
    dir.Write("catalogue/device.xml", R"(<devices><device hw="5"/></devices>)");
    for (const std::string settings :
         {"<?xml version=\"1.\" encoding=\"windows1252\"?><config hw=\"5\" sw=\"300\"><value a\xFF=\"\"></value></config>",
          "<?xml version=\"1.0\" encoding=\"utf-8\"?><config hw=\"5\" sw=\"300\"><x\xC3\xBF/></config>"}) {
        const auto model = LoadSettingsFile(dir.Write("in.cfg", settings), dir.Path() / "catalogue");
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
    EXPECT_EQ(messageOf(dir.Write("empty.cfg", "")),
              "Ошибка загрузки файла " + dir.File("empty.cfg") + "\r\nСтрока 1: документ пуст\r\n");
    EXPECT_EQ(messageOf(dir.File("missing.cfg")), "Ошибка загрузки файла " + dir.File("missing.cfg") +
                                                      "\r\nСтрока 0: не удалось открыть файл: Нет такого файла или "
                                                      "устройства\r\n");
    const struct {
        const char *text;
        const char *message;
    } cases[] = {
        {"<settings hw=\"5\" sw=\"1\"/>", "Файл не содержит настроек устройства."},
        {"<config sw=\"1\"/>", "В файле настроек нет атрибута \"hw\"."},
        {"<config hw=\"5\"/>", "В файле настроек нет атрибута \"sw\"."},
        {"<config hw=\"5\" sw=\"abc\"/>", "'abc' is not a valid integer value"},
        {"<config hw=\"77\" sw=\"1\"/>", "Не найдено описание устройства. (код устройства 77)."},
        {"<config hw=\"65541\" sw=\"1\"/>", "Не найдено описание устройства. (код устройства 65541)."},
    };
    for (const auto &c : cases)
        EXPECT_EQ(messageOf(dir.Write("settings.cfg", c.text)), c.message) << c.text;
    // Loading into a model needs a description of the file's device too.
    auto model = CreateConfigModel(dir.Path(), 5, 1);
    EXPECT_EQ(FailureOf([&] { model->LoadFromFile(dir.Write("other.cfg", "<config hw=\"9\" sw=\"1\"/>")); }),
              "EConfigError: Не найдено описание устройства (код устройства 9).");
}

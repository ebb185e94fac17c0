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

    // The caption of the first block of the chosen description, or "none".
    std::string chosen(int hw, int sw)
    {
        const auto model = CreateConfigModel(dir.Path(), static_cast<std::uint16_t>(hw), static_cast<std::uint16_t>(sw));
        if (!model)
            return "none";
        return GetAttribute(model->DeviceElement(), "id");
    }

    std::string messageOf(const std::string &file)
    {
        return MessageOf([&] { LoadSettingsFile(file, dir.Path()); });
    }

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
        int hw, sw;
        const char *expected;
    } cases[] = {{5, 300, "a2"}, {5, 500, "a1"}, {6, 300, "none"}, {1, 150, "none"}, {1, 200, "from200"},
                 {1, 65535, "from200"}, {2, 0, "upto50"}, {2, 50, "upto50"}, {2, 51, "none"}, {3, 9, "none"},
                 {3, 10, "range"}, {3, 20, "range"}, {3, 21, "none"}, {4, 0, "all"}, {4, 65535, "all"}};
    for (const auto &c : cases)
        EXPECT_EQ(chosen(c.hw, c.sw), c.expected) << c.hw << "/" << c.sw;
}

TEST_F(CatalogueTest, BadFilesAreSkippedSilently)
{
    dir.Write("1-broken.xml", "<devices><device id=\"broken\" hw=\"5\"></devices>");
    dir.Write("2-other-root.xml", "<catalogue><device id=\"wrong-root\" hw=\"5\"/></catalogue>");
    dir.Write("3-no-hw-first.xml", devices(R"(<device id="no-hw"/><device id="never" hw="5"/>)"));
    dir.Write("4-letters.xml", devices(R"(<device id="letters" hw="5" sw_low="abc"/><device id="never2" hw="5"/>)"));
    dir.Write("5-empty.xml", "");
    dir.Write("6-good.xml", devices(R"(<device id="good" hw="5"/>)"));
    dir.Write("0-not-a-catalogue.txt", devices(R"(<device id="txt" hw="5"/>)"));
    EXPECT_EQ(chosen(5, 1), "good");
}

TEST_F(CatalogueTest, FilesNoCatalogueHoldsAreSkipped)
{
    dir.Write("b.xml", devices(R"(<device id="good" hw="5"/>)"));
    const std::string hostile = R"(<devices><device id="hostile" hw="5"/></devices>)";
    std::string wide = R"(<devices><device id="hostile" hw="5")";
    for (int i = 0; i < xml::kMaxAttributes; ++i)
        wide += " a" + std::to_string(i) + "=\"1\"";
    const struct {
        const char *what;
        std::string text;
    } cases[] = {
        {"document type", "<!DOCTYPE devices>\n" + hostile},
        {"too many attributes", wide + "/></devices>"},
        {"over the size limit", hostile + std::string(xml::kMaxFileBytes, '\n')},
    };
    for (const auto &c : cases) {
        dir.Write("a.xml", c.text);
        EXPECT_EQ(chosen(5, 1), "good") << c.what;
    }
    std::filesystem::remove(dir.Path() / "a.xml");
    std::filesystem::create_directory(dir.Path() / "a.xml");
    EXPECT_EQ(chosen(5, 1), "good") << "a folder";
}

TEST_F(CatalogueTest, EmptyOrMissingFolderHasNoDescription)
{
    EXPECT_EQ(chosen(5, 1), "none");
    EXPECT_EQ(CreateConfigModel(dir.Path() / "missing", 5, 1), nullptr);
}

TEST_F(CatalogueTest, FormatChoosesTheModel)
{
    dir.Write("f.xml", devices(R"(<device hw="1" format="xml"/><device hw="2" format="binary"/>
                                  <device hw="3" format="XML"/><device hw="4"/><device hw="5" format=""/>)"));
    const struct {
        int hw;
        bool xml;
    } cases[] = {{1, true}, {2, false}, {3, false}, {4, false}, {5, false}};
    for (const auto &c : cases) {
        auto model = std::dynamic_pointer_cast<TPlainTestModel>(CreateConfigModel(dir.Path(), c.hw, 0));
        ASSERT_TRUE(model) << c.hw;
        EXPECT_EQ(model->xml, c.xml) << c.hw;
    }
}

TEST_F(CatalogueTest, FreshModelHoldsAnEmptyConfig)
{
    dir.Write("d.xml", devices(R"(<device hw="5" sw_low="100" sw_high="300" pswd="">
        <block caption="A"/><block caption="B"/><block caption="C"/>
        <array name="arr" start="1" count="4"/><array name="nostart" count="2"/>
        <enum name="mode"><c value="1" caption="one"/></enum></device>)"));
    auto model = CreateConfigModel(dir.Path(), 5, 300);
    ASSERT_TRUE(model);
    EXPECT_EQ(model->ValueDocument().Save(),
              "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<config hw=\"5\" sw=\"300\"/>\n");
    EXPECT_EQ(model->GetHardwareCode(), 5);
    EXPECT_EQ(model->GetSoftwareVersion(), 300);
    EXPECT_EQ(model->DescriptionFile().filename(), "d.xml");

    EXPECT_EQ(model->GetBlockCount(), 3);
    EXPECT_EQ(GetAttribute(model->GetBlock(2), "caption"), "C");
    EXPECT_FALSE(model->GetBlock(3));
    EXPECT_FALSE(model->GetBlock(-1));
    EXPECT_TRUE(model->NeedsPassword());
    EXPECT_EQ(GetAttribute(model->FindEnum("mode").FirstChild(), "caption"), "one");
    EXPECT_FALSE(model->FindEnum("other"));

    EXPECT_TRUE(model->IsCompatible(5, 100));
    EXPECT_TRUE(model->IsCompatible(5, 300));
    EXPECT_FALSE(model->IsCompatible(5, 301));
    EXPECT_FALSE(model->IsCompatible(6, 200));

    auto &base = dynamic_cast<TAbstractConfigModel &>(*model);
    EXPECT_EQ(base.GetArrayStart("arr"), 1);
    EXPECT_EQ(base.GetArrayCount("arr"), 4);
    EXPECT_THROW(base.GetArrayStart("nostart"), EConvertError);
    EXPECT_THROW(base.GetArrayCount("missing"), EConvertError);
    const auto text = TAbstractConfigModel::DocumentToText(base.NewValueDocument());
    EXPECT_EQ(text, "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n<config hw=\"5\" sw=\"300\"/>\n");

    // A password is required by the attribute's presence alone; without sw_high every version from sw_low fits.
    dir.Write("p.xml", devices(R"(<device hw="1" pswd="0" sw_low="10"/><device hw="2"/>)"));
    const auto from10 = CreateConfigModel(dir.Path(), 1, 10);
    EXPECT_TRUE(from10->NeedsPassword());
    EXPECT_FALSE(CreateConfigModel(dir.Path(), 2, 0)->NeedsPassword());
    EXPECT_TRUE(from10->IsCompatible(1, 10));
    EXPECT_TRUE(from10->IsCompatible(1, 65535));
    EXPECT_FALSE(from10->IsCompatible(1, 9));
}

TEST_F(CatalogueTest, SettingsFileRoundTrip)
{
    dir.Write("d.xml", devices(R"(<device hw="5"/>)"));
    auto model = CreateConfigModel(dir.Path(), 5, 300);
    xml::Document &values = model->ValueDocument();
    xml::Node item = values.DocumentElement().AppendChild(values.CreateElement("name"));
    xml::Node value = item.AppendChild(values.CreateElement("value"));
    value.SetAttribute("idx", "1");
    value.SetText("Объект №5 <\"&'>");
    const std::string file = dir.File("saved.cfg");
    model->SaveToFile(file);

    const std::string saved = dir.Read("saved.cfg");
    EXPECT_EQ(saved.substr(0, saved.find('\n')), "<?xml version=\"1.0\" encoding=\"windows-1251\"?>");
    EXPECT_NE(saved.find("\n  <name>\n    <value idx=\"1\">"), std::string::npos) << saved;

    auto loaded = LoadSettingsFile(file, dir.Path());
    EXPECT_EQ(loaded->GetHardwareCode(), 5);
    EXPECT_EQ(loaded->GetSoftwareVersion(), 300);
    EXPECT_EQ(loaded->ValueDocument().AsNode().SelectSingle("/config/name/value[@idx=\"1\"]").Text(),
              "Объект №5 <\"&'>");
    // Nothing left behind but the file itself.
    int files = 0;
    for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator(dir.Path()))
        ++files;
    EXPECT_EQ(files, 2);
    // A UTF-8 file with Cyrillic loads too.
    const auto utf8 = dir.Write("utf8.cfg", "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                                            "<config hw=\"5\" sw=\"1\"><name>Склад №2</name></config>");
    EXPECT_EQ(LoadSettingsFile(utf8, dir.Path())->ValueDocument().DocumentElement().ChildElement("name").Text(),
              "Склад №2");
}

TEST_F(CatalogueTest, FailedSaveNamesTheFileAndKeepsTheOldOne)
{
    dir.Write("d.xml", devices(R"(<device hw="5"/>)"));
    auto model = CreateConfigModel(dir.Path(), 5, 1);
    const std::string target = dir.File("no-such-folder/saved.cfg");
    const std::string failure = FailureOf([&] { model->SaveToFile(target); });
    EXPECT_EQ(failure.rfind("EConfigError: Не удалось записать файл " + target + ": ", 0), 0u) << failure;
    // A folder in the way of the rename: the save fails and the folder stays.
    std::filesystem::create_directories(dir.Path() / "in-the-way.cfg" / "keep");
    EXPECT_THROW(model->SaveToFile(dir.File("in-the-way.cfg")), EConfigError);
    EXPECT_TRUE(std::filesystem::exists(dir.Path() / "in-the-way.cfg" / "keep"));
}

TEST_F(CatalogueTest, SettingsFileMessages)
{
    dir.Write("d.xml", devices(R"(<device hw="5"/>)"));
    const std::string broken = dir.Write("broken.cfg", "<config hw=\"5\" sw=\"1\">\n<a>\n</config>\n");
    const std::string message = messageOf(broken);
    EXPECT_EQ(message.rfind("Ошибка загрузки файла " + broken + "\r\nСтрока 3: ", 0), 0u) << message;
    EXPECT_NE(message.find("\r\n</config>"), std::string::npos) << message;

    EXPECT_EQ(messageOf(dir.Write("settings.cfg", "<settings hw=\"5\" sw=\"1\"/>")),
              "Файл не содержит настроек устройства.");
    EXPECT_EQ(messageOf(dir.Write("nohw.cfg", "<config sw=\"1\"/>")), "В файле настроек нет атрибута \"hw\".");
    EXPECT_EQ(messageOf(dir.Write("nosw.cfg", "<config hw=\"5\"/>")), "В файле настроек нет атрибута \"sw\".");
    EXPECT_EQ(messageOf(dir.Write("letters.cfg", "<config hw=\"5\" sw=\"abc\"/>")), "'abc' is not a valid integer value");
    EXPECT_EQ(messageOf(dir.Write("unknown.cfg", "<config hw=\"77\" sw=\"1\"/>")),
              "Не найдено описание устройства. (код устройства 77).");
    EXPECT_EQ(messageOf(dir.Write("wide.cfg", "<config hw=\"65541\" sw=\"1\"/>")),
              "Не найдено описание устройства. (код устройства 65541).");
    EXPECT_EQ(messageOf(dir.Write("empty.cfg", "")).rfind("Ошибка загрузки файла " + dir.File("empty.cfg") + "\r\nСтрока ", 0), 0u);
    EXPECT_EQ(messageOf(dir.File("missing.cfg")).rfind("Ошибка загрузки файла " + dir.File("missing.cfg") + "\r\nСтрока 0: ", 0), 0u);
    const std::string laughs = "<?xml version=\"1.0\"?>" + BillionLaughsDoctype("config") +
                               "<config hw=\"5\" sw=\"1\"><a>&k;</a></config>";
    // What no settings file holds is refused with the line that holds it.
    const auto loadError = [&](const std::string &name) { return "Ошибка загрузки файла " + dir.File(name) + "\r\n"; };
    EXPECT_EQ(messageOf(dir.Write("laughs.cfg", laughs)),
              loadError("laughs.cfg") + "Строка 1: объявление типа документа (DOCTYPE) не допускается\r\n"
                  + laughs.substr(0, 200));
    std::string wide = "<config hw=\"5\" sw=\"1\"";
    for (int i = 0; i < xml::kMaxAttributes; ++i)
        wide += " a" + std::to_string(i) + "=\"1\"";
    dir.Write("wide-root.cfg", wide + "/>");
    EXPECT_EQ(messageOf(dir.File("wide-root.cfg")),
              loadError("wide-root.cfg") + "Строка 1: у элемента больше 256 атрибутов\r\n" + wide.substr(0, 200));
    std::filesystem::create_directory(dir.Path() / "folder.cfg");
    EXPECT_EQ(messageOf(dir.File("folder.cfg")), loadError("folder.cfg") + "Строка 0: это не обычный файл\r\n");
    // Loading into a model needs a description of the file's device too.
    auto model = CreateConfigModel(dir.Path(), 5, 1);
    EXPECT_EQ(FailureOf([&] { model->LoadFromFile(dir.Write("other.cfg", "<config hw=\"9\" sw=\"1\"/>")); }),
              "EConfigError: Не найдено описание устройства (код устройства 9).");
}

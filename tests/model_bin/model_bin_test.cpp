#include "model/errors.h"
#include "model/tools.h"
#include "model_bin/model_bin.h"
#include "tests/model/catalogue_fixture.h"

#include <gtest/gtest.h>

namespace {

// A binary device (hw 1) with the given body in a scratch catalogue.
class BinaryModelTest : public ::testing::Test {
protected:
    void SetUp() override { RegisterBinaryConfigModel(); }

    TConfigModelPtr modelOf(const std::string &body)
    {
        dir.Write("d.xml", "<devices><device hw=\"1\">" + body + "</device></devices>");
        auto model = CreateConfigModel(dir.Path(), 1, 0);
        EXPECT_TRUE(model);
        return model;
    }

    std::string tree(const TConfigModelPtr &model)
    {
        model->FillTree(grid);
        return TreeText(grid);
    }

    TTempDir dir;
    TTreeGrid grid;
};

// fuzz_binary_random: structs nested 30 deep, each using the next one twice in an empty array, were measured
// over and over, 2^30 times, before anything was decoded.
std::string nestedStructs()
{
    std::string body = R"(<block><item name="top" type="s0"/></block><array name="none" start="1" count="0"/>
                          <struct name="s30"><item name="v" size="1"/></struct>)";
    for (int level = 0; level < 30; ++level) {
        const std::string next = "s" + std::to_string(level + 1);
        body += "<struct name=\"s" + std::to_string(level) + "\"><item name=\"a\" type=\"" + next +
                "\" array=\"none\"/><item name=\"b\" type=\"" + next + "\" array=\"none\"/></struct>";
    }
    return body;
}

} // namespace

TEST_F(BinaryModelTest, BlocksDecodeToValuesAndEncodeBack)
{
    const std::string nested = nestedStructs();
    const struct {
        const char *what;
        std::string body;
        int size;
        Bytes image;
        const char *values;
        Bytes encoded; // empty: the image itself
    } cases[] = {
        {"mask elements of one array index",
         R"(<block><item name="m" size="1" bits="2" array="a" mask="k"/></block>
            <array name="a" start="0" count="1"/><array name="k" start="1" count="4"/>)",
         1, {0xB1},
         "<m><value a=\"0\" k=\"1\">1</value><value a=\"0\" k=\"2\">0</value>"
         "<value a=\"0\" k=\"3\">3</value><value a=\"0\" k=\"4\">2</value></m>"},
        {"array outer, mask inner, array item followed by a plain one",
         R"(<block><item name="x" size="1" bits="2" array="a" mask="m"/><item name="b" size="1"/></block>
            <array name="a" start="5" count="2"/><array name="m" start="0" count="3"/>)",
         3, {0b00100111, 0b00011011, 9},
         "<x><value a=\"5\" m=\"0\">3</value><value a=\"5\" m=\"1\">1</value><value a=\"5\" m=\"2\">2</value>"
         "<value a=\"6\" m=\"0\">3</value><value a=\"6\" m=\"1\">2</value><value a=\"6\" m=\"2\">1</value></x>"
         "<b><value>9</value></b>"},
        {"inactive item is reserved space written as FF",
         R"(<block><item name="r" size="3" active="0"/><item name="b" size="1"/></block>)", 4, {1, 2, 3, 42},
         "<b><value>42</value></b>", {0xFF, 0xFF, 0xFF, 42}},
        {"struct array item takes the struct once per index",
         R"(<block><item name="s" type="st" array="a"/><item name="after" size="1"/></block>
            <array name="a" start="1" count="2"/>
            <struct name="st"><item name="p" size="2"/><item name="q" size="1"/></struct>)",
         7, {1, 0, 2, 3, 0, 4, 5},
         "<s><value a=\"1\"><p><value>1</value></p><q><value>2</value></q></value>"
         "<value a=\"2\"><p><value>3</value></p><q><value>4</value></q></value></s><after><value>5</value></after>"},
        {"structs named like built-in types stay unused",
         R"(<block><item name="p" type="phone" size="8"/><item name="n" size="1"/></block>
            <struct name="phone"><item name="q" size="1"/></struct>
            <struct name="int"><item name="r" size="2"/></struct>)",
         9, {0x12, 0x3D, 0xDD, 0xDD, 0xDD, 0xDD, 0xDD, 0xDD, 7}, "<p><value>123</value></p><n><value>7</value></n>"},
        {"bytes after the last field are left", R"(<block><item name="b" size="1"/></block>)", 1, {7, 8, 9},
         "<b><value>7</value></b>", {7}},
        {"array ending at the largest int",
         R"(<block><item name="x" size="1" array="a"/></block><array name="a" start="2147483646" count="2"/>)", 2,
         {1, 2}, "<x><value a=\"2147483646\">1</value><value a=\"2147483647\">2</value></x>"},
        // Every struct but the last holds only empty arrays: a byte per element, none of them there.
        {"structs used many times are measured once", nested, 0, {}, "<top><value><a/><b/></value></top>"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        auto model = modelOf(c.body);
        const xml::Node block = model->GetBlock(0);
        EXPECT_EQ(model->BlockSize(block), c.size);
        // Decoding returns the position after the last field.
        EXPECT_EQ(model->DecodeBlock(block, xml::Node(), c.image, 1), c.size + 1);
        const std::string saved = model->ValueDocument().Save();
        EXPECT_TRUE(saved.ends_with("<config hw=\"1\" sw=\"0\">" + std::string(c.values) + "</config>\n")) << saved;
        EXPECT_EQ(model->EncodeBlock(block, xml::Node()), c.encoded.empty() ? c.image : c.encoded);
    }
}

TEST_F(BinaryModelTest, FaultsFailWithMessagesNotCrashes)
{
    using TCall = std::function<void(IConfigModel &, xml::Node)>;
    const TCall size = [](IConfigModel &model, xml::Node block) { model.BlockSize(block); };
    const TCall encode = [](IConfigModel &model, xml::Node block) { model.EncodeBlock(block, xml::Node()); };
    const TCall fill = [this](IConfigModel &model, xml::Node) { model.FillTree(grid); };
    const TCall decode = [](IConfigModel &m, xml::Node block) { m.DecodeBlock(block, xml::Node(), {1, 2, 3}, 1); };
    const struct {
        const char *what;
        const char *body;
        TCall call;
        const char *failure;
        const char *element = nullptr; // an element of the values without value
    } cases[] = {
        {"struct containing itself",
         R"(<block><item name="s" type="st"/></block><struct name="st"><item name="t" type="st"/></struct>)", size,
         "EDescriptionError: Структура \"st\" содержит саму себя."},
        {"missing array", R"(<block><item name="x" size="1" array="nope"/></block>)", size,
         "EConvertError: '' is not a valid integer value"},
        {"inactive item with an array",
         R"(<block><item name="r" size="1" active="0" array="a"/></block><array name="a" start="0" count="2"/>)",
         encode, "EConfigError: Атрибут \"array\" несовместим с условием \"active=0\""},
        {"short image names the item", R"(<block><item name="a" size="2"/><item name="b" size="4"/></block>)",
         decode, "EDescriptionError: Элемент \"b\": поле выходит за пределы блока."},
        // Nothing larger than the link can carry is allocated.
        {"huge array count",
         R"(<block><item name="x" size="1" array="a"/></block><array name="a" start="0" count="2147483647"/>)",
         fill, "EDescriptionError: Массив \"a\": недопустимое число элементов 2147483647."},
        {"huge size", R"(<block><item name="x" size="2147483647"/></block>)", encode,
         "EDescriptionError: Элемент \"x\": недопустимая ширина поля."},
        {"block beyond the link", R"(<block><item name="a" size="40000"/><item name="b" size="40000"/></block>)",
         decode, "EDescriptionError: Элемент \"b\": блок длиннее 65783 байт, которые может передать связь."},
        {"missing value names the item", R"(<block><item name="a" size="1"/></block>)", encode,
         "EConfigError: В настройках нет параметра \"a\"."},
        {"deactivator without value",
         R"(<block><item name="on" size="1" array="a" deactivator=""/></block><array name="a" start="0" count="1"/>)",
         fill, "EConfigError: В настройках нет значения параметра \"on\" (a 0).", "on"},
        // fuzz_binary_random: the indices of an array starting at the largest int were counted past it.
        {"array starting at the largest int, decoded",
         R"(<block><item name="x" size="1" array="a"/></block><array name="a" start="2147483647" count="2"/>)", decode,
         "EDescriptionError: Массив \"a\": недопустимый первый номер 2147483647."},
        {"array starting at the largest int, shown",
         R"(<block><item name="x" size="1" mask="a"/></block><array name="a" start="2147483647" count="2"/>)", fill,
         "EDescriptionError: Массив \"a\": недопустимый первый номер 2147483647."},
    };
    for (const auto &c : cases) {
        auto model = modelOf(c.body);
        if (c.element)
            model->ValueDocument().DocumentElement().AppendNewElement(c.element);
        EXPECT_EQ(FailureOf([&] { c.call(*model, model->GetBlock(0)); }), c.failure) << c.what;
        EXPECT_FALSE(grid.Updating()) << c.what;
    }
}

TEST_F(BinaryModelTest, TreeGroupsArraysMasksAndStructsAndEditedDeactivatorsSwitchTheirElement)
{
    // Array p is used only with the mask of another array: it gets no group.
    auto model = modelOf(R"(<block caption="B">
          <item name="plain" caption="Простой" type="mode" size="1"/>
          <item name="on" caption="Вкл" type="bool" size="1" array="a" deactivator=""/>
          <item name="val" caption="Знач" size="1" array="a"/>
          <item name="two1" caption="Д1" size="1" array="b" deactivator=""/>
          <item name="two2" caption="Д2" size="1" array="b" deactivator=""/>
          <item name="res" size="1" active="1"/>
          <item name="m" caption="Маска" size="1" bits="2" mask="k"/>
          <item name="am" caption="Разделы" size="1" bits="1" array="p" mask="z"/>
          <item name="ch" type="st" array="c"/>
        </block>
        <array name="b" caption="Два" start="1" count="2"/><array name="a" caption="Эл" start="1" count="2"/>
        <array name="p" caption="Раздел" start="1" count="2"/><array name="k" caption="Бит" start="1" count="2"/>
        <array name="z" caption="Зона" start="1" count="2"/><array name="c" caption="Канал" start="1" count="2"/>
        <array name="s" caption="Слот" start="1" count="2"/>
        <enum name="mode"><!-- c --><c value="5" caption="Пять"/></enum>
        <struct name="st"><item name="f" caption="Частота" size="1"/>
          <item name="sl" caption="Номер" size="1" array="s"/></struct>)");
    model->DecodeBlock(model->GetBlock(0), xml::Node(),
                       {5, 0, 1, 7, 8, 0, 0, 0, 1, 3, 0b1110, 0b01, 0b10, 10, 1, 2, 20, 3, 4}, 1);
    // Groups follow the device's arrays; an element is off while all its deactivators hold "0".
    EXPECT_EQ(tree(model), "B\n"
                           "  Два\n    Два №1 [отключено]\n      Д1 = 0\n      Д2 = 0\n"
                           "    Два №2\n      Д1 = 0\n      Д2 = 1\n"
                           "  Эл\n    Эл №1 [отключено]\n      Вкл = Нет\n      Знач = 7\n"
                           "    Эл №2\n      Вкл = Да\n      Знач = 8\n"
                           "  Бит\n    Бит №1\n      Маска = 2\n    Бит №2\n      Маска = 3\n"
                           "  Зона\n    Зона №1\n      Разделы\n        Раздел №1 = 1\n        Раздел №2 = 0\n"
                           "    Зона №2\n      Разделы\n        Раздел №1 = 0\n        Раздел №2 = 1\n"
                           "  Канал\n    Канал №1\n      Слот\n        Слот №1\n          Номер = 1\n"
                           "        Слот №2\n          Номер = 2\n      Частота = 10\n"
                           "    Канал №2\n      Слот\n        Слот №1\n          Номер = 3\n"
                           "        Слот №2\n          Номер = 4\n      Частота = 20\n"
                           "  Простой = Пять\n");
    EXPECT_EQ(grid.Data(grid.Child(grid.Child(nullptr, 0), 5)).Info->Choices().size(), 1u); // the comment is no choice
    PVirtualNode block = grid.Child(nullptr, 0);
    PVirtualNode off = grid.Child(grid.Child(block, 0), 0);
    for (const char *text : {"1", "0"}) {
        grid.Data(grid.Child(off, 1)).Value.SetText(text);
        EXPECT_EQ(UpdateSwitchedElement(grid, grid.Child(off, 1)), off);
        EXPECT_EQ(grid.Data(off).Gray, text == std::string("0"));
    }
    // A value that is no deactivator switches nothing.
    EXPECT_EQ(UpdateSwitchedElement(grid, grid.Child(grid.Child(grid.Child(block, 1), 0), 1)), nullptr);
}

TEST_F(BinaryModelTest, SampleImagesRoundTripByteForByte)
{
    auto model = LoadSettingsFile(CATALOGUE_DIR "/samples/transmitter-binary.cfg", CATALOGUE_DIR);
    auto fresh = CreateConfigModel(CATALOGUE_DIR, 5, 300);
    ASSERT_EQ(fresh->GetBlockCount(), 5);
    for (int block = 0; block < 5; ++block) {
        const Bytes image = model->EncodeBlock(model->GetBlock(block), xml::Node());
        EXPECT_EQ(model->BlockSize(model->GetBlock(block)), int(image.size())) << block;
        EXPECT_EQ(fresh->DecodeBlock(fresh->GetBlock(block), xml::Node(), image, 1), int(image.size()) + 1) << block;
        EXPECT_EQ(fresh->EncodeBlock(fresh->GetBlock(block), xml::Node()), image) << block;
    }
}

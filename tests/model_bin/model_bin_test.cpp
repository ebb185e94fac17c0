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

    std::string values(const TConfigModelPtr &model)
    {
        std::string text = model->ValueDocument().Save();
        return text.substr(text.find("<config"));
    }

    std::string tree(const TConfigModelPtr &model)
    {
        TTreeGrid grid;
        model->FillTree(grid);
        return TreeText(grid);
    }

    TTempDir dir;
};

} // namespace

TEST_F(BinaryModelTest, BlocksDecodeToValuesAndEncodeBack)
{
    const struct {
        const char *what;
        const char *body;
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
        {"array item followed by a plain one",
         R"(<block><item name="w" size="2" array="a"/><item name="b" size="1"/></block>
            <array name="a" start="0" count="4"/>)",
         9, {1, 0, 2, 0, 3, 0, 4, 0, 9},
         "<w><value a=\"0\">1</value><value a=\"1\">2</value><value a=\"2\">3</value><value a=\"3\">4</value></w>"
         "<b><value>9</value></b>"},
        {"array outer, mask inner",
         R"(<block><item name="x" size="1" bits="2" array="a" mask="m"/></block>
            <array name="a" start="5" count="2"/><array name="m" start="0" count="3"/>)",
         2, {0b00100111, 0b00011011},
         "<x><value a=\"5\" m=\"0\">3</value><value a=\"5\" m=\"1\">1</value><value a=\"5\" m=\"2\">2</value>"
         "<value a=\"6\" m=\"0\">3</value><value a=\"6\" m=\"1\">2</value><value a=\"6\" m=\"2\">1</value></x>"},
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
            <struct name="phone"><item name="q" size="1"/></struct><struct name="int"><item name="r" size="2"/></struct>)",
         9, {0x12, 0x3D, 0xDD, 0xDD, 0xDD, 0xDD, 0xDD, 0xDD, 7}, "<p><value>123</value></p><n><value>7</value></n>"},
        {"bytes after the last field are left", R"(<block><item name="b" size="1"/></block>)", 1, {7, 8, 9},
         "<b><value>7</value></b>", {7}},
    };
    for (const auto &c : cases) {
        auto model = modelOf(c.body);
        const xml::Node block = model->GetBlock(0);
        EXPECT_EQ(model->BlockSize(block), c.size) << c.what;
        // Decoding returns the position after the last field.
        EXPECT_EQ(model->DecodeBlock(block, xml::Node(), c.image, 1), c.size + 1) << c.what;
        EXPECT_EQ(values(model), std::string("<config hw=\"1\" sw=\"0\">") + c.values + "</config>\n") << c.what;
        EXPECT_EQ(model->EncodeBlock(block, xml::Node()), c.encoded.empty() ? c.image : c.encoded) << c.what;
    }
    auto inactive = modelOf(cases[3].body);
    inactive->DecodeBlock(inactive->GetBlock(0), xml::Node(), cases[3].image, 1);
    EXPECT_EQ(tree(inactive), "\n   = 42\n");
}

TEST_F(BinaryModelTest, FaultsFailWithMessagesNotCrashes)
{
    using TCall = std::function<void(IConfigModel &, xml::Node)>;
    const TCall size = [](IConfigModel &model, xml::Node block) { model.BlockSize(block); };
    const TCall encode = [](IConfigModel &model, xml::Node block) { model.EncodeBlock(block, xml::Node()); };
    const TCall fill = [](IConfigModel &model, xml::Node) {
        TTreeGrid grid;
        model.FillTree(grid);
    };
    const TCall decodeShort = [](IConfigModel &model, xml::Node block) {
        model.DecodeBlock(block, xml::Node(), {1, 2, 3}, 1);
    };
    const struct {
        const char *what;
        const char *body;
        TCall call;
        const char *failure;
    } cases[] = {
        {"struct containing itself",
         R"(<block><item name="s" type="st"/></block><struct name="st"><item name="t" type="st"/></struct>)", size,
         "EDescriptionError: Структура \"st\" содержит саму себя."},
        {"missing array", R"(<block><item name="x" size="1" array="nope"/></block>)", size,
         "EConvertError: '' is not a valid integer value"},
        {"array without count", R"(<block><item name="x" size="1" array="a"/></block><array name="a" start="0"/>)",
         size, "EConvertError: '' is not a valid integer value"},
        {"size not a number", R"(<block><item name="x" size="two"/></block>)", size,
         "EConvertError: 'two' is not a valid integer value"},
        {"inactive item with an array",
         R"(<block><item name="r" size="1" active="0" array="a"/></block><array name="a" start="0" count="2"/>)",
         encode, "EConfigError: Атрибут \"array\" несовместим с условием \"active=0\""},
        {"short image names the item", R"(<block><item name="a" size="2"/><item name="b" size="4"/></block>)",
         decodeShort, "EDescriptionError: Элемент \"b\": поле выходит за пределы блока."},
        // Nothing larger than the link can carry is allocated.
        {"huge array count", R"(<block><item name="x" size="1" array="a"/></block><array name="a" start="0" count="2147483647"/>)",
         fill, "EDescriptionError: Массив \"a\": недопустимое число элементов 2147483647."},
        {"huge size", R"(<block><item name="x" size="2147483647"/></block>)", encode,
         "EDescriptionError: Элемент \"x\": недопустимая ширина поля."},
        {"block beyond the link", R"(<block><item name="a" size="40000"/><item name="b" size="40000"/></block>)",
         decodeShort, "EDescriptionError: Элемент \"b\": блок длиннее 65783 байт, которые может передать связь."},
        {"missing value names the item", R"(<block><item name="a" size="1"/></block>)", encode,
         "EConfigError: В настройках нет параметра \"a\"."},
    };
    for (const auto &c : cases) {
        auto model = modelOf(c.body);
        EXPECT_EQ(FailureOf([&] { c.call(*model, model->GetBlock(0)); }), c.failure) << c.what;
    }
}

TEST_F(BinaryModelTest, TreeGroupsArraysMasksAndStructs)
{
    const struct {
        const char *what;
        const char *body;
        Bytes image;
        const char *tree;
    } cases[] = {
        {"order, captions and grey elements", R"(<block caption="B">
          <item name="plain" caption="Простой" size="1"/>
          <item name="on" caption="Вкл" type="bool" size="1" array="a" deactivator=""/>
          <item name="val" caption="Знач" size="1" array="a"/>
          <item name="two1" caption="Д1" size="1" array="b" deactivator=""/>
          <item name="two2" caption="Д2" size="1" array="b" deactivator=""/>
          <item name="free" caption="Свободный" size="1" array="c"/>
          <item name="res" size="1" active="1"/>
        </block>
        <array name="c" caption="Без" start="0" count="1"/>
        <array name="a" caption="Эл" start="1" count="2"/>
        <array name="b" caption="Два" start="1" count="3"/>)",
         {5, 0, 1, 7, 8, 0, 0, 1, 0, 1, 1, 9, 3},
         "B\n"
         "  Без\n"
         "    Без №0\n"
         "      Свободный = 9\n"
         "  Эл\n"
         "    Эл №1 [отключено]\n"
         "      Вкл = Нет\n"
         "      Знач = 7\n"
         "    Эл №2\n"
         "      Вкл = Да\n"
         "      Знач = 8\n"
         "  Два\n"
         "    Два №1 [отключено]\n"
         "      Д1 = 0\n"
         "      Д2 = 0\n"
         "    Два №2\n"
         "      Д1 = 0\n"
         "      Д2 = 1\n"
         "    Два №3\n"
         "      Д1 = 1\n"
         "      Д2 = 1\n"
         "  Простой = 5\n"},
        // Array p is used only with the mask of another array: it gets no group.
        {"masked items under their mask array", R"(<block caption="B">
          <item name="m" caption="Маска" size="1" bits="2" mask="k"/>
          <item name="am" caption="Разделы" size="1" bits="1" array="p" mask="z"/>
        </block>
        <array name="p" caption="Раздел" start="1" count="2"/>
        <array name="k" caption="Бит" start="1" count="2"/>
        <array name="z" caption="Зона" start="1" count="2"/>)",
         {0b1110, 0b01, 0b10},
         "B\n"
         "  Бит\n"
         "    Бит №1\n"
         "      Маска = 2\n"
         "    Бит №2\n"
         "      Маска = 3\n"
         "  Зона\n"
         "    Зона №1\n"
         "      Разделы\n"
         "        Раздел №1 = 1\n"
         "        Раздел №2 = 0\n"
         "    Зона №2\n"
         "      Разделы\n"
         "        Раздел №1 = 0\n"
         "        Раздел №2 = 1\n"},
        {"struct items under each array element", R"(<block caption="B"><item name="ch" type="st" array="a"/></block>
        <array name="a" caption="Канал" start="1" count="2"/>
        <array name="s" caption="Слот" start="1" count="2"/>
        <struct name="st"><item name="f" caption="Частота" size="1"/><item name="sl" caption="Номер" size="1" array="s"/></struct>)",
         {10, 1, 2, 20, 3, 4},
         "B\n"
         "  Канал\n"
         "    Канал №1\n"
         "      Слот\n"
         "        Слот №1\n"
         "          Номер = 1\n"
         "        Слот №2\n"
         "          Номер = 2\n"
         "      Частота = 10\n"
         "    Канал №2\n"
         "      Слот\n"
         "        Слот №1\n"
         "          Номер = 3\n"
         "        Слот №2\n"
         "          Номер = 4\n"
         "      Частота = 20\n"},
    };
    for (const auto &c : cases) {
        auto model = modelOf(c.body);
        model->DecodeBlock(model->GetBlock(0), xml::Node(), c.image, 1);
        EXPECT_EQ(tree(model), c.tree) << c.what;
    }
}

TEST_F(BinaryModelTest, EditedDeactivatorsSwitchTheirElementOnAndOff)
{
    auto model = modelOf(R"(<block caption="B">
          <item name="on" caption="Вкл" type="bool" size="1" array="a" deactivator=""/>
          <item name="val" caption="Знач" size="1" array="a"/>
        </block>
        <array name="a" caption="Эл" start="1" count="2"/>)");
    model->DecodeBlock(model->GetBlock(0), xml::Node(), {0, 1, 7, 8}, 1);
    TTreeGrid grid;
    model->FillTree(grid);
    PVirtualNode group = grid.Child(grid.Child(nullptr, 0), 0);
    PVirtualNode first = grid.Child(group, 0);
    PVirtualNode second = grid.Child(group, 1);
    ASSERT_TRUE(grid.Data(first).Gray);
    ASSERT_FALSE(grid.Data(second).Gray);
    const struct {
        PVirtualNode element;
        int leaf;
        const char *text;
        bool gray;
    } edits[] = {{first, 0, "1", false}, {second, 0, "0", true}, {first, 0, "0", true}};
    for (const auto &e : edits) {
        PVirtualNode leaf = grid.Child(e.element, e.leaf);
        grid.Data(leaf).Value.SetText(e.text);
        EXPECT_EQ(UpdateSwitchedElement(grid, leaf), e.element);
        EXPECT_EQ(grid.Data(e.element).Gray, e.gray) << e.text;
    }
    // A value that is no deactivator switches nothing.
    EXPECT_EQ(UpdateSwitchedElement(grid, grid.Child(first, 1)), nullptr);
}

TEST_F(BinaryModelTest, DeactivatorWithoutValueFailsTheFill)
{
    auto model = modelOf(R"(<block><item name="on" size="1" array="a" deactivator=""/></block><array name="a" start="0" count="1"/>)");
    xml::Document &doc = model->ValueDocument();
    doc.DocumentElement().AppendChild(doc.CreateElement("on"));
    TTreeGrid grid;
    EXPECT_THROW(model->FillTree(grid), EConfigError);
    EXPECT_FALSE(grid.Updating());
    EXPECT_EQ(grid.NodeCount(), 3); // what was added stays
}

namespace {

class SampleBinaryDevice : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegisterBinaryConfigModel();
        model = LoadSettingsFile(CATALOGUE_DIR "/samples/transmitter-binary.cfg", CATALOGUE_DIR);
    }
    TConfigModelPtr model;
};

} // namespace

TEST_F(SampleBinaryDevice, ImagesOfTheBlockSizesRoundTripByteForByte)
{
    ASSERT_EQ(model->GetBlockCount(), 5);
    const int sizes[] = {32, 40, 27, 50, 144};
    std::vector<Bytes> images;
    for (int block = 0; block < 5; ++block) {
        EXPECT_EQ(model->BlockSize(model->GetBlock(block)), sizes[block]) << block;
        images.push_back(model->EncodeBlock(model->GetBlock(block), xml::Node()));
        EXPECT_EQ(static_cast<int>(images.back().size()), sizes[block]);
    }
    EXPECT_EQ(HexDump(CopyBytes(images[0], 23, 2)), "FF FF"); // reserved, right after battery_threshold
    auto fresh = CreateConfigModel(CATALOGUE_DIR, 5, 300);
    ASSERT_TRUE(fresh);
    for (int block = 0; block < fresh->GetBlockCount(); ++block) {
        const xml::Node node = fresh->GetBlock(block);
        const Bytes &image = images[static_cast<std::size_t>(block)];
        EXPECT_EQ(fresh->DecodeBlock(node, xml::Node(), image, 1), static_cast<int>(image.size()) + 1);
        EXPECT_EQ(fresh->EncodeBlock(node, xml::Node()), image) << block;
    }
    auto root = [](const TConfigModelPtr &m) {
        m->ValueDocument().AppendProcessingInstruction("xml", "version=\"1.0\" encoding=\"utf-8\"");
        const std::string text = m->ValueDocument().Save();
        return text.substr(text.find("<config"));
    };
    EXPECT_TRUE(root(fresh) == root(model)); // the same values in the same order
}

TEST_F(SampleBinaryDevice, EveryLeafHasAValueAndTheTreeIsComplete)
{
    TTreeGrid grid;
    model->FillTree(grid);
    EXPECT_EQ(grid.ChildCount(nullptr), 5);
    int leaves = 0;
    std::function<void(PVirtualNode)> visit = [&](PVirtualNode node) {
        for (int i = 0; i < grid.ChildCount(node); ++i) {
            PVirtualNode child = grid.Child(node, i);
            const TTreeData &data = grid.Data(child);
            if (data.Description) {
                ++leaves;
                EXPECT_TRUE(data.Value) << data.Caption;
            }
            visit(child);
        }
    };
    visit(nullptr);
    // 10 plain + ip/port + 3 phones + 2 x 4 channel + 8 x 3 zones + 8 x 2 parts + 4 leds + 4 x 3 keys + 4 levels + 48 x 2 events
    EXPECT_EQ(leaves, 10 + 2 + 3 + 8 + 24 + 16 + 4 + 12 + 4 + 96);
}

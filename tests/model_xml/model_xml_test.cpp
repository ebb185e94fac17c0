#include "model/cp1251.h"
#include "model/errors.h"
#include "model/tools.h"
#include "model_xml/model_xml.h"
#include "tests/model/catalogue_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

const char *const kDeclaration = "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n";

// A block text as a device of hw 1, sw 0 sends it.
std::string blockText(const std::string &parameters)
{
    return std::string(kDeclaration) + "<config hw=\"1\" sw=\"0\">" + parameters + "</config>";
}

// What the program sends for a block of hw 1, sw 0 holding these parameters.
std::string sentText(const std::string &parameters)
{
    return std::string(kDeclaration) + "<config hw=\"1\" sw=\"0\">" + parameters + "</config>\n";
}

Bytes readFile(const std::string &path)
{
    return ToBytes(ReadFile(path));
}

// An XML device (hw 1) with the given body in a scratch catalogue.
class XmlModelTest : public ::testing::Test {
protected:
    void SetUp() override { RegisterXmlConfigModel(); }

    TConfigModelPtr modelOf(const std::string &body)
    {
        dir.Write("d.xml", "<devices><device hw=\"1\" format=\"xml\">" + body + "</device></devices>");
        auto model = CreateConfigModel(dir.Path(), 1, 0);
        EXPECT_TRUE(dynamic_cast<TXmlConfigModel *>(model.get()));
        return model;
    }

    static void decode(const TConfigModelPtr &model, int block, const std::string &text)
    {
        model->DecodeBlock(model->GetBlock(block), xml::Node(), ToBytes(text), 1);
    }

    static std::string encode(const TConfigModelPtr &model, int block)
    {
        return ToString(model->EncodeBlock(model->GetBlock(block), xml::Node()));
    }

    // The value document from its root on.
    static std::string values(const TConfigModelPtr &model)
    {
        const std::string text = model->ValueDocument().Save();
        return text.substr(text.find("<config"));
    }

    std::string tree(const TConfigModelPtr &model)
    {
        model->FillTree(grid);
        return TreeText(grid);
    }

    TTempDir dir;
    TTreeGrid grid;
};

// A device with one variable array "list" of elements "el" (fields v and w)
// after a simple parameter "a"; arrayAttributes go onto the array element.
std::string arrayDevice(const std::string &arrayAttributes)
{
    return R"(<block caption="B"><item name="a" caption="A"/>
                <item name="list" caption="Список"><template array="el">
                  <item name="v" caption="V"/><item name="w" caption="W" type="string"/>
                </template></item></block>
              <array name="el" caption="Эл" )"
           + arrayAttributes + "/>";
}

// The container of arrayDevice with count elements numbered from 1.
std::string arrayValues(int count)
{
    std::string list = "<list>";
    for (int n = 1; n <= count; ++n)
        list += "<el><v>" + std::to_string(n) + "</v><w>s" + std::to_string(n) + "</w></el>";
    return "<a>0</a>" + list + "</list>";
}

} // namespace

// ------------------------------------------------------------- block texts

TEST_F(XmlModelTest, TwoBlocks_DecodeKeepsReceivedOrderAndEncodeSendsOnlyTheBlocksParameters)
{
    auto model = modelOf(R"(<block><item name="a"/></block><block><item name="b"/><item name="c"/></block>)");
    const std::string first = blockText("<a>1</a>");
    EXPECT_EQ(model->DecodeBlock(model->GetBlock(0), xml::Node(), ToBytes(first), 1),
              1 + static_cast<int>(first.size()));
    decode(model, 1, blockText("<c>3</c><b>2</b>"));
    EXPECT_EQ(values(model), "<config hw=\"1\" sw=\"0\"><a>1</a><c>3</c><b>2</b></config>\n");
    EXPECT_EQ(encode(model, 0), sentText("<a>1</a>"));
    EXPECT_EQ(encode(model, 1), sentText("<c>3</c><b>2</b>")); // the value document's order, not the description's
    // Block sizes are never checked.
    EXPECT_EQ(model->BlockSize(model->GetBlock(0)), 0);
    EXPECT_EQ(model->BlockSize(model->GetBlock(1)), 0);
}

TEST_F(XmlModelTest, EmptyConfigAddsNothing)
{
    auto model = modelOf(R"(<block><item name="a"/></block>)");
    decode(model, 0, blockText(""));
    decode(model, 0, "<config/>");
    EXPECT_EQ(values(model), "<config hw=\"1\" sw=\"0\"/>\n");
    EXPECT_EQ(encode(model, 0), std::string(kDeclaration) + "<config hw=\"1\" sw=\"0\"/>\n");
}

TEST_F(XmlModelTest, TextsAreWindows1251WhateverTheReceivedTextDeclares)
{
    const std::string name = Utf8ToCp1251("Склад №3");
    const struct {
        const char *what;
        std::string text;
    } cases[] = {
        {"utf-8", "<?xml version=\"1.0\" encoding=\"utf-8\"?><config><n>" + name + "</n></config>"},
        {"windows-1251", "<?xml version=\"1.0\" encoding=\"windows-1251\"?><config><n>" + name + "</n></config>"},
        {"koi8-r", "<?xml version=\"1.0\" encoding=\"koi8-r\"?><config><n>" + name + "</n></config>"},
        {"unknown", "<?xml version=\"1.0\" encoding=\"foo-bar\"?><config><n>" + name + "</n></config>"},
        {"no declaration", "<config><n>" + name + "</n></config>"},
    };
    for (const auto &c : cases) {
        auto model = modelOf(R"(<block><item name="n" type="string"/></block>)");
        decode(model, 0, c.text);
        EXPECT_EQ(model->ValueDocument().DocumentElement().ChildElement("n").Text(), "Склад №3") << c.what;
        EXPECT_EQ(encode(model, 0), sentText("<n>" + name + "</n>")) << c.what;
    }
    // The editors store UTF-8; what has no windows-1251 byte goes as a character reference.
    auto model = modelOf(R"(<block><item name="n" type="string"/></block>)");
    decode(model, 0, "<?xml version=\"1.0\" encoding=\"utf-8\"?><config><n/></config>");
    model->ValueDocument().DocumentElement().ChildElement("n").SetText("Ёлка & «ель» ☎");
    EXPECT_EQ(encode(model, 0), sentText(Utf8ToCp1251("<n>Ёлка &amp; «ель» ") + "&#9742;</n>"));
}

TEST_F(XmlModelTest, UnknownParametersStayInTheValuesButAreNeverSent)
{
    auto model = modelOf(R"(<block><item name="a"/><param name="p"/></block><block><item name="b"/></block>)");
    decode(model, 0, blockText("<a>1</a><zz>9</zz><p>7</p><!-- note -->"));
    decode(model, 1, blockText("<b>2</b>"));
    EXPECT_EQ(values(model), "<config hw=\"1\" sw=\"0\"><a>1</a><zz>9</zz><p>7</p><!-- note --><b>2</b></config>\n");
    // Only item children of a block are sent; other parameters show in the tree all the same.
    EXPECT_EQ(encode(model, 0), sentText("<a>1</a>"));
    EXPECT_EQ(encode(model, 1), sentText("<b>2</b>"));
    EXPECT_EQ(tree(model), "\n   = 1\n   = 7\n\n   = 2\n");
    model->SaveToFile(dir.File("s.cfg"));
    EXPECT_NE(dir.Read("s.cfg").find("<zz>9</zz>"), std::string::npos);
}

TEST_F(XmlModelTest, NamespacesTravelWithTheReceivedElements)
{
    auto model = modelOf(R"(<block><item name="a"/></block>)");
    decode(model, 0, R"(<config xmlns:p="urn:p"><p:b xml:lang="ru">1</p:b><a p:x="2">3</a></config>)");
    EXPECT_EQ(values(model), "<config hw=\"1\" sw=\"0\"><p:b xmlns:p=\"urn:p\" xml:lang=\"ru\">1</p:b>"
                             "<a xmlns:p=\"urn:p\" p:x=\"2\">3</a></config>\n");
    EXPECT_EQ(encode(model, 0), sentText(R"(<a xmlns:p="urn:p" p:x="2">3</a>)"));
}

// -------------------------------------------------------------- bad inputs

TEST_F(XmlModelTest, TextsThatAreNotWellFormedFailWithTheLineAndLeaveTheValues)
{
    std::string laughs = "<?xml version=\"1.0\"?>\n<!DOCTYPE config [\n<!ENTITY l0 \"lol\">\n";
    for (int i = 1; i <= 9; ++i) {
        laughs += "<!ENTITY l" + std::to_string(i) + " \"";
        for (int j = 0; j < 10; ++j)
            laughs += "&l" + std::to_string(i - 1) + ";";
        laughs += "\">\n";
    }
    laughs += "]>\n<config><b>&l9;</b></config>";
    const struct {
        const char *what;
        std::string text;
        int line;
        const char *sourceText;
    } cases[] = {
        {"cut off", std::string(kDeclaration) + "<config hw=\"1\" sw=\"0\">\n  <b>2</b>\n  <c>3", 4, "  <c>3"},
        {"empty", "", 1, ""},
        {"mismatched tag", "<config>\n<b>2</c>\n</config>", 2, "<b>2</c>"},
        {"NUL byte", std::string("<config><b>") + '\0' + "</b></config>", 1, nullptr},
        {"billion laughs", laughs, 0, nullptr},
    };
    for (const auto &c : cases) {
        auto model = modelOf(R"(<block><item name="a"/></block><block><item name="b"/><item name="c"/></block>)");
        decode(model, 0, blockText("<a>1</a>"));
        const std::string before = values(model);
        try {
            decode(model, 1, c.text);
            ADD_FAILURE() << c.what;
        } catch (const EXmlError &e) {
            EXPECT_FALSE(e.Reason().empty()) << c.what;
            EXPECT_EQ(e.what(), Format("Строка %d: %s\r\n%s", e.Line(), e.Reason().c_str(), e.SourceText().c_str()))
                << c.what;
            if (c.line > 0) {
                EXPECT_EQ(e.Line(), c.line) << c.what;
            }
            if (c.sourceText) {
                EXPECT_EQ(e.SourceText(), c.sourceText) << c.what;
            }
        }
        EXPECT_EQ(values(model), before) << c.what;
    }
}

TEST_F(XmlModelTest, BlockTextsTheModelRefusesLeaveTheValues)
{
    const std::string secret = dir.Write("secret.txt", "TOP-SECRET");
    const struct {
        const char *what;
        std::string text;
        const char *message;
    } cases[] = {
        {"root settings", "<settings><a>2</a></settings>",
         "Блок настроек не содержит элемента config (корневой элемент \"settings\")."},
        {"prefixed root", "<p:config xmlns:p=\"urn:p\"><a>2</a></p:config>",
         "Блок настроек не содержит элемента config (корневой элемент \"p:config\")."},
        {"external entity",
         "<?xml version=\"1.0\"?>\n<!DOCTYPE config [<!ENTITY xxe SYSTEM \"file://" + secret
             + "\">]>\n<config><a>2</a><b>&xxe;</b></config>",
         "Блок настроек содержит ссылку на сущность \"xxe\"."},
        {"internal entity", "<!DOCTYPE config [<!ENTITY e \"x\">]><config><a><b>1&e;</b></a></config>",
         "Блок настроек содержит ссылку на сущность \"e\"."},
    };
    for (const auto &c : cases) {
        auto model = modelOf(R"(<block><item name="a"/><item name="b"/></block>)");
        decode(model, 0, blockText("<a>1</a>"));
        EXPECT_EQ(FailureOf([&] { decode(model, 0, c.text); }), std::string("EConfigError: ") + c.message) << c.what;
        EXPECT_EQ(values(model), "<config hw=\"1\" sw=\"0\"><a>1</a></config>\n") << c.what;
        EXPECT_EQ(model->ValueDocument().Save().find("TOP-SECRET"), std::string::npos) << c.what;
    }
}

TEST_F(XmlModelTest, MissingSimpleParameterHasANodeWithoutValue)
{
    auto model = modelOf(R"(<block caption="B"><item name="a" caption="A"/><item name="b" caption="Б"/></block>)");
    decode(model, 0, blockText("<b>2</b>"));
    EXPECT_EQ(tree(model), "B\n  A\n  Б = 2\n");
    EXPECT_FALSE(grid.Data(grid.Child(grid.Child(nullptr, 0), 0)).Value);
}

TEST_F(XmlModelTest, CommentsInBlockAndTemplateAreNoParametersOrFields)
{
    auto model = modelOf(R"(<block caption="B"><!-- first --><item name="a" caption="A"/><?note x?>
                              <item name="list" caption="Список"><!-- before the template -->
                                <template array="el"><!-- field --><item name="v" caption="V" min="2"/><?pi?></template>
                              </item><!-- last --></block>
                            <array name="el" caption="Эл"/>)");
    decode(model, 0, blockText("<a>1</a><list><el><v>7</v></el></list>"));
    EXPECT_EQ(tree(model), "B\n  A = 1\n  Список\n    Эл №1\n      V = 7\n");
    model->AddArrayItem(grid, grid.Child(grid.Child(nullptr, 0), 1));
    EXPECT_EQ(TreeText(grid), "B\n  A = 1\n  Список\n    Эл №1\n      V = 7\n    Эл №2\n      V = 2\n");
    EXPECT_EQ(values(model), "<config hw=\"1\" sw=\"0\"><a>1</a><list><el><v>7</v></el><el><v>2</v></el></list></config>\n");
}

TEST_F(XmlModelTest, NamesThatCannotNameAnElementFailTheFillOrTheAddChangingNothing)
{
    const struct {
        const char *what;
        std::string body;
        std::string array;
        bool add; // the fill goes well, the add fails
        const char *name;
    } cases[] = {
        {"parameter without name", R"(<item name="a" caption="A"/><item caption="no name"/>)", "el", false, ""},
        {"parameter named by a number", R"(<item name="1x"/>)", "el", false, "1x"},
        {"field with a space", R"(<item name="list"><template array="el"><item name="a b"/></template></item>)", "el",
         false, "a b"},
        {"array parameter without name", R"(<item><template array="el"><item name="v"/></template></item>)", "el",
         false, ""},
        {"array with an empty name", R"(<item name="list"><template array=""><item name="v"/></template></item>)", "",
         true, ""},
        // The tree shows item fields only, but a new element gets every field of its template.
        {"template child that is no item",
         R"(<item name="list"><template array="el"><item name="v"/><note name="1x"/></template></item>)", "el", true,
         "1x"},
    };
    for (const auto &c : cases) {
        auto model = modelOf("<block caption=\"B\">" + c.body + "</block><array name=\"" + c.array + "\"/>");
        decode(model, 0, blockText("<a>1</a><list><el><v>1</v></el></list>"));
        const std::string failure = Format("EXmlError: Недопустимое имя элемента \"%s\"", c.name);
        if (!c.add) {
            EXPECT_EQ(FailureOf([&] { model->FillTree(grid); }), failure) << c.what;
            EXPECT_FALSE(grid.Updating()) << c.what;
            continue;
        }
        const std::string before = values(model);
        const std::string shown = tree(model);
        EXPECT_EQ(FailureOf([&] { model->AddArrayItem(grid, grid.Child(grid.Child(nullptr, 0), 0)); }), failure)
            << c.what;
        EXPECT_EQ(values(model), before) << c.what;
        EXPECT_EQ(TreeText(grid), shown) << c.what;
    }
}

TEST_F(XmlModelTest, TemplateChildrenThatAreNoItemsGetElementsButNoNodes)
{
    auto model = modelOf(R"(<block><item name="list" caption="L"><template array="el">
                              <item name="v" caption="V" type="hex"/><note name="n"/></template></item></block>
                            <array name="el" caption="Эл"/>)");
    decode(model, 0, blockText("<list/>"));
    model->FillTree(grid);
    model->AddArrayItem(grid, grid.Child(grid.Child(nullptr, 0), 0));
    EXPECT_EQ(values(model), "<config hw=\"1\" sw=\"0\"><list><el><v>FFFFFFFF</v><n>0</n></el></list></config>\n");
    const std::string added = TreeText(grid);
    EXPECT_EQ(added, "\n  L\n    Эл №1\n      V = FFFFFFFF\n");
    EXPECT_EQ(tree(model), added); // the same as a refill shows
}

TEST_F(XmlModelTest, TemplateNamingNoArrayShowsItsElementsWithoutMenu)
{
    auto model = modelOf(R"(<block><item name="list" caption="L"><template array="nope"><item name="v" caption="V"/></template></item></block>)");
    decode(model, 0, blockText("<list><el><v>1</v></el></list>"));
    EXPECT_EQ(tree(model), std::string("\n  L\n    ") + kNumberSign + "1\n      V = 1\n");
    PVirtualNode list = grid.Child(grid.Child(nullptr, 0), 0);
    EXPECT_FALSE(grid.Data(list).ArrayDesc);
    EXPECT_FALSE(model->PreparePopupMenu(grid, list));
    EXPECT_FALSE(model->PreparePopupMenu(grid, grid.Child(list, 0)));
}

// ---------------------------------------------------------------- the tree

TEST_F(XmlModelTest, TreeShowsBlocksParametersElementsAndFields)
{
    auto model = modelOf(R"(<block caption="Общие"><item name="n" caption="Номер"/><item name="m" caption="Режим" type="mode"/></block>
                            <block caption="Связь"><item name="list" caption="Телефоны">
                              <template array="ph"><item name="num" caption="Номер" type="string"/>
                                <item name="on" caption="Вкл" type="bool"/><item name="gone" caption="Нет в значениях"/></template>
                            </item></block>
                            <array name="ph" caption="Телефон"/>
                            <enum name="mode"><c value="g" caption="Охрана"/></enum>)");
    decode(model, 0, blockText("<n>5</n><m>g</m>"));
    decode(model, 1, blockText("<list><ph><num>112</num><on>1</on></ph><!-- x --><ph><on>0</on><num>01</num></ph></list>"));
    EXPECT_EQ(tree(model), "Общие\n"
                           "  Номер = 5\n"
                           "  Режим = Охрана\n"
                           "Связь\n"
                           "  Телефоны\n"
                           "    Телефон №1\n"
                           "      Номер = 112\n"
                           "      Вкл = Да\n"
                           "      Нет в значениях\n"
                           "    Телефон №2\n"
                           "      Номер = 01\n"
                           "      Вкл = Нет\n"
                           "      Нет в значениях\n");
    EXPECT_FALSE(grid.Updating());
    const xml::Node device = model->DeviceElement();
    const xml::Node container = model->ValueDocument().DocumentElement().ChildElement("list");
    PVirtualNode arrayNode = grid.Child(grid.Child(nullptr, 1), 0);
    const TTreeData &array = grid.Data(arrayNode);
    EXPECT_EQ(array.Description, device.SelectSingle("block[2]/item"));
    EXPECT_EQ(array.Value, container);
    EXPECT_EQ(array.ArrayDesc, device.SelectSingle("array"));
    const TTreeData &element = grid.Data(grid.Child(arrayNode, 1));
    EXPECT_EQ(element.Description, array.Description);
    EXPECT_EQ(element.Value, container);
    EXPECT_EQ(element.ArrayDesc, array.ArrayDesc);
    const TTreeData &field = grid.Data(grid.Child(grid.Child(arrayNode, 1), 0));
    EXPECT_EQ(field.Description, device.SelectSingle("block[2]/item/template/item[1]"));
    EXPECT_EQ(field.Value, container.SelectSingle("ph[2]/num"));
    EXPECT_FALSE(field.ArrayDesc);
}

// ---------------------------------------------------------- variable arrays

TEST_F(XmlModelTest, NumbersStayAfterDeleteAndTheNewLastNodeTakesCountPlusOne)
{
    auto model = modelOf(arrayDevice(""));
    decode(model, 0, blockText(arrayValues(3)));
    model->FillTree(grid);
    PVirtualNode list = grid.Child(grid.Child(nullptr, 0), 1);
    model->DeleteArrayItem(grid, grid.Child(list, 1));
    EXPECT_EQ(TreeText(grid), "B\n  A = 0\n  Список\n"
                                           "    Эл №1\n      V = 1\n      W = s1\n"
                                           "    Эл №3\n      V = 3\n      W = s3\n");
    EXPECT_EQ(values(model), "<config hw=\"1\" sw=\"0\"><a>0</a><list><el><v>1</v><w>s1</w></el>"
                             "<el><v>3</v><w>s3</w></el></list></config>\n");
    model->AddArrayItem(grid, list);
    EXPECT_EQ(TreeText(grid), "B\n  A = 0\n  Список\n"
                                           "    Эл №1\n      V = 1\n      W = s1\n"
                                           "    Эл №3\n      V = 3\n      W = s3\n"
                                           "    Эл №3\n      V = 0\n      W = \n");
    EXPECT_EQ(values(model), "<config hw=\"1\" sw=\"0\"><a>0</a><list><el><v>1</v><w>s1</w></el>"
                             "<el><v>3</v><w>s3</w></el><el><v>0</v><w/></el></list></config>\n");
    // The new field nodes edit the new elements.
    const TTreeData &added = grid.Data(grid.Child(grid.Child(list, 2), 0));
    EXPECT_EQ(added.Value, model->ValueDocument().DocumentElement().SelectSingle("list/el[3]/v"));
    // A refill numbers afresh.
    EXPECT_EQ(tree(model), "B\n  A = 0\n  Список\n"
                           "    Эл №1\n      V = 1\n      W = s1\n"
                           "    Эл №2\n      V = 3\n      W = s3\n"
                           "    Эл №3\n      V = 0\n      W = \n");
}

TEST_F(XmlModelTest, DeleteCountsOnlyTheContainersElements)
{
    auto model = modelOf(arrayDevice(""));
    decode(model, 0, blockText("<list><!-- a --><el><v>1</v></el><?pi?><el><v>2</v></el><!-- b --><el><v>3</v></el></list>"));
    model->FillTree(grid);
    PVirtualNode list = grid.Child(grid.Child(nullptr, 0), 1);
    ASSERT_EQ(grid.ChildCount(list), 3);
    model->DeleteArrayItem(grid, grid.Child(list, 2));
    model->DeleteArrayItem(grid, grid.Child(list, 0));
    EXPECT_EQ(values(model), "<config hw=\"1\" sw=\"0\"><list><!-- a --><?pi?><el><v>2</v></el><!-- b --></list></config>\n");
    ASSERT_EQ(grid.ChildCount(list), 1);
    EXPECT_EQ(grid.Data(grid.Child(list, 0)).Caption, std::string("Эл") + kNumberSign + "2");
}

TEST_F(XmlModelTest, NodesThatAreNotTheArraysOfferNoMenuAndAreNotAddedToOrDeleted)
{
    auto model = modelOf(arrayDevice(""));
    decode(model, 0, blockText(arrayValues(1)));
    const std::string before = values(model);
    const std::string shown = tree(model);
    PVirtualNode block = grid.Child(nullptr, 0);
    PVirtualNode list = grid.Child(block, 1);
    PVirtualNode element = grid.Child(list, 0);
    grid.PopupItem() = TPopupItem{"x", "hint", 7, false};
    for (PVirtualNode node : {block, grid.Child(block, 0), grid.Child(element, 0), grid.Child(element, 1)})
        EXPECT_FALSE(model->PreparePopupMenu(grid, node)) << grid.Data(node).Caption;
    EXPECT_EQ(grid.PopupItem().Caption, "x");
    EXPECT_EQ(grid.PopupItem().Tag, 7);
    for (PVirtualNode node : {block, grid.Child(block, 0), element, grid.Child(element, 0)})
        model->AddArrayItem(grid, node);
    for (PVirtualNode node : {block, grid.Child(block, 0), list, grid.Child(element, 0)})
        model->DeleteArrayItem(grid, node);
    EXPECT_EQ(values(model), before);
    EXPECT_EQ(TreeText(grid), shown);
}

TEST_F(XmlModelTest, NewElementFieldsStartWithTheirTypesDefault)
{
    const struct {
        const char *field;
        const char *text;
    } cases[] = {
        {R"(type="int" min="5")", "5"},
        {R"(type="int" min="5" max="9")", "5"},
        {R"(type="int")", "0"},
        {"", "0"},
        {R"(type="hex")", "FFFFFFFF"},
        {R"(type="string")", ""},
        {R"(type="bool")", "0"},
        {R"(type="mode")", "0"},
        {R"(type="phone")", "0"},
        {R"(type="string" min="3")", ""},
    };
    for (const auto &c : cases) {
        auto model = modelOf(std::string(R"(<block><item name="list"><template array="el"><item name="f" )") + c.field
                             + R"(/></template></item></block><array name="el"/>
                                  <enum name="mode"><c value="1" caption="Один"/></enum>)");
        decode(model, 0, blockText("<list/>"));
        model->FillTree(grid);
        model->AddArrayItem(grid, grid.Child(grid.Child(nullptr, 0), 0));
        EXPECT_EQ(model->ValueDocument().DocumentElement().SelectSingle("list/el/f").Text(), c.text) << c.field;
    }
}

TEST_F(XmlModelTest, MissingContainerIsCreatedByTheFirstAdd)
{
    auto model = modelOf(arrayDevice(R"(max="2")"));
    decode(model, 0, blockText("<a>4</a><zz/>"));
    EXPECT_EQ(tree(model), "B\n  A = 4\n  Список\n");
    PVirtualNode list = grid.Child(grid.Child(nullptr, 0), 1);
    EXPECT_FALSE(grid.Data(list).Value);
    ASSERT_TRUE(model->PreparePopupMenu(grid, list));
    EXPECT_TRUE(grid.PopupItem().Enabled);
    model->AddArrayItem(grid, list);
    EXPECT_EQ(values(model), "<config hw=\"1\" sw=\"0\"><a>4</a><zz/><list><el><v>0</v><w/></el></list></config>\n");
    const xml::Node container = model->ValueDocument().DocumentElement().ChildElement("list");
    EXPECT_EQ(grid.Data(list).Value, container);
    EXPECT_EQ(grid.Data(grid.Child(list, 0)).Value, container);
    model->AddArrayItem(grid, list);
    EXPECT_EQ(TreeText(grid), "B\n  A = 4\n  Список\n"
                                           "    Эл №1\n      V = 0\n      W = \n"
                                           "    Эл №2\n      V = 0\n      W = \n");
    EXPECT_EQ(model->ValueDocument().DocumentElement().Select("list").size(), 1u);
    EXPECT_EQ(encode(model, 0), sentText("<a>4</a><list><el><v>0</v><w/></el><el><v>0</v><w/></el></list>"));
}

TEST_F(XmlModelTest, ArraysOutsideTheirLimitsAreRefusedWhenDecodedLoadedAndEncoded)
{
    const struct {
        const char *attributes;
        int elements;
        const char *message; // "" when accepted
    } cases[] = {
        {R"(max="4")", 4, ""},
        {R"(max="4")", 5, "Параметр \"Список\": 5 элементов, допустимо от 0 до 4."},
        {R"(min="3" max="4")", 2, "Параметр \"Список\": 2 элементов, допустимо от 3 до 4."},
        {"", 200, ""},
    };
    for (const auto &c : cases) {
        const std::string text = blockText(arrayValues(c.elements));
        auto received = modelOf(arrayDevice(c.attributes));
        EXPECT_EQ(MessageOf([&] { decode(received, 0, text); }), *c.message ? c.message : "no error") << text;
        // A settings file holding the same values.
        auto loaded = modelOf(arrayDevice(c.attributes));
        const std::string file = (std::filesystem::path(::testing::TempDir()) / "arrays.cfg").string();
        std::ofstream(file) << text;
        EXPECT_EQ(MessageOf([&] { loaded->LoadFromFile(file); }), *c.message ? c.message : "no error");
        // An edited document past the limit is not sent.
        auto edited = modelOf(arrayDevice(""));
        decode(edited, 0, text);
        const auto limited = modelOf(arrayDevice(c.attributes));
        limited->ValueDocument() = std::move(edited->ValueDocument());
        EXPECT_EQ(MessageOf([&] { limited->EncodeBlock(limited->GetBlock(0), xml::Node()); }),
                  *c.message ? c.message : "no error");
    }
}

TEST_F(XmlModelTest, PopupItemFollowsTheArraysLimits)
{
    enum Target { kArrayNode, kLastElementNode };
    const struct {
        const char *what;
        const char *attributes;
        int elements;
        Target target;
        bool offered;
        const char *caption;
        int tag;
        bool enabled;
    } cases[] = {
        {"at max", R"(max="4")", 4, kArrayNode, true, "Добавить", 1, false},
        {"below max", R"(max="4")", 3, kArrayNode, true, "Добавить", 1, true},
        {"at min", R"(min="1")", 1, kLastElementNode, true, "Удалить", 2, false},
        {"above min", R"(min="1")", 2, kLastElementNode, true, "Удалить", 2, true},
        {"min on the array node", R"(min="1" max="4")", 1, kArrayNode, true, "Добавить", 1, true},
        {"max on an element node", R"(min="1" max="2")", 2, kLastElementNode, true, "Удалить", 2, true},
        {"no limits, empty", "", 0, kArrayNode, true, "Добавить", 1, true},
        {"no limits, many", "", 9, kArrayNode, true, "Добавить", 1, true},
        {"no limits, last one", "", 1, kLastElementNode, true, "Удалить", 2, true},
        {"count on the array node", R"(count="2")", 2, kArrayNode, false, "", 0, false},
        {"count on an element node", R"(count="2" min="0" max="5")", 2, kLastElementNode, false, "", 0, false},
        {"empty count", R"(count="")", 1, kArrayNode, false, "", 0, false},
    };
    for (const auto &c : cases) {
        auto model = modelOf(arrayDevice(c.attributes));
        decode(model, 0, blockText(arrayValues(c.elements)));
        model->FillTree(grid);
        PVirtualNode list = grid.Child(grid.Child(nullptr, 0), 1);
        PVirtualNode node = c.target == kArrayNode ? list : grid.Child(list, c.elements - 1);
        grid.PopupItem() = TPopupItem{"", "hint", 0, false};
        EXPECT_EQ(model->PreparePopupMenu(grid, node), c.offered) << c.what;
        EXPECT_EQ(grid.PopupItem().Caption, c.caption) << c.what;
        EXPECT_EQ(grid.PopupItem().Tag, c.tag) << c.what;
        EXPECT_EQ(grid.PopupItem().Enabled, c.enabled) << c.what;
        EXPECT_EQ(grid.PopupItem().Hint, "hint") << c.what;
    }
}

TEST_F(XmlModelTest, AddingUpToMaxThenDeletingDownToMinFollowsTheMenu)
{
    auto model = modelOf(arrayDevice(R"(min="1" max="3")"));
    decode(model, 0, blockText(arrayValues(1)));
    model->FillTree(grid);
    PVirtualNode list = grid.Child(grid.Child(nullptr, 0), 1);
    while (model->PreparePopupMenu(grid, list) && grid.PopupItem().Enabled)
        model->AddArrayItem(grid, list);
    EXPECT_EQ(grid.ChildCount(list), 3);
    while (model->PreparePopupMenu(grid, grid.Child(list, 0)) && grid.PopupItem().Enabled)
        model->DeleteArrayItem(grid, grid.Child(list, 0));
    EXPECT_EQ(grid.ChildCount(list), 1);
    EXPECT_EQ(model->ValueDocument().DocumentElement().Select("list/el").size(), 1u);
    EXPECT_EQ(grid.Data(grid.Child(list, 0)).Caption, std::string("Эл") + kNumberSign + "3");
}

// ------------------------------------------------------------- the sample

namespace {

class SampleXmlDevice : public ::testing::Test {
protected:
    void SetUp() override { RegisterXmlConfigModel(); }

    static Bytes sampleBlock(int block)
    {
        return readFile(CATALOGUE_DIR "/samples/transmitter-xml-block" + std::to_string(block) + ".xml");
    }

    TTempDir dir;
};

} // namespace

TEST_F(SampleXmlDevice, BlockTextsDecodeToTheSettingsFileAndBack)
{
    auto model = CreateConfigModel(CATALOGUE_DIR, 7, 120);
    ASSERT_TRUE(dynamic_cast<TXmlConfigModel *>(model.get()));
    EXPECT_EQ(model->GetBlockCount(), 2);
    EXPECT_TRUE(model->NeedsPassword());
    for (int block = 0; block < model->GetBlockCount(); ++block)
        model->DecodeBlock(model->GetBlock(block), xml::Node(), sampleBlock(block), 1);
    model->SaveToFile(dir.File("read.cfg"));
    EXPECT_EQ(ToBytes(dir.Read("read.cfg")), readFile(CATALOGUE_DIR "/samples/transmitter-xml.cfg"));

    auto loaded = LoadSettingsFile(CATALOGUE_DIR "/samples/transmitter-xml.cfg", CATALOGUE_DIR);
    for (int block = 0; block < loaded->GetBlockCount(); ++block) {
        // The device's text without its indentation is what the program sends.
        xml::ParseError error;
        const auto document = xml::Document::Parse(ToString(sampleBlock(block)), error);
        ASSERT_TRUE(document) << error.reason;
        EXPECT_EQ(ToString(loaded->EncodeBlock(loaded->GetBlock(block), xml::Node())), document->Save()) << block;
    }
}

TEST_F(SampleXmlDevice, TreeOfTheSettingsFile)
{
    auto model = LoadSettingsFile(CATALOGUE_DIR "/samples/transmitter-xml.cfg", CATALOGUE_DIR);
    TTreeGrid grid;
    model->FillTree(grid);
    EXPECT_EQ(TreeText(grid), "Общие параметры\n"
                                           "  Номер объекта = 1234\n"
                                           "  Название объекта = Склад №3 «Восток»\n"
                                           "  Режим работы = Охрана\n"
                                           "  Звуковое подтверждение = Да\n"
                                           "  Идентификатор = 00A1F3C7\n"
                                           "Оповещение\n"
                                           "  Телефоны дежурной части\n"
                                           "    Телефон №1\n"
                                           "      Номер = +74951234567\n"
                                           "      Попыток дозвона = 3\n"
                                           "      Включён = Да\n"
                                           "    Телефон №2\n"
                                           "      Номер = 112\n"
                                           "      Попыток дозвона = 5\n"
                                           "      Включён = Нет\n"
                                           "  Радиоканалы\n"
                                           "    Канал №1\n"
                                           "      Мощность = Высокая\n"
                                           "      Код канала = 1A2B\n"
                                           "    Канал №2\n"
                                           "      Мощность = Низкая\n"
                                           "      Код канала = 3C4D\n"
                                           "  Период контроля, с = 300\n");
    PVirtualNode phones = grid.Child(grid.Child(nullptr, 1), 0);
    PVirtualNode channels = grid.Child(grid.Child(nullptr, 1), 1);
    ASSERT_TRUE(model->PreparePopupMenu(grid, phones));
    EXPECT_EQ(grid.PopupItem().Caption, "Добавить");
    EXPECT_TRUE(grid.PopupItem().Enabled);
    EXPECT_FALSE(model->PreparePopupMenu(grid, channels));
    EXPECT_FALSE(model->PreparePopupMenu(grid, grid.Child(channels, 0)));
}

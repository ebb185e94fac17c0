#include "model/cp1251.h"
#include "model/errors.h"
#include "model/tools.h"
#include "model_xml/model_xml.h"
#include "tests/model/catalogue_fixture.h"

#include <gtest/gtest.h>

namespace {

const char *const kDeclaration = "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n";

// A block text of hw 1, sw 0 as a device sends it and as the program sends it back.
std::string blockText(const std::string &parameters)
{
    return std::string(kDeclaration) + "<config hw=\"1\" sw=\"0\">" + parameters + "</config>\n";
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

    // What the value document's root holds.
    static std::string values(const TConfigModelPtr &model)
    {
        const std::string text = model->ValueDocument().Save();
        const std::size_t start = text.find('>', text.find("<config")) + 1;
        return text.substr(start, text.rfind("</config>") - start);
    }

    std::string tree(const TConfigModelPtr &model)
    {
        model->FillTree(grid);
        return TreeText(grid);
    }

    // The node of the block's index-th parameter.
    PVirtualNode parameterNode(int index, int block = 0) { return grid.Child(grid.Child(nullptr, block), index); }

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

TEST_F(XmlModelTest, DecodeKeepsWhatIsReceivedInItsOrderAndEncodeSendsOnlyTheBlocksItems)
{
    auto model =
        modelOf(R"(<block><item name="a"/><param name="p"/></block><block><item name="b"/><item name="c"/></block>)");
    EXPECT_EQ(encode(model, 0), std::string(kDeclaration) + "<config hw=\"1\" sw=\"0\"/>\n");
    decode(model, 0, "<config/>");
    const std::string first = blockText("<a>1</a><zz>9</zz><p>7</p><!-- note -->");
    EXPECT_EQ(model->DecodeBlock(model->GetBlock(0), xml::Node(), ToBytes(first), 1), 1 + int(first.size()));
    // Namespaces travel with the received elements; a namespaced element is no parameter.
    decode(model, 1, R"(<config xmlns:p="urn:p"><c>3</c><p:b xml:lang="ru">1</p:b><b p:x="2">2</b></config>)");
    EXPECT_EQ(values(model), R"(<a>1</a><zz>9</zz><p>7</p><!-- note --><c>3</c>)"
                             R"(<p:b xmlns:p="urn:p" xml:lang="ru">1</p:b><b xmlns:p="urn:p" p:x="2">2</b>)");
    // Only item children of a block are sent, in the value document's order; other parameters show all the same.
    EXPECT_EQ(encode(model, 0), blockText("<a>1</a>"));
    EXPECT_EQ(encode(model, 1), blockText(R"(<c>3</c><b xmlns:p="urn:p" p:x="2">2</b>)"));
    EXPECT_EQ(tree(model), "\n   = 1\n   = 7\n\n   = 2\n   = 3\n");
}

TEST_F(XmlModelTest, TextsAreWindows1251WhateverTheReceivedTextDeclares)
{
    const std::string name = Utf8ToCp1251("Склад №3");
    for (const std::string encoding : {"utf-8", "koi8-r", "foo-bar"}) {
        SCOPED_TRACE(encoding);
        auto model = modelOf(R"(<block><item name="n" type="string"/></block>)");
        decode(model, 0, "<?xml version=\"1.0\" encoding=\"" + encoding + "\"?><config><n>" + name + "</n></config>");
        EXPECT_EQ(model->ValueDocument().DocumentElement().ChildElement("n").Text(), "Склад №3");
        EXPECT_EQ(encode(model, 0), blockText("<n>" + name + "</n>"));
        // The editors store UTF-8; what has no windows-1251 byte goes as a character reference.
        model->ValueDocument().DocumentElement().ChildElement("n").SetText("Ёлка & «ель» ☎");
        EXPECT_EQ(encode(model, 0), blockText(Utf8ToCp1251("<n>Ёлка &amp; «ель» ") + "&#9742;</n>"));
    }
}

// fuzz_settings: an element named outside windows-1251 went to the device as a character reference in the tag.
TEST_F(XmlModelTest, ElementNameOutsideTheCodePage_BlockTextReadsBackOrIsRefused)
{
    const std::string file = dir.Write("in.cfg", "<?xml version=\"1.0\"?><config hw=\"7\" sw=\"120\">"
                                                 "<Period>1</Period><Phones><phone><Number>1</Number><n\xC3\xA9/>"
                                                 "</phone></Phones></config>");
    const TConfigModelPtr model = LoadSettingsFile(file, CATALOGUE_DIR);
    Bytes text;
    const std::string refusal = MessageOf([&] { text = model->EncodeBlock(model->GetBlock(1), xml::Node()); });
    // Refusing to send it is the only alternative to a text that reads back.
    EXPECT_TRUE(refusal == "no error" || refusal.find("\"windows-1251\"") != std::string::npos) << refusal;
    if (refusal == "no error") {
        const TConfigModelPtr device = CreateConfigModel(CATALOGUE_DIR, 7, 120);
        EXPECT_NO_THROW(device->DecodeBlock(device->GetBlock(1), xml::Node(), text, 1)) << ToString(text);
    }
}

TEST_F(XmlModelTest, SampleBlockTextsDecodeToTheSettingsFileAndBack)
{
    const std::string samples = CATALOGUE_DIR "/samples/";
    auto model = CreateConfigModel(CATALOGUE_DIR, 7, 120);
    auto loaded = LoadSettingsFile(samples + "transmitter-xml.cfg", CATALOGUE_DIR);
    ASSERT_EQ(model->GetBlockCount(), 2);
    for (int block = 0; block < 2; ++block) {
        const std::string text = ReadFile(samples + "transmitter-xml-block" + std::to_string(block) + ".xml");
        decode(model, block, text);
        // The device's text without its indentation is what the program sends.
        xml::ParseError error;
        EXPECT_EQ(encode(loaded, block), xml::Document::Parse(text, error).value().Save()) << block;
    }
    model->SaveToFile(dir.File("read.cfg"));
    EXPECT_EQ(dir.Read("read.cfg"), ReadFile(samples + "transmitter-xml.cfg"));
}

// -------------------------------------------------------------- bad inputs

TEST_F(XmlModelTest, BlockTextsThatFailLeaveTheValuesAndReadNoFile)
{
    const std::string secret = dir.Write("secret.txt", "TOP-SECRET");
    std::string deep = "<config>";
    for (int i = 0; i < 100000; ++i)
        deep += "<a>";
    const std::string notConfig = "EConfigError: Блок настроек не содержит элемента config (корневой элемент ";
    const std::string entity = "EConfigError: Блок настроек содержит ссылку на сущность ";
    const struct {
        const char *what;
        std::string text;
        std::string failure; // how the failure starts
        std::string last = ""; // how it ends: a text that is not well-formed shows the line at fault
    } cases[] = {
        {"cut off", std::string(kDeclaration) + "<config>\n  <b>2</b>\n  <c>3", "EXmlError: Строка 4: ", "\r\n  <c>3"},
        {"mismatched tag", "<config>\n<b>2</c>\n</config>", "EXmlError: Строка 2: ", "\r\n<b>2</c>"},
        {"billion laughs", BillionLaughsDoctype("config") + "<config><b>&k;</b></config>", "EXmlError: Строка "},
        {"100,000 levels", deep + "</config>", "EXmlError: Строка "},
        {"50 MB attribute", "<config><b v=\"" + std::string(50 * 1024 * 1024, 'x') + "\"/></config>", "EXmlError: "},
        {"root settings", "<settings><a>2</a></settings>", notConfig + "\"settings\")."},
        {"prefixed root", "<p:config xmlns:p=\"urn:p\"><a>2</a></p:config>", notConfig + "\"p:config\")."},
        {"external entity",
         "<!DOCTYPE config [<!ENTITY xxe SYSTEM \"file://" + secret + "\">]>\n<config><a>2</a><b>&xxe;</b></config>",
         entity + "\"xxe\"."},
        {"internal entity", "<!DOCTYPE config [<!ENTITY e \"x\">]><config><a><b>1&e;</b></a></config>",
         entity + "\"e\"."},
        {"external parameter entity, accepted without the file",
         "<!DOCTYPE config [<!ENTITY % x SYSTEM \"file://" + secret + "\"> %x;]><config/>", "no error"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        auto model = modelOf(R"(<block><item name="a"/><item name="b"/><item name="c"/></block>)");
        decode(model, 0, blockText("<a>1</a>"));
        const std::string failure = FailureOf([&] { decode(model, 0, c.text); });
        EXPECT_EQ(failure.rfind(c.failure, 0), 0u) << failure;
        EXPECT_TRUE(failure.ends_with(c.last)) << failure;
        EXPECT_EQ(values(model), "<a>1</a>");
    }
}

TEST_F(XmlModelTest, NamesThatCannotNameAnElementFailTheFillOrTheAddChangingNothing)
{
    const struct {
        std::string body;
        bool add; // the fill goes well, the add fails
        const char *name;
    } cases[] = {
        {R"(<item name="a" caption="A"/><item name="1x"/>)", false, "1x"},
        {R"(<item name="list"><template array="el"><item name="a b"/></template></item>)", false, "a b"},
        {R"(<item name="list"><template array=""><item name="v"/></template></item>)", true, ""},
        // The tree shows item fields only, but a new element gets every field of its template.
        {R"(<item name="list"><template array="el"><item name="v"/><note name="1x"/></template></item>)", true, "1x"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.body);
        auto model = modelOf("<block caption=\"B\">" + c.body + "</block><array name=\"el\"/><array name=\"\"/>");
        decode(model, 0, blockText("<a>1</a><list><el><v>1</v></el></list>"));
        const std::string failure = Format("EXmlError: Недопустимое имя элемента \"%s\"", c.name);
        if (!c.add) {
            EXPECT_EQ(FailureOf([&] { model->FillTree(grid); }), failure);
            EXPECT_FALSE(grid.Updating());
            continue;
        }
        const std::string before = values(model);
        const std::string shown = tree(model);
        EXPECT_EQ(FailureOf([&] { model->AddArrayItem(grid, parameterNode(0)); }), failure);
        EXPECT_EQ(values(model), before);
        EXPECT_EQ(TreeText(grid), shown);
    }
}

// ---------------------------------------------------------------- the tree

TEST_F(XmlModelTest, TreeShowsBlocksParametersElementsAndFields)
{
    // Comments and processing instructions are no parameters, templates or fields.
    auto model = modelOf(R"(<block caption="Общие"><!-- c --><item name="n" caption="Номер"/><?pi?>
                              <item name="m" caption="Режим" type="mode"/><item name="x" caption="Нет"/></block>
                            <block caption="Связь"><item name="list" caption="Телефоны"><!-- c -->
                              <template array="ph"><!-- c --><item name="num" caption="Номер" type="string"/>
                                <item name="on" caption="Вкл" type="bool"/>
                                <item name="gone" caption="Нет в значениях"/></template></item>
                              <item name="other" caption="Без массива"><template array="nope"><item name="v"/>
                              </template></item></block>
                            <array name="ph" caption="Телефон"/>
                            <enum name="mode"><c value="g" caption="Охрана"/></enum>)");
    decode(model, 0, blockText("<n>5</n><m>g</m>"));
    decode(model, 1, blockText("<list><ph><num>112</num><on>1</on></ph><!-- x --><ph><on>0</on><num>01</num></ph>"
                               "</list><other><el><v>1</v></el></other>"));
    EXPECT_EQ(tree(model), "Общие\n  Номер = 5\n  Режим = Охрана\n  Нет\n"
                           "Связь\n  Телефоны\n"
                           "    Телефон №1\n      Номер = 112\n      Вкл = Да\n      Нет в значениях\n"
                           "    Телефон №2\n      Номер = 01\n      Вкл = Нет\n      Нет в значениях\n"
                           "  Без массива\n     №1\n       = 1\n");
    // Editors find a field's description and value element through its node.
    const TTreeData &field = grid.Data(grid.Child(grid.Child(parameterNode(0, 1), 1), 0));
    EXPECT_EQ(field.Description, model->DeviceElement().SelectSingle("block[2]/item/template/item[1]"));
    EXPECT_EQ(field.Value, model->ValueDocument().DocumentElement().SelectSingle("list/ph[2]/num"));
    // A template naming no array shows its elements, but offers no menu.
    EXPECT_FALSE(model->PreparePopupMenu(grid, grid.Child(parameterNode(1, 1), 0)));
}

// ---------------------------------------------------------- variable arrays

TEST_F(XmlModelTest, DeleteCountsOnlyElementsNumbersStayUntilARefillAndOtherNodesChangeNothing)
{
    auto model = modelOf(arrayDevice(""));
    decode(model, 0,
           blockText("<list><!-- a --><el><v>1</v></el><?pi?><el><v>2</v></el><!-- b --><el><v>3</v></el></list>"));
    model->FillTree(grid);
    PVirtualNode list = parameterNode(1);
    PVirtualNode first = grid.Child(list, 0);
    // Only the array's node is added to and only element nodes are deleted: the checks below see any stray change.
    EXPECT_FALSE(model->PreparePopupMenu(grid, PVirtualNode()));
    for (PVirtualNode node : {grid.Child(nullptr, 0), parameterNode(0), first, grid.Child(first, 0), PVirtualNode()})
        model->AddArrayItem(grid, node);
    for (PVirtualNode node : {grid.Child(nullptr, 0), parameterNode(0), list, grid.Child(first, 0), PVirtualNode()})
        model->DeleteArrayItem(grid, node);
    model->DeleteArrayItem(grid, grid.Child(list, 1));
    model->AddArrayItem(grid, list);
    EXPECT_EQ(values(model),
              "<list><!-- a --><el><v>1</v></el><?pi?><!-- b --><el><v>3</v></el><el><v>0</v><w/></el></list>");
    // The new last node takes the count plus one.
    EXPECT_EQ(TreeText(grid), "B\n  A\n  Список\n    Эл №1\n      V = 1\n      W\n    Эл №3\n      V = 3\n      W\n"
                              "    Эл №3\n      V = 0\n      W = \n");
    // The new field nodes edit the new elements.
    const TTreeData &added = grid.Data(grid.Child(grid.Child(list, 2), 0));
    EXPECT_EQ(added.Value, model->ValueDocument().DocumentElement().SelectSingle("list/el[3]/v"));
    // A refill numbers afresh.
    EXPECT_EQ(tree(model), "B\n  A\n  Список\n    Эл №1\n      V = 1\n      W\n    Эл №2\n      V = 3\n      W\n"
                           "    Эл №3\n      V = 0\n      W = \n");
}

TEST_F(XmlModelTest, NewElementsGetEveryTemplateFieldWithItsTypesDefaultButNodesForItemsOnly)
{
    auto model = modelOf(R"(<block><item name="list"><template array="el"><item name="i" type="int" min="5"/>
                              <item name="j" type="int"/><item name="h" type="hex"/><item name="s" type="string"/>
                              <item name="b" type="bool"/><item name="m" type="mode" min="5"/><note name="n"/>
                              </template></item></block><array name="el"/>
                            <enum name="mode"><c value="1" caption="Один"/></enum>)");
    decode(model, 0, blockText(""));
    model->FillTree(grid);
    // The first add makes the missing container, the second adds to it.
    model->AddArrayItem(grid, parameterNode(0));
    model->AddArrayItem(grid, parameterNode(0));
    const std::string element = "<el><i>5</i><j>0</j><h>FFFFFFFF</h><s/><b>0</b><m>0</m><n>0</n></el>";
    EXPECT_EQ(values(model), "<list>" + element + element + "</list>");
    const std::string added = TreeText(grid);
    EXPECT_EQ(tree(model), added); // the same as a refill shows
}

TEST_F(XmlModelTest, ArraysOutsideTheirLimitsAreRefusedWhenDecodedLoadedAndEncoded)
{
    const struct {
        const char *attributes;
        int elements;
        const char *message;
    } cases[] = {
        {R"(max="4")", 4, "no error"},
        {R"(max="4")", 5, "Параметр \"Список\": 5 элементов, допустимо от 0 до 4."},
        {R"(min="3" max="4")", 2, "Параметр \"Список\": 2 элементов, допустимо от 3 до 4."},
        {"", 200, "no error"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.elements);
        const std::string text = blockText(arrayValues(c.elements));
        auto received = modelOf(arrayDevice(c.attributes));
        EXPECT_EQ(MessageOf([&] { decode(received, 0, text); }), c.message);
        // A settings file holding the same values.
        const std::string file = dir.Write("arrays.cfg", text);
        EXPECT_EQ(MessageOf([&] { modelOf(arrayDevice(c.attributes))->LoadFromFile(file); }), c.message);
        // An edited document past the limit is not sent.
        const auto limited = modelOf(arrayDevice(c.attributes));
        limited->ValueDocument() = ParseOrFail(text);
        EXPECT_EQ(MessageOf([&] { encode(limited, 0); }), c.message);
    }
}

TEST_F(XmlModelTest, PopupItemFollowsTheArraysLimits)
{
    const struct {
        const char *what;
        const char *attributes;
        int elements;
        bool onElement; // the last element's node, else the array's
        const char *caption; // empty: no menu
        int tag;
        bool enabled;
    } cases[] = {
        {"at max", R"(max="4")", 4, false, "Добавить", 1, false},
        {"below max", R"(max="4")", 3, false, "Добавить", 1, true},
        {"at min", R"(min="1")", 1, true, "Удалить", 2, false},
        {"min on the array node", R"(min="1" max="4")", 1, false, "Добавить", 1, true},
        {"above min, max on an element node", R"(min="1" max="2")", 2, true, "Удалить", 2, true},
        {"no limits", "", 1, true, "Удалить", 2, true},
        {"count", R"(count="2" min="0" max="5")", 2, true, "", 0, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        auto model = modelOf(arrayDevice(c.attributes));
        decode(model, 0, blockText(arrayValues(c.elements)));
        model->FillTree(grid);
        PVirtualNode node = c.onElement ? grid.Child(parameterNode(1), c.elements - 1) : parameterNode(1);
        grid.PopupItem() = TPopupItem{"", "hint", 0, false};
        EXPECT_EQ(model->PreparePopupMenu(grid, node), *c.caption != '\0');
        EXPECT_EQ(grid.PopupItem().Caption, c.caption);
        EXPECT_EQ(grid.PopupItem().Tag, c.tag);
        EXPECT_EQ(grid.PopupItem().Enabled, c.enabled);
        EXPECT_EQ(grid.PopupItem().Hint, "hint");
    }
}

// The catalogue check over deliberately broken descriptions and over the sample catalogue.
#include "model/catalogue_check.h"
#include "tests/model/catalogue_fixture.h"

#include <gtest/gtest.h>

namespace {

std::string linesOf(const std::vector<TFinding> &findings)
{
    std::string text;
    for (const TFinding &finding : findings)
        text += finding.Line() + "\n";
    return text;
}

} // namespace

TEST(CheckCatalogue, ReportsEveryFaultOnceInScanOrder)
{
    TTempDir dir;
    dir.Write("a-broken.xml", "<devices>\n<device hw=\"1\">\n</devices>\n");
    dir.Write("b-identity.xml", R"(<devices><device sw_low="1"><block/></device><device hw="2" sw_low="x"/></devices>)");
    dir.Write("c-first.xml", R"(<devices><device hw="9" sw_low="100" sw_high="199"/><device hw="9" sw_low="150"/>
                                <device hw="9" sw_low="300" sw_high="200"/></devices>)");
    dir.Write("d-second.xml", R"(<devices><device hw="9" sw_low="200"/></devices>)");
    dir.Write("e-binary.xml", R"(<devices><device hw="20"><block caption="Б">
    <item name="t" type="nosuch" size="1"/><item name="arr" size="1" array="missing"/>
    <item name="m" size="1" mask="nocount"/><item name="nosize"/>
    <item name="fit" size="1" bits="3" mask="four"/><item name="window" size="8" bits="30" mask="two"/>
    <item name="res" size="2" active="0" array="four"/><item name="x" size="1"/><item name="x" size="1"/>
    <item name="1bad" size="1"/><item size="1"/><item name="wide_nobits" size="5"/><item name="num" size="two"/>
    <item name="z" size="1" div="0"/><item name="s" type="loop"/></block>
  <array name="nocount" start="1"/><array name="four" start="1" count="4"/><array name="two" start="0" count="2"/>
  <struct name="loop"><item name="inner" type="loop2"/></struct>
  <struct name="loop2"><item name="back" type="loop"/><item name="flag" type="bool"/></struct></device></devices>)");
    dir.Write("f-xml.xml", R"(<devices><device hw="21" format="xml"><block caption="X"><item name="Kind" type="kind"/>
    <item name="Phones"><template array="ph"><item name="Num" type="string"/><item name="N" min="x"/></template></item>
    <item name="List"><template array="bad array"><item name="F"/></template></item>
    <item name="Lost"><template array="nosuch"><item name="F"/></template></item>
    <item name="Anon"><template><item name="F"/></template></item></block>
  <array name="ph" min="1" max="many"/><array name="bad array" count="2"/></device></devices>)");
    dir.Write("g-other.xml", "<settings/>");

    const std::string b = "b-identity.xml: устройство ";
    const std::string c = "c-first.xml: устройство ";
    const std::string e = "e-binary.xml: устройство hw=20 sw=—..—: ";
    const std::string f = "f-xml.xml: устройство hw=21 sw=—..—: ";
    EXPECT_EQ(linesOf(CheckCatalogue(dir.Path())),
              "a-broken.xml: файл не читается: строка 3: открывающий и закрывающий теги не совпадают\n" +
                  b + "hw=— sw=1..—: нет атрибута \"hw\"; описания после него в этом файле не просматриваются\n" +
                  b + "hw=2 sw=x..—: атрибут \"sw_low\" не целое число: \"x\"\n" +
                  c + "hw=9 sw=150..—: версии 150..199 уже описаны в c-first.xml (устройство hw=9 sw=100..199): "
                      "выбирается то описание\n" +
                  c + "hw=9 sw=300..200: sw_low больше sw_high: описание не подходит ни к одной версии\n" +
                  "d-second.xml: устройство hw=9 sw=200..—: версии 200 и выше уже описаны в c-first.xml (устройство "
                  "hw=9 sw=150..—): выбирается то описание\n" +
                  e + "параметр \"t\": тип \"nosuch\" не встроенный и не описан ни как enum, ни как struct\n" +
                  e + "параметр \"arr\": атрибут \"array\" называет неописанный массив \"missing\"\n" +
                  e + "массив \"nocount\": нет атрибута \"count\"\n" +
                  e + "параметр \"nosize\": нет атрибута \"size\"\n" +
                  e + "параметр \"fit\": 4 элементов маски \"four\" по 3 бит не помещаются в поле из 1 байт\n" +
                  e + "параметр \"window\": элемент маски 1 пересекает границу окна из 4 байт\n" +
                  e + "параметр \"res\": атрибут \"array\" несовместим с условием \"active=0\"\n" +
                  e + "параметр \"x\": имя уже занято другим параметром\n" +
                  e + "параметр \"1bad\": имя не годится для элемента XML\n" +
                  e + "параметр №11 блока №1: нет имени\n" +
                  e + "параметр \"wide_nobits\": для целого поля шире 4 байт нужен атрибут \"bits\"\n" +
                  e + "параметр \"num\": атрибут \"size\" не целое число: \"two\"\n" +
                  e + "параметр \"z\": div=\"0\": деление на ноль при записи\n" +
                  e + "структура \"loop\" содержит саму себя\n" +
                  e + "структура \"loop2\" содержит саму себя\n" +
                  e + "параметр \"flag\" структуры \"loop2\": нет атрибута \"size\"\n" +
                  f + "параметр \"Kind\": тип \"kind\" не встроенный и не описан как enum\n" +
                  f + "массив \"ph\": атрибут \"max\" не целое число: \"many\"\n" +
                  f + "поле \"N\" параметра \"Phones\": атрибут \"min\" не целое число: \"x\"\n" +
                  f + "массив \"bad array\": имя не годится для элемента XML\n" +
                  f + "параметр \"Lost\": шаблон называет неописанный массив \"nosuch\"\n" +
                  f + "параметр \"Anon\": шаблон элементов не называет массив\n" +
                  "g-other.xml: корневой элемент не \"devices\": файл ничего не описывает\n");
}

TEST(CheckCatalogue, TheSampleCatalogueIsCleanAndAnEmptyFolderIsAFault)
{
    EXPECT_EQ(linesOf(CheckCatalogue(std::filesystem::path(CATALOGUE_DIR))), "");
    TTempDir dir;
    EXPECT_EQ(linesOf(CheckCatalogue(dir.Path())), dir.Path().string() + ": нет файлов описаний (*.xml)\n");
}

TEST(CheckDevice, ReportsWhatTheModelsRefuseWithItsItem)
{
    const struct {
        const char *name;
        TStorageFormat format;
        const char *body;
        const char *findings; // "item: text", a fault that fails nothing marked
    } cases[] = {
        {"wider than a window", TStorageFormat::Binary, R"(<block><item name="w" size="8" bits="33"/></block>)",
         "w: параметр \"w\": 33 бит не помещаются в окно из 4 байт\n"},
        {"indices past the integers", TStorageFormat::Binary, R"(<block><item name="a" size="1" array="big"/>
           <item name="b" size="1" array="last"/></block>
           <array name="big" start="2147483647" count="2"/><array name="last" start="2147483646" count="2"/>)",
         "big: массив \"big\": последний индекс больше наибольшего целого числа\n"},
        // Mask element 3 starts at bit 36, byte 4 bit 4, and still ends inside its window.
        {"a fitting mask and a struct of a binary device", TStorageFormat::Binary,
         R"(<block><item name="w" size="6" bits="12" mask="m"/><item name="s" type="pair"/></block>
           <array name="m" start="0" count="4"/><struct name="pair"><item name="a" size="1"/></struct>)", ""},
        // Shown as its text, an unknown type misbehaves but fails nothing.
        {"struct of an XML device", TStorageFormat::Xml,
         R"(<block><item name="s" type="pair"/></block><struct name="pair"><item name="a" size="1"/></struct>)",
         "s: параметр \"s\": тип \"pair\" не встроенный и не описан как enum (не мешает)\n"},
        {"huge array and field", TStorageFormat::Binary, R"(<block><item name="a" size="1" array="huge"/>
           <item name="s" size="2147483647"/></block><array name="huge" start="0" count="2147483647"/>)",
         "huge: массив \"huge\": недопустимое число элементов 2147483647\n"
         "s: параметр \"s\": недопустимая ширина поля: size=\"2147483647\"\n"},
        {"block too long", TStorageFormat::Binary,
         R"(<block><item name="a" type="string" size="40000"/><item name="b" type="string" size="40000"/></block>)",
         "b: параметр \"b\": блок длиннее 65783 байт, которые может передать связь\n"},
        {"struct named as a built-in type", TStorageFormat::Binary,
         R"(<block><item name="p" type="phone" size="8"/></block>
           <struct name="phone"><item name="q" size="1"/></struct>)",
         "phone: структура \"phone\" названа как встроенный тип: параметры типа \"phone\" остаются встроенного типа, "
         "структура не используется (не мешает)\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const xml::Document device = ParseOrFail(std::string("<device hw=\"1\">") + c.body + "</device>");
        std::string findings;
        for (const TFinding &finding : CheckDevice(device.DocumentElement(), c.format))
            findings += finding.item + ": " + finding.text + (finding.fails ? "\n" : " (не мешает)\n");
        EXPECT_EQ(findings, c.findings);
    }
    // Without a file name the line starts at the device.
    const xml::Document wide = ParseOrFail(std::string("<device hw=\"1\">") + cases[0].body + "</device>");
    EXPECT_EQ(CheckDevice(wide.DocumentElement(), TStorageFormat::Binary).at(0).Line(),
              "устройство hw=1 sw=—..—: параметр \"w\": 33 бит не помещаются в окно из 4 байт");
}

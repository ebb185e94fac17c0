// Comparing configurations parameter by parameter, on the sample devices.
#include "workflow/compare.h"
#include "workflow/workflow.h"
#include "model/errors.h"
#include "tests/tools/device_fixture.h"

#include <gtest/gtest.h>

namespace {

class CompareTest : public ::testing::Test {
protected:
    static void Set(IConfigModel &model, const std::string &xpath, const std::string &text)
    {
        const xml::Node node = model.ValueDocument().AsNode().SelectSingle(xpath);
        ASSERT_TRUE(node) << xpath;
        node.SetText(text);
    }

    static std::string Compare(IConfigModel &first, IConfigModel &second)
    {
        return DifferencesText(CompareConfigurations(first, second));
    }
};

} // namespace

TEST_F(CompareTest, IdenticalConfigurationsMatch)
{
    for (const char *name : {"transmitter-binary.cfg", "transmitter-xml.cfg"}) {
        const TConfigModelPtr first = LoadSample(name);
        const TConfigModelPtr second = LoadSample(name);
        EXPECT_TRUE(CompareConfigurations(*first, *second).empty()) << name;
        EXPECT_EQ(Compare(*first, *second), "Настройки совпадают.\n") << name;
    }
    // So do versions of one description.
    TTempDir dir;
    const TConfigModelPtr newer = LoadSample("transmitter-binary.cfg");
    newer->ValueDocument().DocumentElement().SetAttribute("sw", "350");
    newer->SaveToFile(dir.File("350.cfg"));
    EXPECT_EQ(Compare(*LoadSettingsFile(dir.File("350.cfg"), kSampleCatalogue), *LoadSample("transmitter-binary.cfg")),
              "Настройки совпадают.\n");
}

TEST_F(CompareTest, BinaryDifferencesShowCaptionPathsAndShownValues)
{
    const TConfigModelPtr first = LoadSample("transmitter-binary.cfg");
    const TConfigModelPtr second = LoadSample("transmitter-binary.cfg");
    Set(*second, "/config/mode/value", "2");
    Set(*second, "/config/phone/value[@phones='2']", "113");
    Set(*second, "/config/channel/value[@channels='2']/slot/value[@slots='1']", "7");
    Set(*second, "/config/zone_type/value[@zones='3']", "3");
    Set(*second, "/config/beep/value", "0");
    EXPECT_EQ(Compare(*first, *second), "Общие параметры / Режим работы: Охрана → Сервис\n"
                                        "Общие параметры / Звуковое подтверждение: Да → Нет\n"
                                        "Каналы связи / Телефон / Телефон №2 / Номер: 112 → 113\n"
                                        "Каналы связи / Канал / Канал №2 / Слот / Слот №1 / Временной слот: 3 → 7\n"
                                        "Зоны / Зона / Зона №3 / Тип зоны: Пожарная → Технологическая\n");
    const auto differences = CompareConfigurations(*first, *second);
    ASSERT_EQ(differences.size(), 5u);
    EXPECT_EQ(differences[0].path, (std::vector<std::string>{"Общие параметры", "Режим работы"}));
    EXPECT_EQ(differences[0].first, "Охрана");
    EXPECT_EQ(differences[0].second, "Сервис");
}

TEST_F(CompareTest, TextsThatShowAlikeAreShownThemselves)
{
    const TConfigModelPtr first = LoadSample("transmitter-binary.cfg");
    const TConfigModelPtr second = LoadSample("transmitter-binary.cfg");
    // Neither text is a choice of the enum, so both cells are empty.
    Set(*first, "/config/mode/value", "7");
    Set(*second, "/config/mode/value", "9");
    EXPECT_EQ(Compare(*first, *second), "Общие параметры / Режим работы: 7 → 9\n");
}

TEST_F(CompareTest, XmlArrayElementsOnOneSideOnlyAreListed)
{
    const TConfigModelPtr first = LoadSample("transmitter-xml.cfg");
    const TConfigModelPtr second = LoadSample("transmitter-xml.cfg");
    Set(*first, "/config/Phones/phone[1]/Number", "+7000");
    xml::Document &document = second->ValueDocument();
    const xml::Node phone = document.CreateElement("phone");
    phone.AppendNewElement("Number").SetText("333");
    phone.AppendNewElement("Attempts").SetText("1");
    phone.AppendNewElement("Active").SetText("1");
    document.AsNode().SelectSingle("/config/Phones").AppendChild(phone);
    const xml::Node config = document.DocumentElement();
    config.RemoveChild(config.ChildElement("Period"));

    const std::string phones = "Оповещение / Телефоны дежурной части / ";
    EXPECT_EQ(Compare(*first, *second), phones + "Телефон №1 / Номер: +7000 → +74951234567\n" +
                                            phones + "Телефон №3 / Номер: — → 333\n" +
                                            phones + "Телефон №3 / Попыток дозвона: — → 1\n" +
                                            phones + "Телефон №3 / Включён: — → Да\n" +
                                            "Оповещение / Период контроля, с: 300 → —\n");
    // The other way round the sides swap.
    EXPECT_EQ(CompareConfigurations(*second, *first)[1].Text(), phones + "Телефон №3 / Номер: 333 → —");
}

TEST_F(CompareTest, DifferentDescriptionsAreRefused)
{
    const TConfigModelPtr binary = LoadSample("transmitter-binary.cfg");
    const TConfigModelPtr xmlDevice = LoadSample("transmitter-xml.cfg");
    const std::string refused = "EConfigError: Версия устройства не совпадает с версией настроек.";
    EXPECT_EQ(FailureOf([&] { CompareConfigurations(*binary, *xmlDevice); }), refused);

    // Two elements of one file with the same items are still two descriptions.
    TTempDir dir;
    dir.Write("two.xml", R"(<devices>
      <device hw="40" sw_low="1" sw_high="1"><block caption="Б"><item name="a" size="1"/></block></device>
      <device hw="40" sw_low="2" sw_high="2"><block caption="Б"><item name="a" size="1"/></block></device>
    </devices>)");
    const std::string settings = "<config hw=\"40\" sw=\"%d\"><a><value>1</value></a></config>";
    dir.Write("1.cfg", Format(settings.c_str(), 1));
    dir.Write("2.cfg", Format(settings.c_str(), 2));
    const TConfigModelPtr one = LoadSettingsFile(dir.File("1.cfg"), dir.Path());
    const TConfigModelPtr two = LoadSettingsFile(dir.File("2.cfg"), dir.Path());
    EXPECT_EQ(FailureOf([&] { CompareConfigurations(*one, *two); }), refused);
    const TConfigModelPtr again = LoadSettingsFile(dir.File("1.cfg"), dir.Path());
    EXPECT_EQ(Compare(*one, *again), "Настройки совпадают.\n");
}

// Comparing configurations parameter by parameter, on the sample devices.
#include "workflow/compare.h"
#include "workflow/workflow.h"
#include "model/errors.h"
#include "tests/tools/device_fixture.h"

#include <gtest/gtest.h>

namespace {

void set(IConfigModel &model, const std::string &xpath, const std::string &text)
{
    const xml::Node node = model.ValueDocument().AsNode().SelectSingle(xpath);
    ASSERT_TRUE(node) << xpath;
    node.SetText(text);
}

std::string compare(IConfigModel &first, IConfigModel &second)
{
    return DifferencesText(CompareConfigurations(first, second));
}

} // namespace

TEST(Compare, DifferencesShowCaptionPathsAndShownValuesOrADashForAMissingElement)
{
    const TConfigModelPtr first = LoadSample("transmitter-binary.cfg");
    const TConfigModelPtr second = LoadSample("transmitter-binary.cfg");
    EXPECT_EQ(compare(*first, *second), "Настройки совпадают.\n");
    set(*second, "/config/mode/value", "2");
    set(*second, "/config/phone/value[@phones='2']", "113");
    set(*second, "/config/channel/value[@channels='2']/slot/value[@slots='1']", "7");
    set(*second, "/config/zone_type/value[@zones='3']", "3");
    set(*second, "/config/beep/value", "0");
    EXPECT_EQ(compare(*first, *second), "Общие параметры / Режим работы: Охрана → Сервис\n"
                                        "Общие параметры / Звуковое подтверждение: Да → Нет\n"
                                        "Каналы связи / Телефон / Телефон №2 / Номер: 112 → 113\n"
                                        "Каналы связи / Канал / Канал №2 / Слот / Слот №1 / Временной слот: 3 → 7\n"
                                        "Зоны / Зона / Зона №3 / Тип зоны: Пожарная → Технологическая\n");
    // Neither text is a choice of the enum, so both cells are empty: the texts themselves are shown.
    set(*first, "/config/mode/value", "7");
    set(*second, "/config/mode/value", "9");
    EXPECT_EQ(CompareConfigurations(*first, *second).at(0).Text(), "Общие параметры / Режим работы: 7 → 9");

    // XML array elements on one side only are listed with a dash on the other.
    const TConfigModelPtr xmlFirst = LoadSample("transmitter-xml.cfg");
    const TConfigModelPtr xmlSecond = LoadSample("transmitter-xml.cfg");
    set(*xmlFirst, "/config/Phones/phone[1]/Number", "+7000");
    xml::Document &document = xmlSecond->ValueDocument();
    const xml::Node phone = document.CreateElement("phone");
    phone.AppendNewElement("Number").SetText("333");
    phone.AppendNewElement("Attempts").SetText("1");
    phone.AppendNewElement("Active").SetText("1");
    document.AsNode().SelectSingle("/config/Phones").AppendChild(phone);
    const xml::Node config = document.DocumentElement();
    config.RemoveChild(config.ChildElement("Period"));

    const std::string phones = "Оповещение / Телефоны дежурной части / ";
    EXPECT_EQ(compare(*xmlFirst, *xmlSecond), phones + "Телефон №1 / Номер: +7000 → +74951234567\n" +
                                                  phones + "Телефон №3 / Номер: — → 333\n" +
                                                  phones + "Телефон №3 / Попыток дозвона: — → 1\n" +
                                                  phones + "Телефон №3 / Включён: — → Да\n" +
                                                  "Оповещение / Период контроля, с: 300 → —\n");
}

TEST(Compare, OnlyVersionsOfOneDescriptionAreCompared)
{
    RegisterConfigModels();
    TTempDir dir;
    dir.Write("two.xml", R"(<devices>
      <device hw="40" sw_low="1" sw_high="2"><block caption="Б"><item name="a" size="1"/></block></device>
      <device hw="40" sw_low="3" sw_high="3"><block caption="Б"><item name="a" size="1"/></block></device>
    </devices>)");
    const auto load = [&](int sw) {
        const std::string name = std::to_string(sw) + ".cfg";
        dir.Write(name, Format("<config hw=\"40\" sw=\"%d\"><a><value>1</value></a></config>", sw));
        return LoadSettingsFile(dir.File(name), dir.Path());
    };
    EXPECT_EQ(compare(*load(1), *load(2)), "Настройки совпадают.\n");
    // Two elements of one file with the same items are still two descriptions.
    EXPECT_EQ(FailureOf([&] { CompareConfigurations(*load(2), *load(3)); }),
              "EConfigError: Версия устройства не совпадает с версией настроек.");
}

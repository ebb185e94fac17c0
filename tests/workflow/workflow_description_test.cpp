// Failures caused by a faulty description are reported as that fault, naming the item; others keep their own.
#include "workflow/workflow.h"
#include "model/errors.h"
#include "tests/tools/device_fixture.h"
#include "tools/cli/device_session.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

const char *const kCatalogue = R"(<devices>
  <device hw="30">
    <block caption="Б"><item name="p" caption="Телефон" type="phone" size="7"/><item name="n" size="1"/></block>
  </device>
  <device hw="31">
    <block caption="Б">
      <item name="t" type="nosuch" size="1"/>
      <item name="ph" type="phone" size="4"/>
      <item name="n" size="1" bits="4"/>
    </block>
  </device>
  <device hw="32"><block caption="Б"><item name="n" size="1" bits="4"/></block></device>
  <device hw="33"><block caption="Б"><item name="n" type="nosuch" size="1"/></block></device>
  <device hw="34"><block caption="Б"><item name="y" size="1"/><item name="x" size="1" div="0"/></block></device>
  <device hw="35"><block caption="Б"><item name="s" size="two"/></block></device>
</devices>)";

class DescriptionFailureTest : public ::testing::Test, protected TServedDevice {
protected:
    void SetUp() override
    {
        RegisterConfigModels();
        dir.Write("test.xml", kCatalogue);
    }

    TConfigModelPtr Model(std::uint16_t hw, const std::string &values)
    {
        dir.Write("settings.cfg", "<config hw=\"" + std::to_string(hw) + "\" sw=\"1\">" + values + "</config>");
        return LoadSettingsFile(dir.File("settings.cfg"), dir.Path());
    }

    // What a failing operation raises once it has been explained: "class: text".
    static std::string Explained(IConfigModel &model, const std::function<void()> &operation)
    {
        return FailureOf([&] { ExplainDescriptionFailure(model, operation); });
    }

    TTempDir dir;
};

} // namespace

TEST_F(DescriptionFailureTest, TheFaultNamedByTheFailureReplacesIt)
{
    const TConfigModelPtr model = Model(31, "<t><value>1</value></t><ph><value>1</value></ph><n><value>1</value></n>");
    const std::string phone = "EDescriptionError: test.xml: устройство hw=31 sw=—..—: параметр \"ph\": поле телефона "
                              "должно занимать 8 байт, а не 4";
    EXPECT_EQ(Explained(*model, [&] { EncodeBlocks(*model); }), phone);
    // One whose owner is an item gets that item's fault, whatever it is; a name in its text alone is not taken apart.
    EXPECT_EQ(Explained(*model, [] { throw EDescriptionError("Элемент \"t\": что-то не так.", "t"); }),
              "EDescriptionError: test.xml: устройство hw=31 sw=—..—: параметр \"t\": тип \"nosuch\" не встроенный "
              "и не описан ни как enum, ни как struct");
    EXPECT_EQ(Explained(*model, [] { throw EDescriptionError("Элемент \"t\": что-то не так."); }),
              "EDescriptionError: Элемент \"t\": что-то не так.");
    const std::string zeroDivide = "EDescriptionError: test.xml: устройство hw=34 sw=—..—: параметр \"x\": div=\"0\": "
                                   "деление на ноль при записи";
    const TConfigModelPtr scaled = Model(34, "<y><value>1</value></y><x><value>1</value></x>");
    EXPECT_EQ(Explained(*scaled, [&] { EncodeBlocks(*scaled); }), zeroDivide);
    const TConfigModelPtr width = Model(35, "<s><value>1</value></s>");
    EXPECT_EQ(Explained(*width, [&] { EncodeBlocks(*width); }),
              "EDescriptionError: test.xml: устройство hw=35 sw=—..—: параметр \"s\": атрибут \"size\" не целое "
              "число: \"two\"");
}

TEST_F(DescriptionFailureTest, ValueErrorsAndSoundDescriptionsPassUnchanged)
{
    const TConfigModelPtr faulty =
        Model(31, "<t><value>1</value></t><ph><value>1</value></ph><n><value>16</value></n>");
    EXPECT_EQ(Explained(*faulty, [] { throw ERangeError("n: значение 16 не помещается в 4 бит."); }),
              "ERangeError: n: значение 16 не помещается в 4 бит.");
    EXPECT_EQ(Explained(*faulty, [] { throw EXmlError("Строка 2: обрыв", 2, "обрыв", ""); }),
              "EXmlError: Строка 2: обрыв");
    EXPECT_EQ(Explained(*faulty, [] { throw EConvertError("'x' is not a valid integer value"); }),
              "EConvertError: 'x' is not a valid integer value");
    // A fault elsewhere in the description does not replace what went wrong.
    const TConfigModelPtr scaled = Model(34, "<y><value>12a</value></y><x><value>1</value></x>");
    EXPECT_EQ(Explained(*scaled, [&] { EncodeBlocks(*scaled); }), "EConvertError: '12a' is not a valid integer value");
    EXPECT_EQ(Explained(*scaled, [&] { DecodeBlock(*scaled, 0, Bytes(3)); }),
              "EConfigError: error: 3 bytes read, 2 expected");
    const TConfigModelPtr sound = Model(32, "<n><value>1</value></n>");
    EXPECT_EQ(Explained(*sound, [] { throw EConvertError("'x' is not a valid integer value"); }),
              "EConvertError: 'x' is not a valid integer value");
    EXPECT_EQ(Explained(*sound, [] {}), "no error");
    // A type the description does not know never fails anything, so it explains nothing.
    const TConfigModelPtr unknownType = Model(33, "<n><value>1</value></n>");
    EXPECT_EQ(Explained(*unknownType, [] { throw EConvertError("'x' is not a valid integer value"); }),
              "EConvertError: 'x' is not a valid integer value");
}

TEST_F(DescriptionFailureTest, ReadAndWriteNameTheFault)
{
    Serve({.hardwareCode = 30, .softwareVersion = 1, .blocks = {Bytes(8, 0x11)}});
    TPortOptions options;
    options.timeouts.readTotal = 300ms;
    options.pollInterval = 1h;
    TDeviceSession session(server->PortPath(), CreateSerialPort(), options);
    TPortLink link(session.Port());
    const std::string fault = "EDescriptionError: test.xml: устройство hw=30 sw=—..—: параметр \"p\": поле телефона "
                              "должно занимать 8 байт, а не 7";
    EXPECT_EQ(FailureOf([&] { ReadConfiguration(link, State(), "", dir.Path(), nullptr); }), fault);
    const TConfigModelPtr model = Model(30, "<p><value>1</value></p><n><value>1</value></n>");
    EXPECT_EQ(FailureOf([&] { WriteConfiguration(link, model.get(), State(), "", nullptr); }), fault);
    EXPECT_EQ(device->CommandCount(cmdWriteBlock), 0);
}

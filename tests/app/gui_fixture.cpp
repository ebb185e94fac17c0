#include "tests/app/gui_fixture.h"

#include "app/error_box.h"
#include "workflow/workflow.h"
#include "editors/vteditor.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QTest>

const char *const kGuiDevice = R"(<devices><device hw="10" sw_low="1">
  <block caption="B">
    <item name="b" caption="Флаг" type="bool" size="1"/>
    <item name="e" caption="Режим" type="mode" size="1"/>
    <item name="d" caption="Дубль" type="dup" size="1"/>
    <item name="u" caption="Неизвестный" type="nosuch" size="1"/>
    <item name="i" caption="Число" size="2" min="5" max="100"/>
    <item name="n" caption="Без границ" size="4"/>
    <item name="s" caption="Строка" type="string" size="2000"/>
    <item name="k" caption="Ключ" type="hex_array" size="3" readable=""/>
    <item name="kd" caption="Ключ цифрами" type="dec_array" size="3" readable=""/>
    <item name="ki" caption="Ключ числом" size="1" readable=""/>
    <item name="on" caption="Вкл" type="bool" size="1" array="a" deactivator=""/>
    <item name="v" caption="Значение" size="1" array="a"/>
  </block>
  <array name="a" caption="Эл" start="1" count="2"/>
  <enum name="mode"><c value="0" caption="Выкл"/><!-- 3 was dropped --><c value="1" caption="Вкл"/><c value="2" caption="Авто"/></enum>
  <enum name="dup"><c value="1" caption="Первый"/><c value="1" caption="Второй"/></enum>
</device></devices>)";

const char *const kGuiSettings = R"(<?xml version="1.0" encoding="utf-8"?>
<config hw="10" sw="1">
  <b><value>1</value></b>
  <e><value>2</value></e>
  <d><value>1</value></d>
  <u><value>77</value></u>
  <i><value>50</value></i>
  <n><value>4294967295</value></n>
  <s><value>текст</value></s>
  <k><value>0102FF</value></k>
  <kd><value>9</value></kd>
  <ki><value>7</value></ki>
  <on><value a="1">0</value><value a="2">1</value></on>
  <v><value a="1">3</value><value a="2">4</value></v>
</config>)";

const char *const kGuiXmlDevice = R"(<devices><device hw="11" format="xml">
  <block caption="X">
    <item name="Key" caption="Ключ" type="hex_array" readable=""/>
    <item name="List" caption="Список">
      <template array="el"><item name="F" caption="Поле" type="int" min="5"/></template>
    </item>
  </block>
  <array name="el" caption="Элемент" min="1" max="2"/>
</device></devices>)";

const char *const kGuiXmlSettings = R"(<?xml version="1.0" encoding="utf-8"?>
<config hw="11" sw="1"><Key>00</Key><List><el><F>5</F></el><el><F>6</F></el></List></config>)";

void WindowTest::SetUp()
{
    previousDir = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    RegisterConfigModels();
    QSettings(QSettings::IniFormat, QSettings::UserScope, "configurator", "configurator").clear();
    SetMessageBoxHandler([this](TBoxKind kind, const QString &text) {
        (kind == TBoxKind::Error ? errors : kind == TBoxKind::Information ? informations : plains).push_back(text);
    });
    dir.Write("gui.xml", kGuiDevice);
    dir.Write("guixml.xml", kGuiXmlDevice);
}

void WindowTest::TearDown()
{
    window.reset();
    SetMessageBoxHandler({});
    SetSaveQuestionHandler({});
    Settle();
    std::filesystem::current_path(previousDir);
}

TMainOptions WindowTest::QuietOptions() const
{
    TMainOptions options;
    options.catalogueDir = dir.Path();
    options.portOptions.pollInterval = std::chrono::hours(1);
    return options;
}

TMainOptions WindowTest::ServedOptions(int pollMilliseconds, int readMilliseconds) const
{
    TMainOptions options = QuietOptions();
    options.port = QString::fromStdString(server->PortPath());
    options.portOptions.pollInterval = std::chrono::milliseconds(pollMilliseconds);
    options.portOptions.timeouts.readTotal = std::chrono::milliseconds(readMilliseconds);
    return options;
}

TfrmMain &WindowTest::Open(TMainOptions options)
{
    window = std::make_unique<TfrmMain>(std::move(options));
    window->show();
    Settle();
    return *window;
}

void WindowTest::OpenSettings(const std::string &text)
{
    if (!window)
        Open(QuietOptions());
    window->FileOpen1Accept(QString::fromStdString(dir.Write("opened.cfg", text)));
}

PVirtualNode WindowTest::Find(const std::string &path)
{
    TVstModel &tree = window->VST1->Tree();
    PVirtualNode node = nullptr;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string caption = path.substr(start, end - start);
        PVirtualNode found = nullptr;
        for (int i = 0; i < tree.ChildCount(node) && !found; ++i)
            if (tree.Data(tree.Child(node, i)).Caption == caption)
                found = tree.Child(node, i);
        if (!found) {
            ADD_FAILURE() << "no node " << path;
            return nullptr;
        }
        node = found;
        start = end + 1;
    }
    return node;
}

QWidget *WindowTest::StartEditing(PVirtualNode node)
{
    TVstModel &tree = window->VST1->Tree();
    // Selecting the row opens its editor; a row already selected is edited again directly.
    if (window->VST1->currentIndex() == tree.IndexOf(node, 1))
        window->VST1->EditNode(node);
    else
        window->VST1->setCurrentIndex(tree.IndexOf(node, 1));
    WaitFor([&] { return window->VST1->EditLink()->EditedNode() == node; }, 2000);
    return window->VST1->EditLink()->Editor();
}

QString WindowTest::Cell(PVirtualNode node, int column)
{
    return window->VST1->Tree().data(window->VST1->Tree().IndexOf(node, column)).toString();
}

void WindowTest::Settle(int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
}

bool WindowTest::WaitFor(const std::function<bool()> &condition, int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > milliseconds)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

void WindowTest::Trigger(QAction *action)
{
    action->trigger();
    ASSERT_TRUE(WaitFor([&] { return !window->JobRunning(); }, 30000));
}

#include "model_xml/model_xml.h"

#include "model/errors.h"
#include "model/tools.h"

#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

// Devices read and write their block texts in this code page whatever the text declares.
constexpr const char *kDeviceEncoding = "windows-1251";

// Tags of the context-menu item; 0 stays the grid's own "Считать".
constexpr int kTagAdd = 1;
constexpr int kTagDelete = 2;

// Grid levels of an array parameter's node and of its element nodes.
constexpr int kArrayLevel = 1;
constexpr int kElementLevel = 2;

// Default field texts of a new array element.
constexpr const char *kDefaultHex = "FFFFFFFF";
constexpr const char *kDefaultOther = "0";

xml::Node firstElementChild(xml::Node parent)
{
    for (xml::Node child = parent.FirstChild(); child; child = child.NextSibling())
        if (child.IsElement())
            return child;
    return xml::Node();
}

// Names that cannot name an element fail here as the document layer would fail them.
std::string elementName(xml::Node description)
{
    const std::string name = GetAttribute(description, "name");
    if (!xml::IsValidName(name)) {
        const std::string message = Format("Недопустимое имя элемента \"%s\"", name.c_str());
        EXmlError error(message, 0, message, std::string());
        error.SetOwner(name);
        throw error;
    }
    return name;
}

// Entity references would reach settings files and devices unexpanded, naming entities nobody declares.
void refuseEntityReferences(xml::Node root)
{
    std::vector<xml::Node> pending{root};
    while (!pending.empty()) {
        const xml::Node node = pending.back();
        pending.pop_back();
        for (xml::Node child = node.FirstChild(); child; child = child.NextSibling()) {
            if (child.Type() == xml::NodeType::Other)
                throw EConfigError(
                    Format("Блок настроек содержит ссылку на сущность \"%s\".", child.Name().c_str()));
            if (child.IsElement())
                pending.push_back(child);
        }
    }
}

// A variable array holds between its min and max elements: a settings file,
// a device or an edited document may hold any number, and nothing sends or
// shows more than the description allows.
void checkArrayCounts(xml::Node block, xml::Node config, const std::function<xml::Node(const std::string &)> &findArray)
{
    if (!block || !config)
        return;
    for (xml::Node parameter : ChildElements(block)) {
        const xml::Node elementTemplate = firstElementChild(parameter);
        const xml::Node array = elementTemplate ? findArray(GetAttribute(elementTemplate, "array")) : xml::Node();
        if (!array)
            continue;
        const xml::Node container = config.ChildElement(GetAttribute(parameter, "name"));
        if (!container)
            continue;
        const int count = static_cast<int>(ChildElements(container).size());
        const bool tooMany = HasAttribute(array, "max") && count > GetIntAttribute(array, "max");
        const bool tooFew = HasAttribute(array, "min") && count < GetIntAttribute(array, "min");
        if (tooMany || tooFew)
            throw EConfigError(Format("Параметр \"%s\": %d элементов, допустимо от %s до %s.",
                                      GetAttribute(parameter, "caption").c_str(), count,
                                      GetAttribute(array, "min", "0").c_str(), GetAttribute(array, "max", "—").c_str()));
    }
}

TTreeData nodeData(const std::string &caption)
{
    TTreeData data;
    ClearTreeData(data);
    data.Caption = caption;
    return data;
}

std::string elementCaption(xml::Node array, int number)
{
    return GetAttribute(array, "caption") + kNumberSign + std::to_string(number);
}

// The text a field of a freshly added array element starts with.
std::string defaultText(xml::Node field)
{
    switch (BuiltInKind(ItemType(field))) {
    case TValueKind::Integer:
        return ItemType(field) == "int" ? GetAttribute(field, "min", kDefaultOther) : kDefaultOther;
    case TValueKind::Hex:
        return kDefaultHex;
    case TValueKind::String:
        return std::string();
    default:
        return kDefaultOther;
    }
}

} // namespace

void RegisterXmlConfigModel()
{
    RegisterConfigModel(true, [](const std::filesystem::path &dir, TCatalogueMatch description, std::uint16_t hw,
                                  std::uint16_t sw) {
        return std::make_shared<TXmlConfigModel>(dir, std::move(description), hw, sw);
    });
}

// ------------------------------------------------------------------ the tree

void TXmlConfigModel::FillTree(ITreeGrid &grid)
{
    grid.Clear();
    TUpdateBracket bracket(grid);
    if (!Device)
        return;
    const xml::Node config = ValueDoc.DocumentElement();
    // Parameter elements by name, first one winning, as ChildElement finds them, found once for all.
    std::unordered_map<std::string_view, xml::Node> values;
    for (xml::Node element : config ? ChildElements(config) : std::vector<xml::Node>())
        if (!element.HasNamespace())
            values.emplace(element.LocalName(), element);
    auto valueOf = [&values](const std::string &name) {
        const auto it = values.find(name);
        return it == values.end() ? xml::Node() : it->second;
    };
    for (xml::Node block : ChildElements(Device, "block")) {
        PVirtualNode blockNode = AddTreeNode(grid, nullptr, nodeData(GetAttribute(block, "caption")));
        for (xml::Node parameter : ChildElements(block)) {
            TTreeData data = nodeData(GetAttribute(parameter, "caption"));
            data.Description = parameter;
            data.Value = valueOf(elementName(parameter));
            const xml::Node elementTemplate = firstElementChild(parameter);
            if (!elementTemplate) {
                data.Info = ParamInfo(parameter);
                AddTreeNode(grid, blockNode, data);
                continue;
            }
            data.ArrayDesc = FindArray(GetAttribute(elementTemplate, "array"));
            PVirtualNode arrayNode = AddTreeNode(grid, blockNode, data);
            if (!data.Value)
                continue;

            std::vector<std::pair<xml::Node, std::string>> fields;
            for (xml::Node field : ChildElements(elementTemplate, "item"))
                fields.emplace_back(field, elementName(field));
            int number = 0;
            for (xml::Node element : ChildElements(data.Value)) {
                TTreeData elementData = nodeData(elementCaption(data.ArrayDesc, ++number));
                elementData.Description = parameter;
                elementData.Value = data.Value;
                elementData.ArrayDesc = data.ArrayDesc;
                PVirtualNode elementNode = AddTreeNode(grid, arrayNode, elementData);
                for (const auto &[field, name] : fields) {
                    TTreeData fieldData = nodeData(GetAttribute(field, "caption"));
                    fieldData.Description = field;
                    fieldData.Info = ParamInfo(field);
                    fieldData.Value = element.ChildElement(name);
                    AddTreeNode(grid, elementNode, fieldData);
                }
            }
        }
    }
}

// ------------------------------------------------------------ block texts

int TXmlConfigModel::BlockSize(xml::Node)
{
    return 0;
}

int TXmlConfigModel::DecodeBlock(xml::Node block, xml::Node, const Bytes &data, int start)
{
    const std::string text(data.begin(), data.end());
    xml::ParseError error;
    auto document = xml::Document::Parse(text, error, kDeviceEncoding);
    if (!document)
        throw EXmlError(Format("Строка %d: %s\r\n%s", error.line, error.reason.c_str(), error.sourceText.c_str()),
                        error.line, error.reason, error.sourceText);
    const xml::Node source = document->DocumentElement();
    if (!source || source.Name() != "config")
        throw EConfigError(Format("Блок настроек не содержит элемента config (корневой элемент \"%s\").",
                                  source ? source.Name().c_str() : ""));
    refuseEntityReferences(source);
    checkArrayCounts(block, source, [this](const std::string &name) { return FindArray(name); });
    const xml::Node target = ValueDoc.AsNode().SelectSingle("/config");
    if (!target)
        throw EConfigError("Файл не содержит настроек устройства.");

    // Copies rather than moves: a copy takes its namespaces along instead of pointing into the parsed text.
    std::vector<xml::Node> copies;
    for (xml::Node child = source.FirstChild(); child; child = child.NextSibling())
        copies.push_back(child.CloneInto(ValueDoc));
    for (xml::Node copy : copies)
        target.AppendChild(copy);
    return start + static_cast<int>(data.size());
}

void TXmlConfigModel::ForgetDescriptionIndex()
{
    TAbstractConfigModel::ForgetDescriptionIndex();
    m_itemNames.clear();
}

const TXmlConfigModel::TNameSet &TXmlConfigModel::ItemNames(xml::Node block)
{
    const auto known = m_itemNames.find(block.Raw());
    if (known != m_itemNames.end())
        return known->second;
    TNameSet &names = m_itemNames[block.Raw()];
    for (xml::Node item : ChildElements(block, "item"))
        names.insert(GetAttribute(item, "name"));
    return names;
}

Bytes TXmlConfigModel::EncodeBlock(xml::Node block, xml::Node)
{
    const xml::Document document = NewValueDocument();
    const xml::Node source = ValueDoc.AsNode().SelectSingle("/config");
    checkArrayCounts(block, source, [this](const std::string &name) { return FindArray(name); });
    const TNameSet &names = ItemNames(block);
    std::vector<xml::Node> chosen;
    for (xml::Node element : ChildElements(source))
        if (element.HasNamespace() ? names.count(element.Name()) : names.count(element.LocalName()))
            chosen.push_back(element);
    return ToBytes(document.SaveWithChildren(chosen));
}

void TXmlConfigModel::LoadFromDocument(xml::Document values)
{
    TAbstractConfigModel::LoadFromDocument(std::move(values));
    const xml::Node config = ValueDoc.DocumentElement();
    for (xml::Node block : ChildElements(Device, "block"))
        checkArrayCounts(block, config, [this](const std::string &name) { return FindArray(name); });
}

// ------------------------------------------------------- variable arrays

void TXmlConfigModel::AddArrayItem(ITreeGrid &grid, PVirtualNode node)
{
    if (!node)
        return;
    const TTreeData data = grid.Data(node);
    if (!data.Description || !data.ArrayDesc || grid.Level(node) != kArrayLevel)
        return;

    // Everything is built outside the tree first, so a bad description changes nothing.
    const std::string containerName = elementName(data.Description);
    const xml::Node element = ValueDoc.CreateElement(elementName(data.ArrayDesc));
    std::vector<std::pair<xml::Node, xml::Node>> shownFields;
    for (xml::Node field : ChildElements(firstElementChild(data.Description))) {
        const xml::Node value = element.AppendNewElement(elementName(field));
        value.SetText(defaultText(field));
        // Only item fields get a node, as when the tree is filled.
        if (field.Name() == "item")
            shownFields.emplace_back(field, value);
    }

    xml::Node container = data.Value;
    if (!container) {
        const xml::Node config = ValueDoc.AsNode().SelectSingle("/config");
        if (!config)
            throw EConfigError("Файл не содержит настроек устройства.");
        container = config.AppendNewElement(containerName);
        grid.Data(node).Value = container;
    }

    TTreeData elementData = nodeData(elementCaption(data.ArrayDesc, grid.ChildCount(node) + 1));
    elementData.Description = data.Description;
    elementData.Value = container;
    elementData.ArrayDesc = data.ArrayDesc;
    PVirtualNode elementNode = AddTreeNode(grid, node, elementData);
    for (const auto &[field, value] : shownFields) {
        TTreeData fieldData = nodeData(GetAttribute(field, "caption"));
        fieldData.Description = field;
        fieldData.Info = ParamInfo(field);
        fieldData.Value = value;
        AddTreeNode(grid, elementNode, fieldData);
    }
    container.AppendChild(element);
}

void TXmlConfigModel::DeleteArrayItem(ITreeGrid &grid, PVirtualNode node)
{
    if (!node)
        return;
    const TTreeData data = grid.Data(node);
    if (!data.Value || !data.ArrayDesc || grid.Level(node) != kElementLevel)
        return;
    // Grid nodes stand for the container's elements only, so the position counts elements.
    const std::vector<xml::Node> elements = ChildElements(data.Value);
    const int index = grid.Index(node);
    if (index >= 0 && index < static_cast<int>(elements.size()))
        data.Value.RemoveChild(elements[static_cast<std::size_t>(index)]);
    grid.DeleteNode(node);
}

bool TXmlConfigModel::PreparePopupMenu(ITreeGrid &grid, PVirtualNode node)
{
    if (!node)
        return false;
    const xml::Node array = grid.Data(node).ArrayDesc;
    // Arrays with a count keep it: they are neither grown nor shrunk.
    if (!array || HasAttribute(array, "count"))
        return false;
    const int level = grid.Level(node);
    if (level == kArrayLevel) {
        // At the limit or past it (a device may send more), nothing more is added.
        const bool enabled = !HasAttribute(array, "max") || grid.ChildCount(node) < GetIntAttribute(array, "max");
        TPopupItem &item = grid.PopupItem();
        item.Caption = "Добавить";
        item.Tag = kTagAdd;
        item.Enabled = enabled;
        return true;
    }
    if (level == kElementLevel) {
        const bool enabled =
            !HasAttribute(array, "min") || grid.ChildCount(grid.Parent(node)) > GetIntAttribute(array, "min");
        TPopupItem &item = grid.PopupItem();
        item.Caption = "Удалить";
        item.Tag = kTagDelete;
        item.Enabled = enabled;
        return true;
    }
    return false;
}

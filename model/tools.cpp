#include "model/tools.h"

#include "model/errors.h"
#include "model/model.h"

#include <functional>

bool HasAttribute(xml::Node node, const std::string &name)
{
    return node && node.HasAttribute(name);
}

namespace {

int attributeInteger(xml::Node node, const std::string &text)
{
    try {
        return StrToInt(text);
    } catch (const EConvertError &e) {
        throw EAttributeError(e.what(), GetAttribute(node, "name"));
    }
}

} // namespace

int GetIntAttribute(xml::Node node, const std::string &name)
{
    return attributeInteger(node, GetAttribute(node, name));
}

int GetIntAttribute(xml::Node node, const std::string &name, int fallback)
{
    const auto text = node ? node.Attribute(name) : std::nullopt;
    return text ? attributeInteger(node, *text) : fallback;
}

std::string GetAttribute(xml::Node node, const std::string &name)
{
    return node ? node.Attribute(name).value_or(std::string()) : std::string();
}

std::string GetAttribute(xml::Node node, const std::string &name, const std::string &fallback)
{
    if (!node)
        return std::string();
    return node.Attribute(name).value_or(fallback);
}

std::string XPathLiteral(const std::string &value)
{
    if (value.find('"') == std::string::npos)
        return "\"" + value + "\"";
    if (value.find('\'') == std::string::npos)
        return "'" + value + "'";
    // Both kinds of quote: concat('a"b', "'", ...).
    std::string literal = "concat(";
    std::string part;
    for (const char c : value) {
        if (c == '\'') {
            literal += "'" + part + "', \"'\", ";
            part.clear();
        } else {
            part += c;
        }
    }
    return literal + "'" + part + "')";
}

PVirtualNode AddTreeNode(ITreeGrid &grid, PVirtualNode parent, const TTreeData &data)
{
    return grid.AddChild(parent, data);
}

void ClearTreeData(TTreeData &data)
{
    data.Description = xml::Node();
    data.Value = xml::Node();
    data.ArrayDesc = xml::Node();
    data.Deactivator = false;
    data.Gray = false;
}

bool GroupHasActiveDeactivator(ITreeGrid &grid, PVirtualNode node)
{
    const int count = grid.ChildCount(node);
    for (int i = 0; i < count; ++i) {
        PVirtualNode child = grid.Child(node, i);
        if (grid.ChildCount(child) > 0) {
            if (GroupHasActiveDeactivator(grid, child))
                return true;
            continue;
        }
        const TTreeData &data = grid.Data(child);
        if (data.Deactivator && data.Value && data.Value.Text() != "0")
            return true;
    }
    return false;
}

std::vector<xml::Node> ChildElements(xml::Node parent)
{
    std::vector<xml::Node> elements;
    for (xml::Node child = parent.FirstChild(); child; child = child.NextSibling())
        if (child.IsElement())
            elements.push_back(child);
    return elements;
}

std::vector<xml::Node> ChildElements(xml::Node parent, std::string_view name)
{
    std::vector<xml::Node> elements;
    for (xml::Node child = parent.FirstChild(); child; child = child.NextSibling())
        if (child.IsElement() && child.Name() == name)
            elements.push_back(child);
    return elements;
}

bool HasChildElements(xml::Node node)
{
    for (xml::Node child = node.FirstChild(); child; child = child.NextSibling())
        if (child.IsElement())
            return true;
    return false;
}

std::string ItemType(xml::Node item)
{
    return GetAttribute(item, "type", "int");
}

bool IsTextType(const std::string &type)
{
    static const char *const kTextTypes[] = {"string", "pswd_string", "ip_string", "phone", "hex", "hex_array",
                                             "dec_array", "int"};
    for (const char *word : kTextTypes)
        if (type == word)
            return true;
    return false;
}

bool IsBuiltInType(const std::string &type)
{
    return IsTextType(type) || type == "bool";
}

std::string ValueCellText(IConfigModel *model, const TTreeData &data)
{
    if (!data.Description || HasChildElements(data.Description) || !data.Value)
        return std::string();
    const std::string type = ItemType(data.Description);
    const std::string text = data.Value.Text();
    if (IsTextType(type))
        return text;
    if (type == "bool")
        return text == "1" ? "Да" : "Нет";
    const xml::Node choices = model ? model->FindEnum(type) : xml::Node();
    // A type naming no enumeration shows its text as it is.
    if (!choices)
        return text;
    std::string caption;
    for (xml::Node choice = choices.FirstChild(); choice; choice = choice.NextSibling())
        if (GetAttribute(choice, "value") == text)
            caption = GetAttribute(choice, "caption");
    return caption;
}

std::string TreeText(IConfigModel *model, ITreeGrid &grid)
{
    std::string text;
    std::function<void(PVirtualNode, int)> visit = [&](PVirtualNode parent, int depth) {
        for (int i = 0; i < grid.ChildCount(parent); ++i) {
            PVirtualNode node = grid.Child(parent, i);
            const TTreeData &data = grid.Data(node);
            text.append(static_cast<std::size_t>(depth) * 2, ' ');
            text += data.Caption;
            if (data.Gray)
                text += " [отключено]";
            if (data.Description && !HasChildElements(data.Description) && data.Value)
                text += " = " + ValueCellText(model, data);
            text += '\n';
            visit(node, depth + 1);
        }
    };
    visit(nullptr, 0);
    return text;
}

#include "model/tools.h"

#include "model/errors.h"

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

std::optional<int> IntAttribute(xml::Node node, const char *name)
{
    const auto text = node ? node.Attribute(name) : std::nullopt;
    if (!text)
        return std::nullopt;
    try {
        return StrToInt(*text);
    } catch (const EConvertError &) {
        return std::nullopt;
    }
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

PVirtualNode AddTreeNode(ITreeGrid &grid, PVirtualNode parent, TTreeData data)
{
    return grid.AddChild(parent, std::move(data));
}

void ClearTreeData(TTreeData &data)
{
    data.Description = xml::Node();
    data.Value = xml::Node();
    data.ArrayDesc = xml::Node();
    data.Info = nullptr;
    data.Deactivator = false;
    data.Gray = false;
    data.Switched = false;
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

std::string ValueCellText(const TTreeData &data)
{
    return HoldsValue(data) ? data.Info->Shown(data.Value.Text()) : std::string();
}

PVirtualNode UpdateSwitchedElement(ITreeGrid &grid, PVirtualNode node)
{
    if (!node || !grid.Data(node).Deactivator)
        return nullptr;
    PVirtualNode element = grid.Parent(node);
    while (element && !grid.Data(element).Switched)
        element = grid.Parent(element);
    if (element) {
        grid.Data(element).Gray = !GroupHasActiveDeactivator(grid, element);
        grid.InvalidateNode(element);
    }
    return element;
}

std::string TValueProblem::Text() const
{
    std::string text;
    for (const std::string &caption : path)
        text += caption + " / ";
    return text + message;
}

std::vector<TValueProblem> CheckValues(ITreeGrid &grid)
{
    std::vector<TValueProblem> problems;
    std::vector<std::string> path;
    std::function<void(PVirtualNode)> visit = [&](PVirtualNode parent) {
        for (int i = 0; i < grid.ChildCount(parent); ++i) {
            PVirtualNode node = grid.Child(parent, i);
            const TTreeData &data = grid.Data(node);
            if (HoldsValue(data))
                if (auto message = data.Info->Validate(data.Value.Text()))
                    problems.push_back({path, std::move(*message)});
            path.push_back(data.Caption);
            visit(node);
            path.pop_back();
        }
    };
    visit(nullptr);
    return problems;
}

std::string TreeText(ITreeGrid &grid)
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
            if (HoldsValue(data))
                text += " = " + ValueCellText(data);
            text += '\n';
            visit(node, depth + 1);
        }
    };
    visit(nullptr, 0);
    return text;
}

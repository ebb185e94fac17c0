#include "model/tools.h"

#include "model/errors.h"

bool HasAttribute(xml::Node node, const std::string &name)
{
    return node && node.HasAttribute(name);
}

int GetIntAttribute(xml::Node node, const std::string &name)
{
    return StrToInt(GetAttribute(node, name));
}

int GetIntAttribute(xml::Node node, const std::string &name, int fallback)
{
    const auto text = node ? node.Attribute(name) : std::nullopt;
    return text ? StrToInt(*text) : fallback;
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

#pragma once

#include "model/tree_grid.h"
#include "model/xml.h"

#include <string>
#include <string_view>
#include <vector>

// Attribute access rules for description and value elements.

// True when node exists and has the attribute.
bool HasAttribute(xml::Node node, const std::string &name);
// The attribute as an integer; missing or not an integer raises the standard
// conversion error.
int GetIntAttribute(xml::Node node, const std::string &name);
// The attribute as an integer, fallback when it is missing; not an integer
// raises the standard conversion error.
int GetIntAttribute(xml::Node node, const std::string &name, int fallback);
// The attribute as the models convert it (the standard integer conversion);
// none when the node or the attribute is missing or it is not an integer.
std::optional<int> IntAttribute(xml::Node node, const char *name);
// The attribute's text; empty when node or attribute is missing.
std::string GetAttribute(xml::Node node, const std::string &name);
// The attribute's text; fallback when the attribute is missing, empty when the
// node itself is.
std::string GetAttribute(xml::Node node, const std::string &name, const std::string &fallback);

// XPath string literal for a value (quotes chosen so any text fits).
std::string XPathLiteral(const std::string &value);

// Grid node helpers.

// Appends a node under parent (none: at the top level) carrying a copy of data.
PVirtualNode AddTreeNode(ITreeGrid &grid, PVirtualNode parent, TTreeData data);
// Clears everything but the caption.
void ClearTreeData(TTreeData &data);
// True when some leaf below node with Deactivator set holds a value other than "0".
bool GroupHasActiveDeactivator(ITreeGrid &grid, PVirtualNode node);

// Opens a grid's update bracket and closes it however the scope ends.
class TUpdateBracket {
public:
    explicit TUpdateBracket(ITreeGrid &grid) : m_grid(grid) { m_grid.BeginUpdate(); }
    ~TUpdateBracket() { m_grid.EndUpdate(); }
    TUpdateBracket(const TUpdateBracket &) = delete;
    TUpdateBracket &operator=(const TUpdateBracket &) = delete;

private:
    ITreeGrid &m_grid;
};

// True for a row holding a value that the technician edits.
inline bool HoldsValue(const TTreeData &data)
{
    return data.Info && data.Value;
}

// Text of column "Значение" for a node: the shown text of a row holding a
// value, empty for group nodes and nodes without a value.
std::string ValueCellText(const TTreeData &data);

// After the value of node changed: the array element above it is greyed
// while every deactivator below the element holds "0". Returns that element
// (none when node switches nothing).
PVirtualNode UpdateSwitchedElement(ITreeGrid &grid, PVirtualNode node);

// A value that its description would not keep as it stands.
struct TValueProblem {
    std::vector<std::string> path; // captions of the rows above the value's row
    std::string message;           // the description's message, starting with the row's caption

    // "Блок / Элемент №1 / Параметр: причина"
    std::string Text() const;
};

// Every value of the grid that its description would not keep as it stands
// (refused, altered by the codec, or outside min/max), in grid order.
std::vector<TValueProblem> CheckValues(ITreeGrid &grid);

// The whole tree as indented text, one node a line: "caption = value", grey
// nodes marked. What the command-line tool prints and tests compare.
std::string TreeText(ITreeGrid &grid);

// The element children of a node, all of them or those of one name, in order;
// comments and processing instructions are never among them.
std::vector<xml::Node> ChildElements(xml::Node parent);
std::vector<xml::Node> ChildElements(xml::Node parent, std::string_view name);

// True when node has an element among its children: a description node that
// groups others, never edited itself. Comments do not count.
bool HasChildElements(xml::Node node);

// The type word of an item, "int" when it has none.
std::string ItemType(xml::Node item);

// " №" in front of an array element's number.
inline constexpr const char *kNumberSign = " \u2116";

#include "model/tree_grid.h"

#include <functional>

std::vector<std::unique_ptr<TTreeNode>> &TTreeGrid::ChildrenOf(PVirtualNode node)
{
    return node ? node->Children : m_root.Children;
}

const std::vector<std::unique_ptr<TTreeNode>> &TTreeGrid::ChildrenOf(PVirtualNode node) const
{
    return node ? node->Children : m_root.Children;
}

PVirtualNode TTreeGrid::AddChild(PVirtualNode parent, TTreeData data)
{
    auto &children = ChildrenOf(parent);
    auto node = std::make_unique<TTreeNode>();
    node->Data = std::move(data);
    node->Parent = parent;
    node->Row = static_cast<int>(children.size());
    children.push_back(std::move(node));
    return children.back().get();
}

void TTreeGrid::Clear()
{
    m_root.Children.clear();
}

int TTreeGrid::ChildCount(PVirtualNode node) const
{
    return static_cast<int>(ChildrenOf(node).size());
}

PVirtualNode TTreeGrid::Child(PVirtualNode node, int index) const
{
    const auto &children = ChildrenOf(node);
    return index >= 0 && index < static_cast<int>(children.size()) ? children[static_cast<std::size_t>(index)].get()
                                                                   : nullptr;
}

PVirtualNode TTreeGrid::Parent(PVirtualNode node) const
{
    return node ? node->Parent : nullptr;
}

int TTreeGrid::Level(PVirtualNode node) const
{
    int level = 0;
    for (PVirtualNode p = node ? node->Parent : nullptr; p; p = p->Parent)
        ++level;
    return level;
}

int TTreeGrid::Index(PVirtualNode node) const
{
    return node ? node->Row : -1;
}

void TTreeGrid::DeleteNode(PVirtualNode node)
{
    if (!node)
        return;
    auto &siblings = ChildrenOf(node->Parent);
    const auto row = static_cast<std::size_t>(node->Row);
    siblings.erase(siblings.begin() + static_cast<std::ptrdiff_t>(row));
    for (std::size_t i = row; i < siblings.size(); ++i)
        siblings[i]->Row = static_cast<int>(i);
}

int TTreeGrid::NodeCount() const
{
    int count = 0;
    std::function<void(const TTreeNode &)> visit = [&](const TTreeNode &node) {
        for (const auto &child : node.Children) {
            ++count;
            visit(*child);
        }
    };
    visit(m_root);
    return count;
}

#pragma once

#include "model/param_info.h"
#include "model/xml.h"

#include <memory>
#include <string>
#include <vector>

// The record of every node of the parameter grid.
struct TTreeData {
    std::string Caption;    // text of column "Параметр"
    xml::Node Description;  // the description element the node stands for
    xml::Node Value;        // the value element holding the node's value text
    xml::Node ArrayDesc;    // the array element of a variable array
    TParamInfoPtr Info;     // what the value means: set on the rows that hold an editable value
    bool Deactivator = false;
    bool Gray = false;      // caption drawn in silver
    bool Switched = false;  // an array element greyed while every deactivator below it holds "0"
};

// A node of the tree. The grid owns the nodes; a pointer to one stays valid
// until the node is deleted or the grid is cleared.
struct TTreeNode {
    TTreeData Data;
    TTreeNode *Parent = nullptr; // none for top-level nodes
    int Row = 0;                 // position among its siblings
    std::vector<std::unique_ptr<TTreeNode>> Children;
};
using PVirtualNode = TTreeNode *;

// The single item of the grid's context menu.
struct TPopupItem {
    std::string Caption = "Добавить";
    std::string Hint = "Добавить элемент в конец списка";
    int Tag = 0; // 0: read a key, 1: add an array element, 2: delete one
    bool Enabled = true;
};

// The parameter grid as the models see it: a tree of nodes carrying
// TTreeData, and the context-menu item the XML model sets up.
class ITreeGrid {
public:
    virtual ~ITreeGrid() = default;

    // Appends a node under parent (none: at the top level) with a copy of data.
    virtual PVirtualNode AddChild(PVirtualNode parent, TTreeData data) = 0;
    virtual void Clear() = 0;
    // Brackets a batch of changes; the grid repaints once at the end.
    virtual void BeginUpdate() = 0;
    virtual void EndUpdate() = 0;

    virtual int ChildCount(PVirtualNode node) const = 0; // none: the top level
    virtual PVirtualNode Child(PVirtualNode node, int index) const = 0;
    virtual PVirtualNode Parent(PVirtualNode node) const = 0;
    virtual int Level(PVirtualNode node) const = 0;      // 0 at the top level
    virtual int Index(PVirtualNode node) const = 0;      // among its siblings
    // Deletes node with its children; later siblings move up.
    virtual void DeleteNode(PVirtualNode node) = 0;
    virtual void InvalidateNode(PVirtualNode node) = 0;
    virtual TTreeData &Data(PVirtualNode node) = 0;
    virtual TPopupItem &PopupItem() = 0;
};

// The grid's tree kept in memory. The command-line tool and the tests use it
// as it is; the window's grid model derives from it.
class TTreeGrid : public ITreeGrid {
public:
    PVirtualNode AddChild(PVirtualNode parent, TTreeData data) override;
    void Clear() override;
    void BeginUpdate() override { ++m_updateCount; }
    void EndUpdate() override { --m_updateCount; }

    int ChildCount(PVirtualNode node) const override;
    PVirtualNode Child(PVirtualNode node, int index) const override;
    PVirtualNode Parent(PVirtualNode node) const override;
    int Level(PVirtualNode node) const override;
    int Index(PVirtualNode node) const override;
    void DeleteNode(PVirtualNode node) override;
    void InvalidateNode(PVirtualNode) override {}
    TTreeData &Data(PVirtualNode node) override { return node->Data; }
    TPopupItem &PopupItem() override { return m_popupItem; }

    bool Updating() const { return m_updateCount > 0; }
    // Total number of nodes.
    int NodeCount() const;

protected:
    std::vector<std::unique_ptr<TTreeNode>> &ChildrenOf(PVirtualNode node);
    const std::vector<std::unique_ptr<TTreeNode>> &ChildrenOf(PVirtualNode node) const;

private:
    TTreeNode m_root;
    TPopupItem m_popupItem;
    int m_updateCount = 0;
};

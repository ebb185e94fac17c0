#include "model/tree_grid.h"

#include <gtest/gtest.h>

TEST(TTreeGrid, BuildsLevelsAndKeepsRowsAfterDeletes)
{
    TTreeGrid grid;
    PVirtualNode block = grid.AddChild(nullptr, {});
    PVirtualNode array = grid.AddChild(block, {});
    std::vector<PVirtualNode> elements;
    for (const char *caption : {"e1", "e2", "e3"}) {
        TTreeData data;
        data.Caption = caption;
        elements.push_back(grid.AddChild(array, data));
    }
    PVirtualNode field = grid.AddChild(elements[1], {});
    EXPECT_EQ(grid.Level(block), 0);
    EXPECT_EQ(grid.Level(field), 3);
    EXPECT_EQ(grid.Parent(field), elements[1]);
    EXPECT_EQ(grid.Parent(block), nullptr);
    EXPECT_EQ(grid.Index(elements[2]), 2);
    EXPECT_EQ(grid.NodeCount(), 6);

    grid.DeleteNode(elements[1]);
    EXPECT_EQ(grid.ChildCount(array), 2);
    EXPECT_EQ(grid.Index(elements[2]), 1);
    EXPECT_EQ(grid.Child(array, 1), elements[2]);
    EXPECT_EQ(grid.Child(array, 2), nullptr);
    EXPECT_EQ(grid.Data(elements[2]).Caption, "e3");
    EXPECT_EQ(grid.NodeCount(), 4);

    grid.Clear();
    EXPECT_EQ(grid.ChildCount(nullptr), 0);
}

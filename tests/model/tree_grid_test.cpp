#include "model/tree_grid.h"

#include <gtest/gtest.h>

TEST(TTreeGrid, BuildsLevelsAndKeepsRowsAfterDeletes)
{
    TTreeGrid grid;
    PVirtualNode array = grid.AddChild(grid.AddChild(nullptr, {}), {});
    std::vector<PVirtualNode> elements;
    for (const char *caption : {"e1", "e2", "e3"})
        elements.push_back(grid.AddChild(array, {.Caption = caption}));
    EXPECT_EQ(grid.Level(grid.AddChild(elements[1], {})), 3);
    EXPECT_EQ(grid.NodeCount(), 6);
    grid.DeleteNode(elements[1]);
    EXPECT_EQ(grid.Index(elements[2]), 1);
    EXPECT_EQ(grid.Child(array, 1), elements[2]);
    EXPECT_EQ(grid.Child(array, 2), nullptr);
    EXPECT_EQ(grid.Data(elements[2]).Caption, "e3");
    EXPECT_EQ(grid.NodeCount(), 4);
    grid.Clear();
    EXPECT_EQ(grid.ChildCount(nullptr), 0);
}

#include "model/tree_grid.h"

#include <gtest/gtest.h>

namespace {

TTreeData caption(const char *text)
{
    TTreeData data;
    data.Caption = text;
    return data;
}

} // namespace

TEST(TTreeGrid, BuildsLevelsAndKeepsRowsAfterDeletes)
{
    TTreeGrid grid;
    PVirtualNode block = grid.AddChild(nullptr, caption("block"));
    PVirtualNode array = grid.AddChild(block, caption("array"));
    PVirtualNode e1 = grid.AddChild(array, caption("e1"));
    PVirtualNode e2 = grid.AddChild(array, caption("e2"));
    PVirtualNode e3 = grid.AddChild(array, caption("e3"));
    PVirtualNode field = grid.AddChild(e2, caption("f"));
    EXPECT_EQ(grid.Level(block), 0);
    EXPECT_EQ(grid.Level(array), 1);
    EXPECT_EQ(grid.Level(e1), 2);
    EXPECT_EQ(grid.Level(field), 3);
    EXPECT_EQ(grid.Parent(field), e2);
    EXPECT_EQ(grid.Parent(block), nullptr);
    EXPECT_EQ(grid.Index(e3), 2);
    EXPECT_EQ(grid.NodeCount(), 6);

    grid.DeleteNode(e2);
    EXPECT_EQ(grid.ChildCount(array), 2);
    EXPECT_EQ(grid.Index(e3), 1);
    EXPECT_EQ(grid.Child(array, 1), e3);
    EXPECT_EQ(grid.Child(array, 2), nullptr);
    EXPECT_EQ(grid.Data(e3).Caption, "e3");
    EXPECT_EQ(grid.NodeCount(), 4);

    grid.Clear();
    EXPECT_EQ(grid.ChildCount(nullptr), 0);
}

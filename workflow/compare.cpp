#include "workflow/compare.h"

#include "workflow/workflow.h"
#include "model/errors.h"
#include "model/tools.h"
#include "model/tree_grid.h"

#include <map>
#include <utility>

namespace {

constexpr const char *kMissing = "—";
constexpr const char *kPathSeparator = " / ";
constexpr const char *kArrow = " → ";

// Which device element of its file a description is, counting device siblings.
int deviceIndex(xml::Node device)
{
    int index = 0;
    for (xml::Node node = device.Parent() ? device.Parent().FirstChild() : xml::Node(); node && node != device;
         node = node.NextSibling())
        if (node.IsElement() && node.Name() == "device")
            ++index;
    return index;
}

bool sameFile(const std::filesystem::path &a, const std::filesystem::path &b)
{
    std::error_code ec;
    const bool equivalent = std::filesystem::equivalent(a, b, ec);
    return ec ? a.lexically_normal() == b.lexically_normal() : equivalent;
}

bool isLeaf(const TTreeData &data)
{
    return data.Description && !HasChildElements(data.Description);
}

// A node's step of the path: its caption, or the item's name where it has none.
std::string stepOf(const TTreeData &data)
{
    return data.Caption.empty() ? GetAttribute(data.Description, "name") : data.Caption;
}

class TTreeComparison {
public:
    TTreeComparison(IConfigModel &first, ITreeGrid &firstGrid, IConfigModel &second, ITreeGrid &secondGrid)
        : m_models{&first, &second}, m_grids{&firstGrid, &secondGrid}
    {
    }

    std::vector<TDifference> Run()
    {
        Pair(nullptr, nullptr, {});
        return std::move(m_differences);
    }

private:
    // Children matched by caption, the k-th of a caption with the k-th of the same
    // caption; none stands for the top level on both sides.
    void Pair(PVirtualNode first, PVirtualNode second, const std::vector<std::string> &path)
    {
        std::map<std::pair<std::string, int>, PVirtualNode> others;
        std::vector<std::pair<std::string, int>> otherOrder;
        std::map<std::string, int> seen;
        for (int i = 0; i < m_grids[1]->ChildCount(second); ++i) {
            PVirtualNode node = m_grids[1]->Child(second, i);
            const auto key = std::make_pair(m_grids[1]->Data(node).Caption, seen[m_grids[1]->Data(node).Caption]++);
            others.emplace(key, node);
            otherOrder.push_back(key);
        }
        seen.clear();
        for (int i = 0; i < m_grids[0]->ChildCount(first); ++i) {
            PVirtualNode node = m_grids[0]->Child(first, i);
            const std::string &caption = m_grids[0]->Data(node).Caption;
            const auto key = std::make_pair(caption, seen[caption]++);
            const auto match = others.find(key);
            PVirtualNode other = match == others.end() ? nullptr : match->second;
            if (match != others.end())
                others.erase(match);
            Visit(node, other, path);
        }
        for (const auto &key : otherOrder) {
            const auto left = others.find(key);
            if (left != others.end())
                Visit(nullptr, left->second, path);
        }
    }

    void Visit(PVirtualNode first, PVirtualNode second, std::vector<std::string> path)
    {
        if (!first || !second) {
            OneSided(first ? 0 : 1, first ? first : second, path);
            return;
        }
        const TTreeData &data = m_grids[0]->Data(first);
        const std::string step = stepOf(data);
        if (!step.empty())
            path.push_back(step);
        if (isLeaf(data))
            CompareLeaf(first, second, path);
        Pair(first, second, path);
    }

    // Every value below a node that only one side has.
    void OneSided(int side, PVirtualNode node, std::vector<std::string> path)
    {
        const TTreeData &data = m_grids[side]->Data(node);
        const std::string step = stepOf(data);
        if (!step.empty())
            path.push_back(step);
        if (isLeaf(data))
            CompareLeaf(side == 0 ? node : nullptr, side == 1 ? node : nullptr, path);
        for (int i = 0; i < m_grids[side]->ChildCount(node); ++i)
            OneSided(side, m_grids[side]->Child(node, i), path);
    }

    void CompareLeaf(PVirtualNode first, PVirtualNode second, const std::vector<std::string> &path)
    {
        const TTreeData *data[2] = {first ? &m_grids[0]->Data(first) : nullptr,
                                    second ? &m_grids[1]->Data(second) : nullptr};
        std::optional<std::string> texts[2];
        std::optional<std::string> shown[2];
        for (int side = 0; side < 2; ++side) {
            if (data[side] && data[side]->Value) {
                texts[side] = data[side]->Value.Text();
                shown[side] = ValueCellText(*data[side]);
            }
        }
        if (texts[0] == texts[1])
            return;
        // Texts that show alike are told apart by the texts themselves.
        if (shown[0] == shown[1]) {
            shown[0] = texts[0];
            shown[1] = texts[1];
        }
        m_differences.push_back({path, shown[0], shown[1]});
    }

    IConfigModel *m_models[2];
    ITreeGrid *m_grids[2];
    std::vector<TDifference> m_differences;
};

} // namespace

std::string TDifference::Text() const
{
    std::string text;
    for (std::size_t i = 0; i < path.size(); ++i)
        text += (i > 0 ? kPathSeparator : "") + path[i];
    return text + ": " + first.value_or(kMissing) + kArrow + second.value_or(kMissing);
}

void RequireSameDescription(IConfigModel &first, IConfigModel &second)
{
    const xml::Node a = first.DeviceElement();
    const xml::Node b = second.DeviceElement();
    if (!a || !b || !sameFile(first.DescriptionFile(), second.DescriptionFile()) || deviceIndex(a) != deviceIndex(b))
        throw EConfigError(kMsgIncompatible);
}

std::vector<TDifference> CompareConfigurations(IConfigModel &first, IConfigModel &second)
{
    RequireSameDescription(first, second);
    TTreeGrid grids[2];
    ExplainDescriptionFailure(first, [&] { first.FillTree(grids[0]); });
    ExplainDescriptionFailure(second, [&] { second.FillTree(grids[1]); });
    return TTreeComparison(first, grids[0], second, grids[1]).Run();
}

std::string DifferencesText(const std::vector<TDifference> &differences)
{
    if (differences.empty())
        return std::string(kMsgSameSettings) + "\n";
    std::string text;
    for (const TDifference &difference : differences)
        text += difference.Text() + "\n";
    return text;
}

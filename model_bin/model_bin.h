#pragma once

#include "model/model.h"
#include "model_bin/fields.h"

#include <string>
#include <unordered_map>
#include <unordered_set>

// Devices that keep their configuration as packed binary block images.
class TBinaryConfigModel : public TAbstractConfigModel {
public:
    using TAbstractConfigModel::TAbstractConfigModel;

    void FillTree(ITreeGrid &grid) override;
    int BlockSize(xml::Node block) override;
    int DecodeBlock(xml::Node block, xml::Node parent, const Bytes &data, int start) override;
    Bytes EncodeBlock(xml::Node block, xml::Node parent) override;
    // Arrays of binary devices keep the fixed count of their description.
    void AddArrayItem(ITreeGrid &, PVirtualNode) override {}
    void DeleteArrayItem(ITreeGrid &, PVirtualNode) override {}
    bool PreparePopupMenu(ITreeGrid &, PVirtualNode) override { return false; }

private:
    struct TArrayInfo {
        std::string name;
        int start = 0;
        int count = 1;
    };

    xml::Node FindStruct(const std::string &name);
    TArrayInfo ArrayInfo(xml::Node item, const char *attribute);
    TFieldParams FieldParams(xml::Node item, bool writing);
    // FieldParams(item, true), read from the description once.
    const TFieldParams &WritingParams(xml::Node item);
    // CheckBounds of a block, once for each block of the description.
    void CheckBlockBounds(xml::Node block);
    int SizeOf(xml::Node list, int depth);
    // Refuses a list asking for more than the link can carry; returns the bytes it asks for at least.
    long long CheckBounds(xml::Node list, int depth);
    std::unordered_map<const void *, long long> m_structWidths; // measured by CheckBounds, per call
    std::unordered_map<const void *, long long> m_structSizes;  // measured by SizeOf, per call
    int Decode(xml::Node list, xml::Node parent, const Bytes &data, int position, int depth);
    void Encode(xml::Node list, xml::Node parent, Bytes &out, int depth);
    void LayOut(ITreeGrid &grid, PVirtualNode parent, xml::Node list, xml::Node itemsParent,
                const std::vector<xml::Node> &arrays, int depth);
    void RefreshIndex();
    // A later description may be allocated where an earlier one was: index again whatever the address.
    void ForgetDescriptionIndex() override;

    // Structs and arrays of the device element by name, first one winning.
    xml::Node m_indexedDevice;
    std::unordered_map<std::string, xml::Node> m_structs;
    std::unordered_map<std::string, xml::Node> m_arrays;
    // What the description says once read: fields for writing, blocks within the link's bounds.
    std::unordered_map<const void *, TFieldParams> m_writingParams;
    std::unordered_set<const void *> m_boundedBlocks;
};

// Makes CreateConfigModel create binary models for every format but "xml".
void RegisterBinaryConfigModel();

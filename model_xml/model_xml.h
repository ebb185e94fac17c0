#pragma once

#include "model/model.h"

#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

// Devices that keep their configuration as XML text: each block travels as a
// document whose root config holds the block's parameter elements, and arrays
// without a fixed count grow and shrink through the grid's context menu.
class TXmlConfigModel : public TAbstractConfigModel {
public:
    using TAbstractConfigModel::TAbstractConfigModel;

    // Takes a settings file's values; an array with more elements than its
    // max or fewer than its min fails with a message naming the parameter.
    void LoadFromDocument(xml::Document values) override;
    // Rebuilds the whole grid from the description and the value document.
    void FillTree(ITreeGrid &grid) override;
    // Received block texts are never checked against a size.
    int BlockSize(xml::Node block) override;
    // Parses a received block text (its bytes taken as windows-1251 whatever
    // it declares) and appends its parameter elements to the value document.
    // Raises EXmlError for a text that is not well-formed and EConfigError
    // for one whose root is not config; the value document is then unchanged.
    // Returns start plus the length of the text.
    int DecodeBlock(xml::Node block, xml::Node parent, const Bytes &data, int start) override;
    // The block text of a block: the parameter elements of the value document
    // that the block's items name, in value-document order, as windows-1251.
    Bytes EncodeBlock(xml::Node block, xml::Node parent) override;
    // Appends an element with default field texts to the array of an array
    // parameter's node, in the value document and in the grid.
    void AddArrayItem(ITreeGrid &grid, PVirtualNode node) override;
    // Removes an array element's node and its element of the value document.
    void DeleteArrayItem(ITreeGrid &grid, PVirtualNode node) override;
    // Sets up the grid's context-menu item for adding to or deleting from a
    // variable array; false when the node offers no menu.
    bool PreparePopupMenu(ITreeGrid &grid, PVirtualNode node) override;

protected:
    TStorage Storage() const override { return TStorage::Xml; }
    void ForgetDescriptionIndex() override;

private:
    struct TNameHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view name) const { return std::hash<std::string_view>()(name); }
    };
    using TNameSet = std::unordered_set<std::string, TNameHash, std::equal_to<>>;
    // The names of a block's items, gathered once per description.
    const TNameSet &ItemNames(xml::Node block);
    std::unordered_map<const void *, TNameSet> m_itemNames;
};

// Makes CreateConfigModel create XML models for `format` "xml".
void RegisterXmlConfigModel();

#include "model_bin/model_bin.h"

#include "model/errors.h"
#include "model/tools.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <functional>
#include <unordered_map>
#include <string_view>
#include <utility>

namespace {

// Structs inside structs go this deep at most; deeper is a struct that contains itself.
constexpr int kMaxNesting = 32;

// The value elements of an item element by their index attributes, first one
// winning, as "value[@a="i"]" and "value[@a="i" and @m="j"]" select them. Only
// texts written as the numbers are written can ever be asked for, so the
// index keeps those, by number.
class TValueIndex {
public:
    TValueIndex(xml::Node element, const std::string &arrayName, const std::string &maskName = std::string())
        : m_masked(!maskName.empty())
    {
        for (xml::Node value : ChildElements(element, "value")) {
            const auto a = number(value.Attribute(arrayName));
            const auto m = m_masked ? number(value.Attribute(maskName)) : std::optional<int>(0);
            if (a && m)
                m_values.emplace(key(*a, *m), value);
        }
    }

    xml::Node Find(int index, std::optional<int> mask = std::nullopt) const
    {
        if (mask.has_value() != m_masked)
            return xml::Node();
        const auto it = m_values.find(key(index, mask.value_or(0)));
        return it == m_values.end() ? xml::Node() : it->second;
    }

private:
    static std::optional<int> number(const std::optional<std::string> &text)
    {
        if (!text)
            return std::nullopt;
        int value = 0;
        const char *end = text->data() + text->size();
        const auto [last, error] = std::from_chars(text->data(), end, value);
        if (error != std::errc() || last != end || std::to_string(value) != *text)
            return std::nullopt;
        return value;
    }

    static std::uint64_t key(int index, int mask)
    {
        return (std::uint64_t(std::uint32_t(index)) << 32) | std::uint32_t(mask);
    }

    bool m_masked;
    std::unordered_map<std::uint64_t, xml::Node> m_values;
};

[[noreturn]] void missingItem(const std::string &name)
{
    throw EConfigError(Format("В настройках нет параметра \"%s\".", name.c_str()));
}

[[noreturn]] void missingValue(const std::string &name, const std::string &index)
{
    throw EConfigError(Format("В настройках нет значения параметра \"%s\" (%s).", name.c_str(), index.c_str()));
}

void checkNesting(int depth, xml::Node list)
{
    if (depth > kMaxNesting)
        throw EDescriptionError(
            Format("Структура \"%s\" содержит саму себя.", GetAttribute(list, "name").c_str()), GetAttribute(list, "name"));
}

int checkedTotal(long long total)
{
    if (total < 0 || total > INT_MAX)
        throw EDescriptionError("Размер блока в описании недопустим.");
    return static_cast<int>(total);
}


[[noreturn]] void tooLong(const std::string &name)
{
    throw EDescriptionError(Format("Элемент \"%s\": блок длиннее %d байт, которые может передать связь.",
                                   name.c_str(), kMaxBlockBytes),
                            name);
}

[[noreturn]] void badWidth(const std::string &name)
{
    throw EDescriptionError(Format("Элемент \"%s\": недопустимая ширина поля.", name.c_str()), name);
}

[[noreturn]] void badCount(const std::string &array, int count)
{
    throw EDescriptionError(Format("Массив \"%s\": недопустимое число элементов %d.", array.c_str(), count), array);
}

// The element children of parent by name, first one winning, as ChildElement finds them:
// looking each item up by scanning its siblings would cost time quadratic in their number.
// The names are the document's own, which outlive the index.
class TChildIndex {
public:
    explicit TChildIndex(xml::Node parent)
    {
        if (!parent)
            return;
        for (xml::Node child = parent.FirstChild(); child; child = child.NextSibling())
            if (child.IsElement() && !child.HasNamespace())
                m_children.emplace(child.LocalName(), child);
    }

    xml::Node Find(std::string_view name) const
    {
        const auto it = m_children.find(name);
        return it == m_children.end() ? xml::Node() : it->second;
    }

private:
    std::unordered_map<std::string_view, xml::Node> m_children;
};

TTreeData nodeData(const std::string &caption)
{
    TTreeData data;
    data.Caption = caption;
    return data;
}

} // namespace

void RegisterBinaryConfigModel()
{
    RegisterConfigModel(false, [](const std::filesystem::path &dir, TCatalogueMatch description, std::uint16_t hw,
                                  std::uint16_t sw) {
        return std::make_shared<TBinaryConfigModel>(dir, std::move(description), hw, sw);
    });
}

void TBinaryConfigModel::ForgetDescriptionIndex()
{
    TAbstractConfigModel::ForgetDescriptionIndex();
    m_indexedDevice = xml::Node();
}

void TBinaryConfigModel::RefreshIndex()
{
    if (m_indexedDevice == Device)
        return;
    m_structs.clear();
    m_arrays.clear();
    m_writingParams.clear();
    m_boundedBlocks.clear();
    m_indexedDevice = Device;
    if (!Device)
        return;
    for (xml::Node child = Device.FirstChild(); child; child = child.NextSibling()) {
        if (!child.IsElement())
            continue;
        const std::string kind = child.Name();
        if (kind == "struct" || kind == "array") {
            if (const auto name = child.Attribute("name"))
                (kind == "struct" ? m_structs : m_arrays).emplace(*name, child);
        }
    }
}

xml::Node TBinaryConfigModel::FindStruct(const std::string &name)
{
    if (IsBuiltInType(name))
        return xml::Node();
    RefreshIndex();
    const auto it = m_structs.find(name);
    return it == m_structs.end() ? xml::Node() : it->second;
}

TBinaryConfigModel::TArrayInfo TBinaryConfigModel::ArrayInfo(xml::Node item, const char *attribute)
{
    TArrayInfo info;
    const auto name = item.Attribute(attribute);
    if (!name) {
        info.count = 1;
        return info;
    }
    RefreshIndex();
    const auto it = m_arrays.find(*name);
    const xml::Node array = it == m_arrays.end() ? xml::Node() : it->second;
    info.name = *name;
    info.start = GetIntAttribute(array, "start");
    info.count = GetIntAttribute(array, "count");
    if (info.count < 0 || info.count > kMaxBlockBytes)
        badCount(*name, info.count);
    // Every index of the array must be an int, the last one included.
    if (info.count > 0 && info.start > INT_MAX - (info.count - 1))
        throw EDescriptionError(Format("Массив \"%s\": недопустимый первый номер %d.", name->c_str(), info.start),
                                *name);
    return info;
}

TFieldParams TBinaryConfigModel::FieldParams(xml::Node item, bool writing)
{
    TFieldParams field;
    field.name = GetAttribute(item, "name");
    field.type = GetAttribute(item, "type", "int");
    field.size = GetIntAttribute(item, "size", writing ? 1 : 0);
    field.hasBits = HasAttribute(item, "bits");
    field.bits = GetIntAttribute(item, "bits", 8 * field.size);
    field.mul = GetIntAttribute(item, "mul", 1);
    field.div = GetIntAttribute(item, "div", 1);
    field.add = GetIntAttribute(item, "add", 0);
    field.sub = GetIntAttribute(item, "sub", 0);
    if (field.size < 0 || field.size > kMaxBlockBytes)
        badWidth(field.name);
    return field;
}

const TFieldParams &TBinaryConfigModel::WritingParams(xml::Node item)
{
    RefreshIndex();
    const auto known = m_writingParams.find(item.Raw());
    if (known != m_writingParams.end())
        return known->second;
    return m_writingParams.emplace(item.Raw(), FieldParams(item, true)).first->second;
}

void TBinaryConfigModel::CheckBlockBounds(xml::Node block)
{
    RefreshIndex();
    if (m_boundedBlocks.count(block.Raw()))
        return;
    CheckBounds(block, 0);
    m_boundedBlocks.insert(block.Raw());
}

// ---------------------------------------------------------------- block size

int TBinaryConfigModel::BlockSize(xml::Node block)
{
    return SizeOf(block, 0);
}

int TBinaryConfigModel::SizeOf(xml::Node list, int depth)
{
    checkNesting(depth, list);
    if (depth == 0)
        m_structSizes.clear();
    long long total = 0;
    for (xml::Node item : ChildElements(list, "item")) {
        long long width = 0;
        const xml::Node structNode = HasAttribute(item, "type") ? FindStruct(GetAttribute(item, "type")) : xml::Node();
        if (structNode) {
            // Measured once per call, as CheckBounds does.
            const auto known = m_structSizes.find(structNode.Raw());
            width = known != m_structSizes.end() ? known->second : SizeOf(structNode, depth + 1);
            m_structSizes.emplace(structNode.Raw(), width);
        } else {
            width = GetIntAttribute(item, "size");
            if (width < 0 || width > kMaxBlockBytes)
                badWidth(GetAttribute(item, "name"));
        }
        // Both factors are bounded, so the product cannot overflow.
        total += width * ArrayInfo(item, "array").count;
        if (total > kMaxBlockBytes)
            tooLong(GetAttribute(item, "name"));
    }
    return checkedTotal(total);
}

long long TBinaryConfigModel::CheckBounds(xml::Node list, int depth)
{
    // Deeper is a struct containing itself, which the code meeting it reports.
    if (depth > kMaxNesting)
        return 0;
    RefreshIndex();
    // A struct used by many others is measured once: without this, structs nested a few levels deep
    // and each used several times cost time exponential in their depth.
    if (depth == 0)
        m_structWidths.clear();
    long long total = 0;
    for (xml::Node item : ChildElements(list, "item")) {
        const std::string name = GetAttribute(item, "name");
        const xml::Node structNode = FindStruct(GetAttribute(item, "type", "int"));
        long long width = 0;
        if (structNode) {
            const auto known = m_structWidths.find(structNode.Raw());
            width = known != m_structWidths.end() ? known->second : CheckBounds(structNode, depth + 1);
            m_structWidths.emplace(structNode.Raw(), width);
        } else {
            width = IntAttribute(item, "size").value_or(0);
        }
        if (width > kMaxBlockBytes)
            badWidth(name);
        long long count = 1;
        for (const char *attribute : {"array", "mask"}) {
            if (!HasAttribute(item, attribute))
                continue;
            const auto array = m_arrays.find(GetAttribute(item, attribute));
            const long long n = array == m_arrays.end() ? 1 : IntAttribute(array->second, "count").value_or(1);
            if (n > kMaxBlockBytes)
                badCount(array->first, int(n));
            if (attribute == std::string_view("array"))
                count = std::max(n, 0LL);
        }
        // Every element counts at least one byte, so that empty structs cannot make values without end.
        total += std::max(width, 1LL) * count;
        if (total > kMaxBlockBytes)
            tooLong(name);
    }
    return total;
}

// ------------------------------------------------------------------ decoding

int TBinaryConfigModel::DecodeBlock(xml::Node block, xml::Node parent, const Bytes &data, int start)
{
    // A description too big for the link is refused before its values are made.
    CheckBlockBounds(block);
    return Decode(block, parent, data, start, 0);
}

int TBinaryConfigModel::Decode(xml::Node list, xml::Node parent, const Bytes &data, int position, int depth)
{
    checkNesting(depth, list);
    const xml::Node target = parent ? parent : ValueDoc.DocumentElement();
    for (xml::Node item : ChildElements(list, "item")) {
        const TFieldParams field = FieldParams(item, false);
        const TArrayInfo array = ArrayInfo(item, "array");
        const TArrayInfo mask = ArrayInfo(item, "mask");
        if (GetIntAttribute(item, "active", 1) != 1) {
            position = checkedTotal(position + static_cast<long long>(field.size) * array.count);
            continue;
        }
        const xml::Node structNode = FindStruct(field.type);
        const xml::Node element = ValueDoc.CreateElement(field.name);
        for (int a = 0; a < array.count; ++a) {
            for (int m = 0; m < mask.count; ++m) {
                const xml::Node value = element.AppendNewElement("value");
                if (!array.name.empty())
                    value.SetAttribute(array.name, std::to_string(array.start + a));
                if (!mask.name.empty())
                    value.SetAttribute(mask.name, std::to_string(mask.start + m));
                if (structNode)
                    position = Decode(structNode, value, data, position, depth + 1);
                else
                    value.SetText(ReadField(data, position, field, m));
            }
            position = checkedTotal(static_cast<long long>(position) + field.size);
        }
        target.AppendChild(element);
    }
    return position;
}

// ------------------------------------------------------------------ encoding

Bytes TBinaryConfigModel::EncodeBlock(xml::Node block, xml::Node parent)
{
    Bytes out;
    CheckBlockBounds(block);
    try {
        Encode(block, parent, out, 0);
    } catch (EError &e) {
        if (!e.Where().empty())
            e.SetWhere(GetAttribute(block, "caption") + " / " + e.Where());
        throw;
    }
    return out;
}

void TBinaryConfigModel::Encode(xml::Node list, xml::Node parent, Bytes &out, int depth)
{
    checkNesting(depth, list);
    const xml::Node source = parent ? parent : ValueDoc.DocumentElement();
    auto append = [&out](const Bytes &bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); };
    const TChildIndex elements(source);
    for (xml::Node item : ChildElements(list, "item")) {
        const TFieldParams &field = WritingParams(item);
        const bool hasArray = HasAttribute(item, "array");
        const bool hasMask = HasAttribute(item, "mask");
        if (GetIntAttribute(item, "active", 1) != 1) {
            if (hasArray)
                throw EConfigError("Атрибут \"array\" несовместим с условием \"active=0\"");
            out.insert(out.end(), static_cast<std::size_t>(field.size), 0xFF);
            continue;
        }
        const xml::Node element = elements.Find(field.name);
        if (!element)
            missingItem(field.name);
        const xml::Node structNode = FindStruct(field.type);
        const TArrayInfo mask = ArrayInfo(item, "mask");
        // A value that fails names its parameter by captions; the index tells array elements apart.
        auto encodeValue = [&](std::optional<int> index, const std::function<void()> &encode) {
            try {
                encode();
            } catch (EError &e) {
                if (e.Where().empty()) {
                    std::string where = GetAttribute(item, "caption");
                    if (index)
                        where = GetAttribute(m_arrays[GetAttribute(item, "array")], "caption") + kNumberSign +
                                std::to_string(*index) + " / " + where;
                    e.SetWhere(where);
                }
                throw;
            }
        };

        // The mask elements of one array index (or of the item without array).
        auto packMask = [&](const TValueIndex &values, std::optional<int> index) {
            std::vector<std::string> texts;
            for (int k = 0; k < mask.count; ++k) {
                const xml::Node value = index ? values.Find(*index, mask.start + k) : values.Find(mask.start + k);
                if (!value)
                    missingValue(field.name, mask.name + " " + std::to_string(mask.start + k));
                texts.push_back(value.Text());
            }
            encodeValue(index, [&] { append(PackMaskElements(field, texts)); });
        };

        if (!hasArray) {
            if (hasMask) {
                packMask(TValueIndex(element, mask.name), std::nullopt);
                continue;
            }
            const xml::Node value = element.ChildElement("value");
            if (!value)
                missingValue(field.name, "value");
            if (structNode)
                Encode(structNode, value, out, depth + 1);
            else
                encodeValue(std::nullopt, [&] { append(WriteField(value.Text(), field)); });
            continue;
        }
        const TArrayInfo array = ArrayInfo(item, "array");
        const TValueIndex values(element, array.name, hasMask ? mask.name : std::string());
        for (int a = 0; a < array.count; ++a) {
            const int index = array.start + a;
            if (hasMask) {
                packMask(values, index);
                continue;
            }
            const xml::Node value = values.Find(index);
            if (!value)
                missingValue(field.name, array.name + " " + std::to_string(index));
            if (structNode)
                Encode(structNode, value, out, depth + 1);
            else
                encodeValue(index, [&] { append(WriteField(value.Text(), field)); });
        }
    }
}

// ------------------------------------------------------------------ the tree

void TBinaryConfigModel::FillTree(ITreeGrid &grid)
{
    grid.Clear();
    TUpdateBracket bracket(grid);
    if (!Device)
        return;
    const std::vector<xml::Node> arrays = ChildElements(Device, "array");
    const xml::Node config = ValueDoc.DocumentElement();
    for (xml::Node block : ChildElements(Device, "block")) {
        CheckBlockBounds(block);
        PVirtualNode node = AddTreeNode(grid, nullptr, nodeData(GetAttribute(block, "caption")));
        LayOut(grid, node, block, config, arrays, 0);
    }
}

void TBinaryConfigModel::LayOut(ITreeGrid &grid, PVirtualNode parent, xml::Node list, xml::Node itemsParent,
                                const std::vector<xml::Node> &arrays, int depth)
{
    checkNesting(depth, list);
    const std::vector<xml::Node> items = ChildElements(list, "item");
    const TChildIndex elements(itemsParent);
    auto elementOf = [&](xml::Node item) {
        const std::string &name = ParamInfo(item)->Name();
        const xml::Node element = elements.Find(name);
        if (!element)
            missingItem(name);
        return element;
    };

    // Array groups, in the order of the device's arrays.
    for (xml::Node arrayNode : arrays) {
        const std::string arrayName = GetAttribute(arrayNode, "name");
        std::vector<xml::Node> selected;
        bool ownGroup = false;
        for (xml::Node item : items) {
            const auto ownArray = item.Attribute("array");
            const auto maskArray = item.Attribute("mask");
            if (ownArray != arrayName && maskArray != arrayName)
                continue;
            selected.push_back(item);
            // Items with an array and a mask of another array belong to that mask's group.
            if (!maskArray || *maskArray == arrayName)
                ownGroup = true;
        }
        if (!ownGroup)
            continue;

        const std::string caption = GetAttribute(arrayNode, "caption");
        PVirtualNode group = AddTreeNode(grid, parent, nodeData(caption));
        const int start = GetIntAttribute(arrayNode, "start");
        const int count = GetIntAttribute(arrayNode, "count");
        if (count > kMaxBlockBytes)
            badCount(arrayName, count);
        if (count <= 0)
            continue;
        if (start > INT_MAX - (count - 1))
            throw EDescriptionError(Format("Массив \"%s\": недопустимый первый номер %d.", arrayName.c_str(), start),
                                    arrayName);

        // What each item of this group needs, looked up once for all indices.
        struct TGroupItem {
            xml::Node item;
            xml::Node structNode;
            bool masked = false;
            bool deactivator = false;
            std::string caption;
            TValueIndex values;
            std::optional<TArrayInfo> own; // masked items with an array of their own
            std::string ownCaption;
        };
        std::vector<TGroupItem> groupItems;
        bool anyDeactivator = false;
        for (xml::Node item : selected) {
            const auto maskArray = item.Attribute("mask");
            if (maskArray && *maskArray != arrayName)
                continue;
            const xml::Node element = elementOf(item);
            const xml::Node structNode = FindStruct(GetAttribute(item, "type", "int"));
            const bool masked = maskArray.has_value() && !structNode;
            const bool ownArray = masked && HasAttribute(item, "array");
            std::optional<TArrayInfo> own;
            std::string ownCaption;
            if (ownArray) {
                own = ArrayInfo(item, "array");
                ownCaption = GetAttribute(m_arrays.at(own->name), "caption");
            }
            const bool deactivator = HasAttribute(item, "deactivator");
            anyDeactivator = anyDeactivator || deactivator;
            groupItems.push_back({item, structNode, masked, deactivator, GetAttribute(item, "caption"),
                                  ownArray ? TValueIndex(element, own->name, arrayName) : TValueIndex(element, arrayName),
                                  own, ownCaption});
        }

        for (int offset = 0; offset < count; ++offset) {
            const int index = start + offset;
            TTreeData elementData = nodeData(caption + kNumberSign + std::to_string(index));
            elementData.Gray = anyDeactivator;
            elementData.Switched = anyDeactivator;
            PVirtualNode elementNode = AddTreeNode(grid, group, elementData);
            // An element is switched off while all its deactivators hold "0".
            auto addLeaf = [&](PVirtualNode under, const TTreeData &data) {
                if (data.Deactivator && !data.Value)
                    missingValue(GetAttribute(data.Description, "name"), arrayName + " " + std::to_string(index));
                AddTreeNode(grid, under, data);
                if (data.Deactivator && data.Value.Text() != "0")
                    grid.Data(elementNode).Gray = false;
            };
            for (const TGroupItem &g : groupItems) {
                if (g.structNode) {
                    const xml::Node value = g.values.Find(index);
                    if (!value)
                        missingValue(GetAttribute(g.item, "name"), arrayName + " " + std::to_string(index));
                    LayOut(grid, elementNode, g.structNode, value, arrays, depth + 1);
                } else if (g.masked && g.own) {
                    PVirtualNode maskedNode = AddTreeNode(grid, elementNode, nodeData(g.caption));
                    for (int k = 0; k < g.own->count; ++k) {
                        const int j = g.own->start + k;
                        TTreeData data = nodeData(g.ownCaption + kNumberSign + std::to_string(j));
                        data.Description = g.item;
                        data.Info = ParamInfo(g.item);
                        data.Value = g.values.Find(j, index);
                        data.Deactivator = g.deactivator;
                        addLeaf(maskedNode, data);
                    }
                } else {
                    TTreeData data = nodeData(g.caption);
                    data.Description = g.item;
                    data.Info = ParamInfo(g.item);
                    data.Value = g.values.Find(index);
                    // A masked item's own node never switches its element.
                    data.Deactivator = g.deactivator && !g.masked;
                    addLeaf(elementNode, data);
                }
            }
        }
    }

    // Plain items, in item order.
    for (xml::Node item : items) {
        if (HasAttribute(item, "array") || HasAttribute(item, "mask") || HasAttribute(item, "active"))
            continue;
        const xml::Node element = elementOf(item);
        TParamInfoPtr info = ParamInfo(item);
        TTreeData data = nodeData(info->Caption());
        const xml::Node structNode = FindStruct(info->Type());
        const xml::Node value = element.ChildElement("value");
        if (structNode && value) {
            // A struct's items are edited one by one, never its value as a whole.
            PVirtualNode node = AddTreeNode(grid, parent, std::move(data));
            LayOut(grid, node, structNode, value, arrays, depth + 1);
            continue;
        }
        data.Description = item;
        if (!structNode)
            data.Info = std::move(info);
        data.Value = value;
        AddTreeNode(grid, parent, std::move(data));
    }
}

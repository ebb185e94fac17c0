#include "model/model.h"

#include "model/errors.h"
#include "model/tools.h"

#include <algorithm>
#include <cctype>

namespace {

TModelFactory &factoryFor(bool xml)
{
    static TModelFactory xmlFactory;
    static TModelFactory binaryFactory;
    return xml ? xmlFactory : binaryFactory;
}

// XSLT identity transform writing windows-1251, indented.
constexpr const char *kIdentityTransform = R"xsl(<?xml version="1.0" encoding="utf-8"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="xml" encoding="windows-1251" indent="yes"/>
  <xsl:template match="@* | node()">
    <xsl:copy>
      <xsl:apply-templates select="@* | node()"/>
    </xsl:copy>
  </xsl:template>
</xsl:stylesheet>
)xsl";

const char *const kNoSettings = "Файл не содержит настроек устройства.";

[[noreturn]] void raiseLoadError(const std::string &fileName, const xml::ParseError &error)
{
    throw EXmlError(Format("Ошибка загрузки файла %s\r\nСтрока %d: %s\r\n%s", fileName.c_str(), error.line,
                           error.reason.c_str(), error.sourceText.c_str()),
                    error.line, error.reason, error.sourceText);
}

bool lowerCaseEquals(const std::string &a, const std::string &b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// A settings file's text, or none (error filled) when it would not parse back.
std::optional<std::string> settingsText(const xml::Document &values, xml::ParseError &error)
{
    const auto sheet = xml::Stylesheet::Parse(kIdentityTransform);
    std::string text = sheet.TransformToText(values);
    // Names outside the code page come out as character references, which no parser reads back.
    if (!xml::Document::Parse(text, error))
        return std::nullopt;
    return text;
}

xml::Document readSettingsFile(const std::string &fileName)
{
    xml::ParseError error;
    auto document = xml::Document::Load(PathFromUtf8(fileName), error);
    if (!document)
        raiseLoadError(fileName, error);
    return std::move(*document);
}

// The hw or sw attribute of a settings file's root.
int rootNumber(xml::Node root, const char *name)
{
    if (!HasAttribute(root, name))
        throw EConfigError(Format("В файле настроек нет атрибута \"%s\".", name));
    return GetIntAttribute(root, name);
}

} // namespace

// ----------------------------------------------------------------- catalogue

void RegisterConfigModel(bool xml, TModelFactory factory)
{
    factoryFor(xml) = std::move(factory);
}

std::vector<std::filesystem::path> CatalogueFiles(const std::filesystem::path &catalogueDir)
{
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(catalogueDir, ec), end; !ec && it != end; it.increment(ec)) {
        if (lowerCaseEquals(it->path().extension().string(), ".xml"))
            files.push_back(it->path());
    }
    std::sort(files.begin(), files.end(),
              [](const auto &a, const auto &b) { return a.filename().string() < b.filename().string(); });
    return files;
}

bool DeviceMatches(xml::Node device, int hw, int sw)
{
    const int low = GetIntAttribute(device, "sw_low", 0);
    const int high = GetIntAttribute(device, "sw_high", sw);
    return GetIntAttribute(device, "hw") == hw && low <= sw && sw <= high;
}

namespace {

// The first matching device element of one file; none when the file does not
// load, matches nothing, or breaks off at a malformed device element.
std::optional<TCatalogueMatch> matchInFile(const std::filesystem::path &file, int hw, int sw)
{
    xml::ParseError error;
    auto document = xml::Document::Load(file, error);
    if (!document)
        return std::nullopt;
    try {
        for (const xml::Node device : document->AsNode().Select("/devices/device")) {
            if (DeviceMatches(device, hw, sw))
                return TCatalogueMatch{file, std::move(*document), device};
        }
    } catch (const EError &) {
        // A malformed device element abandons the rest of its file.
    }
    return std::nullopt;
}

} // namespace

std::optional<TCatalogueMatch> FindInCatalogue(const std::filesystem::path &catalogueDir, int hw, int sw)
{
    for (const auto &file : CatalogueFiles(catalogueDir)) {
        if (auto match = matchInFile(file, hw, sw))
            return match;
    }
    return std::nullopt;
}

TConfigModelPtr CreateConfigModel(const std::filesystem::path &catalogueDir, std::uint16_t hw, std::uint16_t sw)
{
    for (const auto &file : CatalogueFiles(catalogueDir)) {
        auto match = matchInFile(file, hw, sw);
        if (!match)
            continue;
        const bool xml = GetAttribute(match->device, "format", "binary") == "xml";
        const TModelFactory &factory = factoryFor(xml);
        if (!factory)
            continue;
        try {
            return factory(catalogueDir, std::move(*match), hw, sw);
        } catch (const EError &) {
            // A description the model cannot be built from is skipped like a bad file.
        }
    }
    return nullptr;
}

TConfigModelPtr LoadSettingsFile(const std::string &fileName, const std::filesystem::path &catalogueDir)
{
    xml::Document document = readSettingsFile(fileName);
    const xml::Node root = document.AsNode().SelectSingle("/config");
    if (!root)
        throw EConfigError(kNoSettings);
    const int hw = rootNumber(root, "hw");
    const int sw = rootNumber(root, "sw");
    // A code no device can report has no description either.
    TConfigModelPtr model;
    if (hw >= 0 && hw <= 0xFFFF && sw >= 0 && sw <= 0xFFFF)
        model = CreateConfigModel(catalogueDir, static_cast<std::uint16_t>(hw), static_cast<std::uint16_t>(sw));
    if (!model)
        throw EConfigError(Format("Не найдено описание устройства. (код устройства %d).", hw));
    model->LoadFromDocument(std::move(document));
    return model;
}

// ------------------------------------------------------ TAbstractConfigModel

TAbstractConfigModel::TAbstractConfigModel(std::filesystem::path catalogueDir, TCatalogueMatch description,
                                           std::uint16_t hw, std::uint16_t sw)
    : m_catalogueDir(std::move(catalogueDir)), m_descriptionFile(std::move(description.file)),
      DescriptionDoc(std::move(description.document)), Device(description.device), m_describedFor(std::pair(hw, sw))
{
    ValueDoc.AppendProcessingInstruction("xml", "version=\"1.0\" encoding=\"utf-8\"");
    xml::Node config = ValueDoc.CreateElement("config");
    config.SetAttribute("hw", std::to_string(hw));
    config.SetAttribute("sw", std::to_string(sw));
    ValueDoc.SetDocumentElement(config);
}

bool TAbstractConfigModel::FindDescription(int hw, int sw)
{
    auto match = FindInCatalogue(m_catalogueDir, hw, sw);
    if (!match) {
        ForgetDescriptionIndex();
        Device = xml::Node();
        m_describedFor.reset();
        return false;
    }
    ForgetDescriptionIndex();
    DescriptionDoc = std::move(match->document);
    Device = match->device;
    m_descriptionFile = match->file;
    m_describedFor = std::pair(hw, sw);
    return true;
}

std::uint16_t TAbstractConfigModel::GetHardwareCode()
{
    return static_cast<std::uint16_t>(GetIntAttribute(ValueDoc.AsNode().SelectSingle("/config"), "hw"));
}

std::uint16_t TAbstractConfigModel::GetSoftwareVersion()
{
    return static_cast<std::uint16_t>(GetIntAttribute(ValueDoc.AsNode().SelectSingle("/config"), "sw"));
}

bool TAbstractConfigModel::IsCompatible(std::uint16_t hw, std::uint16_t sw)
{
    return Device && DeviceMatches(Device, hw, sw);
}

void TAbstractConfigModel::LoadFromFile(const std::string &fileName)
{
    LoadFromDocument(readSettingsFile(fileName));
}

void TAbstractConfigModel::LoadFromDocument(xml::Document values)
{
    ValueDoc = std::move(values);
    const xml::Node root = ValueDoc.AsNode().SelectSingle("/config");
    if (!root)
        throw EConfigError(kNoSettings);
    const int hw = rootNumber(root, "hw");
    const int sw = rootNumber(root, "sw");
    // The description found for these codes stays: the catalogue is read again only for another device.
    const bool described = Device && m_describedFor == std::pair(hw, sw);
    if (!described && !FindDescription(hw, sw))
        throw EConfigError(Format("Не найдено описание устройства (код устройства %d).", hw));
}

void TAbstractConfigModel::SaveToFile(const std::string &fileName)
{
    xml::ParseError error;
    const std::optional<std::string> text = settingsText(ValueDoc, error);
    if (!text)
        throw EConfigError(Format("Не удалось записать файл %s: настройки содержат имена, которых нет в кодировке "
                                  "windows-1251 (строка %d: %s).",
                                  fileName.c_str(), error.line, error.reason.c_str()));
    WriteFileAtomically(PathFromUtf8(fileName), *text);
}

std::string TAbstractConfigModel::SettingsText()
{
    xml::ParseError error;
    const std::optional<std::string> text = settingsText(ValueDoc, error);
    if (!text)
        throw EConfigError(Format("Настройки содержат имена, которых нет в кодировке windows-1251 (строка %d: %s).",
                                  error.line, error.reason.c_str()));
    return *text;
}

int TAbstractConfigModel::GetBlockCount()
{
    return Device ? static_cast<int>(Device.Select("block").size()) : 0;
}

xml::Node TAbstractConfigModel::GetBlock(int index)
{
    if (!Device || index < 0)
        return xml::Node();
    const auto blocks = Device.Select("block");
    return index < static_cast<int>(blocks.size()) ? blocks[static_cast<std::size_t>(index)] : xml::Node();
}

xml::Node TAbstractConfigModel::FindEnum(const std::string &name)
{
    if (!Device)
        return xml::Node();
    if (!m_enumsIndexed) {
        for (xml::Node child = Device.FirstChild(); child; child = child.NextSibling())
            if (child.IsElement() && child.Name() == "enum")
                if (const auto enumName = child.Attribute("name"))
                    m_enums.emplace(*enumName, child);
        m_enumsIndexed = true;
    }
    const auto it = m_enums.find(name);
    return it == m_enums.end() ? xml::Node() : it->second;
}

TParamInfoPtr TAbstractConfigModel::ParamInfo(xml::Node item)
{
    auto &info = m_paramInfos[item.Raw()];
    if (!info) {
        const std::string type = ItemType(item);
        info = std::make_shared<const TParamInfo>(item, IsBuiltInType(type) ? xml::Node() : FindEnum(type),
                                                  Storage());
    }
    return info;
}

void TAbstractConfigModel::ForgetDescriptionIndex()
{
    m_enums.clear();
    m_paramInfos.clear();
    m_enumsIndexed = false;
}

bool TAbstractConfigModel::NeedsPassword()
{
    return HasAttribute(Device, "pswd");
}

xml::Node TAbstractConfigModel::FindArray(const std::string &name)
{
    return Device ? Device.SelectSingle("array[@name=" + XPathLiteral(name) + "]") : xml::Node();
}

int TAbstractConfigModel::GetArrayStart(const std::string &name)
{
    return GetIntAttribute(FindArray(name), "start");
}

int TAbstractConfigModel::GetArrayCount(const std::string &name)
{
    return GetIntAttribute(FindArray(name), "count");
}

xml::Document TAbstractConfigModel::NewValueDocument()
{
    xml::Document document;
    document.AppendProcessingInstruction("xml", "version=\"1.0\" encoding=\"windows-1251\"");
    xml::Node config = document.CreateElement("config");
    config.SetAttribute("hw", std::to_string(GetHardwareCode()));
    config.SetAttribute("sw", std::to_string(GetSoftwareVersion()));
    document.SetDocumentElement(config);
    return document;
}

// --------------------------------------------------------------------- files

std::filesystem::path PathFromUtf8(const std::string &fileName)
{
    return std::filesystem::path(std::u8string(fileName.begin(), fileName.end()));
}

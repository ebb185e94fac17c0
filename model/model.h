#pragma once

#include "link/bytes.h"
#include "model/tree_grid.h"
#include "model/xml.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <string>
#include <utility>

// The largest block image the link can address: its offsets are 16 bits, and the
// request at the last offset brings one more chunk. Descriptions asking for more
// counts, field widths or block sizes are refused before anything is allocated.
inline constexpr int kMaxChunkBytes = 248;
inline constexpr int kMaxBlockBytes = 0xFFFF + kMaxChunkBytes;

// A device's configuration as the shell sees it. All calls come from one thread.
class IConfigModel {
public:
    virtual ~IConfigModel() = default;

    virtual void FillTree(ITreeGrid &grid) = 0;
    virtual std::uint16_t GetHardwareCode() = 0;
    virtual std::uint16_t GetSoftwareVersion() = 0;
    virtual bool IsCompatible(std::uint16_t hw, std::uint16_t sw) = 0;
    // Reads a settings file and takes its values (LoadFromDocument).
    virtual void LoadFromFile(const std::string &fileName) = 0;
    // Takes the values of a settings file that is already read, so that
    // opening one reads it once; raises EConfigError when the document holds
    // no settings or names a device without description. Models that check
    // values of their own do it here.
    virtual void LoadFromDocument(xml::Document values) = 0;
    virtual void SaveToFile(const std::string &fileName) = 0;
    // The bytes SaveToFile writes; raises EConfigError when they could not be read back.
    virtual std::string SettingsText() = 0;
    virtual int GetBlockCount() = 0;
    // Expected image size of a block; 0 when the model does not check sizes.
    virtual int BlockSize(xml::Node block) = 0;
    // Stores a received block; returns the position after it (from start, counting from 1).
    virtual int DecodeBlock(xml::Node block, xml::Node parent, const Bytes &data, int start) = 0;
    virtual Bytes EncodeBlock(xml::Node block, xml::Node parent) = 0;
    virtual void AddArrayItem(ITreeGrid &grid, PVirtualNode node) = 0;
    virtual void DeleteArrayItem(ITreeGrid &grid, PVirtualNode node) = 0;
    virtual xml::Node GetBlock(int index) = 0;
    virtual bool PreparePopupMenu(ITreeGrid &grid, PVirtualNode node) = 0;
    virtual xml::Node FindEnum(const std::string &name) = 0;
    virtual bool NeedsPassword() = 0;

    // The value document, the device element and the catalogue file holding it.
    virtual xml::Document &ValueDocument() = 0;
    virtual xml::Node DeviceElement() = 0;
    virtual std::filesystem::path DescriptionFile() = 0;
};

using TConfigModelPtr = std::shared_ptr<IConfigModel>;

// A device element of the catalogue, with the file and the document holding it.
struct TCatalogueMatch {
    std::filesystem::path file;
    xml::Document document;
    xml::Node device;
};

// What both models share: the description, the value document, and the
// operations that do not depend on how the device stores its configuration.
class TAbstractConfigModel : public IConfigModel {
public:
    // Keeps the description the catalogue matched for the given hardware
    // code and version and starts an empty value document for them. The
    // folder serves settings files of other devices (LoadFromDocument).
    TAbstractConfigModel(std::filesystem::path catalogueDir, TCatalogueMatch description, std::uint16_t hw,
                         std::uint16_t sw);

    std::uint16_t GetHardwareCode() override;
    std::uint16_t GetSoftwareVersion() override;
    bool IsCompatible(std::uint16_t hw, std::uint16_t sw) override;
    void LoadFromFile(const std::string &fileName) override;
    void LoadFromDocument(xml::Document values) override;
    void SaveToFile(const std::string &fileName) override;
    std::string SettingsText() override;
    int GetBlockCount() override;
    xml::Node GetBlock(int index) override;
    // The first enumeration of the device with that name.
    xml::Node FindEnum(const std::string &name) override;
    bool NeedsPassword() override;
    // The meaning of an item element: made once per item and shared by every
    // row that shows it.
    TParamInfoPtr ParamInfo(xml::Node item);
    xml::Document &ValueDocument() override { return ValueDoc; }
    xml::Node DeviceElement() override { return Device; }
    std::filesystem::path DescriptionFile() override { return m_descriptionFile; }

    // Finds the matching device element in the catalogue and keeps its file.
    bool FindDescription(int hw, int sw);

    int GetArrayStart(const std::string &name);
    int GetArrayCount(const std::string &name);
    // A fresh document declaring windows-1251, with an empty config root.
    xml::Document NewValueDocument();

protected:
    xml::Node FindArray(const std::string &name);
    // Drops what was read from the previous description; models that keep more extend it.
    virtual void ForgetDescriptionIndex();
    // How this model's devices keep their values.
    virtual TStorage Storage() const { return TStorage::Binary; }

    std::filesystem::path m_catalogueDir;
    std::filesystem::path m_descriptionFile;
    std::optional<xml::Document> DescriptionDoc;
    xml::Document ValueDoc;
    xml::Node Device;
    // The hardware code and version Device was found for.
    std::optional<std::pair<int, int>> m_describedFor;

private:
    // Enumerations by name and item meanings by element, for the description Device is in.
    std::unordered_map<std::string, xml::Node> m_enums;
    std::unordered_map<const void *, TParamInfoPtr> m_paramInfos;
    bool m_enumsIndexed = false;
};

// Creates the model of a device element's storage format from the element
// the catalogue matched, so that the catalogue is not searched again.
using TModelFactory = std::function<TConfigModelPtr(const std::filesystem::path &catalogueDir,
                                                    TCatalogueMatch description, std::uint16_t hw, std::uint16_t sw)>;

// Registers the model for `format` "xml" (xml true) or for every other format.
void RegisterConfigModel(bool xml, TModelFactory factory);

// The catalogue files of a folder, sorted by name: the order of the first-match rule.
std::vector<std::filesystem::path> CatalogueFiles(const std::filesystem::path &catalogueDir);

// The first device element matching hw and sw, with the document holding it.
// Files that do not load, and the rest of a file after a malformed device
// element, are skipped silently.
std::optional<TCatalogueMatch> FindInCatalogue(const std::filesystem::path &catalogueDir, int hw, int sw);

// The matching rule of one device element.
bool DeviceMatches(xml::Node device, int hw, int sw);

// The model for a device, or none when no description matches. Reads each
// catalogue file at most once.
TConfigModelPtr CreateConfigModel(const std::filesystem::path &catalogueDir, std::uint16_t hw, std::uint16_t sw);

// Opens a settings file, reading it once and each catalogue file at most once;
// raises EError with the user's message on failure.
TConfigModelPtr LoadSettingsFile(const std::string &fileName, const std::filesystem::path &catalogueDir);

// The folder of the running executable, where the catalogue lives.
std::filesystem::path ExecutableDir();

// Writes bytes to path through a temporary file in the same folder renamed
// over it, so the target is either the old or the new file, never half of one.
// A symbolic link is written through (the file it names is replaced and the
// link stays); the old file's mode and, where permitted, owner are kept; a
// file without write permission is refused. The temporary file is created
// exclusively, under an unpredictable name ".<name>.cfgtmp-XXXXXXXX", and
// synced before the rename, the folder after it; those left behind by a killed
// save of the same file are removed. Every failure raises EConfigError
// "Не удалось записать файл <path>: <reason>". One implementation per platform
// (files_posix.cpp, files_win32.cpp).
void WriteFileAtomically(const std::filesystem::path &path, const std::string &bytes);

// A file name given as UTF-8 text.
std::filesystem::path PathFromUtf8(const std::string &fileName);

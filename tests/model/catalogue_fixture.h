#pragma once

#include "model/model.h"

#include <filesystem>
#include <functional>
#include <string>

// A scratch folder for catalogue, settings and image files, removed afterwards.
class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir &) = delete;
    TTempDir &operator=(const TTempDir &) = delete;

    const std::filesystem::path &Path() const { return m_path; }
    std::string File(const std::string &name) const { return (m_path / name).string(); }
    // Writes a file (bytes as given) and returns its path.
    std::string Write(const std::string &name, const std::string &bytes) const;
    std::string Read(const std::string &name) const;

private:
    std::filesystem::path m_path;
};

// A whole file as bytes; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path &path);

// What a call raises: the class of the exception and the text the user would
// see ("EConfigError: ..."), or "no error".
std::string FailureOf(const std::function<void()> &call);
// Only the text, or "no error".
std::string MessageOf(const std::function<void()> &call);

// A model with nothing of its own, for testing what the base class shares.
class TPlainTestModel : public TAbstractConfigModel {
public:
    using TAbstractConfigModel::TAbstractConfigModel;
    void FillTree(ITreeGrid &) override {}
    int BlockSize(xml::Node) override { return 0; }
    int DecodeBlock(xml::Node, xml::Node, const Bytes &, int start) override { return start; }
    Bytes EncodeBlock(xml::Node, xml::Node) override { return {}; }
    void AddArrayItem(ITreeGrid &, PVirtualNode) override {}
    void DeleteArrayItem(ITreeGrid &, PVirtualNode) override {}
    bool PreparePopupMenu(ITreeGrid &, PVirtualNode) override { return false; }
};

// Registers TPlainTestModel for both formats.
void RegisterPlainTestModels();

// A document from text that must parse; an empty one, with a failure, when it does not.
xml::Document ParseOrFail(std::string_view text, const char *encoding = nullptr);

// "Billion laughs": a document type whose entities expand to 10^10
// characters, named for a root element; a parser must refuse to expand it.
std::string BillionLaughsDoctype(const std::string &root);

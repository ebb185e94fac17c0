#include "tests/model/catalogue_fixture.h"

#include "model/errors.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>

TTempDir::TTempDir()
{
    std::random_device random;
    m_path = std::filesystem::temp_directory_path() / ("configurator-test-" + std::to_string(random()));
    std::filesystem::create_directories(m_path);
}

TTempDir::~TTempDir()
{
    std::error_code ignored;
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(m_path, ignored);
}

std::string TTempDir::Write(const std::string &name, const std::string &bytes) const
{
    const auto path = m_path / name;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    return path.string();
}

std::string TTempDir::Read(const std::string &name) const
{
    return ReadFile(m_path / name);
}

std::string ReadFile(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string FailureOf(const std::function<void()> &call)
{
    try {
        call();
    } catch (const EError &e) {
        return std::string(e.ClassName()) + ": " + e.what();
    }
    return "no error";
}

std::string MessageOf(const std::function<void()> &call)
{
    const std::string failure = FailureOf(call);
    return failure == "no error" ? failure : failure.substr(failure.find(": ") + 2);
}

void RegisterPlainTestModels()
{
    for (const bool xml : {false, true})
        RegisterConfigModel(xml, [](const std::filesystem::path &dir, TCatalogueMatch description, std::uint16_t hw,
                                    std::uint16_t sw) {
            return std::make_shared<TPlainTestModel>(dir, std::move(description), hw, sw);
        });
}

xml::Document ParseOrFail(std::string_view text, const char *encoding)
{
    xml::ParseError error;
    auto document = xml::Document::Parse(text, error, encoding);
    EXPECT_TRUE(document) << "line " << error.line << ": " << error.reason;
    return document ? std::move(*document) : xml::Document();
}

std::string BillionLaughsDoctype(const std::string &root)
{
    std::string doctype = "<!DOCTYPE " + root + " [<!ENTITY a \"aaaaaaaaaa\">";
    for (char c = 'b'; c <= 'k'; ++c) {
        doctype += std::string("<!ENTITY ") + c + " \"";
        for (int i = 0; i < 10; ++i)
            doctype += std::string("&") + char(c - 1) + ";";
        doctype += "\">";
    }
    return doctype + "]>";
}

// Settings files the fuzz targets found to misbehave, kept as they were found.
#include "model/errors.h"
#include "model/model.h"
#include "tests/model/catalogue_fixture.h"

#include <gtest/gtest.h>

namespace {

class SettingsFuzzRegressionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegisterPlainTestModels();
        dir.Write("catalogue/device.xml", R"(<devices><device hw="5"/></devices>)");
    }

    std::filesystem::path catalogue() const { return dir.Path() / "catalogue"; }

    // A settings file the program saved must open again; refusing to save it is the only alternative.
    void expectSavedFileOpensAgain(const std::string &settings)
    {
        const auto model = LoadSettingsFile(dir.Write("in.cfg", settings), catalogue());
        ASSERT_TRUE(model);
        const std::string saved = dir.File("saved.cfg");
        try {
            model->SaveToFile(saved);
        } catch (const EError &) {
            EXPECT_FALSE(std::filesystem::exists(saved));
            return;
        }
        EXPECT_NO_THROW(LoadSettingsFile(saved, catalogue())) << dir.Read("saved.cfg");
    }

    TTempDir dir;
};

} // namespace

// fuzz_settings: an attribute name outside windows-1251 was saved as a character reference, which is not XML.
TEST_F(SettingsFuzzRegressionTest, AttributeNameOutsideTheCodePage_SavedFileOpensAgain)
{
    expectSavedFileOpensAgain("<?xml version=\"1.\" encoding=\"windows1252\"?><config hw=\"5\" sw=\"300\">"
                              "<value a\xFF=\"\"></value></config>");
}

// The same for an element name, from a UTF-8 file.
TEST_F(SettingsFuzzRegressionTest, ElementNameOutsideTheCodePage_SavedFileOpensAgain)
{
    expectSavedFileOpensAgain("<?xml version=\"1.0\" encoding=\"utf-8\"?><config hw=\"5\" sw=\"300\">"
                              "<x\xC3\xBF/></config>");
}

// Hostile documents in every place the program reads XML: settings files,
// catalogue files and the block texts of XML devices. Each must fail with a
// message (catalogue files: be skipped), read no local file and change nothing.
#include "model/errors.h"
#include "model/tools.h"
#include "model_bin/model_bin.h"
#include "model_xml/model_xml.h"
#include "tests/model/catalogue_fixture.h"

#include <gtest/gtest.h>

namespace {

const char *const kSecret = "TOP-SECRET-CONTENT";

struct THostile {
    const char *what;
    std::string body; // the inside of a config or devices root
    std::string prolog;
};

std::vector<THostile> hostileDocuments(const std::string &secretFile)
{
    const std::string laughs = BillionLaughsDoctype("r");
    std::string deep;
    for (int i = 0; i < 100000; ++i)
        deep += "<a>";
    return {
        {"external entity", "<p>&x;</p>", "<!DOCTYPE r [<!ENTITY x SYSTEM \"file://" + secretFile + "\">]>"},
        {"external parameter entity", "<p/>", "<!DOCTYPE r [<!ENTITY % x SYSTEM \"file://" + secretFile + "\"> %x;]>"},
        {"billion laughs", "<p>&k;</p>", laughs},
        {"100,000 levels", deep, ""},
        {"50 MB attribute", "<p v=\"" + std::string(50 * 1024 * 1024, 'x') + "\"/>", ""},
        {"invalid UTF-8", "<p>\xFF\xFE\xC3</p>", ""},
        {"NUL byte", std::string("<p>a\0b</p>", 10), ""},
        {"unknown encoding", "<p/>", "ENCODING:x-no-such-encoding"},
    };
}

// A whole document around body with root as its root element.
std::string document(const THostile &h, const std::string &root, const std::string &attributes)
{
    std::string declaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
    std::string prolog = h.prolog;
    if (prolog.rfind("ENCODING:", 0) == 0) {
        declaration = "<?xml version=\"1.0\" encoding=\"" + prolog.substr(9) + "\"?>\n";
        prolog.clear();
    }
    // The doctype must name the root.
    if (const auto at = prolog.find("<!DOCTYPE r "); at != std::string::npos)
        prolog.replace(at, 12, "<!DOCTYPE " + root + " ");
    return declaration + prolog + "\n<" + root + attributes + ">" + h.body + "</" + root + ">";
}

class HostileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegisterBinaryConfigModel();
        RegisterXmlConfigModel();
        secret = dir.Write("secret.txt", kSecret);
    }
    TTempDir dir;
    std::string secret;
};

} // namespace

TEST_F(HostileTest, SettingsFilesFailWithTheirMessage)
{
    dir.Write("catalogue/d.xml", "<devices><device hw=\"5\"/></devices>");
    for (const THostile &h : hostileDocuments(secret)) {
        const std::string file = dir.Write("hostile.cfg", document(h, "config", " hw=\"5\" sw=\"1\""));
        try {
            const TConfigModelPtr model = LoadSettingsFile(file, dir.Path() / "catalogue");
            // Loaded at all: then without anything from outside.
            EXPECT_EQ(model->ValueDocument().Save().find(kSecret), std::string::npos) << h.what;
            model->SaveToFile(dir.File("out.cfg"));
            EXPECT_EQ(dir.Read("out.cfg").find(kSecret), std::string::npos) << h.what;
        } catch (const EError &e) {
            EXPECT_EQ(std::string(e.what()).rfind("Ошибка загрузки файла " + file, 0), 0u) << h.what << ": " << e.what();
            EXPECT_EQ(std::string(e.what()).find(kSecret), std::string::npos) << h.what;
        }
    }
}

TEST_F(HostileTest, CatalogueFilesAreSkipped)
{
    dir.Write("catalogue/z-good.xml", "<devices><device hw=\"5\" id=\"good\"/></devices>");
    for (const THostile &h : hostileDocuments(secret)) {
        const std::string body = h.body + "<device hw=\"5\" id=\"hostile\"/>";
        dir.Write("catalogue/a-hostile.xml", document({h.what, body, h.prolog}, "devices", ""));
        const TConfigModelPtr model = CreateConfigModel(dir.Path() / "catalogue", 5, 1);
        ASSERT_TRUE(model) << h.what;
        const std::string chosen = GetAttribute(model->DeviceElement(), "id");
        // A document that loads despite its prolog may describe the device; its secrets stay out.
        EXPECT_TRUE(chosen == "good" || chosen == "hostile") << h.what;
        EXPECT_EQ(model->ValueDocument().Save().find(kSecret), std::string::npos) << h.what;
    }
}

TEST_F(HostileTest, XmlBlockTextsFailAndChangeNothing)
{
    dir.Write("catalogue/x.xml", R"(<devices><device hw="7" format="xml"><block><item name="p"/></block></device></devices>)");
    int refused = 0;
    for (const THostile &h : hostileDocuments(secret)) {
        const TConfigModelPtr model = CreateConfigModel(dir.Path() / "catalogue", 7, 1);
        ASSERT_TRUE(model);
        model->DecodeBlock(model->GetBlock(0), xml::Node(), ToBytes("<config><p>1</p></config>"), 1);
        const std::string before = model->ValueDocument().Save();
        try {
            model->DecodeBlock(model->GetBlock(0), xml::Node(), ToBytes(document(h, "config", "")), 1);
        } catch (const EError &e) {
            ++refused;
            EXPECT_EQ(model->ValueDocument().Save(), before) << h.what;
            EXPECT_EQ(std::string(e.what()).find(kSecret), std::string::npos) << h.what;
            continue;
        }
        // Block texts are Windows-1251 whatever they declare, so some of these are plain texts there.
        EXPECT_EQ(model->ValueDocument().Save().find(kSecret), std::string::npos) << h.what;
    }
    EXPECT_GE(refused, 5);
}

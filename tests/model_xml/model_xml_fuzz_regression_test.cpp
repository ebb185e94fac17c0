// Settings the fuzz targets found to misbehave, kept as they were found.
#include "model/errors.h"
#include "model_xml/model_xml.h"
#include "tests/model/catalogue_fixture.h"

#include <gtest/gtest.h>

// fuzz_settings: a parameter holding an element named outside windows-1251 went to the device as a
// character reference in the tag, a text no XML parser (the device's or ours) reads.
TEST(XmlFuzzRegressionTest, ElementNameOutsideTheCodePage_BlockTextReadsBack)
{
    RegisterXmlConfigModel();
    TTempDir dir;
    const std::string file = dir.Write("in.cfg", "<?xml version=\"1.0\" encoding=\"utf-8\"?><config hw=\"7\" sw=\"120\">"
                                                 "<Period>1</Period><Phones><phone><Number>1</Number><n\xC3\xA9/>"
                                                 "</phone></Phones></config>");
    const TConfigModelPtr model = LoadSettingsFile(file, CATALOGUE_DIR);
    ASSERT_TRUE(model);
    Bytes text;
    try {
        text = model->EncodeBlock(model->GetBlock(1), xml::Node());
    } catch (const EError &) {
        return; // refusing to send it is the only alternative
    }
    const TConfigModelPtr device = CreateConfigModel(CATALOGUE_DIR, 7, 120);
    ASSERT_TRUE(device);
    EXPECT_NO_THROW(device->DecodeBlock(device->GetBlock(1), xml::Node(), text, 1)) << ToString(text);
}

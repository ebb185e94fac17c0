// Descriptions and images the fuzz targets found to misbehave, kept as they were found.
#include "model/errors.h"
#include "model/tools.h"
#include "model_bin/model_bin.h"
#include "tests/model/catalogue_fixture.h"

#include <gtest/gtest.h>

namespace {

class BinaryFuzzRegressionTest : public ::testing::Test {
protected:
    void SetUp() override { RegisterBinaryConfigModel(); }

    TConfigModelPtr modelOf(const std::string &catalogueText)
    {
        dir.Write("device.xml", catalogueText);
        auto model = CreateConfigModel(dir.Path(), 1, 0);
        EXPECT_TRUE(model);
        return model;
    }

    TTempDir dir;
};

} // namespace

// fuzz_binary_random: the grid counted the indices of an array starting at 2147483647 past the largest int.
TEST_F(BinaryFuzzRegressionTest, FillTree_ArrayStartingAtTheLargestInt_IsADescriptionError)
{
    auto model = modelOf(
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        "<devices><device hw=\"1\" sw_low=\"0\"><block caption=\"b\"><item name=\"i0\" caption=\"c\" size=\"3\" "
        "deactivator=\"\"/><item name=\"i0\" caption=\"c\" type=\"ip_string\" mask=\"a0\" deactivator=\"\"/></block>"
        "<block caption=\"b\"></block><array name=\"a0\" caption=\"a\" start=\"2147483647\" count=\"3\"/>"
        "<array name=\"a1\" caption=\"a\" start=\"2147483640\"/><enum name=\"mode\"><choice value=\"0\" "
        "caption=\"zero\"/><choice value=\"1\" caption=\"one\"/></enum></device></devices>\n");
    // The ip_string item has no width, so only the first item reaches the value document.
    EXPECT_THROW(model->DecodeBlock(model->GetBlock(0), xml::Node(), {0x14, 0xA8, 0xC0}, 1), EDescriptionError);
    TTreeGrid grid;
    EXPECT_THROW(model->FillTree(grid), EDescriptionError);
}

// The same array start, met while decoding: the second index is past the largest int.
TEST_F(BinaryFuzzRegressionTest, DecodeBlock_ArrayStartingAtTheLargestInt_IsADescriptionError)
{
    auto model = modelOf(R"(<devices><device hw="1"><block><item name="x" size="1" array="a"/></block>
                            <array name="a" start="2147483647" count="2"/></device></devices>)");
    EXPECT_THROW(model->DecodeBlock(model->GetBlock(0), xml::Node(), {1, 2}, 1), EDescriptionError);
}

// ... and while encoding, once the value of the first index has been written.
TEST_F(BinaryFuzzRegressionTest, EncodeBlock_ArrayStartingAtTheLargestInt_IsADescriptionError)
{
    auto model = modelOf(R"(<devices><device hw="1"><block><item name="x" size="1" array="a"/></block>
                            <array name="a" start="2147483647" count="2"/></device></devices>)");
    const xml::Node value = model->ValueDocument().DocumentElement().AppendNewElement("x").AppendNewElement("value");
    value.SetAttribute("a", "2147483647");
    value.SetText("1");
    EXPECT_THROW(model->EncodeBlock(model->GetBlock(0), xml::Node()), EDescriptionError);
}

// An array ending exactly at the largest int is still usable.
TEST_F(BinaryFuzzRegressionTest, ArrayEndingAtTheLargestInt_Works)
{
    auto model = modelOf(R"(<devices><device hw="1"><block><item name="x" size="1" array="a"/></block>
                            <array name="a" caption="A" start="2147483646" count="2"/></device></devices>)");
    const xml::Node block = model->GetBlock(0);
    EXPECT_EQ(model->DecodeBlock(block, xml::Node(), {1, 2}, 1), 3);
    EXPECT_EQ(model->EncodeBlock(block, xml::Node()), (Bytes{1, 2}));
    TTreeGrid grid;
    model->FillTree(grid);
    EXPECT_EQ(TreeText(grid), "\n  A\n    A \u21162147483646\n       = 1\n    A \u21162147483647\n       = 2\n");
}

// fuzz_binary_random: structs nested 30 deep, each using the next one twice in an empty array, were measured
// over and over, 2^30 times, before anything was decoded.
TEST_F(BinaryFuzzRegressionTest, StructsUsedManyTimesAreMeasuredOnce)
{
    std::string structs;
    constexpr int kDepth = 30;
    for (int level = 0; level < kDepth; ++level) {
        const std::string next = "s" + std::to_string(level + 1);
        structs += "<struct name=\"s" + std::to_string(level) + "\"><item name=\"a\" type=\"" + next +
                   "\" array=\"none\"/><item name=\"b\" type=\"" + next + "\" array=\"none\"/></struct>";
    }
    structs += "<struct name=\"s" + std::to_string(kDepth) + "\"><item name=\"v\" size=\"1\"/></struct>";
    auto model = modelOf("<devices><device hw=\"1\" sw_low=\"0\"><block><item name=\"top\" type=\"s0\"/></block>" +
                         structs + "<array name=\"none\" caption=\"n\" start=\"1\" count=\"0\"/></device></devices>");
    // Every struct but the last holds only empty arrays: a byte per element, none of them there.
    EXPECT_EQ(model->BlockSize(model->GetBlock(0)), 0);
    EXPECT_NO_THROW(model->DecodeBlock(model->GetBlock(0), xml::Node(), {}, 1));
}

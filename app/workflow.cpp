#include "app/workflow.h"

#include "model/errors.h"
#include "model_bin/model_bin.h"

void RegisterConfigModels()
{
    RegisterBinaryConfigModel();
}

void DecodeBlocks(IConfigModel &model, const std::vector<Bytes> &images)
{
    const int count = model.GetBlockCount();
    if (static_cast<int>(images.size()) != count)
        throw EConfigError(Format("Устройство описано %d блоками, получено %d.", count, static_cast<int>(images.size())));
    for (int block = 0; block < count; ++block) {
        const xml::Node node = model.GetBlock(block);
        const Bytes &image = images[static_cast<std::size_t>(block)];
        const int expected = model.BlockSize(node);
        if (expected != 0 && expected != static_cast<int>(image.size()))
            throw EConfigError(Format("error: %d bytes read, %d expected", static_cast<int>(image.size()), expected));
        model.DecodeBlock(node, xml::Node(), image, 1);
    }
}

std::vector<Bytes> EncodeBlocks(IConfigModel &model)
{
    std::vector<Bytes> images;
    const int count = model.GetBlockCount();
    for (int block = 0; block < count; ++block)
        images.push_back(model.EncodeBlock(model.GetBlock(block), xml::Node()));
    return images;
}

#include "app/workflow.h"

#include "model/catalogue_check.h"
#include "model/errors.h"
#include "model_bin/model_bin.h"
#include "model_xml/model_xml.h"

#include <algorithm>
#include <thread>

namespace {

// A chunk size of 0 would never end a block: such a device is not usable.
void requireConnected(const TDeviceState &device)
{
    if (!device.connected || device.chunkSize == 0)
        throw EConfigError(kMsgNotConnected);
}

} // namespace

bool RequestWithRetries(IDeviceLink &link, int attempts, std::uint8_t kind, std::int32_t block, std::int32_t offset,
                        Bytes &data, const std::function<void(int attempt)> &beforeEach)
{
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        link.Pause(kRequestPause);
        if (beforeEach)
            beforeEach(attempt);
        Bytes answer = data;
        if (link.Request(kind, block, offset, answer) == rsOk) {
            data = std::move(answer);
            return true;
        }
    }
    return false;
}

std::string KeyCodeText(const std::string &type, const Bytes &code)
{
    std::string text;
    for (const std::uint8_t byte : code) {
        if (type == "hex_array")
            text += Format("%.2X", byte);
        else if (type == "dec_array")
            text += std::to_string(byte);
    }
    return text;
}

void RegisterConfigModels()
{
    RegisterBinaryConfigModel();
    RegisterXmlConfigModel();
}

std::uint8_t TPortLink::Request(std::uint8_t kind, std::int32_t block, std::int32_t offset, Bytes &data)
{
    return m_port.Request(kind, block, offset, data);
}

void TPortLink::Pause(std::chrono::milliseconds duration)
{
    std::this_thread::sleep_for(duration);
}

Bytes PasswordBytes(const std::string &field)
{
    Bytes bytes(3, 0);
    std::size_t position = 0;
    for (std::size_t i = 0; i < bytes.size() && position < field.size(); ++i) {
        const bool pair = field.size() - position >= 2;
        const std::string digits = pair ? field.substr(position, 2) : field.substr(position, 1) + "0";
        bytes[i] = static_cast<std::uint8_t>(StrToInt("$" + digits));
        position += pair ? 2 : 1;
    }
    return bytes;
}

void SendPassword(IDeviceLink &link, const std::string &passwordField)
{
    Bytes data = PasswordBytes(passwordField);
    if (!RequestWithRetries(link, kReadAttempts, opPassword, 0, 0, data))
        throw EConfigError(kMsgNoLink);
    // An answer without data refuses nothing; only a first byte of 1 does.
    if (!data.empty() && data[0] == 1)
        throw EConfigError(kMsgWrongPassword);
}

TConfigModelPtr ReadConfiguration(IDeviceLink &link, const TDeviceState &device, const std::string &passwordField,
                                  const std::filesystem::path &catalogueDir, const TProgress &progress)
{
    requireConnected(device);
    TConfigModelPtr model = CreateConfigModel(catalogueDir, device.hardwareCode, device.softwareVersion);
    if (!model)
        throw EConfigError(kMsgNoDescription);
    if (model->NeedsPassword())
        SendPassword(link, passwordField);
    const int count = model->GetBlockCount();
    for (int block = 0; block < count; ++block) {
        Bytes image;
        Bytes chunk;
        do {
            chunk.clear();
            const auto show = [&](int attempt) {
                if (progress)
                    progress(Format("%d/%d #%d", block, count, attempt));
            };
            if (!RequestWithRetries(link, kReadAttempts, opReadBlock, block, static_cast<std::int32_t>(image.size()), chunk,
                                    show))
                throw EConfigError(kMsgNoLink);
            image.insert(image.end(), chunk.begin(), chunk.end());
        } while (chunk.size() >= device.chunkSize);
        ExplainDescriptionFailure(*model, [&] { DecodeBlock(*model, block, image); });
    }
    return model;
}

void WriteConfiguration(IDeviceLink &link, IConfigModel *model, const TDeviceState &device,
                        const std::string &passwordField, const TProgress &progress)
{
    if (!model)
        throw EConfigError(kMsgNoSettings);
    if (!model->IsCompatible(device.hardwareCode, device.softwareVersion))
        throw EConfigError(kMsgIncompatible);
    requireConnected(device);
    std::vector<Bytes> images;
    ExplainDescriptionFailure(*model, [&] { images = EncodeBlocks(*model); });
    if (model->NeedsPassword())
        SendPassword(link, passwordField);
    for (int block = 0; block < static_cast<int>(images.size()); ++block) {
        const Bytes &image = images[static_cast<std::size_t>(block)];
        int size = 0;
        ExplainDescriptionFailure(*model, [&] { size = model->BlockSize(model->GetBlock(block)); });
        std::size_t offset = 0;
        do {
            const std::size_t n = std::min<std::size_t>(image.size() - offset, device.chunkSize);
            Bytes chunk = CopyBytes(image, offset, n);
            const auto show = [&](int attempt) {
                if (progress)
                    progress(Format("%d/%d #%d", block, size, attempt));
            };
            if (!RequestWithRetries(link, kWriteAttempts, opWriteBlock, block, static_cast<std::int32_t>(offset), chunk,
                                    show))
                throw EConfigError(kMsgNoLinkWrite);
            offset += n;
        } while (offset < image.size());
    }
}

void DecodeBlock(IConfigModel &model, int block, const Bytes &image)
{
    const xml::Node node = model.GetBlock(block);
    const int expected = model.BlockSize(node);
    if (expected != 0 && expected != static_cast<int>(image.size()))
        throw EConfigError(Format("error: %d bytes read, %d expected", static_cast<int>(image.size()), expected));
    model.DecodeBlock(node, xml::Node(), image, 1);
}

void DecodeBlocks(IConfigModel &model, const std::vector<Bytes> &images)
{
    const int count = model.GetBlockCount();
    if (static_cast<int>(images.size()) != count)
        throw EConfigError(Format("Устройство описано %d блоками, получено %d.", count, static_cast<int>(images.size())));
    for (int block = 0; block < count; ++block)
        DecodeBlock(model, block, images[static_cast<std::size_t>(block)]);
}

std::vector<Bytes> EncodeBlocks(IConfigModel &model)
{
    std::vector<Bytes> images;
    const int count = model.GetBlockCount();
    for (int block = 0; block < count; ++block)
        images.push_back(model.EncodeBlock(model.GetBlock(block), xml::Node()));
    return images;
}

void ExplainDescriptionFailure(IConfigModel &model, const std::function<void()> &operation)
{
    try {
        operation();
    } catch (const ERangeError &) {
        throw;
    } catch (const EError &e) {
        // A text that does not parse is the device's or the file's: the description parsed long before.
        if (const auto *parseError = dynamic_cast<const EXmlError *>(&e); parseError && parseError->Line() > 0)
            throw;
        const xml::Node device = model.DeviceElement();
        const std::vector<TFinding> findings = CheckDevice(device, StorageFormatOf(device));
        const std::string message = e.what();
        auto chosen = std::find_if(findings.begin(), findings.end(), [&](const TFinding &finding) {
            return !finding.item.empty() && (message.find("\"" + finding.item + "\"") != std::string::npos ||
                                             message.rfind(finding.item + ":", 0) == 0);
        });
        // Faults that never raise anything do not explain a failure that names none of them.
        if (chosen == findings.end())
            chosen = std::find_if(findings.begin(), findings.end(), [](const TFinding &f) { return f.fails; });
        if (chosen == findings.end())
            throw;
        TFinding finding = *chosen;
        finding.file = model.DescriptionFile().filename().string();
        throw EDescriptionError(finding.Line());
    }
}

#include "workflow/workflow.h"

#include "model/catalogue_check.h"
#include "model/errors.h"
#include "model/tools.h"
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

void report(const TProgress &progress, TJobProgress value)
{
    if (progress)
        progress(value);
}

// The progress line of a request: what is being done, or which repetition it is.
std::string requestText(const char *action, int block, int count, int attempt, int attempts)
{
    if (attempt > 1)
        return Format("Повтор %d из %d", attempt, attempts);
    return Format("%s: блок %d из %d", action, block + 1, count);
}

constexpr int kBlockShare = 1000; // progress units of one block in a read

} // namespace

TDeviceState StateOf(const TDeviceIdentity &identity)
{
    if (!identity.present)
        return {};
    return {true, identity.chunkSize, identity.hardwareCode, identity.softwareVersion};
}

std::string NoDeviceText(const TDeviceIdentity &identity)
{
    if (identity.portBusy)
        return kMsgPortBusy;
    if (identity.errorCode != 0)
        return std::string(kMsgNoLinkWrite) + ": " + SystemErrorText(identity.errorCode);
    return kMsgNoLinkWrite;
}

bool RequestWithRetries(IDeviceLink &link, int attempts, std::uint8_t kind, std::int32_t block, std::int32_t offset,
                        Bytes &data, const std::function<void(int attempt)> &beforeEach)
{
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        if (link.CancelRequested())
            throw EJobCancelled("");
        link.Pause(kRequestPause);
        if (link.CancelRequested())
            throw EJobCancelled("");
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
    const std::uint8_t result = m_port.Request(kind, block, offset, data);
    // A failed exchange may mean that another device is there now: its answers belong to no job of ours.
    if (result != rsOk)
        ConfirmDevice();
    return result;
}

void TPortLink::ConfirmDevice()
{
    if (!m_pinned)
        return;
    const TDeviceIdentity now = m_port.Identify();
    if (now.present && !now.SameDevice(*m_pinned))
        throw EDeviceSwapped(Format(kMsgOtherDevice, SerialText(now.serialNumber).c_str()));
}

std::string SerialText(std::uint64_t serialNumber)
{
    return Format("%.8llX", static_cast<unsigned long long>(serialNumber));
}

void TPortLink::Pause(std::chrono::milliseconds duration)
{
    // In short slices, so that a cancel is seen without waiting out a long pause.
    constexpr std::chrono::milliseconds kSlice{10};
    const auto end = std::chrono::steady_clock::now() + duration;
    for (auto now = std::chrono::steady_clock::now(); now < end && !CancelRequested();
         now = std::chrono::steady_clock::now())
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(kSlice, end - now));
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
    // The blocks that follow must come from, or go to, the device that took the password.
    link.ConfirmDevice();
}

TConfigModelPtr ReadConfiguration(IDeviceLink &link, const TDeviceState &device, const std::string &passwordField,
                                  const std::filesystem::path &catalogueDir, const TProgress &progress,
                                  std::vector<Bytes> *images)
{
    requireConnected(device);
    TConfigModelPtr model = CreateConfigModel(catalogueDir, device.hardwareCode, device.softwareVersion);
    if (!model)
        throw EConfigError(kMsgNoDescription);
    try {
        if (model->NeedsPassword())
            SendPassword(link, passwordField);
        const int count = model->GetBlockCount();
        for (int block = 0; block < count; ++block) {
            int expected = 0;
            ExplainDescriptionFailure(*model, [&] { expected = model->BlockSize(model->GetBlock(block)); });
            Bytes image;
            Bytes chunk;
            do {
                // The next offset would not fit its 16 bits on the wire: the device sends more than a block can hold.
                if (image.size() > kLastBlockOffset)
                    throw EConfigError(Format("Блок \"%s\" длиннее, чем может передать связь: более %d байт.",
                                              GetAttribute(model->GetBlock(block), "caption").c_str(),
                                              static_cast<int>(kLastBlockOffset)));
                chunk.clear();
                const auto show = [&](int attempt) {
                    const int share = expected > 0 ? static_cast<int>(std::min<std::size_t>(
                                                         kBlockShare, image.size() * kBlockShare / std::size_t(expected)))
                                                   : 0;
                    report(progress, {Format("%d/%d #%d", block, count, attempt),
                                      requestText("Чтение", block, count, attempt, kReadAttempts),
                                      block * kBlockShare + share, count * kBlockShare});
                };
                if (!RequestWithRetries(link, kReadAttempts, opReadBlock, block, static_cast<std::int32_t>(image.size()),
                                        chunk, show))
                    throw EConfigError(kMsgNoLink);
                image.insert(image.end(), chunk.begin(), chunk.end());
            } while (chunk.size() >= device.chunkSize);
            ExplainDescriptionFailure(*model, [&] { DecodeBlock(*model, block, image); });
            if (images)
                images->push_back(std::move(image));
        }
    } catch (const EJobCancelled &) {
        throw EJobCancelled(kMsgReadCancelled);
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
    SendPlan(link, PlanWrite(*model), device, passwordField, progress);
}

TWritePlan PlanWrite(IConfigModel &model)
{
    TWritePlan plan;
    ExplainDescriptionFailure(model, [&] {
        plan.images = EncodeBlocks(model);
        for (int block = 0; block < static_cast<int>(plan.images.size()); ++block) {
            plan.sizes.push_back(model.BlockSize(model.GetBlock(block)));
            plan.captions.push_back(GetAttribute(model.GetBlock(block), "caption"));
        }
    });
    plan.needsPassword = model.NeedsPassword();
    return plan;
}

void SendPlan(IDeviceLink &link, const TWritePlan &plan, const TDeviceState &device, const std::string &passwordField,
              const TProgress &progress)
{
    requireConnected(device);
    const std::vector<Bytes> &images = plan.images;
    const int count = static_cast<int>(images.size());
    // Progress counts bytes, and one unit per block so that empty blocks count too.
    int total = 0;
    for (const Bytes &image : images)
        total += static_cast<int>(image.size()) + 1;
    // Offsets are 16 bits on the wire: a longer image would wrap and overwrite its own beginning.
    const std::size_t longest = (kLastBlockOffset / device.chunkSize + 1) * device.chunkSize;
    for (std::size_t block = 0; block < images.size(); ++block)
        if (images[block].size() > longest)
            throw EConfigError(Format("Блок \"%s\" слишком велик для передачи: %d байт, не более %d.",
                                      block < plan.captions.size() ? plan.captions[block].c_str() : "",
                                      static_cast<int>(images[block].size()), static_cast<int>(longest)));
    bool blockSent = false;
    try {
        if (plan.needsPassword)
            SendPassword(link, passwordField);
        int done = 0;
        for (int block = 0; block < count; ++block) {
            const Bytes &image = images[static_cast<std::size_t>(block)];
            std::size_t offset = 0;
            do {
                const std::size_t n = std::min<std::size_t>(image.size() - offset, device.chunkSize);
                Bytes chunk = CopyBytes(image, offset, n);
                const auto show = [&](int attempt) {
                    report(progress, {Format("%d/%d #%d", block, plan.sizes[static_cast<std::size_t>(block)], attempt),
                                      requestText("Запись", block, count, attempt, kWriteAttempts),
                                      done + static_cast<int>(offset), total});
                    blockSent = true;
                };
                if (!RequestWithRetries(link, kWriteAttempts, opWriteBlock, block, static_cast<std::int32_t>(offset),
                                        chunk, show))
                    throw EConfigError(kMsgNoLinkWrite);
                offset += n;
            } while (offset < image.size());
            done += static_cast<int>(image.size()) + 1;
        }
    } catch (const EJobCancelled &) {
        if (blockSent)
            throw EWriteInterrupted(kMsgWriteInterrupted);
        throw EJobCancelled(kMsgWriteCancelled);
    } catch (const EError &e) {
        if (!blockSent)
            throw;
        throw EWriteInterrupted(std::string(e.what()) + "\n" + kMsgWriteInterrupted);
    }
}

TKeyWaitResult WaitForKey(IDeviceLink &link, const TProgress &progress, std::chrono::milliseconds tick)
{
    constexpr int kTicks = 10; // the tenth tick ends the wait without a request
    Bytes none;
    if (!RequestWithRetries(link, kReadAttempts, opKeyReadStart, 0, 0, none))
        throw EConfigError(kMsgNoLink);
    // Switching the mode off is owed even when the user has given up on the wait.
    struct TUncancellable : IDeviceLink {
        IDeviceLink &inner;
        explicit TUncancellable(IDeviceLink &link) : inner(link) {}
        std::uint8_t Request(std::uint8_t kind, std::int32_t block, std::int32_t offset, Bytes &data) override
        {
            return inner.Request(kind, block, offset, data);
        }
        void Pause(std::chrono::milliseconds duration) override { std::this_thread::sleep_for(duration); }
    } stopLink(link);
    const auto stop = [&] {
        Bytes nothing;
        return RequestWithRetries(stopLink, kReadAttempts, opKeyReadStop, 0, 0, nothing);
    };
    const auto cancelled = [&] {
        if (!stop())
            throw EConfigError(kMsgNoLink);
        throw EJobCancelled("");
    };
    report(progress, {"", "", 0, kTicks});
    for (int t = 1; t <= kTicks; ++t) {
        link.Pause(tick);
        if (link.CancelRequested())
            cancelled();
        report(progress, {"", "", t, kTicks});
        if (t == kTicks)
            break;
        Bytes key;
        try {
            if (!RequestWithRetries(link, kReadAttempts, opKeyReadPoll, 0, 0, key))
                throw EConfigError(kMsgNoLink);
        } catch (const EJobCancelled &) {
            cancelled();
        }
        if (!key.empty())
            return {key, !stop()};
    }
    return {};
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

std::vector<TValueProblem> ValueProblems(IConfigModel &model)
{
    TTreeGrid grid;
    try {
        model.FillTree(grid);
    } catch (const EError &) {
        return {};
    }
    return CheckValues(grid);
}

void ExplainDescriptionFailure(IConfigModel &model, const std::function<void()> &operation)
{
    try {
        operation();
    } catch (const EError &e) {
        // Only failures that a description alone raises have a fault as their cause: values typed,
        // blocks received and files read fail with their own message.
        const auto *attribute = dynamic_cast<const EAttributeError *>(&e);
        const auto *parseError = dynamic_cast<const EXmlError *>(&e);
        const bool described = attribute || dynamic_cast<const EDescriptionError *>(&e) ||
                               dynamic_cast<const EZeroDivide *>(&e) || (parseError && parseError->Line() == 0);
        if (!described)
            throw;
        const xml::Node device = model.DeviceElement();
        const std::vector<TFinding> findings = CheckDevice(device, StorageFormatOf(device));
        // The failure names the element at fault; its message is never taken apart.
        auto chosen = std::find_if(findings.begin(), findings.end(), [&](const TFinding &finding) {
            return !finding.item.empty() && finding.item == e.Owner();
        });
        // An attribute read from an element without a name (a missing array) is still the description's.
        if (chosen == findings.end() && attribute)
            chosen = std::find_if(findings.begin(), findings.end(), [](const TFinding &f) { return f.fails; });
        if (chosen == findings.end())
            throw;
        TFinding finding = *chosen;
        finding.file = model.DescriptionFile().filename().string();
        throw EDescriptionError(finding.Line());
    }
}

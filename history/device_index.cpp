#include "history/device_index.h"

#include "model/model.h"

#include <fstream>
#include <iterator>

namespace {

constexpr std::string_view kHeader = "configurator-history-index 1\n";
constexpr std::string_view kTip = "tip ";
constexpr std::size_t kOidDigits = GIT_OID_HEXSZ;

std::optional<git_oid> oidAt(std::string_view text)
{
    git_oid oid;
    if (text.size() < kOidDigits || git_oid_fromstrn(&oid, text.data(), kOidDigits) < 0)
        return std::nullopt;
    return oid;
}

void appendOid(std::string &text, const git_oid &oid)
{
    char digits[kOidDigits];
    git_oid_fmt(digits, &oid);
    text.append(digits, kOidDigits);
}

} // namespace

TDeviceIndex LoadDeviceIndex(const std::filesystem::path &file)
{
    std::ifstream in(file, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string_view rest = text;
    if (rest.substr(0, kHeader.size()) != kHeader)
        return {};
    rest.remove_prefix(kHeader.size());
    TDeviceIndex index;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        if (end == std::string_view::npos)
            return {}; // cut short: not to be trusted
        const std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end + 1);
        if (line.substr(0, kTip.size()) == kTip) {
            index.tip = oidAt(line.substr(kTip.size()));
            continue;
        }
        const std::optional<git_oid> commit = oidAt(line);
        if (!commit || line.size() < kOidDigits + 2)
            return {};
        index.latest.emplace(std::string(line.substr(kOidDigits + 1)), *commit);
    }
    return index;
}

void SaveDeviceIndex(const std::filesystem::path &file, const TDeviceIndex &index)
{
    std::string text(kHeader);
    text.reserve(kHeader.size() + index.latest.size() * (kOidDigits + 20));
    if (index.tip) {
        text += kTip;
        appendOid(text, *index.tip);
        text += '\n';
    }
    for (const auto &[path, commit] : index.latest) {
        appendOid(text, commit);
        text += ' ';
        text += path;
        text += '\n';
    }
    WriteFileAtomically(file, text);
}

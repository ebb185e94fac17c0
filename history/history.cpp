// The history store: opening, recording and reading. Sharing is in sync.cpp.
#include "history/history.h"

#include "history/store.h"
#include "model/model.h"

#include <algorithm>
#include <cctype>
#include <thread>

namespace {

// Set in the repository's configuration: this folder is a configuration history.
constexpr const char *kMarkerKey = "configurator.history";
constexpr const char *kIndexFile = "configurator-index";
constexpr const char *kLockFile = "configurator.lock";
constexpr const char *kSyncLockFile = "configurator-sync.lock";
constexpr const char *kReflogMessage = "configurator: history";
// A recording waits this long for another program's recording or sync.
constexpr auto kLockWait = std::chrono::seconds(30);
constexpr auto kLockPoll = std::chrono::milliseconds(10);
constexpr int kSerialDigits = 16; // a 64-bit serial number

// Paths as UTF-8, as libgit2 and the messages take them.
std::string shown(const std::filesystem::path &path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// Angle brackets and line breaks would break the signature line.
std::string signatureText(const std::string &text)
{
    std::string clean;
    for (const char c : text)
        if (c != '<' && c != '>' && c != '\n' && c != '\r')
            clean += c;
    const auto first = clean.find_first_not_of(' ');
    return first == std::string::npos ? "" : clean.substr(first, clean.find_last_not_of(' ') - first + 1);
}

bool holdsOnly(const std::filesystem::path &folder, const std::string &name)
{
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().filename() != name)
            return false;
    return !ec;
}

} // namespace

std::string GitReason()
{
    const git_error *error = git_error_last();
    return error && error->message ? error->message : "неизвестная ошибка libgit2";
}

std::string OidText(const git_oid &oid)
{
    char text[GIT_OID_HEXSZ + 1] = {};
    git_oid_tostr(text, sizeof text, &oid);
    return text;
}

// ------------------------------------------------------------------ helpers

const char *HistoryActionText(THistoryAction action)
{
    switch (action) {
    case THistoryAction::Read:
        return "Чтение";
    case THistoryAction::Write:
        return "Запись";
    case THistoryAction::Deploy:
        return "Развёртывание";
    }
    return "";
}

std::filesystem::path DefaultHistoryFolder()
{
    const std::filesystem::path data = PlatformDataFolder();
    return data.empty() ? data : data / "configurator" / "history";
}

std::string HistorySerial(const std::string &text)
{
    const auto significant = text.find_first_not_of('0');
    const bool hex = !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isxdigit(static_cast<unsigned char>(c));
    });
    if (!hex || (significant != std::string::npos && text.size() - significant > std::size_t(kSerialDigits)))
        throw EHistoryError(Format("Серийный номер \"%s\" не годится для имени файла истории: допустимы только "
                                   "шестнадцатеричные цифры (не больше %d значащих).",
                                   text.c_str(), kSerialDigits));
    return Format("%.8llX", std::stoull(text, nullptr, 16));
}

std::string HistoryTimeText(std::chrono::system_clock::time_point time)
{
    const std::tm local = PlatformLocalTime(std::chrono::system_clock::to_time_t(time));
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

// -------------------------------------------------------------------- lock

THistoryLock::THistoryLock(const std::filesystem::path &repositoryFolder, TKind kind)
{
    const auto deadline = std::chrono::steady_clock::now() + kLockWait;
    const char *file = kind == Recording ? kLockFile : kSyncLockFile;
    while ((m_handle = PlatformTryLockFile(repositoryFolder / file)) == kNoLock) {
        if (std::chrono::steady_clock::now() > deadline)
            throw EHistoryError(
                Format("Хранилище истории %s занято другой программой.", shown(repositoryFolder).c_str()));
        std::this_thread::sleep_for(kLockPoll);
    }
}

// ------------------------------------------------------------ the repository

THistoryStore::TImpl::TImpl(const THistoryOptions &storeOptions)
    : options(storeOptions), folder(storeOptions.folder.empty() ? DefaultHistoryFolder() : storeOptions.folder)
{
    if (folder.empty())
        throw EHistoryError("Не удалось найти папку данных пользователя для истории: укажите папку истории.");
    branchRef = "refs/heads/" + options.branch;
    trackingRef = "refs/remotes/origin/" + options.branch;
    int valid = 0;
    if (options.branch.empty() || git_reference_name_is_valid(&valid, branchRef.c_str()) < 0 || !valid)
        throw EHistoryError(Format("Недопустимое имя ветки истории \"%s\".", options.branch.c_str()));
    std::error_code ec;
    const bool exists = std::filesystem::exists(folder, ec);
    if (exists && !std::filesystem::is_directory(folder, ec))
        throw EHistoryError(Format("Папка истории %s — это файл, а не папка.", shown(folder).c_str()));
    // A folder of someone else's gets no lock file of ours: it is only looked at, and refused.
    if (exists && !std::filesystem::is_empty(folder, ec) && !std::filesystem::exists(folder / kLockFile, ec)) {
        Open();
        return;
    }
    std::filesystem::create_directories(folder, ec);
    if (ec)
        throw EHistoryError(
            Format("Не удалось создать папку истории %s: %s", shown(folder).c_str(), ec.message().c_str()));
    // Two programs starting on a new folder at once: one creates, the other waits and opens.
    THistoryLock lock(folder);
    if (holdsOnly(folder, kLockFile))
        Create();
    else
        Open();
}

void THistoryStore::TImpl::Create()
{
    git_repository_init_options init = GIT_REPOSITORY_INIT_OPTIONS_INIT;
    init.flags = GIT_REPOSITORY_INIT_BARE | GIT_REPOSITORY_INIT_MKPATH;
    init.initial_head = options.branch.c_str();
    git_repository *created = nullptr;
    const int error = git_repository_init_ext(&created, shown(folder).c_str(), &init);
    repository.reset(created);
    if (error < 0)
        throw EHistoryError(
            Format("Не удалось создать хранилище истории в %s: %s", shown(folder).c_str(), GitReason().c_str()));
    TConfigPtr config;
    git_config *raw = nullptr;
    Check(git_repository_config(&raw, repository.get()));
    config.reset(raw);
    Check(git_config_set_bool(config.get(), kMarkerKey, 1));
}

void THistoryStore::TImpl::Open()
{
    const std::string name = shown(folder);
    auto damaged = [&] {
        return EHistoryError(Format("Хранилище истории %s повреждено: %s", name.c_str(), GitReason().c_str()));
    };
    auto foreign = [&] {
        return EHistoryError(Format("В папке %s другое хранилище git, а не история конфигураций.", name.c_str()));
    };
    git_repository *opened = nullptr;
    const int error = git_repository_open_ext(&opened, shown(folder).c_str(), GIT_REPOSITORY_OPEN_NO_SEARCH, nullptr);
    repository.reset(opened);
    if (error == GIT_ENOTFOUND)
        throw EHistoryError(
            Format("Папка %s не пуста и не является хранилищем истории конфигураций.", name.c_str()));
    if (error < 0)
        throw damaged();
    if (!git_repository_is_bare(repository.get()))
        throw foreign();
    git_config *raw = nullptr;
    if (git_repository_config(&raw, repository.get()) < 0)
        throw damaged();
    const TConfigPtr config(raw);
    int marked = 0;
    const int markerError = git_config_get_bool(&marked, config.get(), kMarkerKey);
    if (markerError < 0 && markerError != GIT_ENOTFOUND)
        throw damaged();
    // HEAD and the tip, read through to its files: a damaged repository is refused
    // here, not halfway through a recording.
    git_reference *head = nullptr;
    const int headError = git_reference_lookup(&head, repository.get(), "HEAD");
    git_reference_free(head);
    if (headError < 0)
        throw damaged();
    git_oid tip;
    const int tipError = git_reference_name_to_id(&tip, repository.get(), branchRef.c_str());
    if (tipError < 0 && tipError != GIT_ENOTFOUND)
        throw damaged();
    std::optional<TVersionFacts> tipFacts;
    if (tipError == 0) {
        git_commit *commit = nullptr;
        if (git_commit_lookup(&commit, repository.get(), &tip) < 0)
            throw damaged();
        const TCommitPtr owned(commit);
        git_tree *tree = nullptr;
        if (git_commit_tree(&tree, commit) < 0)
            throw damaged();
        git_tree_free(tree);
        tipFacts = ParseMessage(git_commit_message(commit));
    }
    if (marked)
        return;
    // A bare clone of a shared history lacks the mark: its commits tell whose it is.
    const bool empty = git_repository_is_empty(repository.get()) == 1;
    if (!tipFacts && !empty)
        throw foreign();
    Check(git_config_set_bool(config.get(), kMarkerKey, 1));
}

void THistoryStore::TImpl::Check(int error) const
{
    if (error < 0)
        Fail();
}

void THistoryStore::TImpl::Fail() const
{
    throw EHistoryError(Format("Ошибка хранилища истории %s: %s", shown(folder).c_str(), GitReason().c_str()));
}

std::optional<git_oid> THistoryStore::TImpl::RefTarget(const std::string &name) const
{
    git_oid id;
    const int error = git_reference_name_to_id(&id, repository.get(), name.c_str());
    if (error == GIT_ENOTFOUND)
        return std::nullopt;
    Check(error);
    return id;
}

TCommitPtr THistoryStore::TImpl::LookupCommit(const git_oid &id) const
{
    git_commit *commit = nullptr;
    Check(git_commit_lookup(&commit, repository.get(), &id));
    return TCommitPtr(commit);
}

TTreePtr THistoryStore::TImpl::TreeOf(const git_commit *commit) const
{
    git_tree *tree = nullptr;
    Check(git_commit_tree(&tree, commit));
    return TTreePtr(tree);
}

TTreePtr THistoryStore::TImpl::EmptyTree() const
{
    git_treebuilder *rawBuilder = nullptr;
    Check(git_treebuilder_new(&rawBuilder, repository.get(), nullptr));
    const TTreeBuilderPtr builder(rawBuilder);
    git_oid id;
    Check(git_treebuilder_write(&id, builder.get()));
    git_tree *tree = nullptr;
    Check(git_tree_lookup(&tree, repository.get(), &id));
    return TTreePtr(tree);
}

std::optional<git_oid> THistoryStore::TImpl::BlobAt(const git_tree *tree, const std::string &path) const
{
    git_tree_entry *entry = nullptr;
    const int error = git_tree_entry_bypath(&entry, tree, path.c_str());
    if (error == GIT_ENOTFOUND)
        return std::nullopt;
    Check(error);
    const TTreeEntryPtr owned(entry);
    if (git_tree_entry_type(entry) != GIT_OBJECT_BLOB)
        return std::nullopt;
    return *git_tree_entry_id(entry);
}

std::optional<TVersionFacts> THistoryStore::TImpl::FactsOf(const git_commit *commit) const
{
    return ParseMessage(git_commit_message(commit));
}

std::vector<git_oid> THistoryStore::TImpl::CommitsBetween(const std::optional<git_oid> &hidden,
                                                          const git_oid &from) const
{
    // The history is a line: its first parents are all of it.
    std::vector<git_oid> commits;
    git_oid at = from;
    while (!hidden || !git_oid_equal(&at, &*hidden)) {
        commits.push_back(at);
        const TCommitPtr commit = LookupCommit(at);
        if (git_commit_parentcount(commit.get()) == 0)
            break;
        at = *git_commit_parent_id(commit.get(), 0);
    }
    std::reverse(commits.begin(), commits.end());
    return commits;
}

bool THistoryStore::TImpl::MoveBranch(const std::optional<git_oid> &expected, const git_oid &target) const
{
    git_reference *moved = nullptr;
    const int error = expected ? git_reference_create_matching(&moved, repository.get(), branchRef.c_str(), &target,
                                                               1, &*expected, kReflogMessage)
                               : git_reference_create(&moved, repository.get(), branchRef.c_str(), &target, 0,
                                                      kReflogMessage);
    git_reference_free(moved);
    if (error == GIT_EMODIFIED || error == GIT_ELOCKED || error == GIT_EEXISTS)
        return false;
    Check(error);
    return true;
}

// --------------------------------------------------------------- the index

TDeviceIndex THistoryStore::TImpl::IndexAt(const std::optional<git_oid> &tip) const
{
    if (!tip)
        return {};
    TDeviceIndex index = LoadDeviceIndex(folder / kIndexFile);
    if (index.tip && git_oid_equal(&*index.tip, &*tip))
        return index;
    // Forward from the indexed tip when the branch grew from it; from the start when it was rewritten.
    const bool grew = index.tip && git_graph_descendant_of(repository.get(), &*tip, &*index.tip) == 1;
    if (!grew)
        index = {};
    for (const git_oid &commit : CommitsBetween(grew ? index.tip : std::nullopt, *tip))
        ApplyToIndex(index, commit);
    index.tip = tip;
    SaveIndex(index);
    return index;
}

void THistoryStore::TImpl::ApplyToIndex(TDeviceIndex &index, const git_oid &commit) const
{
    const TCommitPtr loaded = LookupCommit(commit);
    if (const auto facts = FactsOf(loaded.get()); facts && facts->IsVersion())
        index.latest[facts->Path()] = commit;
}

void THistoryStore::TImpl::SaveIndex(const TDeviceIndex &index) const
{
    SaveDeviceIndex(folder / kIndexFile, index);
}

THistoryVersion THistoryStore::TImpl::VersionOf(const git_commit *commit, const TVersionFacts &facts) const
{
    THistoryVersion version;
    version.revision = OidText(*git_commit_id(commit));
    TGitBuffer shortId;
    Check(git_object_short_id(&shortId.buffer, reinterpret_cast<const git_object *>(commit)));
    version.shortRevision = shortId.buffer.ptr;
    const git_signature *author = git_commit_author(commit);
    version.time = std::chrono::system_clock::from_time_t(static_cast<std::time_t>(author->when.time));
    version.action = facts.action;
    version.operatorName = facts.operatorName.empty() ? author->name : facts.operatorName;
    version.station = facts.station;
    version.serialNumber = facts.serialNumber;
    version.hardwareCode = facts.hardwareCode;
    version.firmwareVersion = facts.firmwareVersion;
    version.descriptionFile = facts.descriptionFile;
    return version;
}

// ------------------------------------------------------------------- store

THistoryStore::THistoryStore(const THistoryOptions &options) : m_impl(std::make_unique<TImpl>(options)) {}

THistoryStore::~THistoryStore() = default;

const std::filesystem::path &THistoryStore::Folder() const
{
    return m_impl->folder;
}

std::optional<std::string> THistoryStore::Record(const THistoryEntry &entry)
{
    TImpl &impl = *m_impl;
    TVersionFacts facts;
    facts.action = HistoryActionText(entry.action);
    facts.hardwareCode = entry.hardwareCode;
    facts.serialNumber = HistorySerial(entry.serialNumber);
    facts.firmwareVersion = entry.firmwareVersion;
    facts.descriptionFile = entry.descriptionFile;
    facts.operatorName = signatureText(entry.operatorName.empty() ? PlatformUserName() : entry.operatorName);
    facts.station = entry.station.empty() ? PlatformHostName() : entry.station;
    if (facts.operatorName.empty())
        facts.operatorName = kProgramAuthor;
    const std::string path = facts.Path();
    const std::string email = facts.operatorName + "@" + signatureText(facts.station);

    git_signature *rawSignature = nullptr;
    impl.Check(git_signature_now(&rawSignature, facts.operatorName.c_str(), email.c_str()));
    const TSignaturePtr signature(rawSignature);
    if (entry.time)
        signature->when.time = std::chrono::system_clock::to_time_t(*entry.time);

    git_oid content;
    impl.Check(git_odb_hash(&content, entry.settings.data(), entry.settings.size(), GIT_OBJECT_BLOB));

    const THistoryLock lock(impl.folder);
    for (int attempt = 0;; ++attempt) {
        const std::optional<git_oid> tip = impl.RefTarget(impl.branchRef);
        TCommitPtr parent;
        TTreePtr baseline;
        if (tip) {
            parent = impl.LookupCommit(*tip);
            baseline = impl.TreeOf(parent.get());
        } else {
            baseline = impl.EmptyTree();
        }
        const std::optional<git_oid> current = impl.BlobAt(baseline.get(), path);
        if (entry.action == THistoryAction::Read && current && git_oid_equal(&*current, &content))
            return std::nullopt;

        TDeviceIndex index = impl.IndexAt(tip);
        const auto previous = index.latest.find(path);
        facts.previousVersion = previous == index.latest.end() ? "" : OidText(previous->second);

        git_oid blob;
        impl.Check(git_blob_create_from_buffer(&blob, impl.repository.get(), entry.settings.data(),
                                               entry.settings.size()));
        const git_tree_update update{GIT_TREE_UPDATE_UPSERT, blob, GIT_FILEMODE_BLOB, path.c_str()};
        git_oid treeId;
        impl.Check(git_tree_create_updated(&treeId, impl.repository.get(), baseline.get(), 1, &update));
        git_tree *rawTree = nullptr;
        impl.Check(git_tree_lookup(&rawTree, impl.repository.get(), &treeId));
        const TTreePtr tree(rawTree);
        const std::string message = ComposeMessage(facts);
        const git_commit *parents[] = {parent.get()};
        git_oid commit;
        impl.Check(git_commit_create(&commit, impl.repository.get(), nullptr, signature.get(), signature.get(),
                                     nullptr, message.c_str(), tree.get(), parent ? 1 : 0, parents));
        if (!impl.MoveBranch(tip, commit)) {
            // Another git program moved the branch: build again on its new tip.
            if (attempt + 1 >= kBranchAttempts)
                impl.Fail();
            std::this_thread::sleep_for(kBranchRetryPause);
            continue;
        }
        index.latest[path] = commit;
        index.tip = commit;
        impl.SaveIndex(index);
        return OidText(commit);
    }
}

std::vector<THistoryVersion> THistoryStore::Versions(const std::string &serialNumber)
{
    TImpl &impl = *m_impl;
    const std::string fileName = "/" + HistorySerial(serialNumber) + ".cfg";
    TDeviceIndex index;
    {
        const THistoryLock lock(impl.folder);
        index = impl.IndexAt(impl.RefTarget(impl.branchRef));
    }
    std::vector<THistoryVersion> versions;
    for (const auto &[path, latest] : index.latest) {
        if (!path.ends_with(fileName))
            continue;
        // Each version names the one before it; a chain that breaks off (a damaged or foreign commit) ends there.
        std::string next = OidText(latest);
        while (!next.empty()) {
            git_oid id;
            git_commit *found = nullptr;
            if (git_oid_fromstr(&id, next.c_str()) < 0 || git_commit_lookup(&found, impl.repository.get(), &id) < 0)
                break;
            const TCommitPtr commit(found);
            const std::optional<TVersionFacts> facts = impl.FactsOf(commit.get());
            if (!facts || !facts->IsVersion() || facts->Path() != path)
                break;
            versions.push_back(impl.VersionOf(commit.get(), *facts));
            next = facts->previousVersion;
        }
    }
    // Newest first by recording time; versions of one second keep the history's order.
    std::stable_sort(versions.begin(), versions.end(),
                     [](const THistoryVersion &a, const THistoryVersion &b) { return a.time > b.time; });
    return versions;
}

std::vector<THistoryVersion> THistoryStore::Devices()
{
    TImpl &impl = *m_impl;
    TDeviceIndex index;
    {
        const THistoryLock lock(impl.folder);
        index = impl.IndexAt(impl.RefTarget(impl.branchRef));
    }
    std::vector<THistoryVersion> devices;
    for (const auto &[path, latest] : index.latest) {
        const TCommitPtr commit = impl.LookupCommit(latest);
        if (const auto facts = impl.FactsOf(commit.get()))
            devices.push_back(impl.VersionOf(commit.get(), *facts));
    }
    std::sort(devices.begin(), devices.end(), [](const THistoryVersion &a, const THistoryVersion &b) {
        return std::tie(a.hardwareCode, a.serialNumber) < std::tie(b.hardwareCode, b.serialNumber);
    });
    return devices;
}

std::string THistoryStore::Settings(const std::string &serialNumber, const std::string &revision)
{
    TImpl &impl = *m_impl;
    const std::string serial = HistorySerial(serialNumber);
    const auto noDevice = [&] { return EHistoryError(Format("В истории нет устройства %s.", serial.c_str())); };
    TCommitPtr commit;
    if (revision.empty()) {
        const std::optional<git_oid> tip = impl.RefTarget(impl.branchRef);
        if (!tip)
            throw noDevice();
        commit = impl.LookupCommit(*tip);
    } else {
        git_object *found = nullptr;
        const int error = git_revparse_single(&found, impl.repository.get(), revision.c_str());
        const TObjectPtr object(found);
        git_object *peeled = nullptr;
        if (error == GIT_EAMBIGUOUS)
            throw EHistoryError(Format("Версию %s нельзя узнать однозначно: укажите больше цифр.", revision.c_str()));
        if (error < 0 || git_object_peel(&peeled, found, GIT_OBJECT_COMMIT) < 0)
            throw EHistoryError(Format("В истории нет версии %s.", revision.c_str()));
        commit.reset(reinterpret_cast<git_commit *>(peeled));
    }
    // Serial numbers are unique across hardware codes: the first folder holding the file is the device's.
    const TTreePtr tree = impl.TreeOf(commit.get());
    for (std::size_t i = 0; i < git_tree_entrycount(tree.get()); ++i) {
        const git_tree_entry *folder = git_tree_entry_byindex(tree.get(), i);
        if (git_tree_entry_type(folder) != GIT_OBJECT_TREE)
            continue;
        const std::optional<git_oid> blobId =
            impl.BlobAt(tree.get(), std::string(git_tree_entry_name(folder)) + "/" + serial + ".cfg");
        if (!blobId)
            continue;
        git_blob *rawBlob = nullptr;
        impl.Check(git_blob_lookup(&rawBlob, impl.repository.get(), &*blobId));
        const TBlobPtr blob(rawBlob);
        const auto *bytes = static_cast<const char *>(git_blob_rawcontent(blob.get()));
        return std::string(bytes, static_cast<std::size_t>(git_blob_rawsize(blob.get())));
    }
    if (revision.empty())
        throw noDevice();
    throw EHistoryError(Format("В версии %s нет настроек устройства %s.", revision.c_str(), serial.c_str()));
}

void THistoryStore::Export(const std::string &serialNumber, const std::string &revision,
                           const std::filesystem::path &file)
{
    WriteFileAtomically(file, Settings(serialNumber, revision));
}

THistorySyncResult THistoryStore::Sync()
{
    return m_impl->Sync();
}

int THistoryStore::Unsent()
{
    return m_impl->Unsent();
}

// ------------------------------------------------------ for device operations

std::optional<std::string> RecordDeviceConfiguration(const THistoryOptions &options, const THistoryEntry &entry)
{
    if (!options.enabled)
        return std::nullopt;
    std::optional<THistoryStore> store;
    try {
        store.emplace(options);
        store->Record(entry);
    } catch (const std::exception &e) {
        return Format("Конфигурация не записана в историю: %s", e.what());
    }
    if (options.remote.empty() || !options.pushAfterRecord)
        return std::nullopt;
    try {
        store->Sync();
    } catch (const std::exception &e) {
        return Format("Конфигурация записана в историю на этом компьютере и будет отправлена позже: %s", e.what());
    }
    return std::nullopt;
}

std::optional<std::string> RecordDeviceConfiguration(const THistoryOptions &options, IConfigModel &model,
                                                      THistoryAction action, const std::string &serialNumber,
                                                      std::uint16_t firmwareVersion)
{
    if (!options.enabled)
        return std::nullopt;
    THistoryEntry entry;
    try {
        entry.serialNumber = serialNumber;
        entry.hardwareCode = model.GetHardwareCode();
        entry.firmwareVersion = firmwareVersion;
        entry.descriptionFile = shown(model.DescriptionFile().filename());
        entry.action = action;
        entry.settings = model.SettingsText();
    } catch (const std::exception &e) {
        return Format("Конфигурация не записана в историю: %s", e.what());
    }
    return RecordDeviceConfiguration(options, entry);
}

std::optional<std::string> SyncHistory(const THistoryOptions &options)
{
    if (!options.enabled || options.remote.empty())
        return std::nullopt;
    try {
        THistoryStore(options).Sync();
    } catch (const std::exception &e) {
        return Format("История не синхронизирована: %s", e.what());
    }
    return std::nullopt;
}

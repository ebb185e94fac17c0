// Sharing the history: fetch the shared branch, put this station's unshared
// commits after it, push. The network is used without the recording lock, so
// a slow or dead server never holds up a recording; only the local rewrite
// takes it. The sync lock is held throughout: two programs of one station
// never replay the same commits at once.
#include "history/store.h"

#include <algorithm>
#include <array>
#include <map>
#include <set>
#include <thread>

namespace {

// Rounds of fetch, replay and push when other stations keep pushing in between.
constexpr int kSyncAttempts = 5;
// Another program of this station fetching into the same folder holds the tracking branch a moment.
constexpr int kFetchAttempts = 20;
constexpr auto kFetchRetryPause = std::chrono::milliseconds(50);
constexpr const char *kReflogMessage = "configurator: history sync";
// Key files tried after the ssh agent, in the user's .ssh folder.
constexpr std::array<const char *, 3> kSshKeys = {"id_ed25519", "id_ecdsa", "id_rsa"};

struct TRemoteState {
    std::string user;
    int sshAttempt = 0;
    std::string rejection; // the server's reason for refusing the push
};

int credentials(git_credential **out, const char *, const char *userFromUrl, unsigned int allowed, void *payload)
{
    auto &state = *static_cast<TRemoteState *>(payload);
    const std::string user = userFromUrl && *userFromUrl ? userFromUrl : state.user;
    if (allowed & GIT_CREDENTIAL_USERNAME)
        return git_credential_username_new(out, user.c_str());
    if (allowed & GIT_CREDENTIAL_SSH_KEY) {
        // libgit2 asks again after each refusal: the agent first, then each key file without a passphrase.
        const int attempt = state.sshAttempt++;
        if (attempt == 0)
            return git_credential_ssh_key_from_agent(out, user.c_str());
        const std::filesystem::path sshFolder = PlatformHomeFolder() / ".ssh";
        int index = 0;
        for (const char *name : kSshKeys) {
            const std::filesystem::path key = sshFolder / name;
            std::error_code ec;
            if (!std::filesystem::exists(key, ec) || ++index != attempt)
                continue;
            const std::filesystem::path publicKey = key.string() + ".pub";
            return git_credential_ssh_key_new(out, user.c_str(),
                                              std::filesystem::exists(publicKey, ec) ? publicKey.string().c_str()
                                                                                     : nullptr,
                                              key.string().c_str(), nullptr);
        }
    }
    return GIT_PASSTHROUGH;
}

int pushStatus(const char *, const char *status, void *payload)
{
    if (status)
        static_cast<TRemoteState *>(payload)->rejection = status;
    return 0;
}

git_remote_callbacks callbacksFor(TRemoteState &state)
{
    git_remote_callbacks callbacks = GIT_REMOTE_CALLBACKS_INIT;
    callbacks.credentials = credentials;
    callbacks.push_update_reference = pushStatus;
    callbacks.payload = &state;
    return callbacks;
}

// One "source:destination" mapping of branches, as libgit2 takes it.
struct TRefMapping {
    explicit TRefMapping(std::string text) : m_text(std::move(text)) {}
    const git_strarray *Array()
    {
        m_pointer = m_text.data();
        m_array = {&m_pointer, 1};
        return &m_array;
    }

private:
    std::string m_text;
    char *m_pointer = nullptr;
    git_strarray m_array{};
};

// The entries one commit changed against its parent, as updates to replay elsewhere.
struct TChanges {
    std::vector<std::string> paths;
    std::vector<git_tree_update> updates;
};

} // namespace

THistorySyncResult THistoryStore::TImpl::Sync()
{
    if (options.remote.empty())
        throw EHistoryError("Общее хранилище истории не задано.");
    git_remote_create_options create = GIT_REMOTE_CREATE_OPTIONS_INIT;
    create.repository = repository.get();
    // No url.*.insteadOf rewriting: the URL is used as given (and libgit2 1.5 leaks on that lookup).
    create.flags = GIT_REMOTE_CREATE_SKIP_INSTEADOF | GIT_REMOTE_CREATE_SKIP_DEFAULT_FETCHSPEC;
    git_remote *rawRemote = nullptr;
    if (git_remote_create_with_opts(&rawRemote, options.remote.c_str(), &create) < 0)
        throw EHistoryRemoteError(Format("Недопустимый адрес общего хранилища истории %s: %s",
                                         options.remote.c_str(), GitReason().c_str()));
    const TRemotePtr remote(rawRemote);
    const THistoryLock syncing(folder, THistoryLock::Syncing);
    THistorySyncResult result;
    for (int attempt = 0; attempt < kSyncAttempts; ++attempt) {
        Fetch(remote.get());
        const std::optional<git_oid> shared = RefTarget(trackingRef);
        if (shared) {
            const THistoryLock lock(folder);
            result.received += Integrate(*shared);
        }
        const std::optional<git_oid> local = RefTarget(branchRef);
        if (!local || (shared && git_oid_equal(&*local, &*shared)))
            return result;
        const int unsent = Unsent();
        if (!Push(remote.get()))
            continue; // another station pushed first: take its commits and replay again
        // Confirm with the server itself: a push can report success and still lose a race on a plain folder.
        const std::optional<git_oid> confirmed = RemoteTip(remote.get());
        if (confirmed && git_oid_equal(&*confirmed, &*local)) {
            git_reference *tracking = nullptr;
            git_reference_create(&tracking, repository.get(), trackingRef.c_str(), &*local, 1, kReflogMessage);
            git_reference_free(tracking);
            result.sent += unsent;
            return result;
        }
    }
    throw EHistoryRemoteError(Format("Общее хранилище истории %s всё время меняют другие станции; записи этого "
                                     "компьютера будут отправлены при следующей синхронизации.",
                                     options.remote.c_str()));
}

int THistoryStore::TImpl::Unsent() const
{
    const std::optional<git_oid> local = RefTarget(branchRef);
    if (options.remote.empty() || !local)
        return 0;
    const std::optional<git_oid> shared = RefTarget(trackingRef);
    if (!shared)
        return static_cast<int>(CommitsBetween(std::nullopt, *local).size());
    std::size_t ahead = 0;
    std::size_t behind = 0;
    Check(git_graph_ahead_behind(&ahead, &behind, repository.get(), &*local, &*shared));
    return static_cast<int>(ahead);
}

void THistoryStore::TImpl::Fetch(git_remote *remote)
{
    TRemoteState state{PlatformUserName()};
    git_fetch_options fetch = GIT_FETCH_OPTIONS_INIT;
    fetch.callbacks = callbacksFor(state);
    fetch.download_tags = GIT_REMOTE_DOWNLOAD_TAGS_NONE;
    fetch.update_fetchhead = 0;
    TRefMapping mapping("+" + branchRef + ":" + trackingRef);
    int error = 0;
    for (int attempt = 0; attempt < kFetchAttempts; ++attempt) {
        error = git_remote_fetch(remote, mapping.Array(), &fetch, kReflogMessage);
        if (error != GIT_ELOCKED)
            break;
        std::this_thread::sleep_for(kFetchRetryPause);
    }
    if (error < 0)
        throw EHistoryRemoteError(Format("Нет связи с общим хранилищем истории %s: %s", options.remote.c_str(),
                                         GitReason().c_str()));
}

bool THistoryStore::TImpl::Push(git_remote *remote)
{
    TRemoteState state{PlatformUserName()};
    git_push_options push = GIT_PUSH_OPTIONS_INIT;
    push.callbacks = callbacksFor(state);
    TRefMapping mapping(branchRef + ":" + branchRef);
    const int error = git_remote_push(remote, mapping.Array(), &push);
    if (error == GIT_ENONFASTFORWARD)
        return false;
    if (error < 0)
        throw EHistoryRemoteError(Format("Не удалось отправить историю в общее хранилище %s: %s",
                                         options.remote.c_str(), GitReason().c_str()));
    return state.rejection.empty();
}

std::optional<git_oid> THistoryStore::TImpl::RemoteTip(git_remote *remote)
{
    TRemoteState state{PlatformUserName()};
    const git_remote_callbacks callbacks = callbacksFor(state);
    if (git_remote_connect(remote, GIT_DIRECTION_FETCH, &callbacks, nullptr, nullptr) < 0)
        throw EHistoryRemoteError(Format("Нет связи с общим хранилищем истории %s: %s", options.remote.c_str(),
                                         GitReason().c_str()));
    const git_remote_head **heads = nullptr;
    std::size_t count = 0;
    std::optional<git_oid> tip;
    if (git_remote_ls(&heads, &count, remote) == 0)
        for (std::size_t i = 0; i < count; ++i)
            if (branchRef == heads[i]->name)
                tip = heads[i]->oid;
    git_remote_disconnect(remote);
    return tip;
}

void THistoryStore::TImpl::RequireHistory(const git_oid &remoteTip) const
{
    // Nothing of this station is pushed into, or taken from, someone else's repository.
    if (!FactsOf(LookupCommit(remoteTip).get()))
        throw EHistoryRemoteError(
            Format("В общем хранилище %s не история конфигураций.", options.remote.c_str()));
}

std::string THistoryStore::TImpl::RecordingKey(const git_commit *commit, TVersionFacts facts) const
{
    // The place in the line (Previous-Version) is all that a replay changes.
    facts.previousVersion.clear();
    const git_signature *author = git_commit_author(commit);
    const std::optional<git_oid> blob = BlobAt(TreeOf(commit).get(), facts.Path());
    return ComposeMessage(facts) + author->name + "<" + author->email + ">" + std::to_string(author->when.time) +
           (blob ? OidText(*blob) : "");
}

int THistoryStore::TImpl::Integrate(const git_oid &remoteTip)
{
    const std::optional<git_oid> local = RefTarget(branchRef);
    auto moveTo = [&](const git_oid &target) {
        if (!MoveBranch(local, target))
            throw EHistoryError(Format("Ветку истории %s одновременно изменила другая программа; повторите "
                                       "синхронизацию.",
                                       options.branch.c_str()));
    };
    if (local && git_oid_equal(&*local, &remoteTip))
        return 0;
    if (local && git_graph_descendant_of(repository.get(), &*local, &remoteTip) == 1)
        return 0; // only this station's commits are new
    if (!local || git_graph_descendant_of(repository.get(), &remoteTip, &*local) == 1) {
        RequireHistory(remoteTip);
        const int received = static_cast<int>(CommitsBetween(local, remoteTip).size());
        moveTo(remoteTip);
        return received;
    }
    git_oid base;
    const int baseError = git_merge_base(&base, repository.get(), &*local, &remoteTip);
    if (baseError < 0 && baseError != GIT_ENOTFOUND)
        Fail();
    const std::optional<git_oid> common = baseError == 0 ? std::optional<git_oid>(base) : std::nullopt;
    if (!common)
        RequireHistory(remoteTip);
    const int received = static_cast<int>(CommitsBetween(common, remoteTip).size());
    Rebase(common, *local, remoteTip);
    return received;
}

// Each local commit is replayed on the shared tip by applying the files it
// changed; its author, time and facts stay, and its Previous-Version becomes
// the device's previous version in the new line. Where another station
// recorded a device later (by recording time) than this one did, a restore
// commit makes that later file the current one again: both versions stay,
// and the device's list orders them by time.
void THistoryStore::TImpl::Rebase(const std::optional<git_oid> &common, const git_oid &localTip,
                                  const git_oid &remoteTip)
{
    const std::vector<git_oid> localCommits = CommitsBetween(common, localTip);
    const std::vector<git_oid> remoteCommits = CommitsBetween(common, remoteTip);

    auto oidLess = [](const git_oid &a, const git_oid &b) { return git_oid_cmp(&a, &b) < 0; };
    const std::set<git_oid, decltype(oidLess)> replaced(localCommits.begin(), localCommits.end(), oidLess);

    // The index as of the shared tip: the devices' chains stepped back past the local commits, then the remote's.
    TDeviceIndex index = IndexAt(localTip);
    for (auto it = index.latest.begin(); it != index.latest.end();) {
        std::string previous;
        git_oid at = it->second;
        bool dropped = false;
        while (replaced.count(at)) {
            const TCommitPtr commit = LookupCommit(at);
            const auto facts = FactsOf(commit.get());
            previous = facts ? facts->previousVersion : "";
            if (previous.empty() || git_oid_fromstr(&at, previous.c_str()) < 0) {
                dropped = true;
                break;
            }
        }
        if (dropped)
            it = index.latest.erase(it);
        else
            (it++)->second = at;
    }
    struct TNewest {
        git_time_t time = 0;
        git_oid commit{};
    };
    std::map<std::string, TNewest> sharedNewest;
    std::set<std::string> sharedRecordings;
    for (const git_oid &id : remoteCommits) {
        const TCommitPtr commit = LookupCommit(id);
        const auto facts = FactsOf(commit.get());
        if (!facts || !facts->IsVersion())
            continue;
        sharedRecordings.insert(RecordingKey(commit.get(), *facts));
        index.latest[facts->Path()] = id;
        TNewest &newest = sharedNewest[facts->Path()];
        newest.time = std::max(newest.time, git_commit_author(commit.get())->when.time);
        if (newest.time == git_commit_author(commit.get())->when.time)
            newest.commit = id;
    }

    git_oid tip = remoteTip;
    auto commitOnTip = [&](const git_signature *author, const git_signature *committer, const std::string &message,
                           const std::vector<git_tree_update> &updates) {
        const TCommitPtr parent = LookupCommit(tip);
        const TTreePtr baseline = TreeOf(parent.get());
        git_oid treeId;
        Check(git_tree_create_updated(&treeId, repository.get(), baseline.get(), updates.size(), updates.data()));
        git_tree *rawTree = nullptr;
        Check(git_tree_lookup(&rawTree, repository.get(), &treeId));
        const TTreePtr tree(rawTree);
        const git_commit *parents[] = {parent.get()};
        Check(git_commit_create(&tip, repository.get(), nullptr, author, committer, nullptr, message.c_str(),
                                tree.get(), 1, parents));
    };

    std::map<std::string, git_time_t> localNewest;
    for (const git_oid &id : localCommits) {
        const TCommitPtr commit = LookupCommit(id);
        std::optional<TVersionFacts> facts = FactsOf(commit.get());
        if (facts && !facts->IsVersion())
            continue; // an earlier sync's restore: worked out afresh below
        if (facts && sharedRecordings.count(RecordingKey(commit.get(), *facts)))
            continue; // already shared, in another place of the line
        TTreePtr parentTree;
        if (git_commit_parentcount(commit.get()) > 0) {
            git_commit *parent = nullptr;
            Check(git_commit_parent(&parent, commit.get(), 0));
            const TCommitPtr owned(parent);
            parentTree = TreeOf(parent);
        }
        const TTreePtr tree = TreeOf(commit.get());
        git_diff *rawDiff = nullptr;
        Check(git_diff_tree_to_tree(&rawDiff, repository.get(), parentTree.get(), tree.get(), nullptr));
        const TDiffPtr diff(rawDiff);
        TChanges changes;
        const std::size_t count = git_diff_num_deltas(diff.get());
        changes.paths.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            const git_diff_delta *delta = git_diff_get_delta(diff.get(), i);
            const bool deleted = delta->status == GIT_DELTA_DELETED;
            changes.paths.push_back(deleted ? delta->old_file.path : delta->new_file.path);
            changes.updates.push_back({deleted ? GIT_TREE_UPDATE_REMOVE : GIT_TREE_UPDATE_UPSERT, delta->new_file.id,
                                       static_cast<git_filemode_t>(delta->new_file.mode), nullptr});
        }
        for (std::size_t i = 0; i < count; ++i)
            changes.updates[i].path = changes.paths[i].c_str();
        std::string message = git_commit_message(commit.get());
        if (facts) {
            const auto previous = index.latest.find(facts->Path());
            facts->previousVersion = previous == index.latest.end() ? "" : OidText(previous->second);
            message = ComposeMessage(*facts);
        }
        commitOnTip(git_commit_author(commit.get()), git_commit_committer(commit.get()), message, changes.updates);
        if (facts) {
            index.latest[facts->Path()] = tip;
            git_time_t &newest = localNewest[facts->Path()];
            newest = std::max(newest, git_commit_author(commit.get())->when.time);
        }
    }

    for (const auto &[path, localTime] : localNewest) {
        const auto shared = sharedNewest.find(path);
        if (shared == sharedNewest.end() || shared->second.time <= localTime)
            continue;
        const TCommitPtr newer = LookupCommit(shared->second.commit);
        const std::optional<git_oid> blob = BlobAt(TreeOf(newer.get()).get(), path);
        const std::optional<TVersionFacts> newerFacts = FactsOf(newer.get());
        if (!blob || !newerFacts)
            continue;
        TVersionFacts restore;
        restore.hardwareCode = newerFacts->hardwareCode;
        restore.serialNumber = newerFacts->serialNumber;
        restore.restoredVersion = OidText(shared->second.commit);
        git_signature *rawSignature = nullptr;
        Check(git_signature_now(&rawSignature, kProgramAuthor, (std::string(kProgramAuthor) + "@" +
                                                                 PlatformHostName()).c_str()));
        const TSignaturePtr signature(rawSignature);
        commitOnTip(signature.get(), signature.get(), ComposeMessage(restore),
                    {{GIT_TREE_UPDATE_UPSERT, *blob, GIT_FILEMODE_BLOB, path.c_str()}});
    }

    if (!MoveBranch(localTip, tip))
        throw EHistoryError(Format("Ветку истории %s одновременно изменила другая программа; повторите синхронизацию.",
                                   options.branch.c_str()));
    index.tip = tip;
    SaveIndex(index);
}

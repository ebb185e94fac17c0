#pragma once

// The inside of THistoryStore, shared by history.cpp (recording and reading)
// and sync.cpp (sharing).

#include "history/device_index.h"
#include "history/git.h"
#include "history/history.h"
#include "history/platform.h"
#include "history/version_message.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

// One of the folder's locks: recording (held while the branch or the device
// index change) or syncing (held through a whole sync, network included, so
// that two programs of one station never replay the same commits at once).
class THistoryLock {
public:
    enum TKind { Recording, Syncing };
    explicit THistoryLock(const std::filesystem::path &repositoryFolder, TKind kind = Recording);
    ~THistoryLock() { PlatformUnlockFile(m_handle); }
    THistoryLock(const THistoryLock &) = delete;
    THistoryLock &operator=(const THistoryLock &) = delete;

private:
    TLockHandle m_handle = kNoLock;
};

class THistoryStore::TImpl {
public:
    explicit TImpl(const THistoryOptions &options);

    // Raises EHistoryError naming the folder and libgit2's reason.
    void Check(int error) const;
    [[noreturn]] void Fail() const;

    std::optional<git_oid> RefTarget(const std::string &name) const;
    TCommitPtr LookupCommit(const git_oid &id) const;
    TTreePtr TreeOf(const git_commit *commit) const;
    TTreePtr EmptyTree() const;
    // The blob at path, none when the tree lacks it.
    std::optional<git_oid> BlobAt(const git_tree *tree, const std::string &path) const;
    // The facts of a commit; none for commits not made by this program.
    std::optional<TVersionFacts> FactsOf(const git_commit *commit) const;
    // First-parent commits reachable from `from` and not from `hidden`, oldest first.
    std::vector<git_oid> CommitsBetween(const std::optional<git_oid> &hidden, const git_oid &from) const;

    // Moves the branch from `expected` (none: the branch does not exist yet)
    // to `target`. False when someone else moved it first; the caller starts over.
    bool MoveBranch(const std::optional<git_oid> &expected, const git_oid &target) const;

    // The device index as of the branch's tip, brought forward or rebuilt. Hold the lock.
    TDeviceIndex IndexAt(const std::optional<git_oid> &tip) const;
    void ApplyToIndex(TDeviceIndex &index, const git_oid &commit) const;
    void SaveIndex(const TDeviceIndex &index) const;

    THistoryVersion VersionOf(const git_commit *commit, const TVersionFacts &facts) const;

    // sync.cpp
    THistorySyncResult Sync();
    int Unsent() const;

    TGitLibrary library; // first: outlives every handle below
    THistoryOptions options;
    std::filesystem::path folder;
    std::string branchRef;   // refs/heads/<branch>
    std::string trackingRef; // refs/remotes/origin/<branch>: the shared branch as last fetched
    TRepositoryPtr repository;

private:
    void Open();
    void Create();
    // Brings the branch up to the shared tip; returns how many commits came. Hold the lock.
    int Integrate(const git_oid &remoteTip);
    void Rebase(const std::optional<git_oid> &common, const git_oid &localTip, const git_oid &remoteTip);
    // Raises EHistoryRemoteError when the shared branch was not written by this program.
    void RequireHistory(const git_oid &remoteTip) const;
    // What makes two commits the same recording wherever they stand in the line.
    std::string RecordingKey(const git_commit *commit, TVersionFacts facts) const;
    void Fetch(git_remote *remote);
    bool Push(git_remote *remote);
    std::optional<git_oid> RemoteTip(git_remote *remote);
};

// Retries of a branch update that lost a race, each after re-reading the tip.
inline constexpr int kBranchAttempts = 100;
inline constexpr auto kBranchRetryPause = std::chrono::milliseconds(10);
// The author of commits that the program makes on its own, and of recordings when the system names no user.
inline constexpr const char *kProgramAuthor = "configurator";

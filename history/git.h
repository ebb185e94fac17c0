#pragma once

// libgit2 behind RAII. This header and the history's own .cpp files are the
// only places that see libgit2; every handle is owned through one of these
// aliases.

#include <git2.h>

#include <memory>
#include <string>

template <auto Free>
struct TGitFree {
    template <class T>
    void operator()(T *object) const
    {
        Free(object);
    }
};

using TRepositoryPtr = std::unique_ptr<git_repository, TGitFree<git_repository_free>>;
using TCommitPtr = std::unique_ptr<git_commit, TGitFree<git_commit_free>>;
using TTreePtr = std::unique_ptr<git_tree, TGitFree<git_tree_free>>;
using TTreeEntryPtr = std::unique_ptr<git_tree_entry, TGitFree<git_tree_entry_free>>;
using TTreeBuilderPtr = std::unique_ptr<git_treebuilder, TGitFree<git_treebuilder_free>>;
using TBlobPtr = std::unique_ptr<git_blob, TGitFree<git_blob_free>>;
using TObjectPtr = std::unique_ptr<git_object, TGitFree<git_object_free>>;
using TReferencePtr = std::unique_ptr<git_reference, TGitFree<git_reference_free>>;
using TRevwalkPtr = std::unique_ptr<git_revwalk, TGitFree<git_revwalk_free>>;
using TRemotePtr = std::unique_ptr<git_remote, TGitFree<git_remote_free>>;
using TSignaturePtr = std::unique_ptr<git_signature, TGitFree<git_signature_free>>;
using TConfigPtr = std::unique_ptr<git_config, TGitFree<git_config_free>>;
using TDiffPtr = std::unique_ptr<git_diff, TGitFree<git_diff_free>>;
using TOdbPtr = std::unique_ptr<git_odb, TGitFree<git_odb_free>>;
using TPackBuilderPtr = std::unique_ptr<git_packbuilder, TGitFree<git_packbuilder_free>>;

// A buffer libgit2 fills.
struct TGitBuffer {
    git_buf buffer = GIT_BUF_INIT;
    TGitBuffer() = default;
    TGitBuffer(const TGitBuffer &) = delete;
    TGitBuffer &operator=(const TGitBuffer &) = delete;
    ~TGitBuffer() { git_buf_dispose(&buffer); }
};

// A message's trailers as libgit2 parses them.
struct TGitTrailers {
    git_message_trailer_array array{};
    TGitTrailers() = default;
    TGitTrailers(const TGitTrailers &) = delete;
    TGitTrailers &operator=(const TGitTrailers &) = delete;
    ~TGitTrailers() { git_message_trailer_array_free(&array); }
};

// libgit2 stays initialised while one of these lives.
class TGitLibrary {
public:
    TGitLibrary() { git_libgit2_init(); }
    ~TGitLibrary() { git_libgit2_shutdown(); }
    TGitLibrary(const TGitLibrary &) = delete;
    TGitLibrary &operator=(const TGitLibrary &) = delete;
};

// libgit2's reason for the last failure of this thread.
std::string GitReason();

// An object id as 40 hexadecimal digits.
std::string OidText(const git_oid &oid);

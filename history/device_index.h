#pragma once

// The newest version commit of every device file, as of one commit of the
// branch. With it a device's list follows that device's own chain of
// versions (each version names the previous one) instead of walking the
// whole history. It lives next to the repository, is no part of it, and is
// brought forward from its tip, or rebuilt, whenever the branch moved.

#include "history/git.h"

#include <filesystem>
#include <map>
#include <optional>
#include <string>

struct TDeviceIndex {
    std::optional<git_oid> tip;
    std::map<std::string, git_oid> latest; // "<hardware code>/<serial>.cfg" → commit
};

// An empty index (to be rebuilt) when the file is missing or not an index.
TDeviceIndex LoadDeviceIndex(const std::filesystem::path &file);
void SaveDeviceIndex(const std::filesystem::path &file, const TDeviceIndex &index);

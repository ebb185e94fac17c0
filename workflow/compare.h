#pragma once

// Two configurations of the same device compared parameter by parameter, as
// the grid shows them. Plain C++: the window and the command-line tool share it.

#include "model/model.h"

#include <optional>
#include <string>
#include <vector>

// One parameter whose value differs.
struct TDifference {
    std::vector<std::string> path;     // block caption, then the captions down to the parameter
    std::optional<std::string> first;  // the value as the grid shows it; none: not on that side
    std::optional<std::string> second;

    // "<block> / <caption> / <caption>: <first> → <second>", "—" for a missing side.
    std::string Text() const;
};

// Raises kMsgIncompatible unless both configurations use the same device
// element of the same catalogue file.
void RequireSameDescription(IConfigModel &first, IConfigModel &second);

// The parameters whose value texts differ: in the first configuration's tree
// order, then those only the second one has (elements of variable arrays).
// Where two different texts show alike (an enum without a matching choice),
// the texts themselves are shown. Checks the descriptions first.
std::vector<TDifference> CompareConfigurations(IConfigModel &first, IConfigModel &second);

// One difference a line; "Настройки совпадают.\n" when there are none.
std::string DifferencesText(const std::vector<TDifference> &differences);

inline constexpr const char *kMsgSameSettings = "Настройки совпадают.";

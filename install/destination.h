// Which typed destinations the installer accepts, and how the destination path is formed.
#pragma once

#include <string>

namespace install {

// Longest destination folder (with its trailing backslash) for which every copy and the DATA
// folder stay within the classic 260-character path limit.
constexpr size_t MaxDestPathLength = 242;

// Why `folder` cannot be the destination, in words for the user; empty when it can.
// Accepted: a full path on a drive ("X:\..." ) or on a network share ("\\server\share\...").
std::wstring DestinationProblem(const std::wstring& folder);

// `folder` followed by a backslash unless it already ends in one.
std::wstring WithTrailingBackslash(const std::wstring& folder);

}  // namespace install

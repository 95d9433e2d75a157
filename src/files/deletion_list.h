// The lists of paths awaiting deletion, as their text is kept in the
// registry: each path followed by ';', the empty text for an empty list.
// Decisions about that text live here; the registry access and the deleting
// are in deferred_deletion_win.cpp.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Where the lists live: under HKEY_CURRENT_USER (written with its trailing
// backslash, as the launcher has always written it).
inline constexpr const char* kDeletionListKey = "SOFTWARE\\quarrow\\kerno\\temp\\";
inline constexpr const char* kDeleteFileValue = "delete_file";
inline constexpr const char* kDeleteDirValue = "delete_dir";

inline constexpr char kDeletionListSeparator = ';';

// A list longer than this is not read: it cannot have come from the launcher
// in any sane number of runs, and reading it would take memory without
// bound. Scheduling then leaves the value as it is; the sweep skips it.
inline constexpr std::size_t kMaxDeletionListBytes = 16u * 1024 * 1024;

// The text of a registry value of `size` bytes: the value may or may not
// carry a terminating NUL, and anything from the first NUL on is no part of
// the list.
std::string deletionListFromValue(const char* data, std::size_t size);

// Whether a path may go into a list: not empty, and without ';', which would
// split it into pieces that name other paths.
bool canScheduleForDeletion(std::string_view path);

// Appends the path and its separator to the list.
void appendDeletionEntry(std::string& list, std::string_view path);

// The paths of a list in order; empty items vanish.
std::vector<std::string_view> deletionEntries(std::string_view list);

// What the sweep may act on. Only names of the launcher's own making inside
// the temporary area: for the directory list an extraction directory
// (isExtractionDirectoryName) directly inside one of `temporaryDirectories`;
// for the file list a file directly inside such a directory, under a name an
// included file may have. Letters compare without case; the temporary
// directories may or may not end in a backslash. Anything else (a relative
// path, a path elsewhere, one with "." or ".." in it) is never acted on.
// `extractionDirectory` receives the directory the entry is or lies in.
bool isSweepablePath(std::string_view path, const std::vector<std::string>& temporaryDirectories,
                     bool directoryList, std::string& extractionDirectory);

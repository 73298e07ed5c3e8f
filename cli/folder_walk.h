// Reading folders, for -r: the platform's part of finding the control files under a folder.
#pragma once

#include <string>
#include <vector>

enum class EntryKind {
    File,    // a file, or a link to one
    Folder,  // a folder itself, never a link to one
    Other,   // a link to a folder (not followed), a dangling link, a device
};

struct FolderEntry {
    std::string name;
    EntryKind kind;
};

// True when `path` names a folder, through a link too: a folder named on the command line is
// walked even when it is a link.
bool IsFolderPath(const char* path);

// The path of `name` in `folder`, joined with the platform's separator.
std::string InFolder(const std::string& folder, const std::string& name);

// The entries of `folder`, without "." and "..", in the order the system gives them. Returns 0,
// or the system's code for why the folder cannot be read.
int ReadFolder(const std::string& folder, std::vector<FolderEntry>& entries);

// Trust in the folders that hold the service's log. The service writes,
// renames and deletes there as SYSTEM, so a folder that anyone else can change,
// or a link planted in place of a folder or file, would let that someone turn
// those writes and deletes on files elsewhere.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct LogFolderTrust {
    bool trusted = false;
    std::vector<std::string> repaired;  // folders whose inherited DACL was replaced
    std::string refusal;                // the folder not used and why
};

// Checks the folder that holds the log folder, then the log folder: neither is
// a reparse point, each is owned by SYSTEM, Administrators or the service's
// account, and its DACL lets no one else write, create or delete. A folder of
// earlier versions (owned by SYSTEM or Administrators, inherited entries only)
// gets the service's own DACL first. With `create`, missing folders are created
// with that DACL: full control for SYSTEM and Administrators, read and execute
// for authenticated users, inherited by everything below.
LogFolderTrust TrustLogFolder(const std::string& logFolder, bool create);

// Opens the name itself, never the target of a junction or symbolic link at
// it; folders need FILE_FLAG_BACKUP_SEMANTICS in `flags`.
HANDLE OpenWithoutFollowing(const std::string& path, DWORD access, DWORD disposition, DWORD flags = 0);

// A file with one name, neither a folder nor a reparse point.
bool IsPlainFile(const BY_HANDLE_FILE_INFORMATION& info);

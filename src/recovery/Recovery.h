// The recovery: notification codes of WM_RECOVER_NOTIFY, the folder the selection was made in,
// and the helpers that turn catalogue names into safe native paths and files.
#pragma once

#include <string>
#include <vector>

#include "platform/Types.h"

// Low byte of a WM_RECOVER_NOTIFY (the code argument of IEventSink::Post).
inline constexpr u32 kRecoverFile = 0;    // text "Recovering <path>\<name>", extra: attr
inline constexpr u32 kRecoverWarning = 1; // text: what went wrong; the run goes on
inline constexpr u32 kRecoverFatal = 2;   // text: why the run ended
inline constexpr u32 kRecoverRange = 3;   // extra: the progress range (10)
inline constexpr u32 kRecoverStep = 4;    // extra: the chunk counter of the current file
inline constexpr u32 kRecoverFinished =
    0xFF; // all bits set; text "Finished Recovery Successfully."
inline constexpr u32 kRecoverFinishedExtra = 0xFFFFFF;

// Extra of a kRecoverWarning: what the warning means for the file it names.
inline constexpr u32 kWarnIncomplete = 0; // not written whole: missing or short
inline constexpr u32 kWarnDiverted = 1;   // written whole, but below the default folder
inline constexpr u32 kWarnRenamed = 2;    // written whole under a shortened name
inline constexpr u32 kWarnStopped = 3;    // the stop left it short
inline constexpr u32 kWarnDamaged = 4;    // copied, but other data has taken some of its clusters

// Message texts of the recovery.
inline constexpr const char* kFinishedText = "Finished Recovery Successfully.";
inline constexpr const char* kNoSpaceText = "Drive has NOT enough space to store files.";
inline constexpr const char* kNoSavePathText =
    "Failed to Create Save Path. Please close all possible applications and try again.";
inline constexpr const char* kNoMemoryText =
    "Memory NOT enough. Please close some Windows and retry.";

// The folder shown in the result view (m_curPath) when the recovery was started; item paths
// are compared with it. Written by StartRecovery before the thread starts, then read only.
extern std::string g_SelFolder;

// A catalogue name made fit to be one level of a native path: '/', NUL and the other control
// characters become '_', "." and ".." become "_." and "_..", an empty name becomes "_".
// Everything else (UTF-8 included) is kept.
[[nodiscard]] std::string SafeName(const std::string& name);

// The user who is to own what the recovery creates (files and the folders it makes), for a
// program started as root on that user's behalf (pkexec); by default the creator keeps it.
void SetRecoveredFilesOwner(u32 uid, u32 gid);
void ResetRecoveredFilesOwner();
// Gives path's new file or folder (fd, or name inside the folder dirFd) to that user, if one
// was set.
void HandOver(int fd);
void HandOverAt(int dirFd, const std::string& name);

// The system's text for an errno value.
[[nodiscard]] std::string ErrorText(int error);

// ASCII upper case, the form in which folder listings are compared.
[[nodiscard]] std::string UpperName(const std::string& name);

// The native folder for a catalogue folder path below source: "" or "\a\b" after source
// becomes target + "/a/b", each level made safe. itemPath must begin with source.
[[nodiscard]] std::string MapFolder(const std::string& itemPath, const std::string& source,
                                    const std::string& target);

// The native levels below source of a catalogue folder path ("" or "\a\b" after source gives
// none or {"a", "b"}), each made safe and fitted to maxName bytes. itemPath must begin with
// source.
[[nodiscard]] std::vector<std::string> MapLevels(const std::string& itemPath,
                                                 const std::string& source, u32 maxName = 255);

// name itself when it has at most maxBytes bytes; otherwise a shorter name that keeps its
// extension (up to 16 bytes after the last dot), cuts the rest at a UTF-8 character boundary
// and adds "~" and eight hex digits of a hash of the whole name, so that two long names that
// share their start stay apart and the same name always gives the same result.
[[nodiscard]] std::string FitName(const std::string& name, u32 maxBytes);

// Creates folder/name for writing without ever replacing or following anything that exists:
// name first (unless startWithNew), then "New " + name, "New (2) " + name, "New (3) " + name,
// ... while a candidate exists already. On success returns the descriptor and sets *path; on
// failure returns -1 and sets *error to the errno of the failed creation.
[[nodiscard]] int CreateFreshFile(const std::string& folder, const std::string& name,
                                  bool startWithNew, std::string* path, int* error);

// The same inside the folder open as dirFd (folder is its path, for *path), each candidate
// fitted to maxName bytes.
[[nodiscard]] int CreateFreshFileAt(int dirFd, const std::string& folder, const std::string& name,
                                    bool startWithNew, u32 maxName, std::string* path, int* error);

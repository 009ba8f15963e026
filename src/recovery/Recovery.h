// The recovery: its message texts, and the helpers that turn catalogue names into safe native paths
// and files.
#pragma once

#include <string>
#include <vector>

#include "platform/EventSink.h"
#include "platform/Types.h"

// Message texts of the recovery.
inline constexpr const char* kFinishedText = "Finished Recovery Successfully.";
inline constexpr const char* kNoSpaceText = "Drive has NOT enough space to store files.";
inline constexpr const char* kNoSavePathText =
    "Failed to Create Save Path. Please close all possible applications and try again.";
inline constexpr const char* kNoMemoryText =
    "Memory NOT enough. Please close some Windows and retry.";

class IMessageBox;

// Creates the missing levels of folder (a native path), falling back to the default folder
// (with a message box through messageBox, which may be null), and lists the names found in it
// upper-cased into *names. Returns 0, or 512 when neither folder could be made.
[[nodiscard]] u32 PrepareDestination(std::string& folder, std::vector<std::string>* names,
                                     IMessageBox* messageBox);

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

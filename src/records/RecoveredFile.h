// What became of one file the recovery was asked to write, and the observer the recovery tells
// it to (the command line's --report); the wizard sets none.
#pragma once

#include <string>
#include <vector>

#include "platform/Types.h"
#include "records/FoundItem.h"

struct RecoveredFile
{
    const FoundItem* item = nullptr;   // the catalogue item; valid during FileDone only
    std::string volume;                // the volume read: "C:"
    std::string destination;           // the file written (after "New " and made-safe names); ""
                                       // when none was created
    u64 written = 0;                   // bytes the file holds (holes included)
    std::string sha256;                // digest of the written file's bytes; "" when none
    bool whole = false;                // came back intact where asked: every byte written, and
                                       // no warning said it is short, encrypted, partly other
                                       // data or written below the default folder
    bool stopped = false;              // the stop of the run left it short
    std::vector<std::string> warnings; // what the recovery said about this file, in order
};

class IRecoveryObserver
{
public:
    virtual ~IRecoveryObserver() = default;
    // Called on the recovery thread for each file attempted, once it is closed.
    virtual void FileDone(const RecoveredFile& file) = 0;

protected:
    IRecoveryObserver() = default;
    IRecoveryObserver(const IRecoveryObserver&) = default;
    IRecoveryObserver& operator=(const IRecoveryObserver&) = default;
};

// Message boxes raised by the engines: the GUI shows a modal box, the command line prints.
#pragma once

#include <string>

class IMessageBox
{
public:
    virtual ~IMessageBox() = default;

    // Shows text (lines separated by "\n") under caption. Called from the dialog thread or
    // from the recovery thread; implementations must be thread-safe and may block until the
    // user dismisses the box.
    virtual void Show(const std::string& text, const std::string& caption) = 0;
};

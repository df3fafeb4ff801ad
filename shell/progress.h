#pragma once
// The one progress window of the process as the engine drives it: caption with
// percentage, a text line, a bar, an optional message list and Cancel/OK.

#include <string>

class IProgress {
  public:
    virtual ~IProgress() = default;
    // Shows the window (creating it on first use) and disables its owner.
    virtual bool Open(const std::string& title, bool smooth) = 0;
    virtual void SetLayout(int lines, int width, bool showList) = 0;
    virtual void SetRange(int lower, int upper, int step) = 0;
    virtual int SetPos(int pos) = 0;  // returns the previous position
    virtual void SetText(const std::string& text) = 0;
    // Appends a line to the message list while it is shown (LogPrint feeds it).
    virtual void AddLine(const std::string& text) = 0;
    // Lets the user interface process what is pending; false when the
    // application is quitting.
    virtual bool Pump() = 0;
    virtual bool IsCancelled() const = 0;
    virtual void Finish() = 0;  // the button becomes "OK"; the user closes the window
    virtual void Close() = 0;
};

// Does nothing until a front end installs its own.
IProgress& Progress();
void SetProgress(IProgress* progress);  // nullptr restores the default

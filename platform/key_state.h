#pragma once
// The state of the modifier keys as the engine asks for it: the window answers
// from the keyboard, the command-line tool from its flags.

namespace platform {

class IKeyState {
  public:
    virtual ~IKeyState() = default;
    virtual bool IsCtrlDown() const = 0;
    virtual bool IsShiftDown() const = 0;
};

// Answers "not pressed" until a front end installs its own.
IKeyState& KeyState();
void SetKeyState(IKeyState* keyState);  // nullptr restores the default

}  // namespace platform

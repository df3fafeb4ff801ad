#pragma once
// Ctrl and Shift as the keyboard has them now.

#include "platform/key_state.h"

class CQtKeyState : public platform::IKeyState {
  public:
    bool IsCtrlDown() const override;
    bool IsShiftDown() const override;
};

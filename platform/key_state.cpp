#include "platform/key_state.h"

namespace platform {

namespace {
class NoKeysPressed : public IKeyState {
  public:
    bool IsCtrlDown() const override { return false; }
    bool IsShiftDown() const override { return false; }
};

NoKeysPressed g_noKeys;
IKeyState* g_keyState = &g_noKeys;
}  // namespace

IKeyState& KeyState() {
    return *g_keyState;
}
void SetKeyState(IKeyState* keyState) {
    g_keyState = keyState ? keyState : &g_noKeys;
}

}  // namespace platform

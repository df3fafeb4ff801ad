#include "shell/qt/qt_key_state.h"

#include <QGuiApplication>

bool CQtKeyState::IsCtrlDown() const {
    return QGuiApplication::queryKeyboardModifiers() & Qt::ControlModifier;
}

bool CQtKeyState::IsShiftDown() const {
    return QGuiApplication::queryKeyboardModifiers() & Qt::ShiftModifier;
}

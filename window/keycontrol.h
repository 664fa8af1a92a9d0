#pragma once

#include <QPoint>

// What a key press does to the picture window. Keys are told apart by their key code alone (the
// code of the upper-case letter, whatever the modifiers), so Shift, Ctrl and Caps Lock make no
// difference.
struct KeyAction
{
    enum Kind { PassOn, Move, RaiseOpacity, LowerOpacity, Quit };

    Kind kind = PassOn;
    QPoint step; // for Move: how far, in pixels; y grows downwards
};

// W/A/S/D move by 1 pixel, T/F/G/H by 10, I/J/K/L by 20 (up, left, down, right in each cluster),
// M and N raise and lower the opacity, X quits; every other key is passed on.
[[nodiscard]] KeyAction keyAction(int key);

// position + step, each coordinate held within the signed 32-bit range instead of overflowing.
[[nodiscard]] QPoint movedBy(QPoint position, QPoint step);

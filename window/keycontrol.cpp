#include "keycontrol.h"

#include <Qt>

#include <algorithm>
#include <cstdint>
#include <limits>

KeyAction keyAction(int key)
{
    switch (key) {
    case Qt::Key_W:
        return {KeyAction::Move, {0, -1}};
    case Qt::Key_A:
        return {KeyAction::Move, {-1, 0}};
    case Qt::Key_S:
        return {KeyAction::Move, {0, 1}};
    case Qt::Key_D:
        return {KeyAction::Move, {1, 0}};
    case Qt::Key_T:
        return {KeyAction::Move, {0, -10}};
    case Qt::Key_F:
        return {KeyAction::Move, {-10, 0}};
    case Qt::Key_G:
        return {KeyAction::Move, {0, 10}};
    case Qt::Key_H:
        return {KeyAction::Move, {10, 0}};
    case Qt::Key_I:
        return {KeyAction::Move, {0, -20}};
    case Qt::Key_J:
        return {KeyAction::Move, {-20, 0}};
    case Qt::Key_K:
        return {KeyAction::Move, {0, 20}};
    case Qt::Key_L:
        return {KeyAction::Move, {20, 0}};
    case Qt::Key_M:
        return {KeyAction::RaiseOpacity, {}};
    case Qt::Key_N:
        return {KeyAction::LowerOpacity, {}};
    case Qt::Key_X:
        return {KeyAction::Quit, {}};
    default:
        return {};
    }
}

namespace {

int saturatedSum(int a, int b)
{
    using Limits = std::numeric_limits<int>;
    const std::int64_t sum = std::int64_t{a} + b;
    return static_cast<int>(std::clamp<std::int64_t>(sum, Limits::min(), Limits::max()));
}

} // namespace

QPoint movedBy(QPoint position, QPoint step)
{
    return {saturatedSum(position.x(), step.x()), saturatedSum(position.y(), step.y())};
}

#pragma once
// The program's pictures, drawn with QPainter so they scale to any size:
// the idle and busy icons, the step states, the tray menu pictures and the
// button pictures.

#include "platform/StepStates.h"

#include <QIcon>
#include <QPixmap>

namespace vz {

class Pictures {
public:
    // Blue and red arrows circling green arrows (64, 32, 24 and 16 pixels).
    static QIcon idleIcon();
    // The same arrows circling grey gear wheels (48, 32, 24 and 16 pixels).
    static QIcon busyIcon();
    // The program's own icon.
    static QIcon mainIcon() { return idleIcon(); }

    // 16 x 16 pictures of the step lists, by StepState.
    static QIcon stepState(StepState state);

    // The tray menu's pictures, by index in its picture list:
    // 0 a door with a green arrow, 1 overlapping yellow squares,
    // 2 a window, 3 a grey database cylinder with a green check.
    static QIcon trayMenu(int index);

    // Button pictures.
    static QIcon exportButton();  // database with a green arrow up
    static QIcon importButton();  // database with a blue arrow down
    static QIcon hideButton() { return trayMenu(1); }
    static QIcon closeButton() { return trayMenu(0); }
};

}  // namespace vz

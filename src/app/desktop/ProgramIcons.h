#pragma once
// The program's icons by their resource ids, drawn from the SVG files in res/icons:
//   106 / 107  application icon of a primary / secondary copy; tray icon while connected
//   109 / 108  the small application icon; last frame of the animation
//   202 / 207  tray icon while not connected (202 is also an animation frame)
//   200 - 206  animation frames
// Use: window->setWindowIcon(ProgramIcon(identity.LargeIcon)); tray->setIcon(ProgramIcon(id)).
#include <QIcon>

// An empty icon for an id that has no drawing.
QIcon ProgramIcon(int id);
// The icon the tray shows in the "on" phase of flashing.
QIcon AttentionIcon();
// The sizes every icon is drawn at: the usual panel and window sizes, and twice the
// small ones for doubled screens.
inline constexpr int kProgramIconSizes[] = {16, 22, 24, 32, 48, 64};

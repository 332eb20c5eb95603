#pragma once

#include <QtGlobal>

namespace quorrin::updater {

// TimerSplash's intervals in milliseconds, which are also the notification's states.
inline constexpr int SplashWaiting = 2000; // hidden, until the installer file exists
inline constexpr int SplashRising = 10;    // slides up, 15 twips a tick
inline constexpr int SplashResting = 1000; // stays for 15 ticks
inline constexpr int SplashSinking = 11;   // slides down, 15 twips a tick, then the end

// The notification window's size in twips (197 x 111 pixels).
inline constexpr int SplashWidth = 2955;
inline constexpr int SplashHeight = 1665;

// How many rest ticks the notification stays up.
inline constexpr qint16 SplashRestTicks = 15;

// The notification at one moment. Positions are the window's top left corner on the screen
// in twips, held as the window places them (the window shows them at twips / 15 pixels).
struct SplashState {
    int interval = SplashWaiting; // TimerSplash's interval: the state
    float Left = 0.0f;
    float Top = 0.0f;
    qint16 slideTicks = 0; // rest ticks counted so far
    bool visible = false;
    bool ended = false;             // the program ends now
    bool installerLaunched = false; // a click has already started the installer
};

// Sizes in twips that the animation measures against.
struct SplashGeometry {
    int screenWidth = 0;
    int screenHeight = 0;
    int Width = SplashWidth;
    int Height = SplashHeight;
};

// One tick of TimerSplash. While waiting, `installerExists` tells whether the installer file
// is there yet; the window then appears just below the screen's bottom right corner, rises
// until its top is above screen height - Height - 500, rests 15 ticks, sinks until its top
// is below the screen, and the program ends. An ended state or an unknown interval stays as
// it is.
SplashState nextSplashState(const SplashState &state, const SplashGeometry &geometry,
                            bool installerExists);

// What a click on the notification does.
struct SplashClick {
    SplashState state;
    // This click ends the caller and starts the installer: only the first click on the
    // visible window while the installer is still there, so that the installer never runs
    // twice and the caller is never ended for nothing.
    bool launchesInstaller = false;
};

// A click on the notification: a visible notification starts sinking at once; a hidden or
// ended one ignores the click. `installerPresent` tells whether the installer is still at its
// path; without it the click only sends the notification away.
SplashClick clickSplash(const SplashState &state, bool installerPresent);

} // namespace quorrin::updater

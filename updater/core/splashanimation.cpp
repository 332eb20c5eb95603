#include "splashanimation.h"

namespace quorrin::updater {
namespace {

constexpr float Step = 15.0f; // one pixel, in twips
constexpr float MarginRight = 50.0f;
constexpr float StartBelowScreen = 100.0f;
constexpr float RestAboveBottom = 500.0f;

SplashState appear(SplashState state, const SplashGeometry &geometry)
{
    state.visible = true;
    state.interval = SplashRising;
    state.Left = float(geometry.screenWidth) - float(geometry.Width) - MarginRight;
    state.Top = float(geometry.screenHeight) + StartBelowScreen;
    return state;
}

SplashState rise(SplashState state, const SplashGeometry &geometry)
{
    state.Top = state.Top - Step;
    // Computed in single precision, as the window's positions are.
    const float restingLimit =
        float(geometry.screenHeight) - float(geometry.Height) - RestAboveBottom;
    if (restingLimit > state.Top) {
        state.interval = SplashResting;
        state.slideTicks = 0;
    }
    return state;
}

SplashState rest(SplashState state)
{
    state.slideTicks = qint16(state.slideTicks + 1);
    if (state.slideTicks == SplashRestTicks)
        state.interval = SplashSinking;
    return state;
}

SplashState sink(SplashState state, const SplashGeometry &geometry)
{
    state.Top = state.Top + Step;
    if (state.Top > float(geometry.screenHeight))
        state.ended = true;
    return state;
}

} // namespace

SplashState nextSplashState(const SplashState &state, const SplashGeometry &geometry,
                            bool installerExists)
{
    if (state.ended)
        return state;
    switch (state.interval) {
    case SplashWaiting:
        return installerExists ? appear(state, geometry) : state;
    case SplashRising:
        return rise(state, geometry);
    case SplashResting:
        return rest(state);
    case SplashSinking:
        return sink(state, geometry);
    default:
        return state;
    }
}

SplashClick clickSplash(const SplashState &state, bool installerPresent)
{
    SplashClick click{state, false};
    if (!state.visible || state.ended)
        return click;
    click.state.interval = SplashSinking;
    if (!installerPresent)
        return click;
    click.launchesInstaller = !state.installerLaunched;
    click.state.installerLaunched = true;
    return click;
}

} // namespace quorrin::updater

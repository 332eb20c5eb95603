#include "splashanimation.h"

#include <QMap>
#include <QTest>

using namespace quorrin;
using namespace quorrin::updater;

namespace {

// A screen of `width` x `height` pixels, in twips.
SplashGeometry screen(int width, int height)
{
    return {width * 15, height * 15, SplashWidth, SplashHeight};
}

// Ticks a visible notification until the program ends; counts the ticks spent in each state.
QMap<int, int> runToEnd(SplashState &state, const SplashGeometry &geometry)
{
    QMap<int, int> ticks;
    for (int guard = 0; !state.ended && guard < 100000; ++guard) {
        ++ticks[state.interval];
        state = nextSplashState(state, geometry, true);
    }
    return ticks;
}

// The state after the installer has appeared and `ticks` further ticks.
SplashState shownFor(int ticks, const SplashGeometry &geometry)
{
    SplashState state = nextSplashState(SplashState(), geometry, true);
    for (int i = 0; i < ticks; ++i)
        state = nextSplashState(state, geometry, true);
    return state;
}

} // namespace

class TestSplashAnimation : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void waitsForInstaller();
    void fullRun_data();
    void fullRun();
    void click_data();
    void click();
    void hiddenOrEndedIgnoresClick();
    void clickWithoutInstallerOnlySinks();
};

void TestSplashAnimation::waitsForInstaller()
{
    SplashState state;
    for (int i = 0; i < 5; ++i)
        state = nextSplashState(state, screen(1280, 1024), false);
    QCOMPARE(state.interval, SplashWaiting);
    QVERIFY(!state.visible);

    state = nextSplashState(state, screen(1280, 1024), true);
    QCOMPARE(state.interval, SplashRising);
    QVERIFY(state.visible);
    QCOMPARE(state.Left, 19200.0f - 2955.0f - 50.0f);
    QCOMPARE(state.Top, 15360.0f + 100.0f);
}

void TestSplashAnimation::fullRun_data()
{
    QTest::addColumn<SplashGeometry>("geometry");
    QTest::addColumn<float>("restingLeft");
    QTest::addColumn<float>("restingTop");
    QTest::addColumn<float>("finalTop");

    // Rising stops at the first Top below screen height - 1665 - 500, 152 steps of 15 from
    // screen height + 100; sinking at the first Top below the screen, 146 steps later.
    QTest::newRow("1280x1024") << screen(1280, 1024) << 16195.0f << 13180.0f << 15370.0f;
    QTest::newRow("1920x1080") << screen(1920, 1080) << 25795.0f << 14020.0f << 16210.0f;
}

void TestSplashAnimation::fullRun()
{
    QFETCH(SplashGeometry, geometry);
    QFETCH(float, restingLeft);
    QFETCH(float, restingTop);
    QFETCH(float, finalTop);

    SplashState state = shownFor(0, geometry);
    QMap<int, int> ticks;
    while (state.interval == SplashRising) {
        ++ticks[SplashRising];
        state = nextSplashState(state, geometry, true);
    }
    QCOMPARE(state.interval, SplashResting);
    QCOMPARE(state.Left, restingLeft);
    QCOMPARE(state.Top, restingTop);
    // The bottom edge rests a little more than 500 twips above the screen's.
    QVERIFY(float(geometry.screenHeight) - (state.Top + SplashHeight) > 500.0f);

    ticks.insert(runToEnd(state, geometry));
    QCOMPARE(ticks.value(SplashRising), 152);
    QCOMPARE(ticks.value(SplashResting), 15);
    QCOMPARE(ticks.value(SplashSinking), 146);
    QVERIFY(state.ended);
    QCOMPARE(state.slideTicks, qint16(15));
    QCOMPARE(state.Top, finalTop);
    QCOMPARE(state.Left, restingLeft);
}

void TestSplashAnimation::click_data()
{
    QTest::addColumn<int>("ticksBeforeClick");
    QTest::addColumn<int>("interruptedState");
    QTest::addColumn<int>("sinkingTicks");

    // 10 steps up leave Top 50 twips below the screen's bottom edge: 4 steps back down.
    QTest::newRow("while rising, 10 steps up") << 10 << SplashRising << 4;
    QTest::newRow("while resting, after 5 s") << 152 + 5 << SplashResting << 146;
    QTest::newRow("while sinking") << 152 + 15 + 20 << SplashSinking << 146 - 20;
}

void TestSplashAnimation::click()
{
    QFETCH(int, ticksBeforeClick);
    QFETCH(int, interruptedState);
    QFETCH(int, sinkingTicks);

    const SplashGeometry geometry = screen(1280, 1024);
    const SplashState before = shownFor(ticksBeforeClick, geometry);
    QCOMPARE(before.interval, interruptedState);

    const SplashClick click = clickSplash(before, true);
    QVERIFY(click.launchesInstaller);
    QCOMPARE(click.state.interval, SplashSinking);
    QCOMPARE(click.state.Top, before.Top);
    QCOMPARE(click.state.slideTicks, before.slideTicks);

    SplashState state = nextSplashState(click.state, geometry, true);
    // A second click before the end must not start the installer again.
    const SplashClick second = clickSplash(state, true);
    QVERIFY(!second.launchesInstaller);
    QCOMPARE(second.state.interval, SplashSinking);
    QCOMPARE(second.state.Top, state.Top);

    state = second.state;
    const QMap<int, int> ticks = runToEnd(state, geometry);
    QCOMPARE(ticks.keys(), QList<int>{SplashSinking});
    QCOMPARE(ticks.value(SplashSinking) + 1, sinkingTicks);
}

void TestSplashAnimation::hiddenOrEndedIgnoresClick()
{
    const SplashClick waiting = clickSplash(SplashState(), true);
    QVERIFY(!waiting.launchesInstaller);
    QCOMPARE(waiting.state.interval, SplashWaiting);

    SplashState ended = shownFor(0, screen(1280, 1024));
    runToEnd(ended, screen(1280, 1024));
    const SplashClick late = clickSplash(ended, true);
    QVERIFY(!late.launchesInstaller);
}

// The installer was removed after the notification appeared: the click ends nothing and
// starts nothing, and the notification goes away as usual.
void TestSplashAnimation::clickWithoutInstallerOnlySinks()
{
    const SplashState resting = shownFor(155, screen(1280, 1024));
    QCOMPARE(resting.interval, SplashResting);
    const SplashClick click = clickSplash(resting, false);
    QVERIFY(!click.launchesInstaller);
    QCOMPARE(click.state.interval, SplashSinking);
    QCOMPARE(click.state.Top, resting.Top);
}

QTEST_GUILESS_MAIN(TestSplashAnimation)
#include "tst_splashanimation.moc"

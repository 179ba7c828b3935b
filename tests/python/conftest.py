import signal

import pytest

import tavik

KEY = b"test key of the tavik suite"


@pytest.fixture
def sealed():
    return tavik.Tavik(KEY)


@pytest.fixture
def plain():
    return tavik.Tavik(mode="plain")


@pytest.fixture
def raise_after():
    """raise_after(seconds, exception) arms a SIGALRM whose handler raises `exception` in the
    main thread; the timer and the previous handler are restored when the test ends. For calls
    that run no Python code on their own, which only their checks for signals can stop."""
    previous = signal.getsignal(signal.SIGALRM)

    def arm(seconds, exception):
        def on_alarm(signum, frame):
            raise exception

        signal.signal(signal.SIGALRM, on_alarm)
        signal.setitimer(signal.ITIMER_REAL, seconds)

    yield arm
    signal.setitimer(signal.ITIMER_REAL, 0)
    signal.signal(signal.SIGALRM, previous)

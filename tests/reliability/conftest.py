"""The reliability suites' tool: one Kavrelo.exe and one target.exe for a test
file, and the check that the tool is still alive after a fault."""

import pytest


# Windows the system may give the tool's thread after it has opened (an input
# method window when it first takes keys, say): no leak.
WINDOWS_ALLOWED = 3


class Alive:
    """The tool and a target, with the checks every fault ends with."""

    def __init__(self, session):
        self.session = session
        self.probe = session.probe
        self.input = session.input
        self.target = session.target("RelTarget", (480, 40))
        self.tool = session.tool()
        self.windows_at_start = self.tool.windows()

    def assert_alive(self):
        """The process runs, shows no message box and still ticks: Label2
        follows the pointer to a window and back; and it has no more windows
        than when it opened, but for a few the system may add once (a window
        left behind on every tick, ten a second, shows here at once)."""
        tool = self.tool
        assert tool.quiet(), "Kavrelo ended or shows a message box"
        for point in (self.session.point_in(self.target.hwnd), tool.empty_point()):
            tool.point_at(*point)
        assert tool.quiet(), "Kavrelo ended or shows a message box"
        assert tool.windows() <= self.windows_at_start + WINDOWS_ALLOWED, "the tool's windows grow"


@pytest.fixture(scope="module")
def rel(session):
    alive = Alive(session)
    yield alive
    alive.tool.close()
    alive.target.close()

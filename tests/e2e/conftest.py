import pytest

import driver


@pytest.fixture(scope="session")
def session():
    s = driver.Session()
    yield s
    s.close()

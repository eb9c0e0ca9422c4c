"""What the web program's test scripts share: waiting for a condition, and
asking the tests' database (scripts/testdb.sh's server, through PG*)."""
import subprocess
import time


def until(check, timeout=20, step=0.05):
    """check()'s first true value within `timeout` seconds, else None."""
    end = time.monotonic() + timeout
    while True:
        value = check()
        if value or time.monotonic() > end:
            return value
        time.sleep(step)


def psql(sql, db):
    return subprocess.run(["psql", "-X", "-q", "-At", "-v", "ON_ERROR_STOP=1", "-d", db, "-c", sql],
                          check=True, capture_output=True, text=True).stdout

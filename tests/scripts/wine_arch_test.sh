#!/usr/bin/env bash
# Runs test_wine_arch.py (pytest), under the name CTest knows.
exec /usr/bin/python3 -m pytest -p no:cacheprovider -q "$(dirname "${BASH_SOURCE[0]}")/test_wine_arch.py"

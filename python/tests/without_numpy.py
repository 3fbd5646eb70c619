"""Runs every Python test as on a machine without numpy and scipy: both
imports fail, so the package takes its list path.

    python3 python/tests/without_numpy.py
"""
import os
import sys
import unittest

# A None entry makes the import raise ImportError.
for name in ("numpy", "scipy"):
    sys.modules[name] = None

if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    sys.path.insert(0, here)
    suite = unittest.defaultTestLoader.discover(here)
    result = unittest.TextTestRunner(verbosity=1).run(suite)
    sys.exit(0 if result.wasSuccessful() else 1)

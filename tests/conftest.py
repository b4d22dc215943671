import os
import sys

# helpers.py sits beside the tests
sys.path.insert(0, os.path.dirname(__file__))

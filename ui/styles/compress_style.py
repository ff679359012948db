"""Stores a style definition the way the style engine reads it: zlib-compressed."""
import sys
import zlib

with open(sys.argv[1], "rb") as source, open(sys.argv[2], "wb") as target:
    target.write(zlib.compress(source.read(), 9))

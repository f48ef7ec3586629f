#!/usr/bin/env python3
"""cut_song.py IN.xm OUT.xm: the song cut to its first position (the song
length in the module's header), so that the intro playing it reaches the
song's end within seconds."""
import sys

song = bytearray(open(sys.argv[1], "rb").read())
assert song[:17] == b"Extended Module: "
song[64:66] = (1).to_bytes(2, "little")  # song length: one position
song[66:68] = (0).to_bytes(2, "little")  # restart position
open(sys.argv[2], "wb").write(song)

#!/bin/sh
# Regenerates the small MP3 files the scanner tests read. Needs python3 and
# Debian's lame (apt-get install -y lame); neither the build nor the tests
# run this, the files it writes are committed next to it.
#
# What each file was made with, and so what the scanner must report
# (version, channel mode, sampling-rate index, cbr/vbr, kbit/s):
#
#   cbr32_mono.mp3      -b 32 --cbr -m m --resample 44.1, 1.5 s   1 mono         0 cbr 32
#   cbr128_joint.mp3    -b 128 --cbr -m j, 44.1 kHz, 1.5 s        1 joint stereo 0 cbr 128
#   cbr320_stereo.mp3   -b 320 --cbr -m s, 48 kHz, 1.5 s          1 stereo       1 cbr 320
#   vbr_joint.mp3       -V 2 -b 32 -B 320 -m j, 44.1 kHz, 2 s     1 joint stereo 0 vbr (mean of
#                                                                 the frames' bitrates)
#   mpeg2_22k_mono.mp3  -b 48 --cbr -m m --resample 22.05, 1.5 s  2 mono         0 cbr 48
#   id3_cbr128.mp3      -b 128 --cbr -m j, 44.1 kHz, 8 s, behind  1 joint stereo 0 cbr 128
#                       a hand-made ID3v2.3 tag full of false frame syncs
#
# The tagged file is 8 s long, not 1.5: its tag holds one false sync that
# looks like a 64 kbit/s frame of the same stream, the audio itself holds a
# stray one or two, and more than 98 frames in a hundred must agree for a
# file to count as constant bitrate, so the stream needs about a hundred
# real frames for every such sync.
set -eu

out=$(cd "$(dirname "$0")" && pwd)/mp3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"

# A stereo WAV: a tone on each channel plus a little seeded noise, so that
# the encoder has something to spend bits on and the output is repeatable.
wav() { # rate seconds file
    python3 - "$1" "$2" "$3" <<'PY'
import math, random, struct, sys, wave
rate, seconds, path = int(sys.argv[1]), float(sys.argv[2]), sys.argv[3]
rng = random.Random(7)
frames = bytearray()
for n in range(int(rate * seconds)):
    t = n / rate
    left = 0.4 * math.sin(2 * math.pi * 440 * t) + 0.2 * (rng.random() - 0.5)
    right = 0.4 * math.sin(2 * math.pi * 660 * t * (1 + t)) + 0.2 * (rng.random() - 0.5)
    frames += struct.pack("<hh", int(left * 32767), int(right * 32767))
with wave.open(path, "wb") as w:
    w.setnchannels(2)
    w.setsampwidth(2)
    w.setframerate(rate)
    w.writeframes(bytes(frames))
PY
}

wav 44100 1.5 "$work/44k.wav"
wav 48000 1.5 "$work/48k.wav"
wav 44100 2 "$work/44k-2s.wav"
wav 44100 8 "$work/44k-8s.wav"

enc() { lame --quiet --noreplaygain "$@"; }
enc -b 32 --cbr -m m --resample 44.1 "$work/44k.wav" "$out/cbr32_mono.mp3"
enc -b 128 --cbr -m j "$work/44k.wav" "$out/cbr128_joint.mp3"
enc -b 320 --cbr -m s "$work/48k.wav" "$out/cbr320_stereo.mp3"
enc -V 2 -b 32 -B 320 -m j "$work/44k-2s.wav" "$out/vbr_joint.mp3"
enc -b 48 --cbr -m m --resample 22.05 "$work/44k.wav" "$out/mpeg2_22k_mono.mp3"
enc -b 128 --cbr -m j "$work/44k-8s.wav" "$work/plain8s.mp3"

# The tag is written without unsynchronisation, as many taggers do, so its
# text and picture carry byte pairs that look like frame starts:
#   FF FB 50 44  MPEG-1 Layer III, 64 kbit/s, 44.1 kHz, joint stereo
#   FF E3 90 44  MPEG-2.5
#   FF FF 90 44  Layer I
#   FF FB 9C 44  sampling-rate index 3
#   FF FB F0 44  bitrate index 15
python3 - "$work/plain8s.mp3" "$out/id3_cbr128.mp3" <<'PY'
import struct, sys
def frame(fid, body):
    return fid.encode() + struct.pack(">I", len(body)) + b"\0\0" + body
def syncsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])
title = b"\x00Loud \xff\xfb\x50\x44 noise"
picture = (b"\x00image/png\x00\x03\x00"
           + b"\x89PNG" + b"\xff\xe3\x90\x44" + b"\x00" * 8 + b"\xff\xff\x90\x44"
           + b"\x10" * 8 + b"\xff\xfb\x9c\x44" + b"\x20" * 8 + b"\xff\xfb\xf0\x44" + b"\x00" * 16)
body = frame("TIT2", title) + frame("APIC", picture) + b"\0" * 32
tag = b"ID3\x03\x00\x00" + syncsafe(len(body)) + body
with open(sys.argv[1], "rb") as f:
    audio = f.read()
with open(sys.argv[2], "wb") as f:
    f.write(tag + audio)
PY

ls -l "$out"

#!/usr/bin/env bash
# Makes the short test tones of tests/data/media with sox (sine tones at half of full scale):
#   tone440.wav  440 Hz, 0.5 s, 11025 Hz mono 16-bit (played through the resampler)
#   tone660.ogg  660 Hz, 0.5 s, 44100 Hz mono Ogg Vorbis
#   tone880.mp3  880 Hz, 0.5 s, 44100 Hz mono MP3
#   steps.ogg    440, 880 and 1320 Hz for 0.3 s each, 44100 Hz mono Ogg Vorbis (segments)
# The files are committed; run this only to make them again.
set -euo pipefail
out="$(cd "$(dirname "$0")/.." && pwd)/tests/data/media"
mkdir -p "$out"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

sox -n -r 11025 -b 16 -c 1 "$out/tone440.wav" synth 0.5 sine 440 vol 0.5
sox -n -r 44100 -c 1 -C 0 "$out/tone660.ogg" synth 0.5 sine 660 vol 0.5
sox -n -r 44100 -c 1 -C 32 "$out/tone880.mp3" synth 0.5 sine 880 vol 0.5
for f in 440 880 1320; do
  sox -n -r 44100 -b 16 -c 1 "$tmp/$f.wav" synth 0.3 sine "$f" vol 0.5
done
sox "$tmp/440.wav" "$tmp/880.wav" "$tmp/1320.wav" -C 0 "$out/steps.ogg"
ls -l "$out"

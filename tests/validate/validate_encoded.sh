#!/usr/bin/env bash
# Short validator run over files encoded here with ffmpeg: the calls open
# MP3, FLAC, Ogg, M4A, AIFF and a movie with a video track besides the
# validator's own WAV files.
#   validate_encoded.sh HARMIDEX
set -euo pipefail
harmidex=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
if ! command -v ffmpeg >/dev/null; then
  echo "ffmpeg not installed: skipped"
  exit 0
fi
enc() { ffmpeg -nostdin -y -loglevel error "$@"; }
tone=(-f lavfi -i "sine=frequency=440:sample_rate=22050:duration=0.3")
enc "${tone[@]}" -c:a libmp3lame "$dir/tone.mp3"
enc "${tone[@]}" -c:a flac "$dir/tone.flac"
enc "${tone[@]}" -c:a libvorbis "$dir/tone.ogg"
enc "${tone[@]}" -c:a aac "$dir/tone.m4a"
enc "${tone[@]}" -c:a pcm_s16be "$dir/tone.aiff"
enc -f lavfi -i "testsrc=size=64x48:rate=10:duration=0.3" "${tone[@]}" \
  -c:v mpeg4 -c:a aac -shortest "$dir/movie.mov"
"$harmidex" validate --seed 2 --calls 3000 --cycles 0 --objects 200 --files "$dir"

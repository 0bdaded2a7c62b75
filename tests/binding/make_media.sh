#!/usr/bin/env bash
# Encodes the audio files the binding tests open, with sox:
#   make_media.sh DIR
# For every file NAME.(wav|aiff) it writes the source frames as NAME.raw
# (16-bit: signed little-endian; 8-bit: unsigned) and a line
# "NAME FILE RATE CHANNELS BITS" in DIR/manifest.txt.
set -euo pipefail
out=$1
rm -rf "$out"
mkdir -p "$out"

# Full-scale and sign-boundary samples after the synthesised signal
# (printf escapes: -32768 32767 -1 1 0 -32768, and 0 255 128 127 129 1).
extremes16='\x00\x80\xff\x7f\xff\xff\x01\x00\x00\x00\x00\x80'
extremes8='\x00\xff\x80\x7f\x81\x01'

# make NAME TYPE RATE CHANNELS BITS
make() {
  local name=$1 type=$2 rate=$3 channels=$4 bits=$5
  local coding=signed extremes=$extremes16 encoding=signed
  if [[ $bits -eq 8 ]]; then
    coding=unsigned extremes=$extremes8
    [[ $type == wav ]] && encoding=unsigned  # 8-bit WAV is unsigned, 8-bit AIFF signed
  fi
  local raw=$out/$name.raw
  sox -V1 -D -n -r "$rate" -c "$channels" -e $coding -b "$bits" -L -t raw "$raw" \
      synth 0.2 square 441 whitenoise
  # Whole frames of extremes: repeat them once per channel pair.
  printf "$extremes" >>"$raw"
  if [[ $channels -eq 2 ]]; then printf "$extremes" >>"$raw"; fi
  sox -V1 -D -t raw -r "$rate" -c "$channels" -e $coding -b "$bits" -L "$raw" \
      -t "$type" -e $encoding -b "$bits" "$out/$name.$type"
  echo "$name $name.$type $rate $channels $bits" >>"$out/manifest.txt"
}

make wav16_stereo wav 22050 2 16
make wav16_mono wav 11025 1 16
make wav8_mono wav 8000 1 8
make wav8_stereo wav 12345 2 8
make aiff16_stereo aiff 44100 2 16
make aiff16_mono aiff 32000 1 16
make aiff8_mono aiff 22050 1 8

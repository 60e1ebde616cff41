#!/bin/sh
# Builds and runs the DCT decoder benchmark (rastik's own JPEG decoder
# against djpeg -nosmooth on files the library's encoder wrote; 4000 x 2144
# pixels at quality 70 by default). Usage:
#   bench/dct_decoder_bench.sh [build-dir] [--width W --height H --reps N --quality Q]
exec "$(dirname "$0")/build_and_run.sh" dct_decoder_bench "$@"

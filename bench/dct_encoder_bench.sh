#!/bin/sh
# Builds and runs the DCT encoder benchmark (rastik's own JPEG encoder
# against cjpeg on the same pixels). Usage:
#   bench/dct_encoder_bench.sh [build-dir] [--width W --height H --reps N --quality Q]
exec "$(dirname "$0")/build_and_run.sh" dct_encoder_bench "$@"

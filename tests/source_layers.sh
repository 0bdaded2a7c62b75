#!/usr/bin/env bash
# The module's folders include one way, down the layers of src/CMakeLists.txt:
#   source_layers.sh SOURCE_DIR
# Each folder may include its own headers and those of the folders named
# for it below; the spectrum engine (the hx_dsp part of analysis/) none of
# the script class's. The shell alone names the media layer, which its entry
# points hand to the reader at load.
set -euo pipefail

src=$1/src
declare -A may=(
  [support]=""
  [audio]="support"
  [script]="audio support"
  [analysis]="script audio support"
  [shell]="analysis script audio support media"
)
engine='analysis/(fft_engine|fft_kernels)\.(h|cpp)$'

failed=0
for dir in "${!may[@]}"; do
  while IFS= read -r file; do
    rel=${file#"$src"/}
    allowed=" $dir ${may[$dir]} "
    [[ $rel =~ $engine ]] && allowed=" analysis support "
    while IFS= read -r used; do
      if [[ $allowed != *" $used "* ]]; then
        echo "FAIL: $rel includes from $used/"
        failed=1
      fi
    done < <(grep -oE '^#include "[a-z_]+/' "$file" | sed -E 's/#include "([a-z_]+)\//\1/' | sort -u)
  done < <(find "$src/$dir" -name '*.h' -o -name '*.cpp' | sort)
done
for dir in "$src"/*/; do
  name=$(basename "$dir")
  [[ -v may[$name] ]] || { echo "FAIL: src/$name/ has no place in the layers"; failed=1; }
done
[[ $failed -eq 0 ]] && echo "src/: every include goes down the layers"
exit $failed
